#include <gtest/gtest.h>

#include <charconv>
#include <string>
#include <vector>

#include <zel_report/formats.hpp>

#include "fixture.hpp"

namespace zel_report {
namespace {

// Splits RFC 4180 text into rows of fields, as a spreadsheet would read it.
std::vector<std::vector<std::string>> read_csv(const std::string& text) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    auto& field = rows.back().back();
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.emplace_back(1);
      ++i;
    } else {
      field += c;
    }
  }
  EXPECT_FALSE(quoted) << "unterminated quoted field";
  EXPECT_EQ(rows.back(), std::vector<std::string>(1)) << "last line lacks CR LF";
  rows.pop_back();
  return rows;
}

// Splits TSV text into rows at LF and into fields at TAB; no quoting.
std::vector<std::vector<std::string>> read_tsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  EXPECT_TRUE(text.ends_with("\n")) << "last line lacks LF";
  std::size_t line_start = 0;
  while (line_start < text.size()) {
    const auto line_end = text.find('\n', line_start);
    const auto line = text.substr(line_start, line_end - line_start);
    auto& fields = rows.emplace_back();
    for (std::size_t at = 0;;) {
      const auto end = line.find('\t', at);
      fields.push_back(line.substr(at, end - at));
      if (end == std::string::npos) break;
      at = end + 1;
    }
    line_start = line_end + 1;
  }
  return rows;
}

// Undoes the escapes of names in fields: \\, \n, \t, \r and \xNN.
std::string unescape(const std::string& text) {
  std::string name;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      name += text[i];
      continue;
    }
    const char code = text.at(++i);
    if (code == 'x') {
      name += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      EXPECT_NE(std::string("\\ntr").find(code), std::string::npos) << text;
      name += code == 'n' ? '\n' : code == 't' ? '\t' : code == 'r' ? '\r' : code;
    }
  }
  return name;
}

double read_double(const std::string& text) {
  double value = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  EXPECT_TRUE(result.ec == std::errc{} && result.ptr == text.data() + text.size()) << text;
  return value;
}

TEST(ReportCsv, SmallReportExactly) {
  const std::string expected =
      "name,dimensions,sample_count,tile_count,phase_count,phase_cycles,phase_ms,work_cycles,"
      "average_active_tiles,mean_cycles,p50_cycles,p95_cycles,maximum_cycles,first_offset,"
      "last_offset\r\n"
      "gemm,kernel=gemm,2,2,1,40,3.007518796992481e-05,75,1.875,37.5,35,40,40,0,40\r\n"
      "relu,kernel=relu,1,1,1,15,1.1278195488721805e-05,15,1,15,15,15,15,40,55\r\n";
  EXPECT_EQ(format_csv(testing::small_report()), expected);
}

TEST(ReportCsv, AwkwardNamesAreQuotedAndReadBack) {
  const std::vector<std::string> names{"plain",
                                       "comma,inside",
                                       "say \"hi\"",
                                       "line\nbreak",
                                       "carriage\rreturn",
                                       "\"",
                                       "",
                                       " spaced ",
                                       "tab\there",
                                       "back\\slash",
                                       "\x1b[31mred\x7f",
                                       std::string("nul\0byte\x01", 9)};
  zel_profile::QueryReport report;
  for (const auto& name : names) {
    report.groups.push_back({.name = name, .dimensions = {{"operation", name}, {"phase", "1"}}});
  }
  const auto text = format_csv(report);
  // Only fields that need quotes get them.
  EXPECT_NE(text.find("\r\nplain,operation=plain;phase=1,"), std::string::npos);
  EXPECT_NE(text.find("\r\n\"comma,inside\",\"operation=comma,inside;phase=1\","),
            std::string::npos);
  EXPECT_NE(text.find("\r\n\"say \"\"hi\"\"\",\"operation=say \"\"hi\"\";phase=1\","),
            std::string::npos);
  EXPECT_NE(text.find("\r\n spaced ,operation= spaced ;phase=1,"), std::string::npos);
  // No control character reaches a terminal, but the CR LF that end the lines.
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (text[i] == '\r' && text.at(i + 1) == '\n') {
      ++i;
      continue;
    }
    EXPECT_TRUE(byte >= 0x20 && byte != 0x7f) << "byte " << int{byte} << " at " << i;
  }
  EXPECT_NE(text.find("\r\nline\\nbreak,operation=line\\nbreak;phase=1,"), std::string::npos);
  const auto rows = read_csv(text);
  ASSERT_EQ(rows.size(), names.size() + 1);
  for (std::size_t i = 0; i < names.size(); ++i) {
    ASSERT_EQ(rows[i + 1].size(), 15u) << i;
    EXPECT_EQ(unescape(rows[i + 1][0]), names[i]);
    EXPECT_EQ(unescape(rows[i + 1][1]), "operation=" + names[i] + ";phase=1");
  }

  // TSV: split at LF and TAB alone, the fields are the CSV's, unquoted, so the same names.
  EXPECT_EQ(read_tsv(format_tsv(report)), rows);
}

