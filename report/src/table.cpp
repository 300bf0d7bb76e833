// The report as a table for people, its group columns chosen from the report's field description.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <zel_report/fields.hpp>
#include <zel_report/formats.hpp>

#include "control_escapes.hpp"
#include "display_width.hpp"
#include "number_text.hpp"
#include "time_text.hpp"

namespace zel_report {
namespace {

// Text for a table cell: control characters would break the alignment, so they show escaped.
std::string printable(std::string_view text) { return escape_controls(text, Backslash::AsItIs); }

// What a group cell may need besides its field: the clock rate and the "%" column's base.
struct TableContext {
  std::uint64_t clock_hz = 0;
  std::uint64_t total_phase_cycles = 0;
};

// A column of the group table: the group field it shows and how.
struct GroupColumn {
  Column column;
  std::string_view field;
  std::string (*cell)(const FieldValue&, const TableContext&);
};

// A time, or "-" when the clock rate is unknown and cycles cannot be turned into time.
std::string time_text(double milliseconds, std::uint64_t clock_hz) {
  return clock_hz == 0 ? "-" : readable_time(milliseconds);
}

// "1 tile", "2 tiles".
std::string counted(std::uint64_t count, const std::string& noun) {
  return decimal(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string summary_line(const zel_profile::QueryReport& report, bool clipped) {
  std::string text = counted(report.tile_count, "tile") + ", " +
                     counted(report.sample_count, "sample") + ", " +
                     decimal(report.matched_sample_count) + " matched, span " +
                     decimal(report.profile_span_cycles) + " cycles (" +
                     (report.clock_hz == 0 ? std::string("clock rate unknown")
                                           : readable_time(report.profile_span_ms)) +
                     ")\n";
  if (report.at_offset) {
    text += "only samples running at offset " + decimal(*report.at_offset) + "\n";
  }
  if (report.from_offset || report.to_offset) {
    text += "only samples running within offsets [" + decimal(report.from_offset.value_or(0)) +
            ", " + (report.to_offset ? decimal(*report.to_offset) : std::string("end")) + ")" +
            (clipped ? ", clipped: each counts only its cycles inside the window" : "") + "\n";
  }
  return text;
}

std::string whole(const FieldValue& value, const TableContext&) {
  return decimal(std::get<std::uint64_t>(value));
}

std::string text_cell(const FieldValue& value, const TableContext&) {
  return printable(std::get<std::string_view>(value));
}

std::string time_cell(const FieldValue& value, const TableContext& context) {
  return time_text(std::get<double>(value), context.clock_hz);
}

// The group's phase cycles as a percentage of the table's total, to one decimal.
std::string share_cell(const FieldValue& value, const TableContext& context) {
  if (context.total_phase_cycles == 0) return "-";
  return fixed(100.0 * static_cast<double>(std::get<std::uint64_t>(value)) /
                   static_cast<double>(context.total_phase_cycles),
               1);
}

std::string two_places(const FieldValue& value, const TableContext&) {
  return fixed(std::get<double>(value), 2);
}

std::string one_place(const FieldValue& value, const TableContext&) {
  return fixed(std::get<double>(value), 1);
}

// The group fields a person reads first, in the order of the report's description.
const std::vector<GroupColumn>& group_columns() {
  static const std::vector<GroupColumn> columns{
      {{"group", Align::Left}, "name", text_cell},
      {{"samples"}, "sample_count", whole},
      {{"tiles"}, "tile_count", whole},
      {{"cycles"}, "phase_cycles", whole},
      {{"%"}, "phase_cycles", share_cell},
      {{"time"}, "phase_ms", time_cell},
      {{"active"}, "average_active_tiles", two_places},
      {{"mean"}, "mean_cycles", one_place},
      {{"p50"}, "p50_cycles", whole},
      {{"p95"}, "p95_cycles", whole},
      {{"max"}, "maximum_cycles", whole},
  };
  return columns;
}

std::string group_table(const std::vector<zel_profile::GroupSummary>& groups,
                        const TableContext& context) {
  std::vector<Column> layout;
  for (const auto& column : group_columns()) layout.push_back(column.column);
  std::vector<std::vector<std::string>> rows;
  for (const auto& group : groups) {
    auto& cells = rows.emplace_back();
    for (const auto& column : group_columns()) {
      cells.push_back(column.cell(field_value(group_fields(), column.field, group), context));
    }
  }
  return aligned_table(layout, rows);
}

std::string metadata_text(const std::vector<zel_profile::MetadataEntry>& metadata) {
  std::string text;
  for (const auto& entry : metadata) {
    if (!text.empty()) text += ' ';
    text += printable(entry.name);
    text += '=';
    text += printable(entry.value);
  }
  return text;
}

// One line per sample; a sample's metadata, which would make the line too long for a terminal,
// follows on a line of its own, indented to the kind column.
std::string sample_table(const zel_profile::ReportedSamples& samples) {
  const std::vector<Column> layout{
      {"tile"},
      {"offset"},
      {"cycles"},
      {"phase", Align::Left},
      {"kind", Align::Left},
      {"kernel", Align::Left},
      {"operation", Align::Left},
  };
  constexpr std::size_t kind_column = 4;
  // The cells of each distinct step, made once: phase/epoch, kind, kernel, operation, metadata.
  std::vector<std::vector<std::string>> step_cells(samples.steps().size());
  for (const zel_profile::ReportedSample& sample : samples.samples()) {
    std::vector<std::string>& cells = step_cells[sample.step];
    if (!cells.empty()) continue;
    const zel_profile::SampleStep& step = samples.step_of(sample);
    cells = {decimal(step.phase) + "/" + decimal(step.epoch), step.kind,
             step.kernel.empty() ? "-" : printable(step.kernel), printable(step.operation),
             step.metadata.empty() ? "" : metadata_text(step.metadata)};
  }
  std::vector<std::vector<std::string>> rows;
  rows.reserve(samples.size());
  for (const zel_profile::ReportedSample& sample : samples.samples()) {
    const std::vector<std::string>& cells = step_cells[sample.step];
    rows.push_back({decimal(sample.physical_tile), decimal(sample.offset), decimal(sample.duration),
                    cells[0], cells[1], cells[2], cells[3]});
  }
  const auto widths = column_widths(layout, rows);
  std::size_t indent = 0;
  for (std::size_t i = 0; i < kind_column; ++i) {
    indent += widths[i] + column_gap;
  }
  std::string text = header_line(layout, widths);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    text += aligned_line(layout, widths, rows[i]);
    const std::string& metadata = step_cells[samples.samples()[i].step][4];
    if (!metadata.empty()) {
      text.append(indent, ' ');
      text += "metadata: ";
      text += metadata;
      text += '\n';
    }
  }
  return text;
}

}  // namespace

std::string format_table(const zel_profile::QueryReport& report, bool clipped) {
  TableContext context{.clock_hz = report.clock_hz,
                       .total_phase_cycles = report.total_phase_cycles};
  if (context.total_phase_cycles == 0) {
    for (const auto& group : report.groups) context.total_phase_cycles += group.phase_cycles;
  }
  std::string text = summary_line(report, clipped) + "\n";
  text += report.groups.empty() ? "no groups\n" : group_table(report.groups, context);
  if (!report.samples.empty()) {
    text += "\nlongest samples:\n" + sample_table(report.samples);
  }
  return text;
}

}  // namespace zel_report
