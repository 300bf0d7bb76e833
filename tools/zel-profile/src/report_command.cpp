#include "report_command.hpp"

#include <algorithm>
#include <future>
#include <utility>

#include <zel_profile/load_balance.hpp>
#include <zel_profile/query.hpp>
#include <zel_profile/timeline.hpp>
#include <zel_report/html.hpp>

#include "command_output.hpp"
#include "commands.hpp"
#include "timing.hpp"
#include "usage_error.hpp"

namespace zel_cli {

void add_report_options(CLI::App& command, ReportOptions& options) {
  add_query_options(command, options.query);
  // The page has one form and one order, and shows no single samples.
  for (const char* name : {"--format", "--samples", "--reverse"}) {
    command.remove_option(command.get_option(name));
  }
  command.get_option("--timing")
      ->description(
          "after writing the page, print on standard error one figure a line: \"zel-profile: "
          "timing: load W s wall, C s cpu\", the same for query and page (the timeline, the load "
          "balance and the HTML), then \"zel-profile: timing: peak memory M MB\"");
  command.get_option("PROFILE")->description(
      "stored profiles (JSON); - reads standard input; several are several chips, drawn in rows "
      "of their own (\"chip N tiles ...\", N counting from 0)");
  command
      .add_option("--color-by", options.color_by,
                  "what colours the timeline's cells: the step kind, or the query's group (the "
                  "first 12 groups in the report's order; the others share one colour)")
      ->check(one_of({"kind", "group"}))
      ->type_name("kind|group");
  command.get_option("--output")
      ->description("the HTML file to write, replaced atomically (default: standard output)");
}

int run_report(const ReportOptions& options, std::ostream& out, std::ostream& err) {
  const auto query = to_query(options.query);
  const auto parallelism = to_parallelism(options.query);
  refuse_output_over_inputs(options.query.output, options.query.profiles);
  const ClockReading load_start = read_clocks();
  auto profiles = read_profiles(options.query, query, err);
  if (!profiles) return exit_failure;
  const Elapsed load = elapsed_since(load_start);

  const ClockReading query_start = read_clocks();
  auto report = zel_profile::query(*profiles, query, parallelism);
  const Elapsed querying = elapsed_since(query_start);

  const ClockReading page_start = read_clocks();
  zel_profile::TimelineShape shape{.bins = zel_report::html_timeline_bins};
  if (options.color_by == "group") {
    shape.color_by = zel_profile::TimelineColor::Group;
    shape.groups = zel_profile::coloured_groups(report);
  }
  // The timeline and the load balance each read every sample once; with more than one thread
  // allowed, they read side by side. An exception from either reaches the caller.
  auto balance = std::async(parallelism.threads == 1 ? std::launch::deferred : std::launch::async,
                            [&] { return zel_profile::load_balance(*profiles, query); });
  auto timeline = zel_profile::timeline(*profiles, query, shape);
  auto names = profile_names(options.query.profiles);
  std::string title = names.front();
  for (std::size_t c = 1; c < names.size(); ++c) title += ", " + names[c];
  zel_report::HtmlPage page{
      .profile_name = std::move(title),
      .report = std::move(report),
      .timeline = std::move(timeline),
      .balance = balance.get(),
      .chip_names = names.size() > 1 ? std::move(names) : std::vector<std::string>{},
      .clipped = query.clip};
  profiles.reset();
  const std::string html = zel_report::format_html(page);
  const int status = write_output(options.query.output, out, err,
                                  [&](const zel_storage::TextSink& sink) { sink(html); });
  const Elapsed paging = elapsed_since(page_start);
  if (options.query.timing) {
    err << stage_line("load", load) << stage_line("query", querying) << stage_line("page", paging)
        << "zel-profile: timing: peak memory " << peak_memory_mb() << " MB\n";
  }
  return status;
}

}  // namespace zel_cli
