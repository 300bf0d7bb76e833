// `zel-profile export`: the matched samples of a profile for other tools, such as trace viewers.
#pragma once

#include <ostream>
#include <string>

#include <CLI/CLI.hpp>

#include "query_options.hpp"

namespace zel_cli {

// The words of `zel-profile export`, unconverted.
struct ExportOptions {
  QueryOptions query;                   // PROFILE and the query's filters
  std::string format = "chrome-trace";  // the only format so far

  bool operator==(const ExportOptions&) const = default;
};

// Declares PROFILE, the query's filters, --format and -o on `command`.
void add_export_options(CLI::App& command, ExportOptions& options);

// Reads the profile and streams its matched samples (zel_report::write_chrome_trace) to the output
// file, atomically, or to `out` for "-". With --timing, prints the load and export times and the
// peak memory on `err`. A profile that cannot be read or a file that cannot be written is reported
// on `err` and gives exit_failure. Throws UsageError for bad option values or more than one
// profile.
int run_export(const ExportOptions& options, std::ostream& out, std::ostream& err);

}  // namespace zel_cli
