#include <zel_report/formats.hpp>
#include <zel_report/text.hpp>

#include <zel_profile/words.hpp>

#include "control_escapes.hpp"

namespace zel_report {

std::string format_report(const zel_profile::QueryReport& report, ReportFormat format,
                          const ReportLayout& layout) {
  switch (format) {
    case ReportFormat::Json:
      return format_json(report);
    case ReportFormat::Csv:
      return layout.samples_table ? format_samples_csv(report) : format_csv(report);
    case ReportFormat::Tsv:
      return layout.samples_table ? format_samples_tsv(report) : format_tsv(report);
    case ReportFormat::Table:
      break;
  }
  return format_table(report, layout.clipped);
}

void write_report(const zel_profile::QueryReport& report, ReportFormat format,
                  const ReportLayout& layout, const TextSink& sink) {
  if (format == ReportFormat::Json) {
    write_json(report, sink);
  } else {
    sink(format_report(report, format, layout));
  }
}

std::string printable(std::string_view text) { return escape_controls(text, Backslash::AsItIs); }

std::string shown_name(std::string_view name) { return printable(zel_profile::cut_name(name)); }

std::string quoted_name(std::string_view name) {
  std::string quoted = "'";
  quoted += shown_name(name);
  quoted += '\'';
  return quoted;
}

}  // namespace zel_report
