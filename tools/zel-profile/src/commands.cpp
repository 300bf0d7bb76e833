#include "commands.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <zel_generator/generator.hpp>
#include <zel_package/packed.hpp>
#include <zel_profile/diff.hpp>
#include <zel_profile/query.hpp>
#include <zel_report/absent_names.hpp>
#include <zel_report/formats.hpp>
#include <zel_report/text.hpp>
#include <zel_storage/binary_profile.hpp>
#include <zel_storage/storage.hpp>
#include "command_output.hpp"
#include "messages.hpp"
#include "timing.hpp"
#include "usage_error.hpp"

namespace zel_cli {
namespace {

// Writes the text to the --output file, replaced atomically, or to `out` for "-".
int deliver(const std::string& text, const std::string& output, std::ostream& out,
            std::ostream& err) {
  return write_output(output, out, err, [&text](const zel_storage::TextSink& sink) { sink(text); });
}

// "zel-profile: wrote FILE: N tiles, M samples" on `err`.
void report_generated(const zel_package::PackedProfile& profile, const std::string& output,
                      std::ostream& err) {
  err << "zel-profile: wrote " << (output == "-" ? std::string("standard output") : output) << ": "
      << profile.tiles.size() << " tiles, " << zel_package::sample_count(profile) << " samples\n";
}

}  // namespace

int run_query(const QueryOptions& options, std::ostream& out, std::ostream& err) {
  // Bad options are reported before a possibly large profile is read.
  const auto query = to_query(options);
  const auto format = to_report_format(options);
  const auto parallelism = to_parallelism(options);
  refuse_standard_input_twice(options.profiles);
  refuse_output_over_inputs(options.output, options.profiles);
  const ClockReading load_start = read_clocks();
  const auto profiles = read_profiles(options, query, err);
  if (!profiles) return exit_failure;
  const Elapsed load = elapsed_since(load_start);

  const ClockReading query_start = read_clocks();
  const auto report = zel_profile::query(*profiles, query, parallelism);
  const Elapsed querying = elapsed_since(query_start);
  // Written as it is made: a report of a million samples is hundreds of megabytes of JSON.
  const int status = write_output(options.output, out, err, [&](const zel_storage::TextSink& sink) {
    zel_report::write_report(
        report, format, {.samples_table = query.sample_limit > 0, .clipped = query.clip}, sink);
  });
  if (options.timing) {
    err << format_timing({.load = load, .query = querying, .peak_memory_mb = peak_memory_mb()});
  }
  return status;
}

namespace {

// Why the diff fails its gate: a line per group that grew too much, and one for the span.
std::vector<std::string> gate_failures(const zel_profile::ReportDiff& diff, const DiffGate& gate,
                                       const QueryOptions& options) {
  const auto percent = [](double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", fraction * 100.0);
    return std::string(text);
  };
  std::vector<std::string> failures;
  if (gate.group_growth) {
    for (const auto& group : diff.groups) {
      const std::uint64_t base_cycles = group.base ? group.base->phase_cycles : 0;
      const std::uint64_t now_cycles = group.current ? group.current->phase_cycles : 0;
      if (base_cycles < gate.min_cycles && now_cycles < gate.min_cycles) continue;
      const auto change = zel_profile::relative_change(static_cast<double>(base_cycles),
                                                       static_cast<double>(now_cycles));
      if (change ? *change > *gate.group_growth : now_cycles > 0) {
        failures.push_back(
            shown_name(group.name) + ": phase cycles " +
            (change ? "grew by " + percent(*change) : "new, " + std::to_string(now_cycles)) +
            " (more than " + *options.fail_above + "%)");
      }
    }
  }
  if (gate.span_growth) {
    const auto change = zel_profile::relative_change(static_cast<double>(diff.base_span_cycles),
                                                     static_cast<double>(diff.current_span_cycles));
    if (change ? *change > *gate.span_growth : diff.current_span_cycles > 0) {
      failures.push_back("span " + std::to_string(diff.base_span_cycles) + " -> " +
                         std::to_string(diff.current_span_cycles) + " cycles" +
                         (change ? ", grew by " + percent(*change) : std::string()) +
                         " (more than " + *options.fail_above_span + "%)");
    }
  }
  return failures;
}

}  // namespace

int run_diff(const QueryOptions& options, std::ostream& out, std::ostream& err) {
  const auto query = to_query(options);
  const auto format = to_report_format(options);
  const auto parallelism = to_parallelism(options);
  const auto gate = to_diff_gate(options);
  if (options.profiles.size() != 2) throw UsageError("diff compares two profiles: BASE NEW");
  refuse_standard_input_twice(options.profiles);
  refuse_output_over_inputs(options.output, options.profiles);
  const auto side = zel_profile::side_query(query);
  std::vector<zel_profile::QueryReport> reports;
  ProfileNames names;
  QueryTiming timing;
  std::vector<std::uint64_t> clock_rates;
  // One profile at a time: each is let go once it is queried.
  for (const auto& path : options.profiles) {
    const ClockReading load_start = read_clocks();
    const auto profile = read_reporting(path, err);
    if (!profile) return exit_failure;
    add_names(names, *profile);
    const ClockReading query_start = read_clocks();
    clock_rates.push_back(profile->clock_hz);
    reports.push_back(zel_profile::query(*profile, side, parallelism));
    const Elapsed loading = elapsed_since(load_start);
    const Elapsed querying = elapsed_since(query_start);
    timing.query.wall_seconds += querying.wall_seconds;
    timing.query.cpu_seconds += querying.cpu_seconds;
    timing.load.wall_seconds += loading.wall_seconds - querying.wall_seconds;
    timing.load.cpu_seconds += loading.cpu_seconds - querying.cpu_seconds;
  }
  warn_about_absent_names(query, names, err);
  if (clock_rates[0] != clock_rates[1]) {
    // query refuses such profiles together; a comparison of them is still asked for.
    tell(err, "the profiles have different clock rates (" + std::to_string(clock_rates[0]) +
                  " and " + std::to_string(clock_rates[1]) +
                  " Hz): their cycles are compared as they are, and their times differ by that "
                  "ratio");
  }
  const auto diff = zel_profile::diff_reports(reports[0], reports[1], query.sort_by);
  // The gate looks at every group; the limit cuts only the list printed.
  const auto failures = gate_failures(diff, gate, options);
  const int status =
      deliver(zel_report::format_diff(zel_profile::ordered_diff(diff, query), format),
              options.output, out, err);
  for (const auto& line : failures) tell(err, line);
  if (options.timing) {
    timing.peak_memory_mb = peak_memory_mb();
    err << format_timing(timing);
  }
  return status != exit_success ? status : failures.empty() ? exit_success : exit_regression;
}

int run_generate(const GenerateOptions& options, std::ostream& out, std::ostream& err) {
  const auto profile = zel_generator::generate_packed_profile(to_generator_options(options));
  const bool to_out = options.output == "-";
  if (to_out && &out != &std::cout) {
    // Not the process's standard output (a caller capturing the text): it gets the text whole.
    const int status = deliver(zel_storage::write_profile(profile), "-", out, err);
    if (status == exit_success) report_generated(profile, "-", err);
    return status;
  }
  if (to_out) {
    out.flush();  // the writer streams to the C stream beneath std::cout
  }
  try {
    // A file named *.zprof gets the binary form.
    const std::string_view suffix = ".zprof";
    if (options.output.size() > suffix.size() && options.output.ends_with(suffix)) {
      zel_storage::write_binary_profile_file(profile, options.output);
    } else {
      zel_storage::write_profile_file(profile, options.output);
    }
  } catch (const std::runtime_error& error) {
    tell(err, error.what());
    return exit_failure;
  }
  report_generated(profile, options.output, err);
  return exit_success;
}

}  // namespace zel_cli
