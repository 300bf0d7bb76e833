#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include <zel_report/formats.hpp>

#include "fixture.hpp"

namespace zel_report {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(ReportTable, SmallReportExactly) {
  const std::string expected =
      "2 tiles, 5 samples, 3 matched, span 60 cycles (0.000045 ms)\n"
      "\n"
      "group  samples  tiles  cycles        ms  active  mean  p95  max\n"
      "gemm         2      2      40  0.000030    1.88  37.5   40   40\n"
      "relu         1      1      15  0.000011    1.00  15.0   15   15\n"
      "\n"
      "longest samples:\n"
      "tile  offset  cycles  phase  kind     kernel  operation\n"
      "   0       0      40  0/1    compute  gemm    layer0\n"
      "                             metadata: block=0 dtype=f16\n";
  EXPECT_EQ(format_table(testing::small_report()), expected);
}

// Short names: kernels up to 12 characters, operations up to 16, with the widest numbers a
// million-sample profile gives.
TEST(ReportTable, ShortNamesFitEightyColumns) {
  auto report = testing::small_report();
  report.tile_count = 1472;
  report.sample_count = 1050848;
  report.matched_sample_count = 1050848;
  report.at_offset = 4294967295u;
  report.profile_span_cycles = 123456789;
  report.profile_span_ms = 92.82465338345864;
  report.groups[0].name = "(no kernel)";
  report.groups[0].phase_cycles = 123456789;
  report.groups[0].sample_count = 1050848;
  report.samples[0].kind = "synchronization";
  report.samples[0].operation = "layer12/exchange";
  report.samples[0].offset = 4294967295u;
  report.samples[0].kernel = "layernorm_v2";
  report.samples[0].metadata = {{"block", "12"}, {"layer", "12"}, {"dtype", "f16"}};
  for (const auto& line : lines_of(format_table(report))) {
    EXPECT_LE(line.size(), 80u) << line;
  }
}

TEST(ReportTable, LongNamesWidenTheColumnAndAreNotCut) {
  auto report = testing::small_report();
  const std::string long_name(100, 'k');
  report.groups[1].name = long_name;
  report.groups[1].dimensions = {{"kernel", long_name}};
  const auto lines = lines_of(format_table(report));
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[4].substr(0, long_name.size()), long_name);
  // The number columns stay aligned under their headers.
  const auto header_end = lines[2].find("max") + 3;
  EXPECT_EQ(lines[3].size(), header_end);
  EXPECT_EQ(lines[4].size(), header_end);
}

TEST(ReportTable, ControlCharactersAreShownEscapedAndUtf8AlignsByCharacter) {
  auto report = testing::small_report();
  report.groups[0].name = "a\nb\tc\x01";
  report.groups[1].name = "\xc3\xa9t\xc3\xa9";  // three characters in five bytes
  report.samples[0].operation = "op\r";
  const auto text = format_table(report);
  EXPECT_NE(text.find("a\\nb\\tc\\x01  "), std::string::npos);
  EXPECT_NE(text.find("op\\r"), std::string::npos);
  const auto lines = lines_of(text);
  ASSERT_GE(lines.size(), 5u);
  // "a\nb\tc\x01" shows as 11 characters; the three-character name is padded to match.
  EXPECT_EQ(lines[4].substr(0, 5 + 8 + 2), "\xc3\xa9t\xc3\xa9" + std::string(8 + 2, ' '));
}

TEST(ReportTable, NoGroupsAndNoSamples) {
  const zel_profile::QueryReport report{.clock_hz = 0, .tile_count = 1, .sample_count = 4};
  EXPECT_EQ(format_table(report),
            "1 tile, 4 samples, 0 matched, span 0 cycles (0.000000 ms)\n\nno groups\n");
}

}  // namespace
}  // namespace zel_report
