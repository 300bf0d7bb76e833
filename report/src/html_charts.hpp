// The SVG charts of the HTML page.
#pragma once

#include <cstdint>
#include <string>

#include <zel_profile/timeline.hpp>

namespace zel_report::html {

// The colour of a timeline category: fixed per step kind, a fixed palette by place for groups,
// grey for the last category of the groups ("(other groups)").
std::string category_colour(const zel_profile::Timeline& timeline, std::size_t category);

// CSS classes c0, c1, ... for the timeline's categories and k0 .. k3 for the step kinds.
std::string chart_styles(const zel_profile::Timeline& timeline);

// The timeline as SVG: one band per timeline row, as tall as its tiles, each cell stacked by the
// share of the tiles' cycles that each category took (the rest blank), one path per category;
// over each cell a transparent rectangle whose title gives its exact cycles. With its legend and
// axes in cycles and, when the clock is known, time in the table's units.
std::string timeline_svg(const zel_profile::Timeline& timeline, std::uint64_t clock_hz);

// The average number of working tiles per bin (stacked up from the axis by kind) and of waiting
// tiles (hanging from the line of all tiles), as SVG with its legend.
std::string utilisation_svg(const zel_profile::Timeline& timeline, std::uint64_t clock_hz);

}  // namespace zel_report::html
