#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <zel_generator/generator.hpp>
#include <zel_storage/storage.hpp>
#include "run_cli.hpp"

namespace zel_cli {
namespace {

using test_support::run;

const std::string example = ZEL_CLI_EXAMPLE_PROFILE;
const std::string test_data = ZEL_CLI_TEST_DATA;

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

nlohmann::json json_of(std::vector<std::string> arguments) {
  arguments.insert(arguments.end(), {"--format", "json"});
  const auto outcome = run(arguments);
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  return nlohmann::json::parse(outcome.out);
}

// --reverse gives exactly the opposite of the normal order, ties included, and --limit then keeps
// the first of that order, for every ordering and for the comparison of two runs.
TEST(QueryOutput, ReverseIsTheOppositeOrderCutAfterReversing) {
  const std::string path = ::testing::TempDir() + "zel_cli_reverse_profile.json";
  zel_storage::write_profile_file(
      zel_generator::generate_profile({.tiles = 5, .epochs = 3, .phases = 6, .seed = 17}), path);
  for (const std::string sort_by :
       {"phase-cycles", "work-cycles", "maximum-cycles", "samples", "name"}) {
    for (const std::string group_by : {"kernel", "phase", "tile", "kind"}) {
      const std::vector<std::string> query{"query", path,         "--sort-by",
                                           sort_by, "--group-by", group_by};
      const auto forward = json_of(query)["groups"];
      ASSERT_GE(forward.size(), 2u);
      nlohmann::json backward = nlohmann::json::array();
      for (auto it = forward.rbegin(); it != forward.rend(); ++it) backward.push_back(*it);
      auto reversed = query;
      reversed.push_back("--reverse");
      EXPECT_EQ(json_of(reversed)["groups"], backward) << sort_by << " " << group_by;
      const std::size_t limit = forward.size() / 2;
      reversed.insert(reversed.end(), {"--limit", std::to_string(limit)});
      const auto cut = json_of(reversed)["groups"];
      ASSERT_EQ(cut.size(), limit);
      for (std::size_t i = 0; i < limit; ++i) EXPECT_EQ(cut[i], backward[i]);
    }
  }
  const auto diff = json_of({"diff", path, example})["groups"];
  const auto reversed_diff =
      json_of({"diff", path, example, "--reverse", "--limit", "3"})["groups"];
  ASSERT_EQ(reversed_diff.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(reversed_diff[i], diff[diff.size() - 1 - i]);
  std::remove(path.c_str());
}

// The "%" column divides by the phase cycles of every group of the query, also when --limit shows
// only some of them.
TEST(QueryOutput, SharesAreOfAllGroupsBeforeTheLimit) {
  const auto groups = json_of({"query", example, "--group-by", "operation"})["groups"];
  std::uint64_t total = 0;
  for (const auto& group : groups) total += group["phase_cycles"].get<std::uint64_t>();
  const auto table =
      run({"query", example, "--group-by", "operation", "--limit", "2", "--reverse"});
  ASSERT_EQ(table.status, 0) << table.err;
  std::istringstream lines(table.out);
  std::vector<std::string> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(line);
  ASSERT_EQ(rows.size(), 5u) << table.out;
  for (std::size_t i = 0; i < 2; ++i) {
    const auto& group = groups[groups.size() - 1 - i];
    char share[32];
    std::snprintf(share, sizeof share, "%.1f",
                  100.0 * group["phase_cycles"].get<double>() / static_cast<double>(total));
    std::istringstream row(rows[3 + i]);
    std::string name, samples, tiles, cycles, percent;
    row >> name >> samples >> tiles >> cycles >> percent;
    EXPECT_EQ(name, group["name"]);
    EXPECT_EQ(cycles, std::to_string(group["phase_cycles"].get<std::uint64_t>()));
    EXPECT_EQ(percent, share) << rows[3 + i];
  }
}

// -o writes what standard output would get, for query and diff and every format; a file that
// cannot be written is a failure that names it.
TEST(QueryOutput, OutputFileHoldsWhatStandardOutputGets) {
  const std::string path = ::testing::TempDir() + "zel_cli_output.txt";
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"query", example},
           {"query", example, "--format", "tsv", "--group-by", "phase"},
           {"query", example, "--format", "json", "--samples", "2"},
           {"diff", example, example, "--format", "csv"},
           {"diff", example, example}}) {
    const auto printed = run(arguments);
    ASSERT_EQ(printed.status, 0) << printed.err;
    auto to_file = arguments;
    to_file.insert(to_file.end(), {"--output", path});
    const auto written = run(to_file);
    EXPECT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(written.out, "");
    EXPECT_EQ(read_file(path), printed.out) << arguments.back();
    auto dash = arguments;
    dash.insert(dash.end(), {"-o", "-"});
    EXPECT_EQ(run(dash).out, printed.out);
  }
  std::remove(path.c_str());
  const auto unwritable = run({"query", example, "-o", test_data + "/no-such-folder/report.txt"});
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_TRUE(unwritable.err.starts_with("zel-profile: cannot write ")) << unwritable.err;
  EXPECT_EQ(unwritable.out, "");
}

// With --samples N, CSV and TSV hold the samples table alone: one header, one row per sample.
TEST(QueryOutput, SamplesAsCsvAndTsvReplaceTheGroups) {
  const auto report = json_of({"query", example, "--samples", "3"});
  for (const auto& [format, separator, line_end] :
       std::vector<std::tuple<std::string, std::string, std::string>>{{"csv", ",", "\r\n"},
                                                                      {"tsv", "\t", "\n"}}) {
    const auto outcome = run({"query", example, "--samples", "3", "--format", format});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    std::vector<std::string> rows;
    for (std::size_t at = 0; at < outcome.out.size();) {
      const auto end = outcome.out.find(line_end, at);
      ASSERT_NE(end, std::string::npos);
      rows.push_back(outcome.out.substr(at, end - at));
      at = end + line_end.size();
    }
    ASSERT_EQ(rows.size(), 4u) << outcome.out;
    std::string header;
    for (const auto& [key, value] : report["samples"][0].items()) {
      header += (header.empty() ? "" : separator) + key;
    }
    // The JSON object's keys come sorted; the table keeps the record's order, which has the same
    // names.
    std::vector<std::string> names;
    for (std::size_t at = 0;;) {
      const auto end = rows[0].find(separator, at);
      names.push_back(rows[0].substr(at, end - at));
      if (end == std::string::npos) break;
      at = end + 1;
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"physical_tile", "offset", "duration", "phase", "epoch",
                                        "kind", "operation", "kernel", "metadata"}));
    for (std::size_t i = 0; i < 3; ++i) {
      const auto& sample = report["samples"][i];
      std::string metadata;
      for (const auto& entry : sample["metadata"]) {
        metadata += (metadata.empty() ? "" : ";") + entry["name"].get<std::string>() + "=" +
                    entry["value"].get<std::string>();
      }
      std::string expected;
      for (const std::string& field :
           {std::to_string(sample["physical_tile"].get<int>()),
            std::to_string(sample["offset"].get<std::uint64_t>()),
            std::to_string(sample["duration"].get<int>()),
            std::to_string(sample["phase"].get<int>()), std::to_string(sample["epoch"].get<int>()),
            sample["kind"].get<std::string>(), sample["operation"].get<std::string>(),
            sample["kernel"].get<std::string>(), metadata}) {
        expected += (expected.empty() ? "" : separator) + field;
      }
      EXPECT_EQ(rows[1 + i], expected) << format;
    }
  }
}

}  // namespace
}  // namespace zel_cli
