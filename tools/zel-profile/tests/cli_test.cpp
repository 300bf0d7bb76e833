#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <zel_generator/generator.hpp>
#include <zel_storage/storage.hpp>
#include "cli.hpp"
#include "run_cli.hpp"

namespace zel_cli {
namespace {

using test_support::Outcome;
using test_support::run;

const std::string example = ZEL_CLI_EXAMPLE_PROFILE;
const std::string test_data = ZEL_CLI_TEST_DATA;

// A window one cycle wide selects what the instant selects, for the groups, the longest samples and
// the trace; every command that filters takes the window.
TEST(Cli, AWindowOfOneCycleSelectsWhatAnInstantSelects) {
  for (const std::uint64_t at : {0ull, 1500ull, 20000ull, 4294967295ull}) {
    const std::vector<std::string> instant{"--at", std::to_string(at)};
    const std::vector<std::string> window{"--from", std::to_string(at), "--to",
                                          std::to_string(at + 1)};
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"query", example, "--format", "csv"},
          std::vector<std::string>{"query", example, "--samples", "100", "--format", "csv"},
          std::vector<std::string>{"export", example, "-o", "-"}}) {
      auto with_instant = command;
      with_instant.insert(with_instant.end(), instant.begin(), instant.end());
      auto with_window = command;
      with_window.insert(with_window.end(), window.begin(), window.end());
      const auto expected = run(with_instant);
      EXPECT_EQ(expected.status, 0) << expected.err;
      EXPECT_EQ(run(with_window).out, expected.out) << at << " " << command[2];
    }
  }
  const auto json =
      nlohmann::json::parse(run({"query", example, "--from", "1000", "--format", "json"}).out);
  EXPECT_EQ(json["from_offset"], 1000);
  EXPECT_TRUE(json["to_offset"].is_null());
  EXPECT_EQ(run({"diff", example, example, "--to", "1"}).status, 0);
  EXPECT_EQ(run({"report", example, "--from", "10", "--to", "2000", "-o", "-"}).status, 0);
  EXPECT_EQ(run({"export", example, "--from", "2", "--to", "2"}).status, 2);
}

// A clipped window says so wherever the window is named, and the report page's timeline has a
// column for each of its plot's pixels: more than the profile has phases.
TEST(Cli, ReportsSayTheyAreClippedAndDrawAColumnAPixel) {
  for (const std::string command : {"query", "report"}) {
    std::vector<std::string> arguments{command, example, "--from", "10", "--to", "2000"};
    const auto whole = run(arguments);
    arguments.push_back("--clip");
    const auto clipped = run(arguments);
    ASSERT_EQ(clipped.status, 0) << clipped.err;
    const std::string said = "clipped: each counts only its cycles inside the window";
    EXPECT_EQ(whole.out.find(said), std::string::npos) << command;
    EXPECT_NE(clipped.out.find("[10, 2000), " + said), std::string::npos) << command;
  }
  const std::string path = ::testing::TempDir() + "cli_test_many_phases.json";
  zel_storage::write_profile_file(
      zel_generator::generate_packed_profile({.tiles = 3, .epochs = 1, .phases = 700, .seed = 2}),
      path);
  const auto page = run({"report", path});
  ASSERT_EQ(page.status, 0) << page.err;
  const auto at = page.out.find(" bins of ");
  ASSERT_NE(at, std::string::npos);
  const auto bins = std::stoull(page.out.substr(page.out.rfind(' ', at - 1) + 1));
  const auto bin_cycles = std::stoull(page.out.substr(at + 9));
  const auto span = nlohmann::json::parse(run({"query", path, "--format", "json"}).out)
                        .at("profile_span_cycles")
                        .get<std::uint64_t>();
  EXPECT_GT(bins, 700u);
  EXPECT_LE(bins, 900u);
  EXPECT_EQ(bins, (span + bin_cycles - 1) / bin_cycles);
  std::remove(path.c_str());
}

