// The HTML page read back: the timeline's drawn area per category against its cycles, the hover
// figures' exact cycles, the colours and the order of the balance table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <zel_report/html.hpp>

#include "fixture.hpp"

namespace zel_report {
namespace {

using zel_profile::Timeline;
using zel_profile::TimelineRow;

// The text between the first `open` at or after `from` and the next `close`.
std::string between(const std::string& text, const std::string& open, const std::string& close,
                    std::size_t from = 0) {
  const std::size_t start = text.find(open, from);
  if (start == std::string::npos) return {};
  const std::size_t end = text.find(close, start + open.size());
  return text.substr(start + open.size(), end - start - open.size());
}

// The area of each category that shows in the timeline, in its drawn units. Every category's path
// is a set of columns standing on their row's bottom ("Mx bottomVy hw Vy hw ... Vbottomz"), and a
// path drawn later covers an earlier one, so a column shows only above the later ones in it.
std::map<std::size_t, double> drawn_areas(const std::string& svg) {
  struct Column {
    double x0, x1, height;
    std::size_t category;
  };
  std::map<std::pair<double, double>, std::vector<Column>> columns;  // by (bottom, whole bin)
  for (std::size_t at = svg.find("<path class=\"c"); at != std::string::npos;
       at = svg.find("<path class=\"c", at + 1)) {
    const std::size_t category = std::strtoul(svg.c_str() + at + 14, nullptr, 10);
    const std::string d = between(svg, "d=\"", "\"", at);
    double x = 0.0, y = 0.0, bottom = 0.0;
    for (const char* p = d.c_str(); *p != '\0';) {
      char* next = nullptr;
      switch (*p) {
        case 'M':
          x = std::strtod(p + 1, &next);
          bottom = y = std::strtod(next, &next);
          break;
        case 'V':
          y = std::strtod(p + 1, &next);
          break;
        case 'h': {
          const double end = x + std::strtod(p + 1, &next);
          // Split into bins, so that columns of different paths line up.
          for (double bin = std::floor(x); bin < end; ++bin) {
            const double x0 = std::max(x, bin), x1 = std::min(end, bin + 1.0);
            columns[{bottom, bin}].push_back({x0, x1, bottom - y, category});
          }
          x = end;
          break;
        }
        case 'z':
          next = const_cast<char*>(p + 1);
          break;
        default:
          ADD_FAILURE() << "unexpected path command " << *p;
          return {};
      }
      p = next;
    }
  }
  std::map<std::size_t, double> areas;
  for (const auto& [where, stack] : columns) {
    double covered = 0.0;  // by the paths drawn later
    for (auto column = stack.rbegin(); column != stack.rend(); ++column) {
      areas[column->category] +=
          (column->x1 - column->x0) * std::max(0.0, column->height - covered);
      covered = std::max(covered, column->height);
    }
  }
  return areas;
}

// A random grid: rows of one to three tiles whose cells hold at most their tiles' time, often
// much less, in phases shorter than a bin.
Timeline random_timeline(std::mt19937_64& random, std::vector<std::string> categories) {
  Timeline timeline{.categories = std::move(categories)};
  const std::size_t bins = 1 + random() % 200;
  timeline.bin_cycles = 1 + random() % 5000;
  timeline.span_cycles = timeline.bin_cycles * bins - random() % timeline.bin_cycles;
  timeline.bins = bins;
  const std::size_t rows = 1 + random() % 64;
  const std::size_t n = timeline.categories.size();
  std::uint32_t tile = 0;
  for (std::size_t r = 0; r < rows; ++r) {
    TimelineRow row{.tile_count = 1 + random() % 3, .lowest_tile = tile};
    tile += static_cast<std::uint32_t>(row.tile_count);
    row.highest_tile = tile - 1;
    row.cycles.assign(bins * n, 0);
    for (std::size_t b = 0; b < bins; ++b) {
      const std::uint64_t width =
          std::min(timeline.span_cycles, (b + 1) * timeline.bin_cycles) - b * timeline.bin_cycles;
      std::uint64_t left = width * row.tile_count;
      // Some cells copy their neighbour, so that runs of equal cells are drawn as one.
      if (b != 0 && random() % 4 == 0 && b + 1 < bins) {
        std::copy_n(row.cycles.begin() + static_cast<std::ptrdiff_t>((b - 1) * n), n,
                    row.cycles.begin() + static_cast<std::ptrdiff_t>(b * n));
        continue;
      }
      for (std::size_t c = 0; c < n && left != 0; ++c) {
        const std::uint64_t cycles = random() % 3 == 0 ? 0 : random() % (left + 1);
        row.cycles[b * n + c] = cycles;
        left -= cycles;
      }
    }
    timeline.rows.push_back(std::move(row));
  }
  timeline.kind_cycles.assign(bins * 4, 0);
  return timeline;
}

TEST(HtmlPage, EachCategoryIsDrawnInProportionToItsCyclesWithExactHoverFigures) {
  const std::vector<std::vector<std::string>> category_sets = {
      {"exchange", "compute", "synchronization", "idle"},
      {"gemm", "</script><b>relu", "softmax", "(other groups)"},
      {"only"}};
  std::mt19937_64 random(20);
  for (int round = 0; round < 30; ++round) {
    const auto& names = category_sets[static_cast<std::size_t>(round) % category_sets.size()];
    HtmlPage page{.profile_name = "random", .report = testing::small_report()};
    page.timeline = random_timeline(random, names);
    const std::string html = format_html(page);
    const std::string svg = between(html, "<svg id=\"timeline\"", "</svg>");
    EXPECT_EQ(html.find("<b>"), std::string::npos) << "a name added markup";
    // The hover figures: every row's cells, exactly, from the page's data block.
    const auto figures = nlohmann::json::parse(
        between(html, "<script type=\"application/json\" id=\"timeline-figures\">", "</script>"));
    EXPECT_EQ(figures["categories"].get<std::vector<std::string>>(), names);
    EXPECT_EQ(figures["working"].size(), round % 3 == 0 ? 2U : 0U);
    EXPECT_EQ(figures["span"].get<std::uint64_t>(), page.timeline.span_cycles);
    EXPECT_EQ(figures["bin_cycles"].get<std::uint64_t>(), page.timeline.bin_cycles);
    ASSERT_EQ(figures["rows"].size(), page.timeline.rows.size());
    for (std::size_t r = 0; r < page.timeline.rows.size(); ++r) {
      const auto& row = figures["rows"][r];
      EXPECT_EQ(row["cells"].get<std::vector<std::uint64_t>>(), page.timeline.rows[r].cycles)
          << "round " << round << ", row " << r;
      EXPECT_EQ(row["tiles"].get<std::size_t>(), page.timeline.rows[r].tile_count);
    }
    std::vector<std::uint64_t> cycles(names.size(), 0);
    for (const auto& row : page.timeline.rows) {
      for (std::size_t i = 0; i < row.cycles.size(); ++i) cycles[i % names.size()] += row.cycles[i];
    }
    std::uint64_t all_cycles = 0;
    for (const auto c : cycles) all_cycles += c;
    if (all_cycles == 0) continue;
    const auto areas = drawn_areas(svg);
    double all_area = 0.0;
    for (const auto& [category, area] : areas) all_area += area;
    for (std::size_t c = 0; c < names.size(); ++c) {
      const double cycle_share = static_cast<double>(cycles[c]) / static_cast<double>(all_cycles);
      const double area_share = areas.contains(c) ? areas.at(c) / all_area : 0.0;
      EXPECT_NEAR(area_share, cycle_share, 0.01) << "round " << round << ", " << names[c];
    }
    // The drawn area against the tiles' time is the share of time with a matched sample. The
    // cells are drawn a bin across and a tenth of a pixel down.
    std::uint64_t tiles = 0;
    for (const auto& row : page.timeline.rows) tiles += row.tile_count;
    const double plot_height =
        std::clamp(640.0 / static_cast<double>(page.timeline.rows.size()), 6.0, 20.0) *
        static_cast<double>(page.timeline.rows.size());
    const double plot_bins = static_cast<double>(page.timeline.span_cycles) /
                             static_cast<double>(page.timeline.bin_cycles);
    EXPECT_NEAR(
        all_area / (plot_bins * 10.0 * plot_height),
        static_cast<double>(all_cycles) / static_cast<double>(page.timeline.span_cycles * tiles),
        0.01)
        << "round " << round;
  }
}

TEST(HtmlPage, GroupColoursAreNoKindColoursAndTimesUseTheTableUnits) {
  HtmlPage by_kind{.profile_name = "p", .report = testing::small_report()};
  by_kind.timeline.categories = {"exchange", "compute", "synchronization", "idle"};
  HtmlPage by_group = by_kind;
  by_group.timeline.categories = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m"};
  const auto fills = [](const std::string& html, char prefix, std::size_t count) {
    std::vector<std::string> colours;
    for (std::size_t c = 0; c < count; ++c) {
      colours.push_back(
          between(html, std::string(".") + prefix + std::to_string(c) + "{fill:", "}"));
    }
    return colours;
  };
  const auto kinds = fills(format_html(by_kind), 'c', 4);
  const std::string group_page = format_html(by_group);
  EXPECT_EQ(fills(group_page, 'k', 4), kinds);
  for (const auto& colour : fills(group_page, 'c', 12)) {
    EXPECT_FALSE(colour.empty());
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), colour), 0) << colour;
  }
  // 40 cycles at 1.33 GHz, as the table writes it.
  EXPECT_NE(group_page.find("<td>30.08 ns</td>"), std::string::npos);
  EXPECT_NE(group_page.find("span 60 cycles (45.11 ns at 1330000000 Hz)"), std::string::npos);
}

