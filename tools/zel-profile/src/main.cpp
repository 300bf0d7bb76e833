// The `zel-profile` command-line tool.
#include <iostream>
#include <string>
#include <vector>

#include "cli.hpp"
#include "huge_pages.hpp"

int main(int argc, char** argv) {
  zel_cli::restart_with_huge_pages(argv);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return zel_cli::run_cli(arguments, std::cout, std::cerr);
}
