// Reading input that is endless or needs more memory than there is: the reader stops at its limit
// with the documented error, and running out of memory names the file and what was being read.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include <sys/resource.h>
#include <unistd.h>

#include <zstd.h>

#include <zel_storage/storage.hpp>

#include "file_io.hpp"

namespace zel_storage {
using namespace zel_package;
namespace {

// A stream that starts as a profile does is read to the limit, and not past it.
TEST(ProfileInputLimits, EndlessProfileStopsAtTheLimitWithoutGrowingPastIt) {
  const std::string endless = "\xEF\xBB\xBF \n{" + std::string(400000, ' ');
  for (const std::size_t limit : {std::size_t{1000}, std::size_t{100000}, std::size_t{300000}}) {
    detail::largest_text_allocation = 0;
    try {
      detail::read_text_bytes(endless, "endless", limit);
      ADD_FAILURE() << "an endless stream was read whole";
    } catch (const ProfileReadError& error) {
      EXPECT_EQ(error.source(), "endless");
      EXPECT_EQ(error.problem(), "too large: the reader takes up to 4 GiB of text");
    }
    EXPECT_GT(detail::largest_text_allocation, limit);
    EXPECT_LE(detail::largest_text_allocation, limit + 1 + detail::PaddedText::padding);
  }
}

// Input whose first bytes (after a byte-order mark and white space) cannot start a profile is not
// read further, however long it is, plain or decompressed: the parser then says what is wrong.
TEST(ProfileInputLimits, InputThatCannotBeAProfileIsRefusedAtTheFirstBytes) {
  const std::size_t limit = std::size_t{64} << 20;
  const std::string zeros(std::size_t{8} << 20, '\0');
  std::string bomb(zeros.size() / 128, '\0');  // an unsized zstd frame of 8 MiB of zeros
  {
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, 0);
    ZSTD_inBuffer in{zeros.data(), zeros.size(), 0};
    ZSTD_outBuffer out{bomb.data(), bomb.size(), 0};
    ZSTD_compressStream2(context, &out, &in, ZSTD_e_continue);
    ASSERT_EQ(ZSTD_compressStream2(context, &out, &in, ZSTD_e_end), 0u);
    bomb.resize(out.pos);
    ZSTD_freeCCtx(context);
  }
  std::string sized_bomb(ZSTD_compressBound(zeros.size()), '\0');  // with its size in the header
  sized_bomb.resize(
      ZSTD_compress(sized_bomb.data(), sized_bomb.size(), zeros.data(), zeros.size(), 1));
  const struct {
    std::string name;
    std::string bytes;
    std::size_t kept;  // the most text kept for the parser
  } inputs[] = {
      {"sized zstd of zeros", sized_bomb, std::size_t{1} << 20},
      {"zeros", zeros, 4},
      {"array", "[" + std::string(zeros.size(), ' '), 4},
      {"after white space", std::string(100000, ' ') + "x" + zeros, 100001 + (1u << 16)},
      {"after a byte-order mark", "\xEF\xBB\xBF" + zeros, 4},
      {"UTF-16", "\xFF\xFE{" + zeros, 4},
      {"zstd of zeros", bomb, std::size_t{1} << 17},
  };
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.name);
    const auto text = detail::read_text_bytes(input.bytes, input.name, limit);
    EXPECT_GE(text.size(), 1u);
    EXPECT_LE(text.size(), input.kept);
    EXPECT_EQ(text.view(),
              std::string_view(input.name.find("zstd") != std::string::npos ? zeros : input.bytes)
                  .substr(0, text.size()));
    EXPECT_THROW(read_packed_profile(text.view()), ProfileReadError);
  }
  // An endless device ends at once, with the parser's error.
  try {
    read_packed_profile_file("/dev/zero");
    ADD_FAILURE() << "read";
  } catch (const ProfileReadError& error) {
    EXPECT_EQ(error.source(), "/dev/zero");
    EXPECT_TRUE(error.problem().starts_with("not valid JSON")) << error.problem();
  }
  // The binary format's magic bytes start a profile, whose header is checked as soon as its 16
  // bytes are in: only a header this reader takes is read on.
  const std::string magic("\x89ZPROF\r\n", 8);
  const struct {
    std::string header;
    std::string problem;  // empty: read on
  } headers[] = {
      {magic + std::string(8, '\0'), "binary profile version 0, but this reader takes version 1"},
      {magic + std::string("\1\0\0\0\0\0\0\x80", 8), "damaged: unknown flags"},
      {magic + std::string("\1\0\0\0\0\0\0\0", 8), ""},
  };
  for (const auto& [header, problem] : headers) {
    SCOPED_TRACE(problem);
    try {
      EXPECT_EQ(detail::read_text_bytes(header + zeros, "binary", limit).size(),
                header.size() + zeros.size());
      EXPECT_EQ(problem, "");
    } catch (const ProfileReadError& error) {
      EXPECT_EQ(error.source(), "binary");
      EXPECT_EQ(error.json_path() + ": " + error.problem(), "header: " + problem);
    }
  }
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZEL_UNDER_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZEL_UNDER_SANITIZER 1
#endif
#endif

