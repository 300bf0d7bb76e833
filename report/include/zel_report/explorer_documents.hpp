// The explorer's JSON documents of what profiles hold and of their load balance.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <zel_profile/info.hpp>
#include <zel_profile/load_balance.hpp>

namespace zel_report {

// {"profiles": [{"name", "tiles", "samples", "span_cycles", "span_ms", "clock_hz", "kinds":
// {kind: {"samples", "work_cycles"}} for the kinds with samples, "info": format_info's JSON}],
// and "tiles", "samples", "span_cycles", "span_ms", "clock_hz" of `all`, "kinds": every kind's
// word, "working_kinds": the kinds zel_package::is_working counts as working, "base": the name of
// the base run they are compared with, or null}. `each` holds one info a profile, named by `names`.
std::string format_profiles_json(const std::vector<std::string>& names,
                                 const std::vector<zel_profile::ProfileInfo>& each,
                                 const zel_profile::ProfileInfo& all,
                                 const std::optional<std::string>& base = std::nullopt);

// {"profiles": [{"name", "phases": [{"phase", "epoch", "phase_cycles", "tile_count",
// "busy_cycles", "maximum_busy_cycles", "critical_tile", "mean_busy_cycles", "imbalance",
// "lost_cycles"}]}]}, one balance a profile, named by `names`.
std::string format_balances_json(const std::vector<std::string>& names,
                                 const std::vector<std::vector<zel_profile::PhaseBalance>>& each);

// {"warnings": [...]}: the tool's warnings about a query, such as absent_name_warnings gives them.
std::string format_warnings_json(const std::vector<std::string>& warnings);

}  // namespace zel_report
