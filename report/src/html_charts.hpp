// The SVG charts of the HTML page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <zel_profile/timeline.hpp>

namespace zel_report::html {

// The colour of a timeline category: fixed per step kind, a fixed palette by place for groups,
// grey for the last category of the groups ("(other groups)").
std::string category_colour(const zel_profile::Timeline& timeline, std::size_t category);

// CSS classes c0, c1, ... for the timeline's categories and k0 .. k3 for the step kinds.
std::string chart_styles(const zel_profile::Timeline& timeline);

// Whether the timeline's categories are the step kinds, in their order.
bool by_kind(const zel_profile::Timeline& timeline);

// "tile 4", "tiles 0–7 (8)", with "chip N " before it when several chips are drawn.
std::string row_label(const zel_profile::Timeline& timeline, const zel_profile::TimelineRow& row);

// Where the timeline's plot is in its SVG: `left` and `width` in pixels, and each row's top and
// bottom in tenths of a pixel (the unit its cells are drawn in). No rows when there is nothing to
// draw.
struct TimelineLayout {
  struct Band {
    std::int64_t top = 0;
    std::int64_t bottom = 0;
  };
  double left = 0.0;
  double width = 0.0;
  double height = 0.0;  // in pixels
  std::vector<Band> rows;
};
TimelineLayout timeline_layout(const zel_profile::Timeline& timeline);

// The timeline as SVG: one band per timeline row, as tall as its tiles, each cell stacked by the
// share of the tiles' cycles that each category took (the rest blank), one path per category;
// with its legend, axes in cycles and, when the clock is known, time in the table's units, and
// the cells' exact figures for hovering (timeline_figures).
std::string timeline_svg(const zel_profile::Timeline& timeline, std::uint64_t clock_hz);

// The timeline's exact figures as a JSON data block (a <script type="application/json"
// id="timeline-figures">) and the small script that shows a cell's figures under the pointer;
// without script the chart is drawn and printed all the same. The block holds the plot's place,
// the bins, the categories and per row its label, tiles, band and cells: bins times categories
// cycles, bin by bin.
std::string timeline_figures(const zel_profile::Timeline& timeline, std::uint64_t clock_hz);

// The average number of working tiles per bin (stacked up from the axis by kind) and of waiting
// tiles (hanging from the line of all tiles), as SVG with its legend.
std::string utilisation_svg(const zel_profile::Timeline& timeline, std::uint64_t clock_hz);

}  // namespace zel_report::html
