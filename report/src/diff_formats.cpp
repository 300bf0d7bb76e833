// A comparison of two reports as a table, JSON or CSV.
#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <zel_report/formats.hpp>

#include "control_escapes.hpp"
#include "delimited.hpp"
#include "display_width.hpp"
#include "json_text.hpp"
#include "number_text.hpp"

namespace zel_report {
namespace {

using zel_profile::GroupDiff;
using zel_profile::GroupSummary;
using zel_profile::ReportDiff;

// A figure compared: a whole number (its change is a signed whole number) or a float.
struct Figure {
  std::string_view field;  // the GroupSummary field
  std::string_view label;  // for people
  bool whole;
  double (*read)(const GroupSummary&);
};

constexpr std::array<Figure, 7> figures{{
    {"sample_count", "samples", true,
     [](const GroupSummary& g) { return static_cast<double>(g.sample_count); }},
    {"phase_cycles", "phase cycles", true,
     [](const GroupSummary& g) { return static_cast<double>(g.phase_cycles); }},
    {"work_cycles", "work cycles", true,
     [](const GroupSummary& g) { return static_cast<double>(g.work_cycles); }},
    {"average_active_tiles", "active tiles", false,
     [](const GroupSummary& g) { return g.average_active_tiles; }},
    {"mean_cycles", "mean", false, [](const GroupSummary& g) { return g.mean_cycles; }},
    {"p95_cycles", "p95", true,
     [](const GroupSummary& g) { return static_cast<double>(g.p95_cycles); }},
    {"maximum_cycles", "max", true,
     [](const GroupSummary& g) { return static_cast<double>(g.maximum_cycles); }},
}};

// Whole figures read back as integers for exact changes; every one is below 2^63.
std::int64_t whole_value(const Figure& figure, const std::optional<GroupSummary>& group) {
  if (!group) return 0;
  if (figure.field == "sample_count") return static_cast<std::int64_t>(group->sample_count);
  if (figure.field == "phase_cycles") return static_cast<std::int64_t>(group->phase_cycles);
  if (figure.field == "work_cycles") return static_cast<std::int64_t>(group->work_cycles);
  if (figure.field == "p95_cycles") return static_cast<std::int64_t>(group->p95_cycles);
  return static_cast<std::int64_t>(group->maximum_cycles);
}

double float_value(const Figure& figure, const std::optional<GroupSummary>& group) {
  return group ? figure.read(*group) : 0.0;
}

std::string signed_text(std::int64_t value) {
  if (value >= 0) return decimal(static_cast<std::uint64_t>(value));
  std::string text = "-";
  text += decimal(0 - static_cast<std::uint64_t>(value));
  return text;
}

std::string_view side(const GroupDiff& group) {
  if (!group.base) return "new";
  if (!group.current) return "base";
  return "";
}

// The four values of a figure as text: base, new, change, relative change ("" when none).
std::array<std::string, 4> exact_cells(const Figure& figure, const GroupDiff& group) {
  if (figure.whole) {
    const std::int64_t base = whole_value(figure, group.base);
    const std::int64_t current = whole_value(figure, group.current);
    const auto relative =
        zel_profile::relative_change(static_cast<double>(base), static_cast<double>(current));
    return {signed_text(base), signed_text(current), signed_text(current - base),
            relative ? shortest(*relative) : ""};
  }
  const double base = float_value(figure, group.base);
  const double current = float_value(figure, group.current);
  const auto relative = zel_profile::relative_change(base, current);
  return {shortest(base), shortest(current), shortest(current - base),
          relative ? shortest(*relative) : ""};
}

std::string percent_text(std::optional<double> relative) {
  if (!relative) return "-";
  std::string text = *relative >= 0 ? "+" : "";
  text += fixed(*relative * 100.0, 1);
  text += '%';
  return text;
}

std::string readable(double value, bool whole) {
  return whole ? signed_text(static_cast<std::int64_t>(value)) : fixed(value, 2);
}

std::string format_table(const ReportDiff& diff) {
  const auto span_change = zel_profile::relative_change(
      static_cast<double>(diff.base_span_cycles), static_cast<double>(diff.current_span_cycles));
  const std::int64_t span_cycles = static_cast<std::int64_t>(diff.current_span_cycles) -
                                   static_cast<std::int64_t>(diff.base_span_cycles);
  std::string text = "span: " + decimal(diff.base_span_cycles) + " -> " +
                     decimal(diff.current_span_cycles) + " cycles (" +
                     (span_cycles > 0 ? "+" : "") + signed_text(span_cycles) + ", " +
                     percent_text(span_change) + ")\n\n";
  if (diff.groups.empty()) return text + "no groups\n";
  const std::vector<Column> layout{
      {"group", Align::Left}, {"figure", Align::Left}, {"base"}, {"new"}, {"change"}, {"change %"}};
  std::vector<std::vector<std::string>> rows;
  for (const auto& group : diff.groups) {
    bool first = true;
    for (const auto& figure : figures) {
      const double base = float_value(figure, group.base);
      const double current = float_value(figure, group.current);
      std::string name;
      if (first) {
        name = escape_controls(group.name, Backslash::AsItIs);
        if (!side(group).empty()) name += " (" + std::string(side(group)) + " only)";
      }
      std::string change = readable(current - base, figure.whole);
      if (current - base > 0) change = "+" + change;
      rows.push_back({name, std::string(figure.label), readable(base, figure.whole),
                      readable(current, figure.whole), change,
                      percent_text(zel_profile::relative_change(base, current))});
      first = false;
    }
  }
  return text + aligned_table(layout, rows);
}

std::string format_json(const ReportDiff& diff) {
  JsonText json;
  json.begin_object();
  json.key("span").begin_object();
  json.key("base_cycles").integer(diff.base_span_cycles);
  json.key("new_cycles").integer(diff.current_span_cycles);
  json.key("change_cycles")
      .signed_integer(static_cast<std::int64_t>(diff.current_span_cycles) -
                      static_cast<std::int64_t>(diff.base_span_cycles));
  json.key("base_ms").number(diff.base_span_ms);
  json.key("new_ms").number(diff.current_span_ms);
  json.end_object();
  json.key("groups").begin_array();
  for (const auto& group : diff.groups) {
    json.begin_object();
    json.key("name").string(group.name);
    json.key("only_in");
    if (side(group).empty()) {
      json.null();
    } else {
      json.string(side(group));
    }
    for (const auto& figure : figures) {
      json.key(figure.field).begin_object();
      if (figure.whole) {
        const std::int64_t base = whole_value(figure, group.base);
        const std::int64_t current = whole_value(figure, group.current);
        json.key("base").signed_integer(base);
        json.key("new").signed_integer(current);
        json.key("change").signed_integer(current - base);
      } else {
        json.key("base").number(float_value(figure, group.base));
        json.key("new").number(float_value(figure, group.current));
        json.key("change").number(float_value(figure, group.current) -
                                  float_value(figure, group.base));
      }
      json.key("relative");
      const auto relative = zel_profile::relative_change(float_value(figure, group.base),
                                                         float_value(figure, group.current));
      if (relative) {
        json.number(*relative);
      } else {
        json.null();
      }
      json.end_object();
    }
    json.end_object();
  }
  json.end_array();
  json.end_object();
  return std::move(json).take();
}

std::string format_delimited(const ReportDiff& diff, Delimited dialect) {
  std::vector<std::string> cells{"name", "only_in"};
  for (const auto& figure : figures) {
    for (const std::string_view prefix : {"base_", "new_", "change_", "relative_"}) {
      cells.push_back(std::string(prefix) + std::string(figure.field));
    }
  }
  std::string text = delimited_row(cells, dialect);
  for (const auto& group : diff.groups) {
    cells = {escaped_name(group.name), std::string(side(group))};
    for (const auto& figure : figures) {
      for (auto& cell : exact_cells(figure, group)) cells.push_back(std::move(cell));
    }
    text += delimited_row(cells, dialect);
  }
  return text;
}

}  // namespace

std::string format_diff(const ReportDiff& diff, ReportFormat format) {
  switch (format) {
    case ReportFormat::Json:
      return format_json(diff);
    case ReportFormat::Csv:
      return format_delimited(diff, Delimited::Csv);
    case ReportFormat::Tsv:
      return format_delimited(diff, Delimited::Tsv);
    case ReportFormat::Table:
      break;
  }
  return format_table(diff);
}

}  // namespace zel_report
