// Runs the tool's command line in the test's process, capturing what it prints.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli.hpp"

namespace zel_cli::test_support {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

inline Outcome run(const std::vector<std::string>& arguments) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = run_cli(arguments, out, err);
  return {status, out.str(), err.str()};
}

}  // namespace zel_cli::test_support
