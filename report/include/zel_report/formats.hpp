// A query report as text: JSON and CSV for programs, a table for people.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <zel_profile/diff.hpp>
#include <zel_profile/model.hpp>

namespace zel_report {

// How a query report is printed.
enum class ReportFormat {
  Table,
  Json,
  Csv,
  Tsv,
};

// What a report shows beyond its own fields.
struct ReportLayout {
  // CSV and TSV: the reported samples, one row each, instead of the groups.
  bool samples_table = false;
  // Table: the window counted each sample's part inside it alone (Query::clip), which the line
  // naming the window says.
  bool clipped = false;
};

// The whole report as one JSON object: the QueryReport fields under their own names, in
// declaration order, and likewise every nested record; `dimensions` is an object, `at_offset` null
// when absent. Integers are JSON integers of any width; floats are the shortest text that reads
// back as the same double. Strings are escaped by nlohmann-json, invalid UTF-8 replaced by U+FFFD.
// Indented by two spaces, ends with a newline.
std::string format_json(const zel_profile::QueryReport& report);

// Receives a long text in pieces, in order.
using TextSink = std::function<void(std::string_view)>;

// format_json's text handed to `sink` in pieces of about a megabyte as it is written, so that a
// report of millions of samples is never held as one text.
void write_json(const zel_profile::QueryReport& report, const TextSink& sink);

// The samples alone as one JSON object, {"samples": [...]}, each sample written and indented as
// format_json writes the report's `samples`, so that the two parse to the same list.
std::string format_samples_json(const zel_profile::ReportedSamples& samples);

// The groups as RFC 4180 CSV: a header row of the GroupSummary field names, then one row per
// group; `dimensions` as key=value pairs joined by ";". Names, keys and values have their control
// characters escaped as \n, \t, \r or \xNN and a backslash written \\, so that no CSV sends
// control characters to a terminal and undoing the escapes gives the exact names. Fields holding
// a comma or a quote are quoted, with quotes doubled; lines end in CR LF. Floats as in
// format_json.
std::string format_csv(const zel_profile::QueryReport& report);

// The groups as TSV: the CSV's header and columns, separated by TAB, lines ending in LF, nothing
// quoted. Names are escaped as in CSV, so no field holds a TAB, CR or LF.
std::string format_tsv(const zel_profile::QueryReport& report);

// The reported samples as CSV or TSV: a header row of the SampleRecord field names, then one row
// per sample, longest first; `metadata` as name=value pairs joined by ";", escaped as names are.
std::string format_samples_csv(const zel_profile::QueryReport& report);
std::string format_samples_tsv(const zel_profile::QueryReport& report);

// A summary line for the profile, the groups as aligned columns and then the reported samples.
// Floats are rounded for reading; times are in ns, µs, ms or s, "-" when the clock rate is
// unknown (0). The "%" column is each group's share of the report's total_phase_cycles (every
// group's before the limit), or of the sum over its groups when that is 0.
// Columns widen to their longest entry by display width (wide characters take two columns,
// combining ones none), so nothing is cut: long names make lines longer than 80 columns. Control
// characters in names show as \n, \t or \xNN. `clipped`: the window's line says that each sample
// counted only its part inside it.
std::string format_table(const zel_profile::QueryReport& report, bool clipped = false);

// The report in the chosen format, laid out as `layout` says.
std::string format_report(const zel_profile::QueryReport& report, ReportFormat format,
                          const ReportLayout& layout = {});

// format_report's text handed to `sink` in pieces: JSON as write_json writes it, the others whole.
void write_report(const zel_profile::QueryReport& report, ReportFormat format,
                  const ReportLayout& layout, const TextSink& sink);

// A comparison of two reports in the chosen format. For every group, and for each of the figures
// samples, phase cycles, work cycles, average active tiles, mean, p95 and maximum, the base and
// new values, their change (new - base) and the relative change ((new - base) / base, none when
// the base is 0); a group on one side only shows its other side as 0 and says which side has it.
// The table gives one line per group and figure after a line for the span; JSON one object with
// "span" and "groups"; CSV (and TSV, as for reports) one row per group, four columns per figure
// (base_, new_, change_, relative_ before the figure's field name).
std::string format_diff(const zel_profile::ReportDiff& diff, ReportFormat format);

}  // namespace zel_report
