#include "serve_command.hpp"

#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <zel_server/server.hpp>

#include "command_output.hpp"
#include "commands.hpp"
#include "decimal.hpp"
#include "usage_error.hpp"

namespace zel_cli {

void add_serve_options(CLI::App& command, ServeOptions& options) {
  command
      .add_option("PROFILE", options.profiles,
                  "stored profiles, read once; several are several chips")
      ->required()
      ->type_name("FILE");
  command
      .add_option("--base", options.base,
                  "a base run to compare the one PROFILE with: the page shows their diff, as "
                  "\"zel-profile diff BASE PROFILE\" prints it, and their timelines one above the "
                  "other on one axis")
      ->type_name("BASE");
  command
      .add_option("--host", options.host,
                  "address to listen on (default: 127.0.0.1, this machine only)")
      ->type_name("ADDRESS");
  command
      .add_option_function<std::string>(
          "--port", [&options](const std::string& port) { options.port = port; },
          "port to listen on (default and 0: any free port)")
      ->type_name("N");
  command.add_flag("--no-token", options.no_token,
                   "answer without the random token in the address, so that every user and program "
                   "on the machine can read the profiles");
}

int run_serve(const ServeOptions& options, std::ostream& out, std::ostream& err) {
  const int port = options.port ? parse_decimal<std::uint16_t>(*options.port, "--port") : 0;
  if (options.profiles.empty()) throw UsageError("serve needs at least one PROFILE");
  if (options.base && options.profiles.size() != 1) {
    throw UsageError("serve --base BASE compares one PROFILE with it, not " +
                     std::to_string(options.profiles.size()));
  }
  std::vector<zel_server::LoadedProfile> profiles;
  std::optional<zel_server::LoadedProfile> base;
  for (const auto& path : options.profiles) {
    if (path == "-") throw UsageError("serve reads profiles from files, not standard input");
    auto profile = read_reporting(path, err);
    if (!profile) return exit_failure;
    profiles.push_back({.name = path, .profile = std::move(*profile)});
  }
  if (options.base) {
    if (*options.base == "-")
      throw UsageError("serve reads profiles from files, not standard input");
    auto profile = read_reporting(*options.base, err);
    if (!profile) return exit_failure;
    base = zel_server::LoadedProfile{.name = *options.base, .profile = std::move(*profile)};
  }
  const zel_server::Explorer explorer(std::move(profiles), std::move(base));
  zel_server::Server server(explorer,
                            {.host = options.host, .port = port, .token = !options.no_token});
  try {
    server.bind();
  } catch (const std::runtime_error& error) {
    err << "zel-profile: " << error.what() << "\n";
    return exit_failure;
  }
  if (!zel_server::loopback_only(options.host)) {
    err << "zel-profile: warning: --host " << options.host
        << ": every machine on the network that can reach this one can reach the explorer"
        << (options.no_token ? ", and with --no-token read the profiles\n"
                             : "; only the token in the address keeps them out\n");
  } else if (options.no_token) {
    err << "zel-profile: warning: --no-token: every user and program on this machine can read "
           "the profiles\n";
  }
  out << server.url() << std::endl;
  if (!server.run()) {
    err << "zel-profile: the server stopped with an error\n";
    return exit_failure;
  }
  return exit_success;
}

}  // namespace zel_cli
