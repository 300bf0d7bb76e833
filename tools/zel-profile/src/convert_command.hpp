// `zel-profile convert`: a stored profile from one format into the other.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include <CLI/CLI.hpp>

namespace zel_cli {

struct ConvertOptions {
  std::string input;
  std::string output;
  std::optional<std::string> to;  // "binary" or "json"; otherwise told by the output's suffix
};

// Declares the convert arguments on `command`, storing into `options`.
void add_convert_options(CLI::App& command, ConvertOptions& options);

// Reads PROFILE (text or binary, known by its first bytes) and writes it to OUTPUT in the format
// --to names or, without it, OUTPUT's suffix tells: ".zprof" binary, ".json" text. The output is
// streamed and replaced atomically. A profile that cannot be read or written is reported on `err`
// and gives exit_failure. Throws UsageError when the format cannot be told.
int run_convert(const ConvertOptions& options, std::ostream& err);

}  // namespace zel_cli
