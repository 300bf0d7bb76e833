// The commands end to end: reports of the packed reading path, what --timing adds, and generated
// text streamed to standard output.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <zel_generator/generator.hpp>
#include <zel_profile/query.hpp>
#include <zel_report/formats.hpp>
#include <zel_storage/storage.hpp>
#include "cli.hpp"
#include "run_cli.hpp"

namespace zel_cli {
namespace {

using zel_profile::GroupBy;

using test_support::Outcome;
using test_support::run;

// The tool queries the packed form of what it read; the reports must be those of the records the
// same file holds, byte for byte.
TEST(QueryCommand, ReportsOfAGeneratedProfileAreThoseOfItsRecords) {
  const std::string path = ::testing::TempDir() + "zel_cli_packed_query.json";
  const auto generated = run(
      {"generate", "--tiles", "37", "--epochs", "3", "--phases", "21", "--seed", "5", "-o", path});
  ASSERT_EQ(generated.status, 0) << generated.err;
  const auto records = zel_storage::read_profile_file(path);
  ASSERT_EQ(records,
            zel_generator::generate_profile({.tiles = 37, .epochs = 3, .phases = 21, .seed = 5}));

  const std::vector<std::pair<std::vector<std::string>, zel_profile::Query>> cases{
      {{}, {}},
      {{"--group-by", "tile", "--sort-by", "name", "--samples", "4"},
       {.group_by = GroupBy::Tile, .sort_by = zel_profile::SortBy::Name, .sample_limit = 4}},
      {{"--kind", "idle", "--group-by", "phase", "--samples", "2"},
       {.group_by = GroupBy::Phase, .kind = zel_profile::StepKind::Idle, .sample_limit = 2}},
      {{"--group-by", "metadata", "--metadata-key", "dtype", "--metadata", "layer=1", "--at",
        "20000", "--limit", "1"},
       {.group_by = GroupBy::Metadata,
        .metadata = {{.name = "layer", .value = "1"}},
        .metadata_key = "dtype",
        .at_offset = 20000,
        .limit = 1}},
  };
  // The same profile as two files (its first 10 tiles, then the rest) queried together.
  const auto packed = zel_storage::read_packed_profile_file(path);
  zel_package::PackedProfile head{.clock_hz = packed.clock_hz, .steps = packed.steps, .tiles = {}};
  zel_package::PackedProfile rest = head;
  head.tiles.assign(packed.tiles.begin(), packed.tiles.begin() + 10);
  rest.tiles.assign(packed.tiles.begin() + 10, packed.tiles.end());
  const std::string head_path = path + ".head";
  const std::string rest_path = path + ".rest";
  zel_storage::write_profile_file(head, head_path);
  zel_storage::write_profile_file(rest, rest_path);

  for (const auto& [options, query] : cases) {
    const std::string whole = zel_report::format_json(zel_profile::query(records, query));
    // The two files are two chips: the same report but for the tile groups, named per chip.
    const std::string chips = zel_report::format_json(
        zel_profile::query(std::vector<zel_package::PackedProfile>{head, rest}, query));
    EXPECT_EQ(chips == whole, query.group_by != GroupBy::Tile);
    // Every way of running it gives the same report: one thread, several, the default, and the
    // profile split over two files.
    for (const std::vector<std::string>& run_as :
         {std::vector<std::string>{path, "--threads", "1"},
          std::vector<std::string>{path, "--threads", "3"}, std::vector<std::string>{path},
          std::vector<std::string>{head_path, rest_path, "--threads", "2"}}) {
      std::vector<std::string> arguments{"query", "--format", "json"};
      arguments.insert(arguments.end(), run_as.begin(), run_as.end());
      arguments.insert(arguments.end(), options.begin(), options.end());
      const auto outcome = run(arguments);
      ASSERT_EQ(outcome.status, 0) << outcome.err;
      EXPECT_EQ(outcome.out, run_as.front() == head_path ? chips : whole)
          << ::testing::PrintToString(arguments);
    }
  }

  // Profiles of different clock rates cannot be one run; standard input cannot be read twice.
  rest.clock_hz += 1;
  zel_storage::write_profile_file(rest, rest_path);
  const auto mixed = run({"query", head_path, rest_path});
  EXPECT_EQ(mixed.status, 1);
  EXPECT_NE(mixed.err.find("different clock rates"), std::string::npos) << mixed.err;
  EXPECT_EQ(run({"query", "-", "-"}).status, 2);
  EXPECT_EQ(run({"query", path, "--threads", "0"}).status, 2);
  for (const auto& file : {path, head_path, rest_path}) std::remove(file.c_str());
}

// The example given twice is two chips of three tiles each, tile numbers repeated: each view keeps
// them apart, and one file alone reads as before.
TEST(QueryCommand, SeveralProfilesAreSeveralChips) {
  const std::string example = ZEL_CLI_EXAMPLE_PROFILE;
  const std::string copy = ::testing::TempDir() + "zel_cli_chip_copy.json";
  std::ofstream(copy) << std::ifstream(example).rdbuf();
  const auto json_of = [](const std::vector<std::string>& arguments) {
    const auto outcome = run(arguments);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    return nlohmann::json::parse(outcome.out);
  };

  const auto one = json_of({"query", example, "--format", "json"});
  const auto two = json_of({"query", example, example, "--format", "json"});
  ASSERT_EQ(two["tile_count"], 6);
  ASSERT_EQ(two["groups"].size(), one["groups"].size());
  for (std::size_t g = 0; g < one["groups"].size(); ++g) {
    const auto& alone = one["groups"][g];
    const auto& both = two["groups"][g];
    ASSERT_EQ(both["name"], alone["name"]);
    EXPECT_EQ(both["tile_count"], 2 * alone["tile_count"].get<int>()) << both["name"];
    EXPECT_EQ(both["work_cycles"], 2 * alone["work_cycles"].get<int>()) << both["name"];
    EXPECT_LE(both["average_active_tiles"].get<double>(), both["tile_count"].get<double>());
  }

  // Tile groups per chip; profile groups per file, by path, told apart when a path repeats.
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> names{
      {{example, copy, "--group-by", "tile"},
       {"chip 0 tile 4", "chip 0 tile 5", "chip 0 tile 6", "chip 1 tile 4", "chip 1 tile 5",
        "chip 1 tile 6"}},
      {{example, "--group-by", "tile"}, {"tile 4", "tile 5", "tile 6"}},
      {{example, copy, "--group-by", "profile"}, {example, copy}},
      {{example, example, "--group-by", "profile"}, {example + " (chip 0)", example + " (chip 1)"}},
  };
  for (auto [arguments, expected] : names) {
    std::vector<std::string> command{"query", "--format", "json", "--sort-by", "name"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const auto report = json_of(command);
    std::vector<std::string> groups;
    for (const auto& group : report["groups"]) groups.push_back(group["name"]);
    // Paths sort by where the checkout is, so both sides are compared in the same order.
    std::sort(groups.begin(), groups.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(groups, expected) << ::testing::PrintToString(arguments);
  }

  // The trace: a process per chip, named by its file, holding every sample of that chip.
  const auto trace = json_of({"export", example, copy});
  std::vector<std::size_t> events(2, 0);
  std::vector<std::string> processes;
  for (const auto& event : trace["traceEvents"]) {
    if (event["ph"] == "X") ++events.at(event["pid"].get<std::size_t>());
    if (event["name"] == "process_name") processes.push_back(event["args"]["name"]);
  }
  EXPECT_EQ(events, (std::vector<std::size_t>{54, 54}));
  EXPECT_EQ(processes, (std::vector<std::string>{"chip 0: " + example, "chip 1: " + copy}));

  // The page: rows and critical tiles named with their chip.
  const auto page = run({"report", example, copy});
  ASSERT_EQ(page.status, 0) << page.err;
  for (const char* text : {"2 profiles, each a chip", "chip 1 tile 4", ">chip 0 tile "}) {
    EXPECT_NE(page.out.find(text), std::string::npos) << text;
  }
  std::remove(copy.c_str());
}

double process_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

long peak_resident_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(QueryCommand, TimingLinesFollowOnStandardErrorAndLeaveTheReportAlone) {
  const std::vector<std::string> arguments{
      "query", ZEL_CLI_EXAMPLE_PROFILE, "--group-by", "tile", "--samples", "3"};
  const auto plain = run(arguments);
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.err, "");

  auto timed_arguments = arguments;
  timed_arguments.push_back("--timing");
  const long peak_before = peak_resident_kib();
  const auto wall_before = std::chrono::steady_clock::now();
  const double cpu_before = process_cpu_seconds();
  const auto timed = run(timed_arguments);
  const double cpu = process_cpu_seconds() - cpu_before;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_before).count();
  const long peak_after = peak_resident_kib();

  ASSERT_EQ(timed.status, 0) << timed.err;
  EXPECT_EQ(timed.out, plain.out);
  const std::regex lines(
      "zel-profile: timing: load ([0-9]+\\.[0-9]{3}) s wall, ([0-9]+\\.[0-9]{3}) s cpu\n"
      "zel-profile: timing: query ([0-9]+\\.[0-9]{3}) s wall, ([0-9]+\\.[0-9]{3}) s cpu\n"
      "zel-profile: timing: peak memory ([0-9]+) MB\n");
  std::smatch figures;
  ASSERT_TRUE(std::regex_match(timed.err, figures, lines)) << timed.err;
  const double load_wall = std::stod(figures[1]);
  const double load_cpu = std::stod(figures[2]);
  const double query_wall = std::stod(figures[3]);
  const double query_cpu = std::stod(figures[4]);
  const long peak_mb = std::stol(figures[5]);
  // Both stages happen within the run; each figure is rounded to the millisecond.
  EXPECT_LE(load_wall + query_wall, wall + 0.001);
  EXPECT_LE(load_cpu + query_cpu, cpu + 0.001);
  // The peak is in MB, rounded, and lies between the peaks seen before and after the run.
  EXPECT_GE(peak_mb, 1);
  EXPECT_GE(peak_mb, (peak_before + 512) / 1024);
  EXPECT_LE(peak_mb, (peak_after + 512) / 1024);
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The real tool streams to its standard output; the text must be the file's, byte for byte.
TEST(GenerateCommand, StandardOutputGetsTheTextOfTheFile) {
  const std::string path = ::testing::TempDir() + "zel_cli_streamed_profile.json";
  const std::string command = "'" + std::string(ZEL_CLI_TOOL) +
                              "' generate --tiles 11 --epochs 2 --phases 9 --seed 3 --clock-hz 77";
  ASSERT_EQ(run({"generate", "--tiles", "11", "--epochs", "2", "--phases", "9", "--seed", "3",
                 "--clock-hz", "77", "-o", path})
                .status,
            0);
  const std::string written = read_file(path);
  std::remove(path.c_str());

  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string printed;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    printed.append(buffer, got);
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(printed, written);
  EXPECT_EQ(zel_storage::read_profile(printed),
            zel_generator::generate_profile(
                {.tiles = 11, .epochs = 2, .phases = 9, .seed = 3, .clock_hz = 77}));
}

}  // namespace
}  // namespace zel_cli

namespace zel_cli {
namespace {

// A regression gate: the same run compared with itself passes any threshold; a run whose groups
// changed fails a small one, names the groups on standard error and still prints the comparison.
TEST(DiffCommand, ComparesTwoRunsAndFailsAboveAThreshold) {
  const std::string base = ::testing::TempDir() + "zel_cli_diff_base.json";
  const std::string changed = ::testing::TempDir() + "zel_cli_diff_new.json";
  ASSERT_EQ(run({"generate", "--tiles", "6", "--epochs", "2", "--phases", "5", "-o", base}).status,
            0);
  ASSERT_EQ(run({"generate", "--tiles", "6", "--epochs", "2", "--phases", "5", "--seed", "9", "-o",
                 changed})
                .status,
            0);

  const auto same = run({"diff", base, base, "--fail-above", "0", "--format", "json"});
  EXPECT_EQ(same.status, 0) << same.err;
  const auto unchanged = nlohmann::json::parse(same.out);
  const auto report = nlohmann::json::parse(run({"query", base, "--format", "json"}).out);
  ASSERT_EQ(unchanged["groups"].size(), report["groups"].size());
  for (const auto& group : unchanged["groups"]) {
    EXPECT_TRUE(group["only_in"].is_null());
    EXPECT_EQ(group["phase_cycles"]["change"], 0);
    EXPECT_EQ(group["phase_cycles"]["relative"], 0.0);
  }

  const auto gate = run({"diff", base, changed, "--fail-above", "5"});
  EXPECT_EQ(gate.status, 3);
  EXPECT_NE(gate.out.find("span: "), std::string::npos);
  EXPECT_NE(gate.err.find("(more than 5%)"), std::string::npos) << gate.err;
  EXPECT_EQ(run({"diff", base, changed, "--fail-above", "-5"}).status, 2);
  EXPECT_EQ(run({"diff", base}).status, 2);
  std::remove(base.c_str());
  std::remove(changed.c_str());
}

}  // namespace
}  // namespace zel_cli
