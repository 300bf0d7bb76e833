#include "cli.hpp"

#include <exception>
#include <new>

#include <CLI/CLI.hpp>
#include "commands.hpp"
#include "export_command.hpp"
#include "generate_options.hpp"
#include "query_options.hpp"
#include "report_command.hpp"
#include "usage_error.hpp"
#include "version.hpp"

namespace zel_cli {
namespace {

// CLI11 reads "--kernel=" (what the shell makes of --kernel="") as a missing value and takes the
// next argument instead; written as "--kernel" "" it is the empty value the user meant. Arguments
// after "--" are left alone.
std::vector<std::string> split_empty_values(const std::vector<std::string>& arguments) {
  std::vector<std::string> split;
  bool options_ended = false;
  for (const auto& argument : arguments) {
    options_ended = options_ended || argument == "--";
    if (!options_ended && argument.size() > 3 && argument.starts_with("--") &&
        argument.back() == '=' && argument.find('=') == argument.size() - 1) {
      split.push_back(argument.substr(0, argument.size() - 1));
      split.emplace_back();
    } else {
      split.push_back(argument);
    }
  }
  return split;
}

}  // namespace

int run_cli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  CLI::App app{"Queries execution profiles of a many-tile processor.", "zel-profile"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("zel-profile ") + version);

  QueryOptions query_options;
  auto* query = app.add_subcommand(
      "query", "Select, group and summarise the samples of a stored profile and print a report.");
  add_query_options(*query, query_options);

  QueryOptions diff_options;
  auto* diff = app.add_subcommand(
      "diff",
      "Run the same query on two stored profiles and compare them group by group: the base and "
      "new values, the change and the relative change of each figure.");
  add_diff_options(*diff, diff_options);

  GenerateOptions generate_options;
  auto* generate =
      app.add_subcommand("generate", "Write a synthetic profile for demos, tests and benchmarks.");
  add_generate_options(*generate, generate_options);

  ReportOptions report_options;
  auto* report = app.add_subcommand(
      "report", "Write a query's report as one self-contained HTML page with a tile timeline.");
  add_report_options(*report, report_options);

  ExportOptions export_options;
  auto* export_command = app.add_subcommand(
      "export", "Write the matched samples for trace viewers (Trace Event Format).");
  add_export_options(*export_command, export_options);

  // CLI11 takes the arguments last first.
  const auto split = split_empty_values(arguments);
  std::vector<std::string> reversed(split.rbegin(), split.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    return app.exit(error, out, err) == 0 ? exit_success : exit_usage;
  }

  try {
    if (query->parsed()) return run_query(query_options, out, err);
    if (diff->parsed()) return run_diff(diff_options, out, err);
    if (report->parsed()) return run_report(report_options, out, err);
    if (export_command->parsed()) return run_export(export_options, out, err);
    return run_generate(generate_options, out, err);
  } catch (const UsageError& error) {
    err << "zel-profile: " << error.what() << "\nRun with --help for more information.\n";
    return exit_usage;
  } catch (const std::bad_alloc&) {
    err << "zel-profile: out of memory\n";
    return exit_failure;
  } catch (const std::exception& error) {
    err << "zel-profile: " << error.what() << "\n";
    return exit_failure;
  }
}

}  // namespace zel_cli
