#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include <zel_generator/generator.hpp>
#include <zel_package/storage.hpp>

namespace zel_package {
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

}  // namespace
}  // namespace zel_package
