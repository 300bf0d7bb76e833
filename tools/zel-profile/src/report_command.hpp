// `zel-profile report`: a query's report as one self-contained HTML page.
#pragma once

#include <ostream>
#include <string>

#include <CLI/CLI.hpp>

#include "query_options.hpp"

namespace zel_cli {

// The words of `zel-profile report`, unconverted.
struct ReportOptions {
  QueryOptions query;             // PROFILE and the query's options, but --format and --samples
  std::string color_by = "kind";  // what colours the timeline: kind or group

  bool operator==(const ReportOptions&) const = default;
};

// Declares PROFILE, the query options that shape the page, --color-by and -o on `command`.
void add_report_options(CLI::App& command, ReportOptions& options);

// Reads the profile, runs the query, bins the timeline and measures the load balance, and writes
// the page (zel_report::format_html) to the output file, atomically, or to `out` for "-". With
// --timing, prints the load, query and page times and the peak memory on `err`. A profile that
// cannot be read or a page that cannot be written is reported on `err` and gives exit_failure.
// Throws UsageError for bad option values or more than one profile.
int run_report(const ReportOptions& options, std::ostream& out, std::ostream& err);

}  // namespace zel_cli
