// `zel-profile serve`: the explorer, a page and a JSON API over profiles loaded once.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace zel_cli {

// The words of `zel-profile serve`, unconverted.
struct ServeOptions {
  std::vector<std::string> profiles;  // several are several chips
  std::string host = "127.0.0.1";
  std::optional<std::string> port;  // absent or 0: any free port
  bool no_token = false;
  std::optional<std::string> base;  // a base run to compare the one profile with

  bool operator==(const ServeOptions&) const = default;
};

// Declares PROFILE..., --base, --host, --port and --no-token on `command`.
void add_serve_options(CLI::App& command, ServeOptions& options);

// Reads the profiles, binds the address and prints one line on `out`, the address to open with its
// token; then answers requests until the process is stopped. Warns on `err` that anyone on the
// machine can read the profiles with --no-token. A profile that cannot be read, or an address that
// cannot be bound, is reported on `err` and gives exit_failure. Throws UsageError for a bad port.
int run_serve(const ServeOptions& options, std::ostream& out, std::ostream& err);

}  // namespace zel_cli
