#include "commands.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <zel_generator/generator.hpp>
#include <zel_package/storage.hpp>
#include <zel_profile/diff.hpp>
#include <zel_profile/query.hpp>
#include <zel_report/formats.hpp>
#include <zel_report/text.hpp>
#include "command_output.hpp"
#include "profile_names.hpp"
#include "query_text.hpp"
#include "timing.hpp"
#include "usage_error.hpp"

namespace zel_cli {
namespace {

// Writes the text to the --output file, replaced atomically, or to `out` for "-".
int deliver(const std::string& text, const std::string& output, std::ostream& out,
            std::ostream& err) {
  return write_output(output, out, err, [&text](const zel_package::TextSink& sink) { sink(text); });
}

// Standard input can be read once only.
void refuse_standard_input_twice(const std::vector<std::string>& paths) {
  if (std::count(paths.begin(), paths.end(), "-") > 1) {
    throw UsageError("standard input (-) can be read only once");
  }
}

}  // namespace

int run_query(const QueryOptions& options, std::ostream& out, std::ostream& err) {
  // Bad options are reported before a possibly large profile is read.
  const auto query = to_query(options);
  const auto format = to_report_format(options);
  const auto parallelism = to_parallelism(options);
  refuse_standard_input_twice(options.profiles);
  const ClockReading load_start = read_clocks();
  std::vector<zel_package::PackedProfile> profiles;
  profiles.reserve(options.profiles.size());
  ProfileNames names;
  for (const auto& path : options.profiles) {
    auto profile = read_reporting(path, err);
    if (!profile) return exit_failure;
    add_names(names, *profile);
    profiles.push_back(std::move(*profile));
  }
  const Elapsed load = elapsed_since(load_start);
  warn_about_absent_names(query, names, err);

  const ClockReading query_start = read_clocks();
  auto report = query_every_group(profiles, query, parallelism);
  const Elapsed querying = elapsed_since(query_start);
  const int status = deliver(format_query_report(std::move(report), query, options.reverse, format),
                             options.output, out, err);
  if (options.timing) {
    err << format_timing({.load = load, .query = querying, .peak_memory_mb = peak_memory_mb()});
  }
  return status;
}

int run_diff(const QueryOptions& options, std::ostream& out, std::ostream& err) {
  auto query = to_query(options);
  const auto format = to_report_format(options);
  const auto parallelism = to_parallelism(options);
  const auto fail_above = to_fail_above(options);
  if (options.profiles.size() != 2) throw UsageError("diff compares two profiles: BASE NEW");
  refuse_standard_input_twice(options.profiles);
  // Every group takes part in the comparison; the limit cuts the compared list.
  const auto limit = query.limit;
  query.limit.reset();
  query.sample_limit = 0;
  std::vector<zel_profile::QueryReport> reports;
  ProfileNames names;
  // One profile at a time: each is let go once it is queried.
  for (const auto& path : options.profiles) {
    const auto profile = read_reporting(path, err);
    if (!profile) return exit_failure;
    add_names(names, *profile);
    reports.push_back(zel_profile::query(*profile, query, parallelism));
  }
  warn_about_absent_names(query, names, err);
  auto diff = zel_profile::diff_reports(reports[0], reports[1], query.sort_by);

  std::vector<std::string> grown;
  if (fail_above) {
    for (const auto& group : diff.groups) {
      const double base = group.base ? static_cast<double>(group.base->phase_cycles) : 0.0;
      const double now = group.current ? static_cast<double>(group.current->phase_cycles) : 0.0;
      const auto change = zel_profile::relative_change(base, now);
      if (change ? *change > *fail_above : now > 0.0) {
        char percent[32];
        std::snprintf(percent, sizeof percent, "%.1f%%", change ? *change * 100.0 : 0.0);
        grown.push_back(zel_report::printable(group.name) + ": phase cycles " +
                        (change ? std::string("grew by ") + percent
                                : "new, " + std::to_string(group.current->phase_cycles)));
      }
    }
  }
  if (options.reverse) std::reverse(diff.groups.begin(), diff.groups.end());
  if (limit && *limit < diff.groups.size()) diff.groups.resize(*limit);
  const int status = deliver(zel_report::format_diff(diff, format), options.output, out, err);
  for (const auto& line : grown) {
    err << "zel-profile: " << line << " (more than " << *options.fail_above << "%)\n";
  }
  return status != exit_success ? status : grown.empty() ? exit_success : exit_regression;
}

int run_generate(const GenerateOptions& options, std::ostream& out, std::ostream& err) {
  const auto profile = zel_generator::generate_packed_profile(to_generator_options(options));
  const bool to_out = options.output == "-";
  if (to_out && &out != &std::cout) {
    // Not the process's standard output (a caller capturing the text): it gets the text whole.
    return deliver(zel_package::write_profile(profile), "-", out, err);
  }
  if (to_out) {
    out.flush();  // the writer streams to the C stream beneath std::cout
  }
  try {
    zel_package::write_profile_file(profile, options.output);
  } catch (const std::runtime_error& error) {
    err << "zel-profile: " << error.what() << "\n";
    return exit_failure;
  }
  return exit_success;
}

}  // namespace zel_cli
