// The tool's habits: its own words for every bad command line, outputs that would replace an input
// refused, the diff gate on the span and above a floor, diff's timing, and what generate wrote.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include "run_cli.hpp"

namespace zel_cli {
namespace {

using test_support::run;

const std::string example = ZEL_CLI_EXAMPLE_PROFILE;

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Each line: the command line and a part of the one message line about it. None reaches the
// profile, which does not exist, so each is a usage error (2) found before reading.
TEST(Habits, BadCommandLinesGetTheToolsOwnWords) {
  const std::string missing = "missing.json";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"query", missing, "--limit", "2", "--limit", "3"}, "--limit given more than once"},
      {{"query", missing, "--timing", "--timing"}, "--timing given more than once"},
      {{"export", missing, "--format", "json"}, "--format: expected chrome-trace, got \"json\""},
      {{"report", missing, "--color-by", "kinds"},
       "--color-by: expected one of kind|group, got \"kinds\"; did you mean 'kind'?"},
      {{"info", missing, "--format", "csv"}, "--format: expected one of table|json, got \"csv\""},
      {{"diff", missing, missing, "--samples", "3"}, "unknown option '--samples'"},
      {{"diff", missing, missing, "--min-cycles", "5"},
       "--min-cycles applies only with --fail-above"},
      {{"diff", missing, missing, "--fail-above-span", "ten"},
       "--fail-above-span: expected a percentage such as 5 or 2.5, got \"ten\""},
      {{"diff", missing, missing, "--fail-above", "1", "--min-cycles", "-1"}, "--min-cycles"},
      {{"diff", missing, missing, missing}, "BASE NEW: expected 2 files, got 3"},
      {{"generate", "extra"}, "unexpected argument 'extra'"},
      {{"query", missing, "--limit"}, "--limit needs a value"},
  };
  for (const auto& [arguments, message] : cases) {
    const auto outcome = run(arguments);
    const std::string where = ::testing::PrintToString(arguments) + "\n" + outcome.err;
    EXPECT_EQ(outcome.status, 2) << where;
    EXPECT_EQ(outcome.out, "") << where;
    EXPECT_NE(outcome.err.find("zel-profile: " + message), std::string::npos) << where;
    for (const char* parser_words :
         {"required but received", " not in {", "Expected ", "not expected", "Could not convert",
          "is required", "too many inputs"}) {
      EXPECT_EQ(outcome.err.find(parser_words), std::string::npos) << where;
    }
  }
}

TEST(Habits, AnOutputThatNamesAnInputIsRefusedAndLeavesItAlone) {
  const std::string folder = ::testing::TempDir();
  const std::string path = folder + "zel_cli_kept_profile.json";
  ASSERT_EQ(run({"generate", "--tiles", "3", "-o", path}).status, 0);
  const std::string before = read_file(path);
  const std::string other_spelling = folder + "./zel_cli_kept_profile.json";
  const std::string relative = std::filesystem::relative(path).string();
  // Other names for the same file: a hard link and a symbolic link.
  const std::string hard_link = folder + "zel_cli_kept_hard_link.json";
  const std::string symbolic_link = folder + "zel_cli_kept_symbolic_link.json";
  std::filesystem::remove(hard_link);
  std::filesystem::remove(symbolic_link);
  std::filesystem::create_hard_link(path, hard_link);
  std::filesystem::create_symlink(path, symbolic_link);
  for (const auto& arguments :
       std::vector<std::vector<std::string>>{{"query", example, path, "-o", path},
                                             {"query", path, "--output", other_spelling},
                                             {"diff", example, path, "-o", path},
                                             {"report", path, "-o", other_spelling},
                                             {"export", path, "-o", path},
                                             {"info", path, "-o", path},
                                             {"convert", path, "-o", path},
                                             {"convert", path, "-o", relative},
                                             {"convert", path, "--to", "binary", "-o", hard_link},
                                             {"convert", symbolic_link, "-o", path},
                                             {"query", hard_link, "-o", symbolic_link}}) {
    const auto outcome = run(arguments);
    EXPECT_EQ(outcome.status, 2) << ::testing::PrintToString(arguments) << outcome.err;
    EXPECT_NE(outcome.err.find("names the input profile"), std::string::npos) << outcome.err;
    EXPECT_EQ(read_file(path), before);
  }
  std::filesystem::remove(hard_link);
  std::filesystem::remove(symbolic_link);
  std::remove(path.c_str());
}

// A longer run (more phases) has a longer span; the gate on the span fails it, a floor above
// every group keeps the group gate from failing, and --timing times the diff.
TEST(DiffCommand, GatesTheSpanFloorsSmallGroupsAndTimes) {
  const std::string base = ::testing::TempDir() + "zel_cli_gate_base.json";
  const std::string longer = ::testing::TempDir() + "zel_cli_gate_longer.json";
  const auto written = run({"generate", "--tiles", "4", "--phases", "4", "-o", base});
  ASSERT_EQ(written.status, 0);
  EXPECT_EQ(written.err, "zel-profile: wrote " + base + ": 4 tiles, " +
                             std::to_string(4 * 2 * 4 * 3) + " samples\n");
  ASSERT_EQ(run({"generate", "--tiles", "4", "--phases", "8", "-o", longer}).status, 0);
  const auto spans = nlohmann::json::parse(run({"diff", base, longer, "--format", "json"}).out);
  const std::uint64_t base_span = spans["span"]["base_cycles"];
  const std::uint64_t new_span = spans["span"]["new_cycles"];
  ASSERT_GT(new_span, base_span);

  const auto span_gate = run({"diff", base, longer, "--fail-above-span", "10"});
  EXPECT_EQ(span_gate.status, 3) << span_gate.err;
  EXPECT_NE(span_gate.err.find("zel-profile: span " + std::to_string(base_span) + " -> " +
                               std::to_string(new_span) + " cycles, grew by "),
            std::string::npos)
      << span_gate.err;
  EXPECT_EQ(run({"diff", base, longer, "--fail-above-span", "1000"}).status, 0);
  EXPECT_EQ(run({"diff", longer, base, "--fail-above-span", "0"}).status, 0);

  EXPECT_EQ(run({"diff", base, longer, "--fail-above", "5"}).status, 3);
  const auto floored = run({"diff", base, longer, "--fail-above", "5", "--min-cycles",
                            std::to_string(new_span + 1), "--timing"});
  EXPECT_EQ(floored.status, 0) << floored.err;
  for (const char* line : {"zel-profile: timing: load ", "zel-profile: timing: query ",
                           "zel-profile: timing: peak memory "}) {
    EXPECT_NE(floored.err.find(line), std::string::npos) << floored.err;
  }
  std::remove(base.c_str());
  std::remove(longer.c_str());
}

TEST(InfoCommand, SaysWhatTheExampleHolds) {
  const auto table = run({"info", example});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_EQ(table.out.rfind("3 tiles, 54 samples, span 3974 cycles", 0), 0u) << table.out;
  const auto json = nlohmann::json::parse(run({"info", example, example, "--format", "json"}).out);
  EXPECT_EQ(json["tile_count"], 6);
  EXPECT_EQ(json["sample_count"], 108);
  std::uint64_t by_kind = 0;
  for (const auto& kind : json["kinds"]) by_kind += kind["samples"].get<std::uint64_t>();
  EXPECT_EQ(by_kind, 108u);
}

}  // namespace
}  // namespace zel_cli
