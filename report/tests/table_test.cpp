#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
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
      "2 tiles, 5 samples, 3 matched, span 60 cycles (45.11 ns)\n"
      "\n"
      "group  samples  tiles  cycles     %      time  active  mean  p50  p95  max\n"
      "gemm         2      2      40  72.7  30.08 ns    1.88  37.5   35   40   40\n"
      "relu         1      1      15  27.3  11.28 ns    1.00  15.0   15   15   15\n"
      "\n"
      "longest samples:\n"
      "tile  offset  cycles  phase  kind     kernel  operation\n"
      "   0       0      40  0/1    compute  gemm    layer0\n"
      "                             metadata: block=0 dtype=f16\n";
  EXPECT_EQ(format_table(testing::small_report()), expected);
}

// Columns a line takes: one per UTF-8 character here (the table's only non-ASCII text is "µ").
std::size_t columns(const std::string& line) {
  std::size_t count = 0;
  for (const char c : line) count += (static_cast<unsigned char>(c) & 0xc0) != 0x80 ? 1 : 0;
  return count;
}

// Short names: kernels up to 12 characters, operations up to 16, with the widest numbers a
// million-sample profile gives.
TEST(ReportTable, ShortNamesFitAHundredColumns) {
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
  report.groups[0].tile_count = 1472;
  report.groups[0].mean_cycles = 12345.6;
  report.groups[0].p50_cycles = 12345;
  report.groups[0].p95_cycles = 23456;
  report.groups[0].maximum_cycles = 34567;
  report.groups[0].phase_ms = 92.82465338345864;
  report.groups[1].name = "layernorm_v2";
  report.groups[1].phase_ms = 0.123456;
  zel_profile::SampleRecord sample = report.samples[0];
  sample.kind = "synchronization";
  sample.operation = "layer12/exchange";
  sample.offset = 4294967295u;
  sample.kernel = "layernorm_v2";
  sample.metadata = {{"block", "12"}, {"layer", "12"}, {"dtype", "f16"}};
  report.samples = {sample};
  for (const auto& line : lines_of(format_table(report))) {
    EXPECT_LE(columns(line), 100u) << line;
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

TEST(ReportTable, ControlCharactersAreShownEscapedAndUtf8AlignsByDisplayWidth) {
  auto report = testing::small_report();
  report.groups[0].name = "a\nb\tc\x01";
  report.groups[1].name = "\xc3\xa9t\xc3\xa9";  // three characters in five bytes
  zel_profile::SampleRecord sample = report.samples[0];
  sample.operation = "op\r";
  report.samples = {sample};
  const auto text = format_table(report);
  EXPECT_NE(text.find("a\\nb\\tc\\x01  "), std::string::npos);
  EXPECT_NE(text.find("op\\r"), std::string::npos);
  const auto lines = lines_of(text);
  ASSERT_GE(lines.size(), 5u);
  // "a\nb\tc\x01" shows as 11 characters; the three-character name is padded to match.
  EXPECT_EQ(lines[4].substr(0, 5 + 8 + 2), "\xc3\xa9t\xc3\xa9" + std::string(8 + 2, ' '));

  // Wide characters take two columns, combining marks none, a stray byte one: every name below
  // is padded to the header's 5 columns, then come 2 blanks and the samples column, "2"
  // right-aligned to 7.
  report.groups.resize(5, report.groups[0]);
  report.groups[0].name = "\xe6\x97\xa5\xe6\x9c\xac";          // two CJK characters: 4 columns
  report.groups[1].name = "e\xcc\x81\xcc\xa3";                 // e with two combining marks: 1
  report.groups[2].name = "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd";  // thumbs up, skin tone: 2
  report.groups[3].name = "ab\xff";                            // a stray byte: 3
  report.groups[4].name = "abcde";                             // 5
  for (auto& group : report.groups) group.sample_count = 2;
  const auto wide = lines_of(format_table(report));
  const std::vector<std::size_t> padding{1, 4, 3, 2, 0};
  for (std::size_t i = 0; i < padding.size(); ++i) {
    const auto& name = report.groups[i].name;
    EXPECT_EQ(wide.at(3 + i).substr(0, name.size() + padding[i] + 2 + 7),
              name + std::string(padding[i] + 2 + 6, ' ') + "2")
        << i;
  }
}

TEST(ReportTable, NoGroupsAndNoSamples) {
  const zel_profile::QueryReport report{.clock_hz = 0, .tile_count = 1, .sample_count = 4};
  EXPECT_EQ(format_table(report),
            "1 tile, 4 samples, 0 matched, span 0 cycles (clock rate unknown)\n\nno groups\n");
}

// The time column picks the unit in which the value is at least 1 and shows four significant
// digits; a value that rounds up to 1000 of a unit is shown in the next one. Without a clock
// rate there is no time, only "-". The "%" column divides by the total it is given.
TEST(ReportTable, TimesInReadableUnitsAndSharesOfTheGivenTotal) {
  auto report = testing::small_report();
  const std::vector<std::pair<double, std::string>> times{
      {0.0, "0.000 ns"},
      {0.0000012345, "1.234 ns"},
      {0.00099995, "1.000 \u00b5s"},
      {0.0123456, "12.35 \u00b5s"},
      {0.5, "500.0 \u00b5s"},
      {999.9999, "1.000 s"},
      {12.5, "12.50 ms"},
      {1234567.0, "1235 s"},
  };
  report.groups.resize(times.size(), report.groups[0]);
  for (std::size_t i = 0; i < times.size(); ++i) {
    report.groups[i].name = "g" + std::to_string(i);
    report.groups[i].phase_ms = times[i].first;
    report.groups[i].phase_cycles = i;
  }
  report.total_phase_cycles = 300;
  auto lines = lines_of(format_table(report));
  for (std::size_t i = 0; i < times.size(); ++i) {
    const auto& line = lines.at(3 + i);
    EXPECT_NE(line.find("  " + times[i].second + "  "), std::string::npos) << line;
    // i of 300 cycles in percent, rounded to tenths (no case is halfway between two).
    const std::size_t tenths = (i * 1000 + 150) / 300;
    const std::string share = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
    EXPECT_NE(line.find("  " + share + "  "), std::string::npos) << line << " share " << share;
  }
  report.clock_hz = 0;
  lines = lines_of(format_table(report));
  EXPECT_EQ(lines.at(0).find("(clock rate unknown)") != std::string::npos, true) << lines[0];
  for (std::size_t i = 0; i < times.size(); ++i) {
    EXPECT_NE(lines.at(3 + i).find("     -  "), std::string::npos) << lines[3 + i];
  }
}

}  // namespace
}  // namespace zel_report
