#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <zel_storage/binary_profile.hpp>
#include <zel_storage/storage.hpp>
#include "run_cli.hpp"

namespace zel_cli {
namespace {

using test_support::run;

std::string content(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// text -> binary -> text -> binary gives the same bytes, and every command reports the same from
// either file, whatever the binary file is called.
TEST(Convert, RoundTripsToTheSameBytesAndTheSameReports) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("zel_convert_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const auto in = [&](const char* name) { return (folder / name).string(); };
  ASSERT_EQ(
      run({"generate", "--tiles", "5", "--epochs", "3", "--seed", "2", "-o", in("first.json")})
          .status,
      0);
  ASSERT_EQ(
      run({"generate", "--tiles", "5", "--epochs", "3", "--seed", "2", "-o", in("generated.zprof")})
          .status,
      0);
  for (const auto& [from, to] :
       std::vector<std::pair<std::string, std::string>>{{"first.json", "first.zprof"},
                                                        {"first.zprof", "second.json"},
                                                        {"second.json", "second.zprof"}}) {
    const auto converted = run({"convert", in(from.c_str()), "-o", in(to.c_str())});
    ASSERT_EQ(converted.status, 0) << converted.err;
    EXPECT_EQ(converted.out + converted.err, "");
  }
  ASSERT_EQ(run({"convert", in("second.zprof"), "--to", "binary", "-o", in("binary.data")}).status,
            0);
  EXPECT_TRUE(zel_storage::is_binary_profile(content(in("first.zprof"))));
  EXPECT_EQ(content(in("second.json")), content(in("first.json")));
  for (const char* same : {"second.zprof", "generated.zprof", "binary.data"}) {
    EXPECT_EQ(content(in(same)), content(in("first.zprof"))) << same;
  }

  for (const auto& words :
       std::vector<std::vector<std::string>>{{"query", "--format", "json", "--samples", "7"},
                                             {"query", "--group-by", "tile", "--format", "csv"},
                                             {"export"}}) {
    std::vector<std::string> text = words;
    text.insert(text.begin() + 1, in("first.json"));
    std::vector<std::string> binary = words;
    binary.insert(binary.begin() + 1, in("binary.data"));
    const auto expected = run(text);
    ASSERT_EQ(expected.status, 0) << expected.err;
    const auto got = run(binary);
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out, expected.out) << words.front();
  }
  std::filesystem::remove_all(folder);
}

TEST(Convert, RefusesWhatItCannotReadOrTell) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("zel_convert_bad_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string good = (folder / "good.zprof").string();
  const std::string bad = (folder / "bad.zprof").string();
  ASSERT_EQ(run({"generate", "-o", good}).status, 0);
  std::string bytes = content(good);
  bytes.resize(bytes.size() - 3);
  std::ofstream(bad, std::ios::binary) << bytes;

  const auto cut = run({"convert", bad, "-o", (folder / "out.json").string()});
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.err.rfind("zel-profile: " + bad + ": tiles[15].blocks[0]: cut short", 0), 0u)
      << cut.err;
  EXPECT_FALSE(std::filesystem::exists(folder / "out.json"));
  EXPECT_EQ(run({"query", bad}).status, 1);

  for (const auto& words : std::vector<std::vector<std::string>>{
           {"convert", good, "-o", (folder / "out.txt").string()},
           {"convert", good, "--to", "xml", "-o", (folder / "out.json").string()}}) {
    const auto unknown = run(words);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("--to"), std::string::npos) << unknown.err;
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace zel_cli
