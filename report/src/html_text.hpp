// Text for the HTML page: profile-supplied names made safe, and numbers as the page shows them.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "control_escapes.hpp"
#include "number_text.hpp"

namespace zel_report::html {

// `text` with each character found in `from` replaced by the text at its place in `to`.
inline std::string replaced(std::string_view text, std::string_view from,
                            std::span<const std::string_view> to) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const std::size_t at = from.find(c);
    out += at == std::string_view::npos ? std::string_view(&c, 1) : to[at];
  }
  return out;
}

// Text safe inside an element or a quoted attribute: control characters shown as \n, \t, \r or
// \xNN (as in the table), and the characters that could start markup or end an attribute as
// character references.
inline std::string escaped(std::string_view text) {
  constexpr std::string_view references[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&#39;"};
  return replaced(escape_controls(text, Backslash::AsItIs), "&<>\"'", references);
}

// At most `characters` UTF-8 characters of `text`, with "…" when cut; never splits a character.
inline std::string shortened(std::string_view text, std::size_t characters) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80 && seen++ == characters) {
      return std::string(text.substr(0, i)) + "\u2026";
    }
  }
  return std::string(text);
}

// A coordinate in the SVG, to a tenth of a pixel.
inline std::string coordinate(double value) { return fixed(value, 1); }

// A float figure for reading, to two decimals.
inline std::string two_decimals(double value) {
  return std::isfinite(value) ? fixed(value, 2) : "-";
}

// A ratio near 1 for reading, to three decimals, so that 1.305 and 1.315 read apart.
inline std::string three_decimals(double value) {
  return std::isfinite(value) ? fixed(value, 3) : "-";
}

}  // namespace zel_report::html
