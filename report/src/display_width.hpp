// How many terminal columns a text takes.
#pragma once

#include <cstddef>
#include <string_view>

namespace zel_report {

// The columns `text` (UTF-8) takes on a terminal: each grapheme cluster as wide as its widest
// character by Unicode's East Asian width (wide and full-width characters two, combining marks and
// other zero-width characters none), so "e" with a combining accent takes one column and a CJK
// character two. A byte that is not part of valid UTF-8 takes one column.
std::size_t display_width(std::string_view text);

}  // namespace zel_report
