// The error of a command line that asks for something the tool cannot do.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zel_cli {

// A malformed or contradictory command line, such as an option value that is not a number or out
// of its range. The tool reports it on standard error and exits with status 2; the explorer's API
// answers it with status 400, naming the option and the words it accepts.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  UsageError(const std::string& message, std::string option_name,
             std::vector<std::string> allowed_words = {})
      : std::runtime_error(message),
        option(std::move(option_name)),
        allowed(std::move(allowed_words)) {}

  std::string option;                // the option at fault, such as "--group-by"; empty if none
  std::vector<std::string> allowed;  // the words that option accepts, when it takes words
};

}  // namespace zel_cli