TEST(Cli, HelpEverywhereSucceeds) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"query", "--help"}, {"generate", "--help"}}) {
    const auto outcome = run(arguments);
    EXPECT_EQ(outcome.status, 0) << arguments.front();
    EXPECT_NE(outcome.out.find("Usage:"), std::string::npos) << outcome.out;
    EXPECT_EQ(outcome.err, "");
  }
  EXPECT_NE(run({"query", "--help"}).out.find("--metadata NAME[=VALUE]"), std::string::npos);
  EXPECT_NE(run({"generate", "--help"}).out.find("--clock-hz HZ"), std::string::npos);
}

// Usage errors are found before the profile is read: the profile named here does not exist, yet
// the status is 2, not 1.
TEST(Cli, UsageErrorsExitTwoWithAMessage) {
  const std::vector<std::vector<std::string>> mistakes{
      {},
      {"frobnicate"},
      {"query"},
      {"query", "missing.json", "--tile", "-1"},
      {"query", "missing.json", "--tile", "4294967296"},
      {"query", "missing.json", "--at", "18446744073709551616"},
      {"query", "missing.json", "--limit", "ten"},
      {"query", "missing.json", "--group-by", "metadata"},
      {"query", "missing.json", "--format", "xml"},
      {"query", "missing.json", "--kernel"},
      {"query", "missing.json", "--timing", "--timing"},
      {"query", "missing.json", "--reverse", "--reverse"},
      {"generate", "--tiles", "0"},
      {"generate", "--seed", "-5"},
      {"generate", "extra"},
      {"qeury", "missing.json"},
      {"query", "missing.json", "--sort", "name"},
      {"help", "qeury"},
      {"query", "missing.json", "--group-by", "kernal"},
      {"diff", "a.json"},
  };
  for (const auto& arguments : mistakes) {
    const auto outcome = run(arguments);
    EXPECT_EQ(outcome.status, 2) << ::testing::PrintToString(arguments);
    EXPECT_NE(outcome.err, "") << ::testing::PrintToString(arguments);
    EXPECT_EQ(outcome.out, "") << ::testing::PrintToString(arguments);
    // CLI11's messages as well as the tool's: every line names the tool.
    std::istringstream lines(outcome.err);
    for (std::string line; std::getline(lines, line);) {
      EXPECT_TRUE(line.starts_with("zel-profile: ")) << line;
    }
  }
  EXPECT_NE(run({"query", "missing.json", "--tile", "-1"}).err.find("--tile"), std::string::npos);
}

