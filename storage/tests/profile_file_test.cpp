#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zel_generator/generator.hpp>
#include <zel_storage/storage.hpp>

#include "file_io.hpp"

namespace zel_storage {
using namespace zel_package;
namespace {

namespace fs = std::filesystem;

class ProfileFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = fs::temp_directory_path() /
              ("zel_storage_" + std::string(test->name()) + "_" + std::to_string(::getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  // The names in the folder, to see that no temporary file is left behind.
  std::set<std::string> names() const {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      found.insert(entry.path().filename().string());
    }
    return found;
  }

  static std::string content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static unsigned mode(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0);
    return status.st_mode & 07777;
  }

  // Expects writing `report` to `path` to fail with "cannot write PATH: REASON".
  static void expect_write_fails(const std::string& path, const std::string& reason,
                                 const ProfileReport& report = {}) {
    try {
      write_profile_file(report, path);
      ADD_FAILURE() << "wrote " << path;
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), "cannot write " + path + ": " + reason);
    }
  }

  fs::path folder_;
};

TEST_F(ProfileFiles, WriteThenReadReplacingAnOlderFile) {
  const std::string path = (folder_ / "profile.json").string();
  std::ofstream(path) << std::string(100000, 'x');  // longer than what replaces it
  const auto report = zel_generator::generate_profile({.tiles = 3, .epochs = 1, .phases = 4});
  write_profile_file(report, path);
  EXPECT_EQ(read_profile_file(path), report);
}

TEST_F(ProfileFiles, ErrorsNameTheFile) {
  const std::string missing = (folder_ / "missing.json").string();
  try {
    read_profile_file(missing);
    FAIL() << "read a missing file";
  } catch (const ProfileReadError& error) {
    EXPECT_EQ(error.source(), missing);
    EXPECT_EQ(error.json_path(), "");
    EXPECT_EQ(error.problem(), "cannot open: No such file or directory");
    EXPECT_EQ(std::string(error.what()), missing + ": cannot open: No such file or directory");
  }

  try {
    read_profile_file(folder_.string());
    FAIL() << "read a folder";
  } catch (const ProfileReadError& error) {
    EXPECT_EQ(error.problem(), "cannot read: Is a directory");
  }

  const std::string bad = (folder_ / "bad.json").string();
  std::ofstream(bad) << R"({"version": 1, "clock_hz": -5, "steps": [], "tiles": []})";
  try {
    read_profile_file(bad);
    FAIL() << "read an invalid profile";
  } catch (const ProfileReadError& error) {
    EXPECT_EQ(error.source(), bad);
    EXPECT_EQ(std::string(error.what()),
              bad + ": clock_hz: expected an integer from 0 to 18446744073709551615");
  }

  const std::string unwritable = (folder_ / "no-such-folder" / "p.json").string();
  try {
    write_profile_file(ProfileReport{}, unwritable);
    FAIL() << "wrote into a missing folder";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()),
              "cannot write " + unwritable + ": No such file or directory");
  }
}

TEST_F(ProfileFiles, PackedProfilesRoundTripThroughFiles) {
  const auto packed = pack(zel_generator::generate_profile({.tiles = 4, .epochs = 2, .phases = 3}));
  const std::string path = (folder_ / "packed.json").string();
  write_profile_file(packed, path);
  EXPECT_EQ(content(path), write_profile(packed));
  EXPECT_EQ(read_packed_profile_file(path), packed);
  EXPECT_EQ(read_profile_file(path), unpack(packed));

  // A document the fast path declines is read by the full reader from the same buffer.
  std::ofstream(path) << R"({"\u0076ersion": 1, "clock_hz": 2, "steps": [], "tiles": []})";
  EXPECT_EQ(read_packed_profile_file(path), PackedProfile{.clock_hz = 2});
}

