#include "info_command.hpp"

#include <utility>

#include <zel_profile/info.hpp>
#include <zel_report/info_formats.hpp>

#include "command_output.hpp"
#include "commands.hpp"
#include "query_options.hpp"

namespace zel_cli {

void add_info_options(CLI::App& command, InfoOptions& options) {
  command
      .add_option("PROFILE", options.profiles,
                  "stored profile (JSON, also gzip- or zstd-compressed); - reads standard input. "
                  "Several profiles are taken as one, as query takes them")
      ->required()
      ->type_name("FILE");
  command
      .add_option("--format", options.format,
                  "table (default): a summary for reading, the first 20 kernels and operations "
                  "and 10 values per metadata key; json: every list whole")
      ->check(one_of({"table", "json"}))
      ->type_name("table|json");
  command
      .add_option("--threads", options.threads,
                  "read the samples on N threads (default: every core)")
      ->type_name("N");
  command
      .add_option("-o,--output", options.output,
                  "write to FILE (default and -: standard output), replaced atomically")
      ->type_name("FILE");
}

int run_info(const InfoOptions& options, std::ostream& out, std::ostream& err) {
  const QueryOptions as_query{.profiles = options.profiles,
                              .format = options.format,
                              .threads = options.threads,
                              .output = options.output};
  const auto parallelism = to_parallelism(as_query);
  const auto format = to_report_format(as_query);
  refuse_standard_input_twice(options.profiles);
  refuse_output_over_inputs(options.output, options.profiles);
  std::vector<zel_package::PackedProfile> profiles;
  for (const auto& path : options.profiles) {
    auto profile = read_reporting(path, err);
    if (!profile) return exit_failure;
    profiles.push_back(std::move(*profile));
  }
  const std::string text =
      zel_report::format_info(zel_profile::profile_info(profiles, parallelism), format);
  return write_output(options.output, out, err,
                      [&text](const zel_storage::TextSink& sink) { sink(text); });
}

}  // namespace zel_cli
