// What a profile holds (zel_profile::ProfileInfo) as text: a summary for people, JSON for programs.
#pragma once

#include <string>

#include <zel_profile/info.hpp>
#include <zel_report/formats.hpp>

namespace zel_report {

// ReportFormat::Table: the size, span and clock, the phases and epochs as ranges, the samples per
// kind, kernel and operation (the first 20 kernels and operations, saying how many more), and each
// metadata key with its samples and its 10 commonest values. ReportFormat::Json: one object with
// the ProfileInfo fields under their own names, every list whole. Throws std::invalid_argument for
// CSV and TSV, which have no form for it.
std::string format_info(const zel_profile::ProfileInfo& info, ReportFormat format);

}  // namespace zel_report