// The samples table: one row per reported sample, fields as the records', metadata as
// name=value pairs; TSV the same fields.
TEST(ReportCsv, SamplesTableInBothDialects) {
  auto report = testing::small_report();
  report.samples.push_back({.physical_tile = 7,
                            .offset = 18446744073709551615u,
                            .duration = 4294967295u,
                            .phase = 3,
                            .epoch = 2,
                            .kind = "idle",
                            .operation = "a,b\tc",
                            .kernel = "",
                            .metadata = {{"k\n", "v=1"}, {"x", ""}}});
  const auto rows = read_csv(format_samples_csv(report));
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{
                      {"physical_tile", "offset", "duration", "phase", "epoch", "kind", "operation",
                       "kernel", "metadata"},
                      {"0", "0", "40", "0", "1", "compute", "layer0", "gemm", "block=0;dtype=f16"},
                      {"7", "18446744073709551615", "4294967295", "3", "2", "idle", "a,b\\tc", "",
                       "k\\n=v=1;x="}}));
  EXPECT_EQ(read_tsv(format_samples_tsv(report)), rows);
  EXPECT_EQ(read_csv(format_samples_csv(zel_profile::QueryReport{})).size(), 1u);
}

TEST(ReportCsv, FloatsAndWideIntegersReadBackExactly) {
  zel_profile::QueryReport report;
  report.groups.push_back({.name = "g",
                           .phase_cycles = 18446744073709551615u,
                           .phase_ms = 0.1 + 0.2,
                           .average_active_tiles = 1.0 / 3.0,
                           .mean_cycles = 5e-324,
                           .last_offset = 18446744073709551614u});
  const auto rows = read_csv(format_csv(report));
  ASSERT_EQ(rows.size(), 2u);
  const auto& header = rows[0];
  const auto& row = rows[1];
  auto field = [&](const std::string& name) {
    for (std::size_t i = 0; i < header.size(); ++i) {
      if (header[i] == name) {
        return row[i];
      }
    }
    ADD_FAILURE() << "no column " << name;
    return std::string();
  };
  EXPECT_EQ(field("phase_cycles"), "18446744073709551615");
  EXPECT_EQ(field("last_offset"), "18446744073709551614");
  EXPECT_EQ(read_double(field("phase_ms")), 0.1 + 0.2);
  EXPECT_EQ(read_double(field("average_active_tiles")), 1.0 / 3.0);
  EXPECT_EQ(read_double(field("mean_cycles")), 5e-324);
  EXPECT_EQ(field("dimensions"), "");
}

TEST(ReportCsv, NoGroupsGiveTheHeaderAlone) {
  const auto rows = read_csv(format_csv(zel_profile::QueryReport{}));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].front(), "name");
  EXPECT_EQ(rows[0].back(), "last_offset");
}

}  // namespace
}  // namespace zel_report
