#include <zel_report/timeline_formats.hpp>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>

#include "json_text.hpp"
#include "number_text.hpp"

namespace zel_report {
namespace {

using zel_profile::Timeline;

// Appends `value` in `bytes` little-endian bytes.
void append_little_endian(std::string& out, std::uint64_t value, int bytes) {
  for (int b = 0; b < bytes; ++b) out += static_cast<char>((value >> (8 * b)) & 0xff);
}

void pad_to_eight(std::string& out, char fill) { out.append((8 - out.size() % 8) % 8, fill); }

// One array of the binary form: its name, its element width in bytes and its length.
struct Array {
  std::string_view name;
  int bytes = 4;
  std::size_t length = 0;
};

// The start of both forms' JSON: the range, the bins and the categories.
std::string range_and_categories(const Timeline& timeline) {
  std::string out = "{\"from\": " + decimal(timeline.first_cycle) +
                    ", \"to\": " + decimal(timeline.end_cycle) +
                    ", \"bins\": " + decimal(timeline.bins) +
                    ", \"bin_cycles\": " + decimal(timeline.bin_cycles) + ", \"categories\": [";
  for (std::size_t c = 0; c < timeline.categories.size(); ++c) {
    out += (c > 0 ? ", " : "") + json_quoted(timeline.categories[c]);
  }
  return out + "]";
}

}  // namespace

std::string timeline_row_label(const Timeline& timeline, const zel_profile::TimelineRow& row) {
  std::string label = timeline.chip_count > 1 ? "chip " + decimal(row.chip) + " " : "";
  if (row.tiles.empty()) return label + "no tiles";
  if (row.lowest_tile == row.highest_tile) return label + "tile " + decimal(row.lowest_tile);
  return label + "tiles " + decimal(row.lowest_tile) + "-" + decimal(row.highest_tile);
}

std::string format_timeline_json(const Timeline& timeline) {
  const std::size_t categories = timeline.categories.size();
  std::string out = range_and_categories(timeline) + ", \"rows\": [";
  for (std::size_t r = 0; r < timeline.rows.size(); ++r) {
    const auto& row = timeline.rows[r];
    out += r > 0 ? ", {\"label\": " : "{\"label\": ";
    out += json_quoted(timeline_row_label(timeline, row));
    out += ", \"profile\": " + decimal(row.chip) + ", \"tiles\": [";
    for (std::size_t t = 0; t < row.tiles.size(); ++t) {
      if (t > 0) out += ',';
      out += decimal(row.tiles[t]);
    }
    out += "], \"cycles\": {";
    for (std::size_t c = 0; c < categories; ++c) {
      out += (c > 0 ? ", " : "") + json_quoted(timeline.categories[c]) + ": [";
      for (std::size_t b = 0; b < timeline.bins; ++b) {
        if (b > 0) out += ',';
        out += decimal(row.cycles[b * categories + c]);
      }
      out += ']';
    }
    out += "}}";
  }
  out += "]}";
  return out;
}

std::string format_timeline_bytes(const Timeline& timeline) {
  const std::size_t row_count = timeline.rows.size();
  std::size_t tile_count = 0;
  std::uint64_t largest = 0;
  for (const auto& row : timeline.rows) {
    tile_count += row.tiles.size();
    if (!row.cycles.empty()) {
      largest = std::max(largest, *std::max_element(row.cycles.begin(), row.cycles.end()));
    }
  }
  // The narrowest integers that hold every figure: a close view's cells are small.
  const int cycle_bytes = largest > std::numeric_limits<std::uint32_t>::max()   ? 8
                          : largest > std::numeric_limits<std::uint16_t>::max() ? 4
                          : largest > std::numeric_limits<std::uint8_t>::max()  ? 2
                                                                                : 1;
  const Array arrays[] = {
      {"profile", 4, row_count},
      {"tile_ends", 4, row_count},
      {"tiles", 4, tile_count},
      {"cycles", cycle_bytes, row_count * timeline.bins * timeline.categories.size()}};

  // The header, then where each array starts: its offsets depend on the header's length, which
  // depends on the offsets' digits; the header is written again until it keeps its length.
  std::string header;
  for (std::size_t length = 0;;) {
    std::string text = range_and_categories(timeline) + ", \"labels\": [";
    for (std::size_t r = 0; r < row_count; ++r) {
      text += (r > 0 ? ", " : "") + json_quoted(timeline_row_label(timeline, timeline.rows[r]));
    }
    text += "], \"arrays\": [";
    std::size_t offset = 8 + length;
    for (std::size_t a = 0; a < std::size(arrays); ++a) {
      text += (a > 0 ? ", " : "");
      text += "{\"name\": \"" + std::string(arrays[a].name) + "\", \"type\": \"" + "u" +
              decimal(8 * static_cast<std::uint64_t>(arrays[a].bytes)) +
              "\", \"offset\": " + decimal(offset) + ", \"length\": " + decimal(arrays[a].length) +
              "}";
      offset += arrays[a].length * arrays[a].bytes;
      offset += (8 - offset % 8) % 8;
    }
    text += "]}";
    pad_to_eight(text, ' ');
    // The offsets hold when the text fits the length they were counted for: padded to it.
    if (length > 0 && text.size() <= length) {
      text.resize(length, ' ');
      header = std::move(text);
      break;
    }
    length = std::max(length, text.size());
  }

  std::string out = "ZTL1";
  append_little_endian(out, header.size(), 4);
  out += header;
  std::uint32_t tile_end = 0;
  for (const auto& row : timeline.rows) append_little_endian(out, row.chip, 4);
  pad_to_eight(out, '\0');
  for (const auto& row : timeline.rows) {
    tile_end += static_cast<std::uint32_t>(row.tiles.size());
    append_little_endian(out, tile_end, 4);
  }
  pad_to_eight(out, '\0');
  for (const auto& row : timeline.rows) {
    for (const auto tile : row.tiles) append_little_endian(out, tile, 4);
  }
  pad_to_eight(out, '\0');
  const std::size_t start = out.size();
  out.resize(start + arrays[3].length * cycle_bytes);
  char* at = out.data() + start;
  for (const auto& row : timeline.rows) {
    for (const std::uint64_t value : row.cycles) {
      for (int b = 0; b < cycle_bytes; ++b) *at++ = static_cast<char>((value >> (8 * b)) & 0xff);
    }
  }
  pad_to_eight(out, '\0');
  return out;
}

}  // namespace zel_report
