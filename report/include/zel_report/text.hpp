// Names from a profile as they may be shown on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace zel_report {

// The text with its control characters shown as \n, \t, \r or \xNN, as the table shows them.
std::string printable(std::string_view text);

// A name from outside (a profile, a file, a command line) as a message shows it: cut to its first
// 64 bytes at a character boundary ("..." marks the cut), its control characters escaped as by
// printable(). Example: shown_name("gemm\x1b[2J") is "gemm\\x1b[2J".
std::string shown_name(std::string_view name);

// shown_name(name) in single quotes.
std::string quoted_name(std::string_view name);

}  // namespace zel_report