TEST_F(ProfileFiles, ReplacesTheFileKeepingItsModeAndLeavesNoTemporaryFile) {
  const std::string path = (folder_ / "profile.json").string();
  std::ofstream(path) << "old";
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  const auto report = zel_generator::generate_profile({.tiles = 3, .epochs = 1, .phases = 2});
  write_profile_file(report, path);
  EXPECT_EQ(content(path), write_profile(report));
  EXPECT_EQ(mode(path), 0640u);
  EXPECT_EQ(names(), std::set<std::string>{"profile.json"});

  // A new file gets 0666 less the umask, as any new file.
  const ::mode_t old_mask = ::umask(027);
  const std::string fresh = (folder_ / "fresh.json").string();
  write_profile_file(pack(report), fresh);
  ::umask(old_mask);
  EXPECT_EQ(mode(fresh), 0640u);
  EXPECT_EQ(names(), (std::set<std::string>{"fresh.json", "profile.json"}));
}

TEST_F(ProfileFiles, WritesThroughASymbolicLink) {
  const std::string target = (folder_ / "target.json").string();
  const std::string link = (folder_ / "link.json").string();
  std::ofstream(target) << "old";
  fs::create_symlink("target.json", link);
  const ProfileReport report{.clock_hz = 3};
  write_profile_file(report, link);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(content(target), write_profile(report));
  EXPECT_EQ(names(), (std::set<std::string>{"link.json", "target.json"}));
}

// Links are followed as the shell's `>` follows them: to the file they name, which is made when
// it does not exist yet, through chains of links, relative ones from the link's folder. The
// links stay.
TEST_F(ProfileFiles, WritesThroughDanglingAndChainedLinks) {
  fs::create_directory(folder_ / "sub");
  const struct {
    std::vector<std::pair<std::string, std::string>> links;  // link, what it names
    std::string written;                                     // the file the text must go to
  } cases[] = {
      {{{"dangling.json", "made.json"}}, "made.json"},
      {{{"chain.json", "sub/middle.json"}, {"sub/middle.json", "end.json"}}, "sub/end.json"},
      {{{"absolute.json", (folder_ / "sub" / "far.json").string()}}, "sub/far.json"},
  };
  const ProfileReport report{.clock_hz = 5};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    for (const auto& [link, to] : c.links) fs::create_symlink(to, folder_ / link);
    write_profile_file(report, (folder_ / c.links.front().first).string());
    for (const auto& [link, to] : c.links) EXPECT_TRUE(fs::is_symlink(folder_ / link)) << link;
    EXPECT_EQ(content((folder_ / c.written).string()), write_profile(report));
  }
  // A loop of links is the system's error, and leaves nothing.
  fs::create_symlink("loop_b", folder_ / "loop_a");
  fs::create_symlink("loop_a", folder_ / "loop_b");
  expect_write_fails((folder_ / "loop_a").string(), "Too many levels of symbolic links");
  EXPECT_EQ(names().count("loop_a") + names().count("loop_b"), 2u);
  EXPECT_EQ(names().size(), 7u);  // five links, made.json and the folder
}

// In a child process: writes `path`, raising `signal` half way through the text.
[[noreturn]] void write_interrupted(const std::string& path, int signal) {
  detail::write_text_file(path, [signal](detail::OutputStream& out) {
    const std::string block(1 << 20, ' ');
    out.write(block);
    ::raise(signal);
    out.write(block);
  });
  std::_Exit(0);
}

// A write that SIGINT, SIGTERM or SIGHUP ends leaves no temporary file, and the old file as it
// was; the process still ends by the signal. A handler of the program's own is left in place.
TEST_F(ProfileFiles, AnInterruptedWriteLeavesNoTemporaryFile) {
  const std::string path = (folder_ / "profile.json").string();
  std::ofstream(path) << "old";
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    EXPECT_EXIT(write_interrupted(path, signal), ::testing::KilledBySignal(signal), "");
    EXPECT_EQ(names(), std::set<std::string>{"profile.json"});
    EXPECT_EQ(content(path), "old");
  }
  static volatile std::sig_atomic_t caught = 0;
  const auto old_handler = std::signal(SIGHUP, [](int) { caught = 1; });
  detail::write_text_file(path, [](detail::OutputStream& out) {
    out.write("new");
    ::raise(SIGHUP);
  });
  EXPECT_EQ(caught, 1);
  EXPECT_EQ(std::signal(SIGHUP, old_handler) == SIG_DFL, false);
  EXPECT_EQ(content(path), "new");
}

