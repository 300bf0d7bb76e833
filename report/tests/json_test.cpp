#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include <nlohmann/json.hpp>
#include <zel_report/formats.hpp>

#include "fixture.hpp"

namespace zel_report {
namespace {

using nlohmann::json;

TEST(ReportJson, SmallReportExactly) {
  const std::string expected = R"({
  "clock_hz": 1330000000,
  "tile_count": 2,
  "sample_count": 5,
  "matched_sample_count": 3,
  "profile_span_cycles": 60,
  "profile_span_ms": 4.511278195488722e-05,
  "at_offset": null,
  "from_offset": null,
  "to_offset": null,
  "total_phase_cycles": 0,
  "groups": [
    {
      "name": "gemm",
      "dimensions": {
        "kernel": "gemm"
      },
      "sample_count": 2,
      "tile_count": 2,
      "phase_count": 1,
      "phase_cycles": 40,
      "phase_ms": 3.007518796992481e-05,
      "work_cycles": 75,
      "average_active_tiles": 1.875,
      "mean_cycles": 37.5,
      "p50_cycles": 35,
      "p95_cycles": 40,
      "maximum_cycles": 40,
      "first_offset": 0,
      "last_offset": 40
    },
    {
      "name": "relu",
      "dimensions": {
        "kernel": "relu"
      },
      "sample_count": 1,
      "tile_count": 1,
      "phase_count": 1,
      "phase_cycles": 15,
      "phase_ms": 1.1278195488721805e-05,
      "work_cycles": 15,
      "average_active_tiles": 1,
      "mean_cycles": 15,
      "p50_cycles": 15,
      "p95_cycles": 15,
      "maximum_cycles": 15,
      "first_offset": 40,
      "last_offset": 55
    }
  ],
  "samples": [
    {
      "physical_tile": 0,
      "offset": 0,
      "duration": 40,
      "phase": 0,
      "epoch": 1,
      "kind": "compute",
      "operation": "layer0",
      "kernel": "gemm",
      "metadata": [
        {
          "name": "block",
          "value": "0"
        },
        {
          "name": "dtype",
          "value": "f16"
        }
      ]
    }
  ]
}
)";
  EXPECT_EQ(format_json(testing::small_report()), expected);
}

TEST(ReportJson, EmptyListsAndPresentOffset) {
  zel_profile::QueryReport report{.at_offset = 12};
  report.groups.push_back({.name = "g"});
  const auto parsed = json::parse(format_json(report));
  EXPECT_EQ(parsed["at_offset"], 12);
  EXPECT_TRUE(parsed["samples"].is_array());
  EXPECT_TRUE(parsed["samples"].empty());
  EXPECT_TRUE(parsed["groups"][0]["dimensions"].is_object());
  EXPECT_TRUE(parsed["groups"][0]["dimensions"].empty());
}

// Every value comes back exactly from a JSON reader: the widest integers, floats whose shortest
// form is long or tiny, and strings that need escaping.
TEST(ReportJson, ValuesReadBackExactly) {
  constexpr auto max64 = std::numeric_limits<std::uint64_t>::max();
  const std::string awkward = "quote \" backslash \\ newline \n tab \t nul " +
                              std::string(1, '\0') + " bell \x07 unicode \xc3\xa9\xe2\x82\xac";
  zel_profile::QueryReport report{
      .clock_hz = max64,
      .tile_count = std::numeric_limits<std::size_t>::max(),
      .profile_span_cycles = max64 - 1,
      .profile_span_ms = 0.1 + 0.2,
      .at_offset = max64,
      .groups = {{.name = awkward,
                  .dimensions = {{awkward, awkward}},
                  .phase_ms = 5e-324,
                  .average_active_tiles = std::numeric_limits<double>::max(),
                  .mean_cycles = 1.0 / 3.0,
                  .maximum_cycles = std::numeric_limits<std::uint32_t>::max(),
                  .last_offset = max64}},
      .samples = {{.operation = awkward, .kernel = awkward, .metadata = {{awkward, awkward}}}},
  };
  const auto parsed = json::parse(format_json(report));
  EXPECT_EQ(parsed["clock_hz"].get<std::uint64_t>(), max64);
  EXPECT_EQ(parsed["tile_count"].get<std::size_t>(), report.tile_count);
  EXPECT_EQ(parsed["profile_span_cycles"].get<std::uint64_t>(), max64 - 1);
  EXPECT_EQ(parsed["profile_span_ms"].get<double>(), 0.1 + 0.2);
  EXPECT_EQ(parsed["at_offset"].get<std::uint64_t>(), max64);
  const auto& group = parsed["groups"][0];
  EXPECT_EQ(group["name"], awkward);
  EXPECT_EQ(group["dimensions"][awkward], awkward);
  EXPECT_EQ(group["phase_ms"].get<double>(), 5e-324);
  EXPECT_EQ(group["average_active_tiles"].get<double>(), std::numeric_limits<double>::max());
  EXPECT_EQ(group["mean_cycles"].get<double>(), 1.0 / 3.0);
  EXPECT_EQ(group["maximum_cycles"].get<std::uint32_t>(), 4294967295u);
  EXPECT_EQ(group["last_offset"].get<std::uint64_t>(), max64);
  const auto& sample = parsed["samples"][0];
  EXPECT_EQ(sample["operation"], awkward);
  EXPECT_EQ(sample["kernel"], awkward);
  EXPECT_EQ(sample["metadata"][0]["name"], awkward);
  EXPECT_EQ(sample["metadata"][0]["value"], awkward);
}

TEST(ReportJson, InvalidUtf8BecomesReplacementCharacterNotAnError) {
  zel_profile::QueryReport report;
  report.groups.push_back({.name = "bad \xff byte"});
  const auto parsed = json::parse(format_json(report));
  EXPECT_EQ(parsed["groups"][0]["name"], "bad \xef\xbf\xbd byte");
}

}  // namespace
}  // namespace zel_report
