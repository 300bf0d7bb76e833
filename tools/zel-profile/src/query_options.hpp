// The options of `zel-profile query`, as typed on the command line, and their meaning as a Query.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <zel_profile/model.hpp>
#include <zel_profile/query.hpp>
#include <zel_report/formats.hpp>
#include <zel_request/parameters.hpp>

namespace zel_cli {

// How a query report is printed.
using zel_report::ReportFormat;

// The words of `zel-profile query`, unconverted. Absent options are empty or std::nullopt.
struct QueryOptions {
  std::vector<std::string> profiles;  // file names, "-" for standard input; queried as one
  // The query's options as (word, value) pairs, "--tile 3" as {"tile", "3"}: the query's
  // parameters (<zel_request/parameters.hpp>), converted to a Query by to_query().
  zel_request::Words words;
  std::string format = "table";
  bool timing = false;  // print load and query times and peak memory on standard error
  std::optional<std::string> threads;     // how many threads the query may use; absent: every core
  std::optional<std::string> fail_above;  // diff: PERCENT of phase-cycle growth that fails
  std::optional<std::string> fail_above_span;  // diff: PERCENT of span growth that fails
  std::optional<std::string> min_cycles;  // diff: groups below N phase cycles in both never fail
  std::string output = "-";               // file the report is written to; "-": standard output

  bool operator==(const QueryOptions&) const = default;
};

// A check that a value is one of `words`, refusing anything else in the tool's words: "expected
// one of a|b, got \"x\"", with the nearest word when one is close.
CLI::Validator one_of(std::vector<std::string> words);

// Declares the PROFILE argument and every query option on `command`, storing into `options`,
// which must outlive the parse.
void add_query_options(CLI::App& command, QueryOptions& options);

// Declares BASE and NEW, the query options but --samples, and the gate (--fail-above,
// --fail-above-span, --min-cycles), for `zel-profile diff`.
void add_diff_options(CLI::App& command, QueryOptions& options);

// What makes `zel-profile diff` fail with status 3.
struct DiffGate {
  std::optional<double> group_growth;  // --fail-above, as a fraction (10 gives 0.1)
  std::optional<double> span_growth;   // --fail-above-span, as a fraction
  std::uint64_t min_cycles = 0;        // --min-cycles: smaller groups in both runs never fail
};

// The gate the diff options describe. Throws UsageError for a percentage that is not a plain
// non-negative decimal number, a bad --min-cycles, and --min-cycles without --fail-above.
DiffGate to_diff_gate(const QueryOptions& options);

using zel_request::profile_names;

// The query the options describe, grouped by profile with the groups named by profile_names().
// Throws UsageError for a bad word or number and a query zel_profile::validate refuses.
zel_profile::Query to_query(const QueryOptions& options);

// How many threads the query may use: --threads N, or every core of the machine (0) without it.
// N is capped at the number of cores, since more threads would only take turns on them (and
// thousands cannot all be started). Throws UsageError for anything but a whole number from 1.
zel_profile::Parallelism to_parallelism(const QueryOptions& options);

// The chosen output format. Throws UsageError for an unknown one.
ReportFormat to_report_format(const QueryOptions& options);

}  // namespace zel_cli