TEST_F(ProfileFiles, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  const std::string path = (folder_ / "profile.json").string();
  std::ofstream(path) << "old";

  // A missing directory.
  expect_write_fails((folder_ / "missing" / "p.json").string(), "No such file or directory");
  // A directory where the file should be.
  fs::create_directory(folder_ / "folder.json");
  expect_write_fails((folder_ / "folder.json").string(), "Is a directory");

  // The file grows past what the process may write (RLIMIT_FSIZE) in the middle of the stream:
  // the write fails with EFBIG once more than a buffer of text has gone out.
  struct rlimit limit {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
  const struct rlimit small { .rlim_cur = 3 << 19, .rlim_max = limit.rlim_max };
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const auto big = zel_generator::generate_profile({.tiles = 400, .epochs = 3, .phases = 34});
  ASSERT_GT(write_profile(big).size(), std::size_t{3} << 20);
  expect_write_fails(path, "File too large", big);
  ::setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_TRUE(content(path) == "old");
  EXPECT_EQ(names(), (std::set<std::string>{"folder.json", "profile.json"}));
}

TEST_F(ProfileFiles, AFolderThatCannotBeWrittenLeavesTheOldFile) {
  const std::string path = (folder_ / "profile.json").string();
  std::ofstream(path) << "old";
  ASSERT_EQ(::chmod(folder_.c_str(), 0555), 0);
  const auto attempt = [&]() -> std::string {
    try {
      write_profile_file(ProfileReport{}, path);
      return "wrote it";
    } catch (const std::runtime_error& error) {
      return error.what();
    }
  };
  std::string message;
  if (::access(folder_.c_str(), W_OK) != 0) {
    message = attempt();
  } else {
    // Root may write anywhere: try as the unprivileged user "nobody", in a child process.
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(channel[0]);
      const std::string result =
          ::setgid(65534) == 0 && ::setuid(65534) == 0 ? attempt() : "cannot become nobody";
      const auto written = ::write(channel[1], result.data(), result.size());
      ::_exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
    }
    ::close(channel[1]);
    char buffer[512];
    ssize_t count = 0;
    while ((count = ::read(channel[0], buffer, sizeof buffer)) > 0) message.append(buffer, count);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ::chmod(folder_.c_str(), 0755);
  EXPECT_EQ(message, "cannot write " + path + ": Permission denied");
  EXPECT_TRUE(content(path) == "old");
  EXPECT_EQ(names(), std::set<std::string>{"profile.json"});
}

TEST_F(ProfileFiles, DevicesAreWrittenInPlace) {
  write_profile_file(ProfileReport{.clock_hz = 1}, "/dev/null");
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  if (fs::exists("/dev/full")) {
    expect_write_fails("/dev/full", "No space left on device");
  }
}

TEST_F(ProfileFiles, ATooLargeFileIsRefusedBeforeItIsRead) {
  const std::string path = (folder_ / "huge.json").string();
  std::ofstream(path) << "{";
  fs::resize_file(path, (std::uintmax_t{1} << 32) + 1);  // sparse: takes no space
  try {
    read_packed_profile_file(path);
    FAIL() << "read a file of more than 4 GiB";
  } catch (const ProfileReadError& error) {
    EXPECT_EQ(error.source(), path);
    EXPECT_EQ(error.json_path(), "");
    EXPECT_EQ(error.problem(), "too large: the reader takes up to 4 GiB of text");
  }
}

}  // namespace
}  // namespace zel_storage