// In a child process: the packed profile is read within 1 GiB of address space, the records
// are not; exits 3 after printing the error.
[[noreturn, maybe_unused]] void read_both_with_little_memory(const std::string& name) {
  const rlimit limit{.rlim_cur = rlim_t{1} << 30, .rlim_max = rlim_t{1} << 30};
  ::setrlimit(RLIMIT_AS, &limit);
  const auto packed = read_packed_profile_file(name);
  if (packed.tiles.at(0).samples.size() != 30000) std::_Exit(4);
  try {
    read_profile_file(name);
  } catch (const ProfileReadError& error) {
    std::fputs(error.what(), stderr);
    std::_Exit(3);
  }
  std::_Exit(5);
}

// One step with a 100 KB operation shared by 30,000 samples: a 0.4 MB file whose packed form is
// small, but whose records (every sample with its own copy of the step) need 3 GB.
TEST(ProfileInputLimits, RunningOutOfMemoryNamesTheFileAndWhatWasRead) {
#ifdef ZEL_UNDER_SANITIZER
  GTEST_SKIP() << "a sanitizer reserves more address space than the limit below";
#else
  const auto path = std::filesystem::temp_directory_path() /
                    ("zel_amplified_" + std::to_string(::getpid()) + ".json");
  {
    std::ofstream out(path);
    out << R"({"version": 1, "clock_hz": 1, "steps": [{"phase": 0, "operation": ")"
        << std::string(100000, 'o') << R"(", "kind": "compute"}], "tiles": [{"physical_tile": 0, )"
        << R"("samples": [)";
    for (int i = 0; i < 30000; ++i) out << (i ? "," : "") << "[0," << i << "," << i + 1 << "]";
    out << "]}]}";
  }
  const std::string name = path.string();
  EXPECT_EXIT(
      read_both_with_little_memory(name), ::testing::ExitedWithCode(3),
      name +
          ": out of memory while making the records of the profile \\(30000 samples, each with "
          "its own step\\)");
  std::filesystem::remove(path);
#endif
}

// In a child process: an endless pipe of white space in an object is read to `limit` within the
// address space the process has now plus the limit and a quarter of it; exits 3 when it ends
// "too large", 6 when memory ran out first.
[[noreturn, maybe_unused]] void read_endless_pipe_in_bounded_memory(std::size_t limit) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) std::_Exit(7);
  if (::fork() == 0) {
    ::close(pipe_ends[0]);
    const std::string spaces = "{" + std::string(1 << 16, ' ');
    while (::write(pipe_ends[1], spaces.data(), spaces.size()) > 0) {
    }
    std::_Exit(0);
  }
  ::close(pipe_ends[1]);
  std::size_t pages = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%zu", &pages) != 1) std::_Exit(7);
    std::fclose(statm);
  }
  const auto bound = static_cast<rlim_t>(pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) +
                                         limit + limit / 4);
  const rlimit address_space{.rlim_cur = bound, .rlim_max = bound};
  ::setrlimit(RLIMIT_AS, &address_space);
  try {
    detail::read_text_file("/dev/fd/" + std::to_string(pipe_ends[0]), limit);
  } catch (const ProfileReadError& error) {
    std::fputs(error.what(), stderr);
    std::_Exit(error.problem().starts_with("too large") ? 3 : 5);
  } catch (const std::bad_alloc&) {
    std::_Exit(6);
  }
  std::_Exit(4);
}

// A stream of unknown size grows its buffer in place: it never holds an old and a new copy at
// once, which near the limit would take half as much memory again as the limit.
TEST(ProfileInputLimits, EndlessStreamIsHeldWithinTheLimitAndAChunk) {
#ifdef ZEL_UNDER_SANITIZER
  GTEST_SKIP() << "a sanitizer reserves more address space than the limit below";
#else
  EXPECT_EXIT(read_endless_pipe_in_bounded_memory(std::size_t{256} << 20),
              ::testing::ExitedWithCode(3), "too large");
#endif
}

}  // namespace
}  // namespace zel_storage
