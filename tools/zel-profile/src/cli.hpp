// The whole `zel-profile` command line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace zel_cli {

// Parses `arguments` (without the program name), runs the chosen command and returns the exit
// status: 0 on success (and for --help), 1 when the profile cannot be read or is invalid or the
// output cannot be written, 2 for a usage error. Help and results go to `out`, messages to `err`.
int run_cli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace zel_cli
