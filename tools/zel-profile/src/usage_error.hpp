// The error of a command line that asks for something the tool cannot do.
#pragma once

#include <stdexcept>

namespace zel_cli {

// A malformed or contradictory command line, such as an option value that is not a number or out
// of its range. The tool reports it on standard error and exits with status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace zel_cli
