// Reading input that is endless or needs more memory than there is: the reader stops at its limit
// with the documented error, and running out of memory names the file and what was being read.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

#include <zel_package/storage.hpp>

#include "file_io.hpp"

namespace zel_package {
namespace {

TEST(ProfileInputLimits, EndlessStreamStopsAtTheLimitWithoutGrowingPastIt) {
  for (const std::size_t limit : {std::size_t{1000}, std::size_t{100000}, std::size_t{300000}}) {
    storage_detail::largest_text_allocation = 0;
    try {
      storage_detail::read_text_file("/dev/zero", limit);
      ADD_FAILURE() << "an endless stream was read whole";
    } catch (const ProfileReadError& error) {
      EXPECT_EQ(error.source(), "/dev/zero");
      EXPECT_EQ(error.problem(), "too large: the reader takes up to 4 GiB of text");
    }
    EXPECT_GT(storage_detail::largest_text_allocation, limit);
    EXPECT_LE(storage_detail::largest_text_allocation,
              limit + 1 + storage_detail::PaddedText::padding);
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

}  // namespace
}  // namespace zel_package
