// Names from a profile as they may be shown on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace zel_report {

// The text with its control characters shown as \n, \t, \r or \xNN, as the table shows them.
std::string printable(std::string_view text);

}  // namespace zel_report
