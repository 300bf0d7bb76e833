#include "convert_command.hpp"

#include <stdexcept>
#include <string_view>

#include <zel_storage/binary_profile.hpp>
#include <zel_storage/storage.hpp>

#include "command_output.hpp"
#include "commands.hpp"
#include "usage_error.hpp"

namespace zel_cli {
namespace {

bool ends_with(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Whether the output is to be binary.
bool binary_output(const ConvertOptions& options) {
  if (options.to) {
    if (*options.to != "binary" && *options.to != "json") {
      throw UsageError("--to: expected binary or json, not " + *options.to);
    }
    return *options.to == "binary";
  }
  if (ends_with(options.output, ".zprof")) return true;
  if (ends_with(options.output, ".json")) return false;
  throw UsageError("cannot tell the format of " + options.output +
                   " by its suffix (.zprof or .json): give --to binary or --to json");
}

}  // namespace

void add_convert_options(CLI::App& command, ConvertOptions& options) {
  command
      .add_option("INPUT", options.input, "profile to read, text or binary; - reads standard input")
      ->required();
  command.add_option("-o,--output", options.output, "file to write; - writes standard output")
      ->type_name("FILE")
      ->required();
  command.add_option("--to", options.to, "format to write (default: by the suffix of OUTPUT)")
      ->type_name("binary|json");
}

int run_convert(const ConvertOptions& options, std::ostream& err) {
  const bool binary = binary_output(options);
  refuse_output_over_inputs(options.output, {options.input});
  const auto profile = read_reporting(options.input, err);
  if (!profile) return exit_failure;
  try {
    if (binary) {
      zel_storage::write_binary_profile_file(*profile, options.output);
    } else {
      zel_storage::write_profile_file(*profile, options.output);
    }
  } catch (const std::runtime_error& error) {
    err << "zel-profile: " << error.what() << "\n";
    return exit_failure;
  }
  return exit_success;
}

}  // namespace zel_cli
