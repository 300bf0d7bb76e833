// A timeline as the explorer sends it: JSON for scripts, and a compact binary form, the same
// figures as typed arrays of little-endian integers behind a small JSON header, which a page views
// without copying or parsing its numbers.
#pragma once

#include <string>

#include <zel_profile/timeline.hpp>

namespace zel_report {

// A row's name: "tile 4", "tiles 0-17", after "chip 1 " when the timeline draws several chips.
std::string timeline_row_label(const zel_profile::Timeline& timeline,
                               const zel_profile::TimelineRow& row);

// {"from", "to", "bins", "bin_cycles", "categories": [...], "rows": [{"label", "profile", "tiles":
// [physical tile numbers], "cycles": {"<category>": [one integer a bin]}}]}, on one line.
std::string format_timeline_json(const zel_profile::Timeline& timeline);

// The same figures in binary, little-endian:
//   bytes 0-3  "ZTL1"
//   bytes 4-7  H, a 32-bit length
//   8 ..       a JSON header of H bytes, padded with spaces so that 8 + H is a multiple of 8:
//              {"from", "to", "bins", "bin_cycles", "categories", "labels": [one a row],
//               "arrays": [{"name", "type", "offset", "length"}, ...]}
//   then the arrays the header names, each at its offset (from the first byte, a multiple of 8):
//     "profile"    u32 a row: its chip
//     "tile_ends"  u32 a row: one past its last entry in "tiles" (row 0 starts at 0)
//     "tiles"      u32: the rows' physical tile numbers, row after row
//     "cycles"     u8, u16, u32 or u64, the narrowest that holds every figure: rows x bins x
//                  categories, cycles[(row * bins + bin) * categories + category]
std::string format_timeline_bytes(const zel_profile::Timeline& timeline);

}  // namespace zel_report
