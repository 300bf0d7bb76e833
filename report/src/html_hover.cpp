// The timeline's exact figures, written once as data, and the script that shows them on hover.
#include <cstddef>
#include <string>
#include <string_view>

#include <zel_package/step_kinds.hpp>

#include "control_escapes.hpp"
#include "html_charts.hpp"
#include "html_text.hpp"
#include "json_text.hpp"
#include "time_text.hpp"

namespace zel_report::html {
namespace {

// Shows the figures of the cell under the pointer in a box beside it and shades the cell: its
// row and cycles (and time), each category's cycles and share of the tiles' time, working and
// waiting by kind, and the share with no matched sample. Reads only the data block.
constexpr std::string_view hover_script = R"js(
(function () {
  var svg = document.getElementById("timeline");
  var data = JSON.parse(document.getElementById("timeline-figures").textContent);
  var tip = document.createElement("div");
  tip.id = "timeline-tip";
  document.body.appendChild(tip);
  var mark = document.createElementNS("http://www.w3.org/2000/svg", "rect");
  mark.setAttribute("class", "mark");
  svg.appendChild(mark);
  function share(part, whole) { return (100 * part / whole).toFixed(1) + "%"; }
  function hide() { tip.style.display = "none"; mark.style.display = "none"; }
  svg.addEventListener("mouseleave", hide);
  svg.addEventListener("mousemove", function (event) {
    var point = svg.createSVGPoint();
    point.x = event.clientX;
    point.y = event.clientY;
    point = point.matrixTransform(svg.getScreenCTM().inverse());
    var bin = Math.floor((point.x - data.left) / data.width * data.span / data.bin_cycles);
    var y = point.y * 10, row = null;
    data.rows.forEach(function (r) { if (y >= r.top && y < r.bottom) row = r; });
    if (row === null || bin < 0 || bin >= data.bins) return hide();
    var n = data.categories.length, cells = row.cells.slice(bin * n, bin * n + n);
    var start = bin * data.bin_cycles, stop = Math.min(data.span, start + data.bin_cycles);
    var capacity = (stop - start) * row.tiles, matched = 0, working = 0;
    var time = bin + 1 === data.bins ? data.last_time : data.bin_time;
    var lines = [row.label + ", cycles " + start + "\u2013" + stop + (time ? " (" + time + ")" : "")];
    cells.forEach(function (cycles, c) {
      matched += cycles;
      if (data.working.indexOf(c) >= 0) working += cycles;
      if (cycles !== 0) {
        lines.push(data.categories[c] + " " + cycles + " (" + share(cycles, capacity) + ")");
      }
    });
    if (matched === 0) return hide();
    if (data.working.length !== 0) {
      lines.push("working " + share(working, capacity) + ", waiting " +
                 share(matched - working, capacity));
    }
    if (matched < capacity) lines.push("no matched sample " + share(capacity - matched, capacity));
    tip.textContent = lines.join("\n");
    tip.style.display = "block";
    tip.style.left = Math.max(0, Math.min(event.clientX + 14,
                                          window.innerWidth - tip.offsetWidth - 4)) + "px";
    tip.style.top = event.clientY + 16 + "px";
    mark.setAttribute("x", data.left + data.width * start / data.span);
    mark.setAttribute("width", data.width * (stop - start) / data.span);
    mark.setAttribute("y", row.top / 10);
    mark.setAttribute("height", (row.bottom - row.top) / 10);
    mark.style.display = "inline";
  });
})();
)js";

// JSON text safe inside a script element: no "</script" or "<!--" can appear in it.
std::string script_safe(const std::string& json) {
  constexpr std::string_view escapes[] = {"\\u003c", "\\u003e", "\\u0026"};
  return replaced(json, "<>&", escapes);
}

}  // namespace

std::string timeline_figures(const zel_profile::Timeline& timeline, std::uint64_t clock_hz) {
  const TimelineLayout layout = timeline_layout(timeline);
  if (layout.rows.empty()) return {};
  std::string json = "{\"left\":" + shortest(layout.left) + ",\"width\":" + shortest(layout.width) +
                     ",\"span\":" + decimal(timeline.span_cycles) +
                     ",\"bin_cycles\":" + decimal(timeline.bin_cycles) +
                     ",\"bins\":" + decimal(timeline.bins);
  if (clock_hz != 0) {
    const std::uint64_t last = timeline.span_cycles - (timeline.bins - 1) * timeline.bin_cycles;
    json += ",\"bin_time\":" + json_quoted(cycles_time(timeline.bin_cycles, clock_hz)) +
            ",\"last_time\":" + json_quoted(cycles_time(last, clock_hz));
  }
  // The categories that are working, when they are the kinds: the page gives working and
  // waiting apart.
  json += ",\"working\":[";
  if (by_kind(timeline)) {
    bool first = true;
    for (std::size_t k = 0; k < timeline.categories.size(); ++k) {
      if (!zel_package::is_working(static_cast<zel_package::ProfileStepKind>(k))) continue;
      json += first ? "" : ",";
      json += decimal(k);
      first = false;
    }
  }
  json += "],\"categories\":[";
  for (std::size_t c = 0; c < timeline.categories.size(); ++c) {
    json += c == 0 ? "" : ",";
    json += json_quoted(escape_controls(timeline.categories[c], Backslash::AsItIs));
  }
  json += "],\"rows\":[";
  for (std::size_t r = 0; r < timeline.rows.size(); ++r) {
    const auto& row = timeline.rows[r];
    json += (r == 0 ? "{" : ",{") + std::string("\"label\":") +
            json_quoted(row_label(timeline, row)) + ",\"tiles\":" + decimal(row.tile_count) +
            ",\"top\":" + std::to_string(layout.rows[r].top) +
            ",\"bottom\":" + std::to_string(layout.rows[r].bottom) + ",\"cells\":[";
    for (std::size_t i = 0; i < row.cycles.size(); ++i) {
      if (i != 0) json += ',';
      json += decimal(row.cycles[i]);
    }
    json += "]}";
  }
  json += "]}";
  return "<script type=\"application/json\" id=\"timeline-figures\">" + script_safe(json) +
         "</script><script>" + std::string(hover_script) + "</script>";
}

}  // namespace zel_report::html
