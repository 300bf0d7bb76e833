// The report of `zel-profile query`, run and written the one way the tool and the explorer share.
#pragma once

#include <string>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/query.hpp>
#include <zel_report/formats.hpp>

namespace zel_cli {

// The query over the profiles (several are several chips) without its limit: every group is
// summarised anyway, and the printed report needs them all for its "%" base and for --reverse.
zel_profile::QueryReport query_every_group(const std::vector<zel_package::PackedProfile>& profiles,
                                           const zel_profile::Query& query,
                                           const zel_profile::Parallelism& parallelism);

// The report of query_every_group as printed: in the opposite order with `reverse`, cut to the
// query's limit, written in `format`.
std::string format_query_report(zel_profile::QueryReport report, const zel_profile::Query& query,
                                bool reverse, zel_report::ReportFormat format);

}  // namespace zel_cli