TEST(HtmlPage, LoadBalanceShowsTheWorstFiftyAndCollapsesTheRest) {
  HtmlPage page{.profile_name = "p", .report = testing::small_report()};
  std::mt19937_64 random(7);
  for (std::uint32_t phase = 0; phase < 238; ++phase) {
    const std::uint64_t mean = 100 + random() % 100;
    const std::uint64_t maximum = mean + random() % 100;
    page.balance.push_back({.phase = phase,
                            .epoch = 0,
                            .phase_cycles = 1000 + random() % 1000,
                            .tile_count = 4,
                            .maximum_busy_cycles = maximum,
                            .mean_busy_cycles = static_cast<double>(mean),
                            .imbalance = static_cast<double>(maximum) / static_cast<double>(mean),
                            .lost_cycles = static_cast<double>(maximum - mean)});
  }
  const std::string html = format_html(page);
  // Ranked by the cycles lost to imbalance, as the titles give them.
  const auto losses = [](const std::string& table) {
    std::vector<double> values;
    for (std::size_t at = table.find("<tr title="); at != std::string::npos;
         at = table.find("<tr title=", at + 1)) {
      values.push_back(std::strtod(table.c_str() + table.find(", lost ", at) + 7, nullptr));
    }
    return values;
  };
  const auto shown = losses(between(html, "<table id=\"balance\"", "</table>"));
  const auto rest = losses(between(html, "<details id=\"balance-rest\">", "</details>"));
  ASSERT_EQ(shown.size(), html_balance_shown);
  ASSERT_EQ(rest.size(), page.balance.size() - html_balance_shown);
  std::vector<double> all = shown;
  all.insert(all.end(), rest.begin(), rest.end());
  EXPECT_TRUE(std::is_sorted(all.rbegin(), all.rend()));
  EXPECT_EQ(
      all.front(),
      std::max_element(page.balance.begin(), page.balance.end(), [](const auto& a, const auto& b) {
        return a.lost_cycles < b.lost_cycles;
      })->lost_cycles);
  // Max/mean to three decimals, so that 1.305 and 1.315 read apart.
  char ratio[32];
  std::snprintf(ratio, sizeof ratio, "<td>%.3f</td>", page.balance.front().imbalance);
  EXPECT_NE(html.find(ratio), std::string::npos);
  EXPECT_NE(html.find("<summary>The other 188 phases</summary>"), std::string::npos);
}

}  // namespace
}  // namespace zel_report
