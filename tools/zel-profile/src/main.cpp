// The `zel-profile` command-line tool.
#include <iostream>
#include <string>
#include <vector>

#include "cli.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return zel_cli::run_cli(arguments, std::cout, std::cerr);
}
