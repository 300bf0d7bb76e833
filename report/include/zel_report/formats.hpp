// A query report as text: JSON and CSV for programs, a table for people.
#pragma once

#include <string>

#include <zel_profile/diff.hpp>
#include <zel_profile/model.hpp>

namespace zel_report {

// How a query report is printed.
enum class ReportFormat {
  Table,
  Json,
  Csv,
};

// The whole report as one JSON object: the QueryReport fields under their own names, in
// declaration order, and likewise every nested record; `dimensions` is an object, `at_offset` null
// when absent. Integers are JSON integers of any width; floats are the shortest text that reads
// back as the same double. Strings are escaped by nlohmann-json, invalid UTF-8 replaced by U+FFFD.
// Indented by two spaces, ends with a newline.
std::string format_json(const zel_profile::QueryReport& report);

// The groups as RFC 4180 CSV: a header row of the GroupSummary field names, then one row per
// group; `dimensions` as key=value pairs joined by ";". Names, keys and values have their control
// characters escaped as \n, \t, \r or \xNN and a backslash written \\, so that no CSV sends
// control characters to a terminal and undoing the escapes gives the exact names. Fields holding
// a comma or a quote are quoted, with quotes doubled; lines end in CR LF. Floats as in
// format_json.
std::string format_csv(const zel_profile::QueryReport& report);

// A summary line for the profile, the groups as aligned columns and then the reported samples.
// Floats are rounded for reading. Columns widen to their longest entry, so nothing is cut: long
// names make lines longer than 80 columns. Control characters in names show as \n, \t or \xNN.
std::string format_table(const zel_profile::QueryReport& report);

// The report in the chosen format.
std::string format_report(const zel_profile::QueryReport& report, ReportFormat format);

// A comparison of two reports in the chosen format. For every group, and for each of the figures
// samples, phase cycles, work cycles, average active tiles, mean, p95 and maximum, the base and
// new values, their change (new - base) and the relative change ((new - base) / base, none when
// the base is 0); a group on one side only shows its other side as 0 and says which side has it.
// The table gives one line per group and figure after a line for the span; JSON one object with
// "span" and "groups"; CSV one row per group, four columns per figure (base_, new_, change_,
// relative_ before the figure's field name).
std::string format_diff(const zel_profile::ReportDiff& diff, ReportFormat format);

}  // namespace zel_report
