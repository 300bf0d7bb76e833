// How the tool's messages show text that comes from outside it (names from a profile, file names,
// arguments): cut short and escaped, so that no message floods or steers the terminal.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>

namespace zel_cli {

// The most bytes of a name that a message quotes.
inline constexpr std::size_t shown_name_bytes = 64;

// `name` cut to its first 64 bytes (at a character boundary, "..." marking the cut), its control
// characters escaped as in the table.
std::string shown_name(std::string_view name);

// shown_name(name) in single quotes.
std::string quoted_name(std::string_view name);

// Writes "zel-profile: MESSAGE" and a line end to `err`, with any control character left in the
// message (from a file name, say) escaped.
void tell(std::ostream& err, std::string_view message);

}  // namespace zel_cli
