#include "html_charts.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <string_view>
#include <vector>

#include "html_text.hpp"

namespace zel_report::html {
namespace {

using zel_profile::Timeline;
using zel_profile::TimelineRow;

constexpr std::size_t kind_count = 4;
// Exchange, compute, synchronization, idle.
constexpr std::array<std::string_view, kind_count> kind_colours = {"#4e79a7", "#59a14f", "#f28e2b",
                                                                   "#b8b0ac"};
constexpr std::array<std::string_view, kind_count> kind_names = {"exchange", "compute",
                                                                 "synchronization", "idle"};
constexpr std::array<std::string_view, 12> group_colours = {
    "#4e79a7", "#f28e2b", "#e15759", "#76b7b2", "#59a14f", "#edc948",
    "#b07aa1", "#ff9da7", "#9c755f", "#1f3a93", "#8cd17d", "#d37295"};
constexpr std::string_view other_colour = "#cfcfcf";

// Chart geometry, in pixels.
constexpr double label_width = 170.0;
constexpr double plot_width = 900.0;
constexpr double chart_width = label_width + plot_width + 40.0;

bool by_kind(const Timeline& timeline) {
  return timeline.categories.size() == kind_count &&
         std::equal(timeline.categories.begin(), timeline.categories.end(), kind_names.begin());
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

// A round step for about six ticks over `span`: 1, 2 or 5 times a power of ten.
std::uint64_t tick_step(std::uint64_t span) {
  const double raw = static_cast<double>(span) / 6.0;
  std::uint64_t power = 1;
  while (static_cast<double>(power) * 10.0 <= raw) power *= 10;
  for (const std::uint64_t factor : {1, 2, 5, 10}) {
    if (static_cast<double>(power * factor) >= raw) return power * factor;
  }
  return power * 10;
}

std::string ms_of(std::uint64_t cycles, std::uint64_t clock_hz) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g ms",
                static_cast<double>(cycles) / static_cast<double>(clock_hz) * 1000.0);
  return text;
}

// The time axis below a chart whose plot ends at `top`: ticks with cycles, and milliseconds below
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
             "\" text-anchor=\"middle\">" + ms_of(cycle, clock_hz) + "</text>";
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

std::string row_label(const TimelineRow& row) {
  if (row.tile_count == 1) return "tile " + decimal(row.lowest_tile);
  return "tiles " + decimal(row.lowest_tile) + "\u2013" + decimal(row.highest_tile) + " (" +
         decimal(row.tile_count) + ")";
}

// How busy the row's tiles were over bins first .. end - 1, as a share of their time.
double busy_share(const Timeline& timeline, const TimelineRow& row, std::size_t first,
                  std::size_t end) {
  const std::size_t categories = timeline.categories.size();
  std::uint64_t busy = 0;
  for (std::size_t b = first; b < end; ++b) {
    for (std::size_t c = 0; c < categories; ++c) busy += row.cycles[b * categories + c];
  }
  const double time = static_cast<double>(bin_end(timeline, end - 1) - bin_start(timeline, first)) *
                      static_cast<double>(row.tile_count);
  return time > 0.0 ? static_cast<double>(busy) / time : 0.0;
}

// The cell's colour: its largest category (the first of equals), and how strongly: 1 to 4 for a
// busy share up to a quarter, a half, three quarters, and more. 0 for an empty cell.
struct Shade {
  std::size_t category = 0;
  int level = 0;
  bool operator==(const Shade&) const = default;
};

Shade shade_of(const Timeline& timeline, const TimelineRow& row, std::size_t bin) {
  const std::size_t categories = timeline.categories.size();
  Shade shade;
  std::uint64_t largest = 0;
  for (std::size_t c = 0; c < categories; ++c) {
    if (row.cycles[bin * categories + c] > largest) {
      largest = row.cycles[bin * categories + c];
      shade.category = c;
    }
  }
  if (largest == 0) return shade;
  const double share = busy_share(timeline, row, bin, bin + 1);
  shade.level = std::clamp(static_cast<int>(std::ceil(share * 4.0)), 1, 4);
  return shade;
}

// The exact figures of a run of cells, for its hover title.
std::string cell_title(const Timeline& timeline, const TimelineRow& row, std::size_t first,
                       std::size_t end) {
  const std::size_t categories = timeline.categories.size();
  std::string title = escaped(row_label(row)) + ", cycles " + decimal(bin_start(timeline, first)) +
                      "\u2013" + decimal(bin_end(timeline, end - 1)) + ":";
  for (std::size_t c = 0; c < categories; ++c) {
    std::uint64_t cycles = 0;
    for (std::size_t b = first; b < end; ++b) cycles += row.cycles[b * categories + c];
    if (cycles != 0) {
      title += ' ';
      title += escaped(timeline.categories[c]);
      title += ' ';
      title += decimal(cycles);
      title += ';';
    }
  }
  return title + " busy " + fixed(100.0 * busy_share(timeline, row, first, end), 1) + "%";
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
  return css + ".o1{fill-opacity:.3}.o2{fill-opacity:.5}.o3{fill-opacity:.75}\n";
}

std::string timeline_svg(const Timeline& timeline, std::uint64_t clock_hz) {
  if (timeline.bins == 0 || timeline.rows.empty()) {
    return "<p id=\"timeline\">Nothing to show: no selected tile has a sample of any length.</p>" +
           legend(timeline.categories, "c", "legend");
  }
  const double row_height =
      std::clamp(640.0 / static_cast<double>(timeline.rows.size()), 6.0, 20.0);
  const double plot_height = row_height * static_cast<double>(timeline.rows.size());
  const double height = plot_height + 50.0;
  std::string svg =
      "<svg id=\"timeline\" class=\"chart\" width=\"" + coordinate(chart_width) + "\" height=\"" +
      coordinate(height) + "\" viewBox=\"0 0 " + coordinate(chart_width) + " " +
      coordinate(height) +
      "\" shape-rendering=\"crispEdges\" role=\"img\" aria-label=\"timeline of the tiles\">";
  const double font = std::min(12.0, row_height - 1.0);
  for (std::size_t r = 0; r < timeline.rows.size(); ++r) {
    const TimelineRow& row = timeline.rows[r];
    const std::string y = coordinate(row_height * static_cast<double>(r));
    const std::string h = coordinate(std::max(row_height - 1.0, 1.0));
    if ((timeline.rows.size() <= 40 || r % 4 == 0) && font >= 6.0) {
      svg += "<text class=\"row\" x=\"" + coordinate(label_width - 8) + "\" y=\"" +
             coordinate(row_height * static_cast<double>(r) + row_height / 2 + font / 3) +
             "\" text-anchor=\"end\" font-size=\"" + coordinate(font) + "\">" +
             escaped(row_label(row)) + "</text>";
    }
    // Neighbouring cells of the same colour and strength are drawn as one.
    for (std::size_t b = 0; b < timeline.bins;) {
      const Shade shade = shade_of(timeline, row, b);
      std::size_t end = b + 1;
      while (end < timeline.bins && shade_of(timeline, row, end) == shade) ++end;
      if (shade.level != 0) {
        const double x = x_of(timeline, bin_start(timeline, b));
        svg += "<rect x=\"" + coordinate(x) + "\" y=\"" + y + "\" width=\"" +
               coordinate(x_of(timeline, bin_end(timeline, end - 1)) - x) + "\" height=\"" + h +
               "\" class=\"c" + decimal(shade.category) +
               (shade.level < 4 ? " o" + decimal(static_cast<std::uint64_t>(shade.level)) : "") +
               "\"><title>" + cell_title(timeline, row, b, end) + "</title></rect>";
      }
      b = end;
    }
  }
  svg += time_axis(timeline, plot_height + 2, clock_hz) + "</svg>";
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
                    "\" shape-rendering=\"crispEdges\" role=\"img\" aria-label=\"busy tiles over "
                    "time by kind\"><g transform=\"translate(0,10)\">";
  const double per_tile = plot_height / static_cast<double>(tiles);
  for (const std::size_t at : {std::size_t{0}, tiles / 2, tiles}) {
    const std::string y = coordinate(plot_height - per_tile * static_cast<double>(at));
    svg += "<g class=\"axis\"><line x1=\"" + coordinate(label_width) + "\" y1=\"" + y + "\" x2=\"" +
           coordinate(label_width + plot_width) + "\" y2=\"" + y + "\" class=\"grid\"/><text x=\"" +
           coordinate(label_width - 8) + "\" y=\"" + y + "\" text-anchor=\"end\" dy=\"4\">" +
           decimal(at) + (at == tiles ? " tiles" : "") + "</text></g>";
  }
  for (std::size_t b = 0; b < timeline.bins; ++b) {
    const double width = static_cast<double>(bin_end(timeline, b) - bin_start(timeline, b));
    const double x = x_of(timeline, bin_start(timeline, b));
    // A little wider than the bin, so that neighbouring bars leave no hairline between them.
    const std::string w = coordinate(x_of(timeline, bin_end(timeline, b)) - x + 0.4);
    double stacked = 0.0;
    for (std::size_t k = 0; k < kind_count; ++k) {
      const std::uint64_t cycles = timeline.kind_cycles[b * kind_count + k];
      if (cycles == 0) continue;
      const double busy = static_cast<double>(cycles) / width;
      const double top = plot_height - per_tile * (stacked + busy);
      svg += "<rect x=\"" + coordinate(x) + "\" y=\"" + coordinate(top) + "\" width=\"" + w +
             "\" height=\"" + coordinate(per_tile * busy) + "\" class=\"k" + decimal(k) +
             "\"><title>cycles " + decimal(bin_start(timeline, b)) + "\u2013" +
             decimal(bin_end(timeline, b)) + ": " + std::string(kind_names[k]) + " " +
             decimal(cycles) + " cycles, " + two_decimals(busy) +
             " tiles busy on average</title></rect>";
      stacked += busy;
    }
  }
  svg += time_axis(timeline, plot_height + 2, clock_hz) + "</g></svg>";
  const std::vector<std::string> kinds(kind_names.begin(), kind_names.end());
  return svg + legend(kinds, "k", "utilisation-legend");
}

}  // namespace zel_report::html
