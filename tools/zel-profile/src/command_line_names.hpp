// Checks the command and option names of a command line against a CLI11 app before it is parsed,
// so that a mistyped one is named and the nearest valid one suggested, for every command the app
// declares.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace zel_cli {

// The command names of `app` (its subcommands), in declaration order.
std::vector<std::string> command_names(CLI::App& app);

// Every option name of `command` as typed: "--long" and "-s".
std::vector<std::string> option_names(const CLI::App& command);

// What check_names found: the command named, if any (so far as the walk went), and the first
// unknown name, if any.
struct NameCheck {
  CLI::App* command = nullptr;
  std::string problem;  // "unknown command 'X'; did you mean 'Y'?", "unknown option '--X'...", ""
};

// Walks `arguments` (before a "--"): the first word that is not an option must name a command of
// `app`, and every option must be one of the current command's; the value after an option that
// takes one is skipped, so "--tile -1" is left for the option to refuse. The problem has a
// suggestion only when a valid name is near.
NameCheck check_names(CLI::App& app, const std::vector<std::string>& arguments);

}  // namespace zel_cli
