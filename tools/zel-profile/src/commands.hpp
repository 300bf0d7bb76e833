// The tool's commands, on parsed options, writing to the given streams.
#pragma once

#include <ostream>

#include "generate_options.hpp"
#include "query_options.hpp"

namespace zel_cli {

// Exit statuses of the tool.
inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;  // the profile cannot be read or is invalid; output failed
inline constexpr int exit_usage = 2;    // the command line is wrong
inline constexpr int exit_regression =
    3;  // diff --fail-above: a group's phase cycles grew too much

// Reads the profile in packed form, runs the query and prints the report to `out`; with --timing,
// then prints the load and query times and the peak memory on `err` (see format_timing). A profile
// that cannot be read is reported on `err`, naming the file and the place in it, and gives
// exit_failure. Throws UsageError for bad option values.
int run_query(const QueryOptions& options, std::ostream& out, std::ostream& err);

// Reads BASE and NEW, runs the same query on both (without its limit, which then cuts the
// comparison) and prints the comparison (zel_profile::diff_reports) to `out`. With --fail-above,
// names on `err` every group whose phase cycles grew by more than the percentage, or that only NEW
// has, and gives exit_regression. Throws UsageError for bad option values.
int run_diff(const QueryOptions& options, std::ostream& out, std::ostream& err);

// Generates a synthetic profile in packed form and writes it to the output file, or to `out` for
// "-". A file, or std::cout, gets the text streamed as it is made, so it is never held whole in
// memory; any other `out` gets it whole. Output that cannot be written is reported on `err` and
// gives exit_failure. Throws UsageError for bad option values.
int run_generate(const GenerateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace zel_cli
