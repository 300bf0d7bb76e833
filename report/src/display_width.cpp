#include "display_width.hpp"

#include <algorithm>
#include <cstdint>

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

}  // namespace zel_report
