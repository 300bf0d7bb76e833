#include "command_line_names.hpp"

#include <zel_profile/words.hpp>

namespace zel_cli {

using zel_profile::did_you_mean;
namespace {

CLI::App* find_command(CLI::App& app, const std::string& name) {
  for (auto* command : app.get_subcommands([](CLI::App*) { return true; })) {
    if (command->get_name() == name) return command;
  }
  return nullptr;
}

const CLI::Option* find_option(const CLI::App& command, const std::string& name) {
  for (const auto* option : command.get_options()) {
    if (name.starts_with("--") && option->check_lname(name.substr(2))) return option;
    if (!name.starts_with("--") && option->check_sname(name.substr(1))) return option;
  }
  return nullptr;
}

// "-" alone is a file name (standard input), not an option.
bool is_option(const std::string& argument) {
  return argument.size() > 1 && argument.front() == '-';
}

}  // namespace

std::vector<std::string> command_names(CLI::App& app) {
  std::vector<std::string> names;
  for (const auto* command : app.get_subcommands([](CLI::App*) { return true; })) {
    names.push_back(command->get_name());
  }
  return names;
}

std::vector<std::string> option_names(const CLI::App& command) {
  std::vector<std::string> names;
  for (const auto* option : command.get_options()) {
    for (const auto& name : option->get_lnames()) names.push_back("--" + name);
    for (const auto& name : option->get_snames()) names.push_back("-" + name);
  }
  return names;
}

NameCheck check_names(CLI::App& app, const std::vector<std::string>& arguments) {
  CLI::App* current = &app;
  NameCheck check;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--") break;
    if (is_option(argument)) {
      const bool long_name = argument.starts_with("--");
      const std::string name =
          long_name ? argument.substr(0, argument.find('=')) : argument.substr(0, 2);
      const auto* option = find_option(*current, name);
      if (option == nullptr) {
        check.problem =
            "unknown option '" + name + "'" + did_you_mean(name, option_names(*current));
        return check;
      }
      const bool value_attached = long_name ? name.size() < argument.size() : argument.size() > 2;
      if (option->get_type_size() > 0 && !value_attached) ++i;
      continue;
    }
    if (auto* command = find_command(*current, argument)) {
      current = check.command = command;
    } else if (current == &app) {
      check.problem =
          "unknown command '" + argument + "'" + did_you_mean(argument, command_names(app));
      return check;
    }
  }
  return check;
}

}  // namespace zel_cli
