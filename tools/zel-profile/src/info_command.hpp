// `zel-profile info`: what profiles hold, before they are queried.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace zel_cli {

// The words of `zel-profile info`, unconverted.
struct InfoOptions {
  std::vector<std::string> profiles;  // file names, "-" for standard input; taken as one
  std::string format = "table";
  std::optional<std::string> threads;
  std::string output = "-";

  bool operator==(const InfoOptions&) const = default;
};

// Declares PROFILE..., --format table|json, --threads and -o on `command`.
void add_info_options(CLI::App& command, InfoOptions& options);

// Reads the profiles and writes what they hold (zel_profile::profile_info, formatted by
// zel_report::format_info). A profile that cannot be read or an output that cannot be written is
// reported on `err` and gives exit_failure. Throws UsageError for bad option values.
int run_info(const InfoOptions& options, std::ostream& out, std::ostream& err);

}  // namespace zel_cli
