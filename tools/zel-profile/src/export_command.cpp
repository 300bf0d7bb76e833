#include "export_command.hpp"

#include <zel_report/chrome_trace.hpp>

#include "command_output.hpp"
#include "commands.hpp"
#include "timing.hpp"

namespace zel_cli {

void add_export_options(CLI::App& command, ExportOptions& options) {
  add_query_options(command, options.query);
  // Every matched sample is written: grouping, ordering and limits have no part in it.
  for (const char* name : {"--format", "--samples", "--limit", "--group-by", "--metadata-key",
                           "--sort-by", "--threads", "--reverse"}) {
    command.remove_option(command.get_option(name));
  }
  command.get_option("--timing")
      ->description(
          "after writing, print on standard error one figure a line: \"zel-profile: timing: load W "
          "s wall, C s cpu\", the same for export, then \"zel-profile: timing: peak memory M MB\"");
  command.get_option("PROFILE")->description(
      "stored profiles (JSON); - reads standard input; several are several chips, each in a "
      "process of its own named \"chip N: FILE\" (N counting from 0)");
  command
      .add_option("--format", options.format,
                  "chrome-trace: the Trace Event Format (JSON) that trace viewers open, one "
                  "complete event per matched sample and a thread per tile (default)")
      ->check(one_of({"chrome-trace"}))
      ->type_name("chrome-trace");
  command.get_option("--output")
      ->description("the file to write, replaced atomically (default: standard output)");
}

int run_export(const ExportOptions& options, std::ostream& out, std::ostream& err) {
  const auto query = to_query(options.query);
  refuse_output_over_inputs(options.query.output, options.query.profiles);
  const ClockReading load_start = read_clocks();
  const auto profiles = read_profiles(options.query, query, err);
  if (!profiles) return exit_failure;
  const auto names = profile_names(options.query.profiles);
  const Elapsed load = elapsed_since(load_start);

  const ClockReading export_start = read_clocks();
  const int status =
      write_output(options.query.output, out, err, [&](const zel_storage::TextSink& sink) {
        zel_report::write_chrome_trace(*profiles, names, query, sink);
      });
  const Elapsed exporting = elapsed_since(export_start);
  if (options.query.timing) {
    err << stage_line("load", load) << stage_line("export", exporting)
        << "zel-profile: timing: peak memory " << peak_memory_mb() << " MB\n";
  }
  return status;
}

}  // namespace zel_cli
