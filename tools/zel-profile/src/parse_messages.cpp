#include "parse_messages.hpp"

#include <array>
#include <regex>
#include <utility>

namespace zel_cli {

std::string in_own_words(const std::string& message) {
  // Each pattern matches the whole text; $1, $2 ... are its parts.
  static const std::array<std::pair<std::regex, const char*>, 14> rewrites = {{
      {std::regex("([A-Z][A-Z ]*): At Most 1 required but received (\\d+)"),
       "expected one $1, got $2"},
      {std::regex("([A-Z][A-Z ]*): At Most (\\d+) required but received (\\d+)"),
       "$1: expected $2 files, got $3"},
      {std::regex("(\\S+): At Most 1 required but received \\d+"), "$1 given more than once"},
      {std::regex("(\\S+): At Most (\\d+) required but received (\\d+)"),
       "$1 takes at most $2 values, got $3"},
      {std::regex("(\\S+): At least (\\d+) required but received (\\d+)"),
       "$1 needs at least $2 values, got $3"},
      {std::regex("(\\S+): \\d+ required (\\S+) missing"), "$1 needs a value ($2)"},
      {std::regex("Expected exactly (\\d+) arguments to (.+), got (\\d+)"),
       "expected $1 arguments for $2, got $3"},
      {std::regex("Expected at least (\\d+) arguments to (.+), got (\\d+)"),
       "expected at least $1 arguments for $2, got $3"},
      {std::regex("The following argument was not expected: (.+)"), "unexpected argument '$1'"},
      {std::regex("The following arguments were not expected: (.+)"), "unexpected arguments: $1"},
      {std::regex("(\\S+): too many inputs for a flag"), "$1 takes no value"},
      {std::regex("(\\S+): Should be true/false or a number"), "$1 takes no value"},
      {std::regex("The value (.+) is not an allowed value for (\\S+)"),
       "$2: \"$1\" is not allowed"},
      {std::regex("Could not convert: (\\S+) = (.+)"), "$1: cannot read \"$2\""},
  }};
  for (const auto& [pattern, words] : rewrites) {
    if (std::regex_match(message, pattern)) return std::regex_replace(message, pattern, words);
  }
  return message;
}

}  // namespace zel_cli
