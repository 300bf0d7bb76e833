#include "display_width.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <utf8proc.h>

namespace zel_report {

std::size_t display_width(std::string_view text) {
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  std::size_t total = 0;
  std::size_t cluster = 0;  // the widest character of the current grapheme cluster
  utf8proc_int32_t previous = -1;
  utf8proc_int32_t state = 0;
  for (utf8proc_ssize_t at = 0; at < size;) {
    utf8proc_int32_t code_point = 0;
    const auto length = utf8proc_iterate(bytes + at, size - at, &code_point);
    if (length < 0) {
      // A stray byte ends the cluster and takes a column of its own.
      total += cluster + 1;
      cluster = 0;
      previous = -1;
      state = 0;
      ++at;
      continue;
    }
    if (previous >= 0 && utf8proc_grapheme_break_stateful(previous, code_point, &state)) {
      total += cluster;
      cluster = 0;
    }
    cluster =
        std::max(cluster, static_cast<std::size_t>(std::max(0, utf8proc_charwidth(code_point))));
    previous = code_point;
    at += length;
  }
  return total + cluster;
}

std::vector<std::size_t> column_widths(const std::vector<Column>& layout,
                                       const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& column : layout) widths.push_back(display_width(column.header));
  for (const auto& cells : rows) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
      widths[i] = std::max(widths[i], display_width(cells[i]));
    }
  }
  return widths;
}

std::string aligned_line(const std::vector<Column>& layout, const std::vector<std::size_t>& widths,
                         const std::vector<std::string>& cells) {
  std::string text;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const std::string padding(widths[i] - display_width(cells[i]), ' ');
    const bool last = i + 1 == cells.size();
    text += std::string(i == 0 ? 0 : column_gap, ' ');
    if (layout[i].align == Align::Right) {
      text += padding + cells[i];
    } else {
      text += cells[i] + (last ? "" : padding);
    }
  }
  return text + "\n";
}

std::string header_line(const std::vector<Column>& layout, const std::vector<std::size_t>& widths) {
  std::vector<std::string> headers;
  for (const auto& column : layout) headers.push_back(column.header);
  return aligned_line(layout, widths, headers);
}

std::string aligned_table(const std::vector<Column>& layout,
                          const std::vector<std::vector<std::string>>& rows) {
  const auto widths = column_widths(layout, rows);
  std::string text = header_line(layout, widths);
  for (const auto& cells : rows) text += aligned_line(layout, widths, cells);
  return text;
}

}  // namespace zel_report
