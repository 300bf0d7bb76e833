// The HTML page: header, groups, timeline, utilisation and load balance, in that order.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include <zel_package/step_kinds.hpp>
#include <zel_report/html.hpp>

#include "html_charts.hpp"
#include "html_text.hpp"
#include "time_text.hpp"

namespace zel_report {
namespace {

using html::escaped;
using zel_profile::GroupSummary;
using zel_profile::PhaseBalance;
using zel_profile::QueryReport;

constexpr const char* page_style = R"css(
body{font-family:system-ui,-apple-system,"Segoe UI",Roboto,Helvetica,Arial,sans-serif;margin:24px;color:#222;max-width:1160px}
h1{font-size:1.4em;margin:0 0 4px}h2{font-size:1.15em;margin:28px 0 6px;border-bottom:1px solid #ddd}
p.summary{margin:0 0 8px;color:#444}.note{color:#666;font-size:.9em}
table{border-collapse:collapse;font-size:13px;font-variant-numeric:tabular-nums}
th,td{padding:2px 8px;border-bottom:1px solid #eee;text-align:right;white-space:nowrap}
th{background:#f4f4f4;position:sticky;top:0}td.name,th.name{text-align:left;white-space:normal;max-width:320px;overflow-wrap:anywhere}
td.bar{width:360px;text-align:left}.bar div{height:12px;background:#4e79a7;min-width:1px}
.balance td.bar{width:160px}th.scale{font-weight:normal;color:#666;text-align:left}th.scale .right{float:right}summary{cursor:pointer;margin:8px 0}.balance td.bar div{background:#e15759;min-width:0}
svg.chart{display:block;max-width:100%;height:auto;font-size:11px}
svg text{fill:#333}.axis line{stroke:#888;stroke-width:1}.axis line.grid{stroke:#e4e4e4}text.ms{fill:#777}
ul.legend{list-style:none;padding:0;margin:6px 0 0 170px;display:flex;flex-wrap:wrap;gap:4px 16px;font-size:13px}
ul.legend li{display:flex;align-items:center;gap:5px}
@media print{body{margin:0;max-width:none}th{position:static}section{break-inside:avoid}h2{break-after:avoid}}
)css";

std::string cell(const std::string& text, const char* cls = nullptr) {
  return cls ? "<td class=\"" + std::string(cls) + "\">" + text + "</td>" : "<td>" + text + "</td>";
}

std::string bar(double fraction, const std::string& title) {
  return "<td class=\"bar\" title=\"" + title +
         "\"><div style=\"width:" + fixed(std::clamp(fraction, 0.0, 1.0) * 100.0, 2) +
         "%\"></div></td>";
}

std::string header(const HtmlPage& page) {
  const QueryReport& report = page.report;
  std::string span = decimal(report.profile_span_cycles) + " cycles (";
  span += report.clock_hz == 0
              ? std::string("clock unknown")
              : readable_time(report.profile_span_ms) + " at " + decimal(report.clock_hz) + " Hz";
  span += ")";
  std::string html = "<header><h1>zel-profile report: " + escaped(page.profile_name) +
                     "</h1><p class=\"summary\" id=\"summary\">" + decimal(report.tile_count) +
                     " tiles, " + decimal(report.sample_count) + " samples, " +
                     decimal(report.matched_sample_count) + " matched, span " + span + "</p>";
  if (report.at_offset) {
    html += "<p class=\"summary\">Only samples running at normalised cycle " +
            decimal(*report.at_offset) + ".</p>";
  }
  if (report.from_offset || report.to_offset) {
    html += "<p class=\"summary\">Only samples running within normalised cycles [" +
            decimal(report.from_offset.value_or(0)) + ", " +
            (report.to_offset ? decimal(*report.to_offset) : std::string("end")) + ")" +
            (page.clipped ? ", clipped: each counts only its cycles inside the window" : "") +
            ".</p>";
  }
  if (page.chip_names.size() > 1) {
    html += "<p class=\"summary\" id=\"chips\">" + decimal(page.chip_names.size()) +
            " profiles, each a chip: a tile is a (chip, physical tile) pair, so tiles of the same "
            "number on two chips count as two. ";
    for (std::size_t c = 0; c < page.chip_names.size(); ++c) {
      html += (c == 0 ? "" : ", ") + std::string("chip ") + decimal(c) + ": " +
              escaped(page.chip_names[c]);
    }
    html += ".</p>";
  }
  return html + "</header>";
}

std::string group_title(const GroupSummary& group) {
  return escaped(group.name) + ": " + decimal(group.phase_cycles) + " phase cycles, " +
         decimal(group.work_cycles) + " work cycles, " + shortest(group.average_active_tiles) +
         " active tiles, " + decimal(group.sample_count) + " samples";
}

std::string group_bars(const QueryReport& report) {
  std::string html = "<section><h2>Groups by phase cycles</h2>";
  if (report.groups.empty())
    return html + "<p id=\"group-bars\">No group: no sample matched.</p></section>";
  std::uint64_t most = 1;
  for (const auto& group : report.groups) most = std::max(most, group.phase_cycles);
  const std::size_t shown = std::min(report.groups.size(), html_bar_limit);
  html += "<p class=\"note\">Bar: phase cycles, the wall-clock cycles in which the group ran";
  if (shown < report.groups.size()) {
    html += "; the first " + decimal(shown) + " of " + decimal(report.groups.size()) +
            " groups in the report's order";
  }
  html +=
      ".</p><table id=\"group-bars\"><tr><th class=\"name\">group</th><th>phase cycles</th>"
      "<th></th><th>work cycles</th><th>active tiles</th></tr>";
  for (std::size_t g = 0; g < shown; ++g) {
    const GroupSummary& group = report.groups[g];
    html += "<tr>" + cell(escaped(html::shortened(group.name, 60)), "name") +
            cell(decimal(group.phase_cycles)) +
            bar(static_cast<double>(group.phase_cycles) / static_cast<double>(most),
                group_title(group)) +
            cell(decimal(group.work_cycles)) +
            cell(html::two_decimals(group.average_active_tiles)) + "</tr>";
  }
  return html + "</table></section>";
}

std::string group_table(const QueryReport& report) {
  std::string html =
      "<section><h2>All groups</h2><table id=\"groups\"><tr><th class=\"name\">group</th>"
      "<th>samples</th><th>tiles</th><th>phases</th><th>phase cycles</th><th>time</th>"
      "<th>work cycles</th><th>active</th><th>mean</th><th>p50</th><th>p95</th><th>max</th>"
      "<th>first offset</th><th>last offset</th></tr>";
  for (const auto& group : report.groups) {
    html += "<tr title=\"" + group_title(group) + "\">" + cell(escaped(group.name), "name") +
            cell(decimal(group.sample_count)) + cell(decimal(group.tile_count)) +
            cell(decimal(group.phase_count)) + cell(decimal(group.phase_cycles)) +
            cell(report.clock_hz == 0 ? "-" : readable_time(group.phase_ms)) +
            cell(decimal(group.work_cycles)) +
            cell(html::two_decimals(group.average_active_tiles)) +
            cell(html::two_decimals(group.mean_cycles)) + cell(decimal(group.p50_cycles)) +
            cell(decimal(group.p95_cycles)) + cell(decimal(group.maximum_cycles)) +
            cell(decimal(group.first_offset)) + cell(decimal(group.last_offset)) + "</tr>";
  }
  return html + "</table></section>";
}

std::string timeline_section(const HtmlPage& page) {
  const auto& timeline = page.timeline;
  std::size_t tiles = 0;
  for (const auto& row : timeline.rows) tiles += row.tile_count;
  std::string html = "<section><h2>Timeline</h2><p class=\"note\">One row per tile";
  if (timeline.rows.size() < tiles) html += " (tiles binned: several tiles per row)";
  if (timeline.chip_count > 1) html += ", each chip's tiles in rows of their own";
  html += ", normalised time across";
  if (timeline.bins != 0) {
    html +=
        " in " + decimal(timeline.bins) + " bins of " + decimal(timeline.bin_cycles) + " cycles";
  }
  html +=
      ". Each cell is stacked by the share of its tiles' cycles that each category took, from "
      "the bottom; what is left blank is time in which its tiles ran no matched sample. Hover "
      "over a cell for its exact cycles.";
  if (timeline.categories.size() == zel_package::step_kind_names.size()) {
    html +=
        " Exchange and compute are working; synchronization and idle are waiting (for a "
        "barrier, or for nothing to do).";
  }
  html += "</p>";
  return html + html::timeline_svg(timeline, page.report.clock_hz) + "</section>";
}

std::string utilisation_section(const HtmlPage& page) {
  return "<section><h2>Utilisation</h2><p class=\"note\">Average number of tiles in each bin of "
         "normalised time that were working (exchange, compute: from the bottom) and waiting "
         "(synchronization, idle: from the top). The gap between them is tiles that ran no matched "
         "sample.</p>" +
         html::utilisation_svg(page.timeline, page.report.clock_hz) + "</section>";
}

// The scale of the balance table's bars: cycles lost to imbalance from the least of the listed
// phases (empty) to the most (full).
struct LostScale {
  double least = 0.0;
  double most = 0.0;

  double fraction(double lost) const {
    return most > least ? (lost - least) / (most - least) : 0.0;
  }
};

// The balance table's rows, each with a bar on `scale`.
std::string balance_table(const std::vector<PhaseBalance>& rows, std::size_t first, std::size_t end,
                          LostScale scale, std::uint64_t clock_hz, bool several_chips,
                          const char* id) {
  std::string html = "<table id=\"" + std::string(id) +
                     "\" class=\"balance\"><tr><th>phase/epoch</th><th>phase cycles</th>";
  html += clock_hz != 0 ? "<th>time</th>" : "";
  html +=
      "<th>tiles</th><th>mean working</th><th>max working</th><th>lost cycles</th>"
      "<th>max/mean</th><th class=\"scale\" title=\"the bar runs from " +
      html::two_decimals(scale.least) + " lost cycles (empty) to " +
      html::two_decimals(scale.most) + " (full)\"><span>" + html::two_decimals(scale.least) +
      "</span><span class=\"right\">" + html::two_decimals(scale.most) +
      "</span></th><th>critical tile</th></tr>";
  for (std::size_t r = first; r < end; ++r) {
    const PhaseBalance& balance = rows[r];
    const std::string name = decimal(balance.phase) + "/" + decimal(balance.epoch);
    const std::string critical =
        (several_chips ? "chip " + decimal(balance.critical_chip) + " tile " : std::string()) +
        decimal(balance.critical_tile);
    const std::string title =
        "phase " + name + ": " + decimal(balance.phase_cycles) + " phase cycles, " +
        decimal(balance.tile_count) + " tiles, " + decimal(balance.busy_cycles) +
        " working cycles in all, mean " + shortest(balance.mean_busy_cycles) + ", max " +
        decimal(balance.maximum_busy_cycles) + (several_chips ? " on " : " on tile ") + critical +
        ", lost " + shortest(balance.lost_cycles) + ", max/mean " + shortest(balance.imbalance);
    html += "<tr title=\"" + title + "\">" + cell(name) + cell(decimal(balance.phase_cycles));
    if (clock_hz != 0) html += cell(cycles_time(balance.phase_cycles, clock_hz));
    html += cell(decimal(balance.tile_count)) + cell(html::two_decimals(balance.mean_busy_cycles)) +
            cell(decimal(balance.maximum_busy_cycles)) +
            cell(html::two_decimals(balance.lost_cycles)) +
            cell(html::three_decimals(balance.imbalance)) +
            bar(scale.fraction(balance.lost_cycles), title) + cell(critical) + "</tr>";
  }
  return html + "</table>";
}

std::string balance_section(const HtmlPage& page) {
  // Worst first, as the engine ranks them for every front end.
  const std::vector<PhaseBalance> rows = zel_profile::worst_balanced_first(page.balance);
  std::string html =
      "<section><h2>Load balance per phase</h2><p class=\"note\">Per (phase, epoch): the "
      "busiest tile's working cycles (exchange and compute; waiting in synchronization or idle "
      "steps does not count) against the mean over the tiles that ran in it, naming that "
      "(critical) tile. The cycles lost to imbalance are the busiest tile's working cycles minus "
      "the mean; the phases that lose the most come first. Max/mean is 1.000 for perfect balance; "
      "the bar runs from the fewest lost cycles listed to the most. In a window, only the cycles "
      "run inside it count.</p>";
  if (rows.empty()) return html + "<p id=\"balance\">No phase: no sample matched.</p></section>";
  const std::uint64_t clock_hz = page.report.clock_hz;
  const std::size_t shown = std::min(rows.size(), html_balance_shown);
  const std::size_t rest = std::min(rows.size(), shown + html_balance_limit);
  // Ranked by lost cycles, the listed rows' most and least are the first and the last listed.
  const LostScale scale{.least = rows[rest - 1].lost_cycles, .most = rows.front().lost_cycles};
  const bool several_chips = page.chip_names.size() > 1;
  html += balance_table(rows, 0, shown, scale, clock_hz, several_chips, "balance");
  if (shown < rows.size()) {
    html += "<details id=\"balance-rest\"><summary>The other " + decimal(rows.size() - shown) +
            " phases";
    if (rest < rows.size()) {
      html += " (the next " + decimal(rest - shown) + " shown, " + decimal(rows.size() - rest) +
              " better balanced left out)";
    }
    html += "</summary>" +
            balance_table(rows, shown, rest, scale, clock_hz, several_chips, "balance-more") +
            "</details>";
  }
  return html + "</section>";
}

}  // namespace

std::string format_html(const HtmlPage& page) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width\">"
      "<title>zel-profile: " +
      escaped(page.profile_name) + "</title><style>" + page_style +
      html::chart_styles(page.timeline) + "</style></head><body>\n";
  html += header(page) + "\n" + group_bars(page.report) + "\n" + timeline_section(page) + "\n" +
          utilisation_section(page) + "\n" + balance_section(page) + "\n" +
          group_table(page.report) + "\n</body></html>\n";
  return html;
}

}  // namespace zel_report
