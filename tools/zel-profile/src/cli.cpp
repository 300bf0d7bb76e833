#include "cli.hpp"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <exception>
#include <new>

#include <CLI/CLI.hpp>
#include "command_line_names.hpp"
#include "commands.hpp"
#include "convert_command.hpp"
#include "export_command.hpp"
#include "generate_options.hpp"
#include "info_command.hpp"
#include "messages.hpp"
#include "parse_messages.hpp"
#include "query_options.hpp"
#include "report_command.hpp"
#include "serve_command.hpp"
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

// CLI11's own messages ("The following argument ...", "A subcommand ...") begin with a capital;
// ours do not. Names in capitals ("PROFILE is required") stay as they are.
std::string message_text(std::string text) {
  const auto word_end = std::min(text.find(' '), text.size());
  const bool capitalised =
      word_end > 0 && std::isupper(static_cast<unsigned char>(text[0])) != 0 &&
      std::all_of(text.begin() + 1, text.begin() + static_cast<std::ptrdiff_t>(word_end),
                  [](char c) { return std::islower(static_cast<unsigned char>(c)) != 0; });
  if (capitalised) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

// A usage error on `err`, every line beginning "zel-profile:", and where to read more.
int usage_error(const std::string& message, const CLI::App* command, std::ostream& err) {
  tell(err, message_text(message));
  err << "zel-profile: run 'zel-profile help" << (command ? " " + command->get_name() : "")
      << "' for more information\n";
  return exit_usage;
}

// "help" prints the app's help, "help COMMAND" the command's: the same as "--help" and "COMMAND
// --help", to which they are turned before parsing.
std::vector<std::string> help_as_option(CLI::App& app, const std::vector<std::string>& arguments) {
  if (arguments.empty() || arguments[0] != "help" || arguments.size() > 2 ||
      (arguments.size() == 2 && arguments[1].starts_with("-"))) {
    return arguments;
  }
  if (arguments.size() == 1) return {"--help"};
  const auto check = check_names(app, {arguments[1]});
  if (!check.problem.empty()) throw UsageError(check.problem);
  return {arguments[1], "--help"};
}

// The commands and their options, which the parse fills; declared once, never moved.
struct Commands {
  std::string help_command;
  QueryOptions query_options;
  QueryOptions diff_options;
  ReportOptions report_options;
  ExportOptions export_options;
  InfoOptions info_options;
  ServeOptions serve_options;
  GenerateOptions generate_options;
  ConvertOptions convert_options;
  CLI::App* query = nullptr;
  CLI::App* diff = nullptr;
  CLI::App* report = nullptr;
  CLI::App* export_command = nullptr;
  CLI::App* info = nullptr;
  CLI::App* serve = nullptr;
  CLI::App* generate = nullptr;
  CLI::App* convert = nullptr;
};

void add_commands(CLI::App& app, Commands& c) {
  app.add_subcommand("help", "Print this help, or with COMMAND the help of that command.")
      ->add_option("COMMAND", c.help_command, "the command to describe");
  c.query = app.add_subcommand(
      "query", "Select, group and summarise the samples of a stored profile and print a report.");
  add_query_options(*c.query, c.query_options);
  c.diff = app.add_subcommand(
      "diff",
      "Run the same query on two stored profiles and compare them group by group: the base and "
      "new values, the change and the relative change of each figure.");
  add_diff_options(*c.diff, c.diff_options);
  c.report = app.add_subcommand(
      "report", "Write a query's report as one self-contained HTML page with a tile timeline.");
  add_report_options(*c.report, c.report_options);
  c.export_command = app.add_subcommand(
      "export", "Write the matched samples for trace viewers (Trace Event Format).");
  add_export_options(*c.export_command, c.export_options);
  c.info = app.add_subcommand(
      "info",
      "Say what stored profiles hold: tiles, samples, span and clock; the samples per "
      "kind, kernel, operation, phase and epoch; the metadata keys and their values.");
  add_info_options(*c.info, c.info_options);
  c.serve = app.add_subcommand(
      "serve",
      "Explore profiles in the browser: print the address of a page with the timeline, the group "
      "table and the load balance, and answer it (and a JSON API) until stopped with Ctrl-C.");
  add_serve_options(*c.serve, c.serve_options);
  c.generate =
      app.add_subcommand("generate", "Write a synthetic profile for demos, tests and benchmarks.");
  add_generate_options(*c.generate, c.generate_options);
  c.convert = app.add_subcommand(
      "convert", "Write a stored profile in the other format: binary (.zprof) or JSON text.");
  add_convert_options(*c.convert, c.convert_options);
}

// Runs the command the parse chose.
int run_parsed(const Commands& c, std::ostream& out, std::ostream& err) {
  if (c.query->parsed()) return run_query(c.query_options, out, err);
  if (c.diff->parsed()) return run_diff(c.diff_options, out, err);
  if (c.report->parsed()) return run_report(c.report_options, out, err);
  if (c.export_command->parsed()) return run_export(c.export_options, out, err);
  if (c.info->parsed()) return run_info(c.info_options, out, err);
  if (c.generate->parsed()) return run_generate(c.generate_options, out, err);
  if (c.convert->parsed()) return run_convert(c.convert_options, err);
  if (c.serve->parsed()) return run_serve(c.serve_options, out, err);
  return usage_error("help takes at most one COMMAND", nullptr, err);
}

}  // namespace

int run_cli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  CLI::App app{"Queries execution profiles of a many-tile processor.", "zel-profile"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("zel-profile ") + version);
  Commands commands;
  add_commands(app, commands);
  // Set after the commands are made, which would otherwise inherit it.
  app.footer("Run 'zel-profile help COMMAND' for the options of a command.");

  const CLI::App* command = nullptr;
  try {
    const auto split = help_as_option(app, split_empty_values(arguments));
    const auto check = check_names(app, split);
    command = check.command;
    if (!check.problem.empty()) return usage_error(check.problem, command, err);
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(split.rbegin(), split.rend());
    app.parse(reversed);
  } catch (const UsageError& error) {
    return usage_error(error.what(), command, err);
  } catch (const CLI::ParseError& error) {
    // --help and --version print to `out` and succeed.
    if (error.get_exit_code() == 0) return app.exit(error, out, err);
    return usage_error(in_own_words(error.what()), command, err);
  }

  try {
    return run_parsed(commands, out, err);
  } catch (const UsageError& error) {
    return usage_error(error.what(), command, err);
  } catch (const std::bad_alloc&) {
    err << "zel-profile: out of memory\n";
    return exit_failure;
  } catch (const std::exception& error) {
    tell(err, error.what());
    return exit_failure;
  }
}

}  // namespace zel_cli
