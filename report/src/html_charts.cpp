#include "html_charts.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <string_view>
#include <vector>

#include <zel_package/step_kinds.hpp>
#include <zel_report/html.hpp>

#include "html_text.hpp"
#include "time_text.hpp"

namespace zel_report::html {
namespace {

using zel_package::step_kind_names;
using zel_profile::Timeline;
using zel_profile::TimelineRow;

constexpr std::size_t kind_count = step_kind_names.size();
// Exchange, compute, synchronization, idle.
constexpr std::array<std::string_view, kind_count> kind_colours = {"#4e79a7", "#59a14f", "#f28e2b",
                                                                   "#b8b0ac"};
// Groups get colours of their own, none of them a kind's, so that a page coloured by group is
// never read as one coloured by kind.
constexpr std::array<std::string_view, 12> group_colours = {
    "#e15759", "#76b7b2", "#edc948", "#b07aa1", "#ff9da7", "#9c755f",
    "#1f3a93", "#17becf", "#bcbd22", "#d37295", "#7f3c8d", "#a0522d"};
constexpr std::string_view other_colour = "#dcdcdc";

// Chart geometry, in pixels.
constexpr double label_width = 170.0;
// One CSS pixel a bin of the timeline.
constexpr double plot_width = static_cast<double>(zel_report::html_timeline_bins);
constexpr double chart_width = label_width + plot_width + 40.0;

bool working_kind(std::size_t kind) {
  return zel_package::is_working(static_cast<zel_package::ProfileStepKind>(kind));
}

// The first and one-past-last cycle of bin `bin`.
std::uint64_t bin_start(const Timeline& timeline, std::size_t bin) {
  return static_cast<std::uint64_t>(bin) * timeline.bin_cycles;
}
std::uint64_t bin_end(const Timeline& timeline, std::size_t bin) {
  return std::min(timeline.span_cycles, bin_start(timeline, bin + 1));
}

double x_of(const Timeline& timeline, std::uint64_t cycle) {
  return label_width +
         plot_width * static_cast<double>(cycle) / static_cast<double>(timeline.span_cycles);
}

// A round step for about six ticks over `span`: 1, 2 or 5 times a power of ten, at least 1.
std::uint64_t tick_step(std::uint64_t span) {
  const double raw = static_cast<double>(span) / 6.0;
  std::uint64_t power = 1;
  while (static_cast<double>(power) * 10.0 <= raw) power *= 10;
  for (const std::uint64_t factor : {1, 2, 5, 10}) {
    if (static_cast<double>(power * factor) >= raw) return power * factor;
  }
  return power * 10;
}

// The time axis below a chart whose plot ends at `top`: ticks with cycles, and the time below
// them when the clock is known.
std::string time_axis(const Timeline& timeline, double top, std::uint64_t clock_hz) {
  std::string svg = "<g class=\"axis\"><line x1=\"" + coordinate(label_width) + "\" y1=\"" +
                    coordinate(top) + "\" x2=\"" + coordinate(label_width + plot_width) +
                    "\" y2=\"" + coordinate(top) + "\"/>";
  const std::uint64_t step = tick_step(timeline.span_cycles);
  for (std::uint64_t cycle = 0; cycle <= timeline.span_cycles; cycle += step) {
    const std::string x = coordinate(x_of(timeline, cycle));
    svg += "<line x1=\"" + x + "\" y1=\"" + coordinate(top) + "\" x2=\"" + x + "\" y2=\"" +
           coordinate(top + 5) + "\"/><text x=\"" + x + "\" y=\"" + coordinate(top + 17) +
           "\" text-anchor=\"middle\">" + decimal(cycle) + "</text>";
    if (clock_hz != 0) {
      svg += "<text class=\"ms\" x=\"" + x + "\" y=\"" + coordinate(top + 30) +
             "\" text-anchor=\"middle\">" + (cycle == 0 ? "0" : cycles_time(cycle, clock_hz)) +
             "</text>";
    }
    if (timeline.span_cycles - cycle < step) break;
  }
  svg += "<text x=\"" + coordinate(label_width - 36) + "\" y=\"" + coordinate(top + 17) +
         "\" text-anchor=\"end\">cycles</text>";
  if (clock_hz != 0) {
    svg += "<text class=\"ms\" x=\"" + coordinate(label_width - 36) + "\" y=\"" +
           coordinate(top + 30) + "\" text-anchor=\"end\">time</text>";
  }
  return svg + "</g>";
}

std::string legend(const std::vector<std::string>& names, std::string_view class_prefix,
                   std::string_view id) {
  std::string html = "<ul class=\"legend\" id=\"" + std::string(id) + "\">";
  for (std::size_t c = 0; c < names.size(); ++c) {
    const std::string name = escaped(names[c]);
    html += "<li title=\"" + name + "\"><svg width=\"12\" height=\"12\"><rect width=\"12\" " +
            "height=\"12\" class=\"" + std::string(class_prefix) + decimal(c) + "\"/></svg>" +
            escaped(shortened(names[c], 40)) + "</li>";
  }
  return html + "</ul>";
}

// The label of row `r` in its band: every row's while there is room, else every fourth.
std::string row_label_text(const Timeline& timeline, std::size_t r,
                           const TimelineLayout::Band& band) {
  const double font = std::min(12.0, static_cast<double>(band.bottom - band.top) / 10.0 - 1.0);
  if ((timeline.rows.size() > 40 && r % 4 != 0) || font < 6.0) return "";
  return "<text class=\"row\" x=\"" + coordinate(label_width - 8) + "\" y=\"" +
         coordinate(static_cast<double>(band.top + band.bottom) / 20.0 + font / 3) +
         "\" text-anchor=\"end\" font-size=\"" + coordinate(font) + "\">" +
         escaped(row_label(timeline, timeline.rows[r])) + "</text>";
}

// The cycles that fill each cell of `row` to its top: the tiles' time, or more where overlapping
// samples hold more cycles than that, so that such a cell is filled in proportion.
std::vector<double> cell_scales(const Timeline& timeline, const TimelineRow& row) {
  const std::size_t categories = timeline.categories.size();
  std::vector<double> scale(timeline.bins);
  for (std::size_t b = 0; b < timeline.bins; ++b) {
    const std::uint64_t capacity = (bin_end(timeline, b) - bin_start(timeline, b)) * row.tile_count;
    std::uint64_t total = 0;
    for (std::size_t c = 0; c < categories; ++c) total += row.cycles[b * categories + c];
    scale[b] = static_cast<double>(std::max(capacity, total));
  }
  return scale;
}

// The path steps of one category in a row: from the row's bottom up to `upper` in every bin where
// that lies above `lower` (the top of the categories below it), in bins across (the last one
// ending at `last_end`) and tenths of a pixel down.
std::string category_steps(const std::vector<std::int64_t>& lower,
                           const std::vector<std::int64_t>& upper, std::int64_t bottom,
                           double last_end) {
  const auto across = [&](std::size_t bin) { return std::min(static_cast<double>(bin), last_end); };
  const auto units = [](double value) { return shortest(std::round(value * 1000.0) / 1000.0); };
  std::string d;
  // Appended piece by piece: "M" + text + ... makes g++ 12 warn falsely of overlapping copies.
  const auto put = [&d](const auto&... pieces) { ((d += pieces), ...); };
  bool in_run = false;
  std::int64_t y = 0;
  double run_x = 0.0;  // where the pending horizontal step starts
  for (std::size_t b = 0; b < upper.size(); ++b) {
    const bool shown = upper[b] < lower[b];
    if (shown && !in_run) {
      put("M", decimal(b), " ", std::to_string(bottom), "V", std::to_string(upper[b]));
      in_run = true;
      y = upper[b];
      run_x = static_cast<double>(b);
    } else if (shown && upper[b] != y) {
      put("h", units(across(b) - run_x), "V", std::to_string(upper[b]));
      y = upper[b];
      run_x = static_cast<double>(b);
    } else if (!shown && in_run) {
      put("h", units(across(b) - run_x), "V", std::to_string(bottom), "z");
      in_run = false;
    }
  }
  if (in_run) put("h", units(last_end - run_x), "V", std::to_string(bottom), "z");
  return d;
}

}  // namespace

std::string category_colour(const Timeline& timeline, std::size_t category) {
  if (by_kind(timeline)) return std::string(kind_colours[category]);
  if (category + 1 == timeline.categories.size()) return std::string(other_colour);
  return std::string(group_colours[category % group_colours.size()]);
}

std::string chart_styles(const Timeline& timeline) {
  std::string css;
  for (std::size_t c = 0; c < timeline.categories.size(); ++c) {
    css += ".c" + decimal(c) + "{fill:" + category_colour(timeline, c) + "}";
  }
  for (std::size_t k = 0; k < kind_count; ++k) {
    css += ".k" + decimal(k) + "{fill:" + std::string(kind_colours[k]) + "}";
  }
  return css + "rect.mark{fill:#000;fill-opacity:.15;pointer-events:none}\n";
}

std::string row_label(const Timeline& timeline, const TimelineRow& row) {
  const std::string chip = timeline.chip_count > 1 ? "chip " + decimal(row.chip) + " " : "";
  if (row.tile_count == 1) return chip + "tile " + decimal(row.lowest_tile);
  return chip + "tiles " + decimal(row.lowest_tile) + "\u2013" + decimal(row.highest_tile) + " (" +
         decimal(row.tile_count) + ")";
}

bool by_kind(const Timeline& timeline) {
  return timeline.categories.size() == kind_count &&
         std::equal(timeline.categories.begin(), timeline.categories.end(),
                    step_kind_names.begin());
}

TimelineLayout timeline_layout(const Timeline& timeline) {
  std::size_t tiles = 0;
  for (const auto& row : timeline.rows) tiles += row.tile_count;
  TimelineLayout layout{.left = label_width, .width = plot_width};
  if (timeline.bins == 0 || tiles == 0) return layout;
  // Every tile gets the same height, so a row of several tiles is as tall as they are together
  // and the area of each category is in proportion to its cycles.
  const double row_height =
      std::clamp(640.0 / static_cast<double>(timeline.rows.size()), 6.0, 20.0);
  layout.height = row_height * static_cast<double>(timeline.rows.size());
  const double tile_height = layout.height / static_cast<double>(tiles);
  std::size_t tiles_above = 0;
  for (const auto& row : timeline.rows) {
    // In tenths of a pixel, the unit of the drawn cells.
    const auto tenths = [&] {
      return std::llround(10.0 * tile_height * static_cast<double>(tiles_above));
    };
    const std::int64_t top = tenths();
    tiles_above += row.tile_count;
    layout.rows.push_back({top, tenths()});
  }
  return layout;
}

std::string timeline_svg(const Timeline& timeline, std::uint64_t clock_hz) {
  const TimelineLayout layout = timeline_layout(timeline);
  if (layout.rows.empty()) {
    return "<p id=\"timeline\">Nothing to show: no selected tile has a sample of any length.</p>" +
           legend(timeline.categories, "c", "legend");
  }
  const double height = layout.height + 50.0;
  const std::size_t categories = timeline.categories.size();
  // The cells are drawn in units of a bin across and a tenth of a pixel down, so that every
  // coordinate but the end of a short last bin is a whole number.
  const double last_end =
      static_cast<double>(timeline.span_cycles) / static_cast<double>(timeline.bin_cycles);
  std::vector<std::string> paths(categories);
  std::string labels;
  std::vector<std::int64_t> lower(timeline.bins);
  std::vector<std::int64_t> upper(timeline.bins);
  for (std::size_t r = 0; r < timeline.rows.size(); ++r) {
    const TimelineRow& row = timeline.rows[r];
    const std::int64_t top = layout.rows[r].top;
    const std::int64_t bottom = layout.rows[r].bottom;
    labels += row_label_text(timeline, r, layout.rows[r]);
    if (row.tile_count == 0) continue;
    // Each cell is stacked from the bottom in category order (for kinds: working, then
    // waiting); tiles' time with no matched sample stays empty. Each category is drawn from the
    // row's bottom up to its top in every cell it shows in, and the categories below it are drawn
    // over it afterwards, so that each cell costs one step a category.
    const std::vector<double> scale = cell_scales(timeline, row);
    std::vector<std::uint64_t> stacked(timeline.bins, 0);
    std::fill(lower.begin(), lower.end(), bottom);
    for (std::size_t c = 0; c < categories; ++c) {
      for (std::size_t b = 0; b < timeline.bins; ++b) {
        stacked[b] += row.cycles[b * categories + c];
        upper[b] = scale[b] == 0.0
                       ? bottom
                       : bottom - std::llround(static_cast<double>(bottom - top) *
                                               static_cast<double>(stacked[b]) / scale[b]);
      }
      paths[c] += category_steps(lower, upper, bottom, last_end);
      std::swap(lower, upper);
    }
  }
  std::string svg =
      "<svg id=\"timeline\" class=\"chart\" width=\"" + coordinate(chart_width) + "\" height=\"" +
      coordinate(height) + "\" viewBox=\"0 0 " + coordinate(chart_width) + " " +
      coordinate(height) +
      "\" shape-rendering=\"crispEdges\" role=\"img\" aria-label=\"timeline of the tiles\">" +
      labels + "<g transform=\"translate(" + coordinate(label_width) + " 0) scale(" +
      shortest(plot_width / last_end) + " 0.1)\">";
  // The last category first, so that each category below it is drawn over it.
  for (std::size_t c = categories; c-- > 0;) {
    if (!paths[c].empty()) svg += "<path class=\"c" + decimal(c) + "\" d=\"" + paths[c] + "\"/>";
  }
  svg += "</g>" + time_axis(timeline, layout.height + 2, clock_hz) + "</svg>";
  return svg + legend(timeline.categories, "c", "legend") + timeline_figures(timeline, clock_hz);
}

std::string utilisation_svg(const Timeline& timeline, std::uint64_t clock_hz) {
  std::size_t tiles = 0;
  for (const auto& row : timeline.rows) tiles += row.tile_count;
  if (timeline.bins == 0 || tiles == 0) {
    return "<p id=\"utilisation\">Nothing to show: no selected tile has a sample of any "
           "length.</p>";
  }
  constexpr double plot_height = 220.0;
  const double height = plot_height + 60.0;
  std::string svg = "<svg id=\"utilisation\" class=\"chart\" width=\"" + coordinate(chart_width) +
                    "\" height=\"" + coordinate(height) + "\" viewBox=\"0 0 " +
                    coordinate(chart_width) + " " + coordinate(height) +
                    "\" shape-rendering=\"crispEdges\" role=\"img\" aria-label=\"working and "
                    "waiting tiles over time by kind\"><g transform=\"translate(0,10)\">";
  const double per_tile = plot_height / static_cast<double>(tiles);
  const auto gridline = [&](std::size_t at, const std::string& label) {
    const std::string y = coordinate(plot_height - per_tile * static_cast<double>(at));
    svg += "<g class=\"axis\"><line x1=\"" + coordinate(label_width) + "\" y1=\"" + y + "\" x2=\"" +
           coordinate(label_width + plot_width) + "\" y2=\"" + y + "\" class=\"grid\"/><text x=\"" +
           coordinate(label_width - 8) + "\" y=\"" + y + "\" text-anchor=\"end\" dy=\"4\">" +
           label + "</text></g>";
  };
  // Every multiple of a round step, and the number of tiles at the top unless a tick is too close
  // below it to leave room for both labels.
  const std::uint64_t step = tick_step(tiles);
  for (std::uint64_t at = 0; at < tiles; at += step) {
    if (at != 0 && per_tile * static_cast<double>(tiles - at) < 14.0) break;
    gridline(at, decimal(at));
  }
  gridline(tiles, decimal(tiles) + " tiles");
  for (std::size_t b = 0; b < timeline.bins; ++b) {
    const double width = static_cast<double>(bin_end(timeline, b) - bin_start(timeline, b));
    const double x = x_of(timeline, bin_start(timeline, b));
    // A little wider than the bin, so that neighbouring bars leave no hairline between them.
    const std::string w = coordinate(x_of(timeline, bin_end(timeline, b)) - x + 0.4);
    // Working kinds stand on the axis, waiting kinds hang from the line of all tiles; the gap
    // between them is the tiles that ran no matched sample.
    double from_bottom = 0.0;
    double from_top = 0.0;
    for (std::size_t k = 0; k < kind_count; ++k) {
      const std::uint64_t cycles = timeline.kind_cycles[b * kind_count + k];
      if (cycles == 0) continue;
      const double average = static_cast<double>(cycles) / width;
      const bool working = working_kind(k);
      const double top =
          working ? plot_height - per_tile * (from_bottom + average) : per_tile * from_top;
      (working ? from_bottom : from_top) += average;
      svg += "<rect x=\"" + coordinate(x) + "\" y=\"" + coordinate(top) + "\" width=\"" + w +
             "\" height=\"" + coordinate(per_tile * average) + "\" class=\"k" + decimal(k) +
             "\"><title>cycles " + decimal(bin_start(timeline, b)) + "\u2013" +
             decimal(bin_end(timeline, b)) + ": " + std::string(step_kind_names[k]) + " " +
             decimal(cycles) + " cycles, " + two_decimals(average) + " tiles " +
             (working ? "working" : "waiting") + " on average</title></rect>";
    }
  }
  svg += time_axis(timeline, plot_height + 2, clock_hz) + "</g></svg>";
  const std::vector<std::string> kinds(step_kind_names.begin(), step_kind_names.end());
  return svg + legend(kinds, "k", "utilisation-legend");
}

}  // namespace zel_report::html
