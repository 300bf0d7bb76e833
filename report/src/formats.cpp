#include <zel_report/formats.hpp>

namespace zel_report {

std::string format_report(const zel_profile::QueryReport& report, ReportFormat format) {
  switch (format) {
    case ReportFormat::Json:
      return format_json(report);
    case ReportFormat::Csv:
      return format_csv(report);
    case ReportFormat::Table:
      break;
  }
  return format_table(report);
}

}  // namespace zel_report
