#include "html_charts.hpp"

#include <algorithm>
#include <array>
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

bool by_kind(const Timeline& timeline) {
  return timeline.categories.size() == kind_count &&
         std::equal(timeline.categories.begin(), timeline.categories.end(),
                    step_kind_names.begin());
}

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

// "tile 4", "tiles 0–7 (8)", with "chip N " before it when several chips are drawn.
std::string row_label(const Timeline& timeline, const TimelineRow& row) {
  const std::string chip = timeline.chip_count > 1 ? "chip " + decimal(row.chip) + " " : "";
  if (row.tile_count == 1) return chip + "tile " + decimal(row.lowest_tile);
  return chip + "tiles " + decimal(row.lowest_tile) + "\u2013" + decimal(row.highest_tile) + " (" +
         decimal(row.tile_count) + ")";
}

std::string percent(std::uint64_t part, std::uint64_t whole) {
  return whole == 0
             ? std::string("-")
             : fixed(100.0 * static_cast<double>(part) / static_cast<double>(whole), 1) + "%";
}

// The exact figures of a run of equal cells, for its hover title: the cycles of each category
// and their shares of the tiles' time, and the shares of working and waiting when the categories
// are the kinds.
std::string cell_title(const Timeline& timeline, const TimelineRow& row, std::size_t first,
                       std::size_t end, std::uint64_t clock_hz) {
  const std::size_t categories = timeline.categories.size();
  const std::uint64_t start = bin_start(timeline, first);
  const std::uint64_t stop = bin_end(timeline, end - 1);
  const std::uint64_t capacity = (stop - start) * row.tile_count;
  std::string title =
      escaped(row_label(timeline, row)) + ", cycles " + decimal(start) + "\u2013" + decimal(stop);
  if (clock_hz != 0) title += " (" + cycles_time(stop - start, clock_hz) + ")";

  std::uint64_t matched = 0;
  std::uint64_t working = 0;
  for (std::size_t c = 0; c < categories; ++c) {
    std::uint64_t cycles = 0;
    for (std::size_t b = first; b < end; ++b) cycles += row.cycles[b * categories + c];
    matched += cycles;
    if (by_kind(timeline) && working_kind(c)) working += cycles;
    if (cycles != 0) {
      title += "\n" + escaped(timeline.categories[c]) + " " + decimal(cycles) + " (" +
               percent(cycles, capacity) + ")";
    }
  }
  if (by_kind(timeline)) {
    title += "\nworking " + percent(working, capacity) + ", waiting " +
             percent(matched - working, capacity);
  }
  if (matched < capacity) title += "\nno matched sample " + percent(capacity - matched, capacity);
  return title;
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

// A rectangle as a piece of a path, from corner (x0, y0) to corner (x1, y1).
std::string rectangle(const std::string& x0, const std::string& y0, const std::string& x1,
                      const std::string& y1) {
  return "M" + x0 + " " + y0 + "H" + x1 + "V" + y1 + "H" + x0 + "z";
}

bool same_cells(const Timeline& timeline, const TimelineRow& row, std::size_t a, std::size_t b) {
  const std::size_t categories = timeline.categories.size();
  return bin_end(timeline, a) - bin_start(timeline, a) ==
             bin_end(timeline, b) - bin_start(timeline, b) &&
         std::equal(row.cycles.begin() + static_cast<std::ptrdiff_t>(a * categories),
                    row.cycles.begin() + static_cast<std::ptrdiff_t>((a + 1) * categories),
                    row.cycles.begin() + static_cast<std::ptrdiff_t>(b * categories));
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
  return css + "rect.hit{fill:#000;fill-opacity:0}rect.hit:hover{fill-opacity:.15}\n";
}

std::string timeline_svg(const Timeline& timeline, std::uint64_t clock_hz) {
  std::size_t tiles = 0;
  for (const auto& row : timeline.rows) tiles += row.tile_count;
  if (timeline.bins == 0 || tiles == 0) {
    return "<p id=\"timeline\">Nothing to show: no selected tile has a sample of any length.</p>" +
           legend(timeline.categories, "c", "legend");
  }
  // Every tile gets the same height, so a row of several tiles is as tall as they are together
  // and the area of each category is in proportion to its cycles.
  const double row_height =
      std::clamp(640.0 / static_cast<double>(timeline.rows.size()), 6.0, 20.0);
  const double plot_height = row_height * static_cast<double>(timeline.rows.size());
  const double tile_height = plot_height / static_cast<double>(tiles);
  const double height = plot_height + 50.0;
  const std::size_t categories = timeline.categories.size();
  std::vector<std::string> paths(categories);
  std::string labels;
  std::string hits;
  std::size_t tiles_above = 0;
  for (std::size_t r = 0; r < timeline.rows.size(); ++r) {
    const TimelineRow& row = timeline.rows[r];
    const double top = tile_height * static_cast<double>(tiles_above);
    tiles_above += row.tile_count;
    const double bottom = tile_height * static_cast<double>(tiles_above);
    // Every row's label while there is room, else every fourth.
    const double font = std::min(12.0, bottom - top - 1.0);
    if ((timeline.rows.size() <= 40 || r % 4 == 0) && font >= 6.0) {
      labels += "<text class=\"row\" x=\"" + coordinate(label_width - 8) + "\" y=\"" +
                coordinate((top + bottom) / 2 + font / 3) + "\" text-anchor=\"end\" font-size=\"" +
                coordinate(font) + "\">" + escaped(row_label(timeline, row)) + "</text>";
    }
    if (row.tile_count == 0) continue;
    // Neighbouring cells with the same cycles are drawn as one.
    for (std::size_t b = 0; b < timeline.bins;) {
      std::size_t end = b + 1;
      while (end < timeline.bins && same_cells(timeline, row, b, end)) ++end;
      const std::uint64_t capacity =
          (bin_end(timeline, b) - bin_start(timeline, b)) * row.tile_count;
      std::uint64_t total = 0;
      for (std::size_t c = 0; c < categories; ++c) total += row.cycles[b * categories + c];
      if (total != 0) {
        const std::string x0 = coordinate(x_of(timeline, bin_start(timeline, b)));
        const std::string x1 = coordinate(x_of(timeline, bin_end(timeline, end - 1)));
        // Stacked from the bottom in category order (for kinds: working, then waiting); tiles'
        // time with no matched sample stays empty. Overlapping samples can hold more cycles than
        // the tiles' time: such a cell is filled in proportion.
        const double scale = static_cast<double>(std::max(capacity, total));
        std::uint64_t stacked = 0;
        std::string lower = coordinate(bottom);
        for (std::size_t c = 0; c < categories; ++c) {
          const std::uint64_t cycles = row.cycles[b * categories + c];
          if (cycles == 0) continue;
          stacked += cycles;
          std::string upper =
              coordinate(bottom - (bottom - top) * static_cast<double>(stacked) / scale);
          if (upper != lower) paths[c] += rectangle(x0, upper, x1, lower);
          lower = std::move(upper);
        }
        hits += "<rect class=\"hit\" x=\"" + x0 + "\" y=\"" + coordinate(top) + "\" width=\"" +
                coordinate(x_of(timeline, bin_end(timeline, end - 1)) -
                           x_of(timeline, bin_start(timeline, b))) +
                "\" height=\"" + coordinate(bottom - top) + "\"><title>" +
                cell_title(timeline, row, b, end, clock_hz) + "</title></rect>";
      }
      b = end;
    }
  }
  std::string svg =
      "<svg id=\"timeline\" class=\"chart\" width=\"" + coordinate(chart_width) + "\" height=\"" +
      coordinate(height) + "\" viewBox=\"0 0 " + coordinate(chart_width) + " " +
      coordinate(height) +
      "\" shape-rendering=\"crispEdges\" role=\"img\" aria-label=\"timeline of the tiles\">" +
      labels;
  for (std::size_t c = 0; c < categories; ++c) {
    if (!paths[c].empty()) svg += "<path class=\"c" + decimal(c) + "\" d=\"" + paths[c] + "\"/>";
  }
  svg += hits + time_axis(timeline, plot_height + 2, clock_hz) + "</svg>";
  return svg + legend(timeline.categories, "c", "legend");
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
