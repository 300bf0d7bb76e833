// How the tool's messages show text that comes from outside it (names from a profile, file names,
// arguments): cut short and escaped, so that no message floods or steers the terminal.
#pragma once

#include <ostream>
#include <string_view>

#include <zel_report/text.hpp>

namespace zel_cli {

using zel_report::quoted_name;
using zel_report::shown_name;

// Writes "zel-profile: MESSAGE" and a line end to `err`, with any control character left in the
// message (from a file name, say) escaped.
void tell(std::ostream& err, std::string_view message);

}  // namespace zel_cli
