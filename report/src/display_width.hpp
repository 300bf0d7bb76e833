// How many terminal columns a text takes, and rows of cells laid out in aligned columns.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zel_report {

// The columns `text` (UTF-8) takes on a terminal: each grapheme cluster as wide as its widest
// character by Unicode's East Asian width (wide and full-width characters two, combining marks and
// other zero-width characters none), so "e" with a combining accent takes one column and a CJK
// character two. A byte that is not part of valid UTF-8 takes one column.
std::size_t display_width(std::string_view text);

enum class Align { Left, Right };

struct Column {
  std::string header;
  Align align = Align::Right;
};

// The blanks between two columns.
inline constexpr std::size_t column_gap = 2;

// How wide each column must be: as wide as its widest cell or its header.
std::vector<std::size_t> column_widths(const std::vector<Column>& layout,
                                       const std::vector<std::vector<std::string>>& rows);

// One line of aligned cells. A left-aligned last column is not padded, so lines carry no
// trailing blanks.
std::string aligned_line(const std::vector<Column>& layout, const std::vector<std::size_t>& widths,
                         const std::vector<std::string>& cells);

// The line of the columns' headers.
std::string header_line(const std::vector<Column>& layout, const std::vector<std::size_t>& widths);

// The headers' line and a line per row, each column as wide as `column_widths` says.
std::string aligned_table(const std::vector<Column>& layout,
                          const std::vector<std::vector<std::string>>& rows);

}  // namespace zel_report
