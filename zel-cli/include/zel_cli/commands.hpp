// The tool's commands, on parsed options, writing to the given streams.
#pragma once

#include <ostream>

#include <zel_cli/generate_options.hpp>
#include <zel_cli/query_options.hpp>

namespace zel_cli {

// Exit statuses of the tool.
inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;  // the profile cannot be read or is invalid; output failed
inline constexpr int exit_usage = 2;    // the command line is wrong

// Reads the profile, runs the query and prints the report to `out`. A profile that cannot be read
// is reported on `err`, naming the file and the place in it, and gives exit_failure. Throws
// UsageError for bad option values.
int run_query(const QueryOptions& options, std::ostream& out, std::ostream& err);

// Generates a synthetic profile and writes it to the output file, or to `out` for "-". A file that
// cannot be written is reported on `err` and gives exit_failure. Throws UsageError for bad option
// values.
int run_generate(const GenerateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace zel_cli