TEST(Cli, UnreadableProfilesExitOneNamingFileAndPlace) {
  const auto missing = run({"query", test_data + "/no-such-profile.json"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("no-such-profile.json"), std::string::npos) << missing.err;
  EXPECT_EQ(missing.out, "");

  const auto invalid = run({"query", test_data + "/counter_too_large.json", "--format", "json"});
  EXPECT_EQ(invalid.status, 1);
  EXPECT_NE(invalid.err.find("counter_too_large.json: tiles[1].samples[2][2]: "), std::string::npos)
      << invalid.err;
  EXPECT_EQ(invalid.out, "");
}

// Values worked out by hand from the example file: its tile 4 starts 296 cycles before its
// counter wraps and runs a 120-cycle exchange, then an 800-cycle gemm_f16 across the wrap.
TEST(Cli, QueriesTheExampleProfile) {
  const auto outcome = run({"query", example, "--tile", "4", "--kernel", "gemm_f16", "--phase", "0",
                            "--samples", "1", "--format", "json"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const auto report = nlohmann::json::parse(outcome.out);
  EXPECT_EQ(report["tile_count"], 3);
  EXPECT_EQ(report["sample_count"], 54);
  EXPECT_EQ(report["matched_sample_count"], 2);
  EXPECT_EQ(report["profile_span_cycles"], 3974);
  ASSERT_EQ(report["samples"].size(), 1u);
  EXPECT_EQ(report["samples"][0]["offset"], 120);
  EXPECT_EQ(report["samples"][0]["duration"], 800);
  EXPECT_EQ(report["samples"][0]["epoch"], 0);

  // An empty kernel selects the exchange, synchronization and idle steps: five per tile and
  // epoch, and tile 6 idles once per epoch.
  const auto no_kernel =
      run({"query", example, "--kernel", "", "--group-by", "kind", "--sort-by", "name"});
  ASSERT_EQ(no_kernel.status, 0) << no_kernel.err;
  EXPECT_NE(no_kernel.out.find("3 tiles, 54 samples, 32 matched, span 3974 cycles"),
            std::string::npos)
      << no_kernel.out;
  const auto csv = run({"query", example, "--kernel", "", "--group-by", "kind", "--sort-by", "name",
                        "--format", "csv"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_NE(csv.out.find("\r\nexchange,,12,3,"), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find("\r\nidle,,2,1,"), std::string::npos) << csv.out;
  EXPECT_NE(csv.out.find("\r\nsynchronization,,18,3,"), std::string::npos) << csv.out;
}

// The shell turns --kernel="" into "--kernel=", which must still mean an empty kernel, wherever it
// stands; "--metadata=block=" keeps its own "=".
TEST(Cli, EmptyValueAfterEqualsIsEmpty) {
  const auto spaced = run({"query", example, "--kernel", "", "--group-by", "kind"});
  ASSERT_EQ(spaced.status, 0) << spaced.err;
  EXPECT_NE(spaced.out.find(" 32 matched"), std::string::npos) << spaced.out;
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"query", example, "--kernel=", "--group-by", "kind"},
           {"query", "--kernel=", example, "--group-by", "kind"},
           {"query", example, "--group-by", "kind", "--kernel="}}) {
    const auto joined = run(arguments);
    EXPECT_EQ(joined.status, 0) << joined.err;
    EXPECT_EQ(joined.out, spaced.out);
  }
  const auto metadata = run({"query", example, "--metadata=block=", "--format", "json"});
  ASSERT_EQ(metadata.status, 0) << metadata.err;
  EXPECT_EQ(nlohmann::json::parse(metadata.out)["matched_sample_count"], 0);
}

TEST(Cli, GenerateWritesTheSeededProfile) {
  const auto expected = zel_generator::generate_profile(
      {.tiles = 3, .epochs = 2, .phases = 4, .seed = 9, .clock_hz = 1000});
  const std::vector<std::string> options{"--tiles", "3",      "--epochs", "2",          "--phases",
                                         "4",       "--seed", "9",        "--clock-hz", "1000"};

  auto to_stdout = options;
  to_stdout.insert(to_stdout.begin(), "generate");
  const auto printed = run(to_stdout);
  ASSERT_EQ(printed.status, 0) << printed.err;
  EXPECT_EQ(zel_storage::read_profile(printed.out), expected);

  const std::string path = ::testing::TempDir() + "zel_cli_generated_profile.json";
  auto to_file = to_stdout;
  to_file.insert(to_file.end(), {"-o", path});
  const auto written = run(to_file);
  ASSERT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(written.out, "");
  EXPECT_EQ(zel_storage::read_profile_file(path), expected);

  // The query command reads what generate wrote.
  const auto queried = run({"query", path, "--group-by", "tile", "--format", "json"});
  ASSERT_EQ(queried.status, 0) << queried.err;
  EXPECT_EQ(nlohmann::json::parse(queried.out)["sample_count"], 3 * 2 * 4 * 3);
  std::remove(path.c_str());
}

TEST(Cli, OutputThatCannotBeWrittenIsAFailure) {
  const auto unwritable = run({"generate", "-o", test_data + "/no-such-folder/profile.json"});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("no-such-folder/profile.json"), std::string::npos)
      << unwritable.err;

  std::ostringstream broken;
  broken.setstate(std::ios::badbit);
  std::ostringstream err;
  EXPECT_EQ(run_cli({"query", example}, broken, err), 1);
  EXPECT_NE(err.str().find("cannot write"), std::string::npos) << err.str();
}

}  // namespace
}  // namespace zel_cli
