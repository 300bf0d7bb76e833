// What a profile holds, as JSON read back field by field and as the table's lines.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>
#include <zel_report/info_formats.hpp>

namespace zel_report {
namespace {

using zel_profile::NameCount;
using zel_profile::NumberCount;
using zel_profile::ProfileInfo;

ProfileInfo sample_info() {
  ProfileInfo info{
      .clock_hz = 1330000000,
      .tile_count = 3,
      .sample_count = 54,
      .span_cycles = 3974,
      .span_ms = 3974.0 / 1330000.0,
      .kinds = {{"exchange", 12}, {"compute", 22}, {"synchronization", 18}, {"idle", 2}},
      .kernels = {},
      .operations = {{"layer\n1", 30}, {"", 24}},
      .phases = {{0, 10}, {1, 10}, {2, 10}, {5, 12}, {7, 6}, {8, 6}},
      .epochs = {{0, 27}, {1, 27}},
      .metadata = {{.key = "block", .samples = 40, .values = {{"0", 20}, {"1", 20}}},
                   {.key = "dtype", .samples = 14, .values = {{"f16", 14}}}}};
  for (int k = 0; k < 25; ++k) info.kernels.push_back({"kernel_" + std::to_string(k), 25u - k});
  info.kernels.push_back({"", 1});
  return info;
}

TEST(InfoFormats, JsonHoldsEveryFieldWhole) {
  const ProfileInfo info = sample_info();
  const auto json = nlohmann::json::parse(format_info(info, ReportFormat::Json));
  ProfileInfo read{.clock_hz = json["clock_hz"],
                   .tile_count = json["tile_count"],
                   .sample_count = json["sample_count"],
                   .span_cycles = json["span_cycles"],
                   .span_ms = json["span_ms"]};
  const auto names = [](const nlohmann::json& list) {
    std::vector<NameCount> out;
    for (const auto& entry : list) out.push_back({entry["name"], entry["samples"]});
    return out;
  };
  const auto numbers = [](const nlohmann::json& list) {
    std::vector<NumberCount> out;
    for (const auto& entry : list) out.push_back({entry["number"], entry["samples"]});
    return out;
  };
  read.kinds = names(json["kinds"]);
  read.kernels = names(json["kernels"]);
  read.operations = names(json["operations"]);
  read.phases = numbers(json["phases"]);
  read.epochs = numbers(json["epochs"]);
  for (const auto& key : json["metadata"]) {
    read.metadata.push_back(
        {.key = key["key"], .samples = key["samples"], .values = names(key["values"])});
  }
  EXPECT_EQ(read, info);
}

TEST(InfoFormats, TableSummarisesForPeople) {
  const std::string table = format_info(sample_info(), ReportFormat::Table);
  for (const char* line : {
           "3 tiles, 54 samples, span 3974 cycles (2.988 \u00b5s at 1330000000 Hz)\n",
           "\nphases (6): 0\u20132, 5, 7\u20138\n",
           "\nepochs (2): 0\u20131\n",
           "\n  synchronization  18\n",
           "\nkernels (26):\n  kernel_0   25\n",
           "\n  kernel_19  6\n  ... and 6 more\n",
           "\n  layer\\n1        30\n  (no operation)  24\n",
           "\n  block: 40 samples, 2 values: 0 (20), 1 (20)\n",
           "\n  dtype: 14 samples, 1 value: f16 (14)\n",
       }) {
    EXPECT_NE(table.find(line), std::string::npos) << line << "\nin\n" << table;
  }
  EXPECT_THROW(format_info(sample_info(), ReportFormat::Csv), std::invalid_argument);
}

}  // namespace
}  // namespace zel_report
