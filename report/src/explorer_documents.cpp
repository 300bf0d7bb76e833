#include <zel_report/explorer_documents.hpp>

#include <optional>

#include <nlohmann/json.hpp>
#include <zel_package/step_kinds.hpp>
#include <zel_report/info_formats.hpp>

namespace zel_report {
namespace {

std::string text_of(const nlohmann::json& document) {
  return document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string format_profiles_json(const std::vector<std::string>& names,
                                 const std::vector<zel_profile::ProfileInfo>& each,
                                 const zel_profile::ProfileInfo& all,
                                 const std::optional<std::string>& base) {
  nlohmann::json list = nlohmann::json::array();
  for (std::size_t p = 0; p < each.size(); ++p) {
    const auto& info = each[p];
    // The kinds with samples, as a query grouped by kind lists them.
    nlohmann::json kinds = nlohmann::json::object();
    for (std::size_t k = 0; k < info.kinds.size(); ++k) {
      if (info.kinds[k].samples == 0) continue;
      kinds[info.kinds[k].name] = {{"samples", info.kinds[k].samples},
                                   {"work_cycles", info.kind_cycles[k]}};
    }
    list.push_back({{"name", names[p]},
                    {"tiles", info.tile_count},
                    {"samples", info.sample_count},
                    {"span_cycles", info.span_cycles},
                    {"span_ms", info.span_ms},
                    {"clock_hz", info.clock_hz},
                    {"kinds", kinds},
                    // What `zel-profile info --format json` says of this profile.
                    {"info", nlohmann::json::parse(format_info(info, ReportFormat::Json))}});
  }
  // The kinds a tile works in (the others it waits in), from the one definition of working.
  nlohmann::json working = nlohmann::json::array();
  for (std::size_t k = 0; k < zel_package::step_kind_names.size(); ++k) {
    if (zel_package::is_working(static_cast<zel_package::ProfileStepKind>(k))) {
      working.push_back(zel_package::step_kind_names[k]);
    }
  }
  return text_of({{"profiles", list},
                  {"tiles", all.tile_count},
                  {"samples", all.sample_count},
                  {"span_cycles", all.span_cycles},
                  {"span_ms", all.span_ms},
                  {"clock_hz", all.clock_hz},
                  {"kinds", zel_package::step_kind_names},
                  {"working_kinds", working},
                  {"base", base ? nlohmann::json(*base) : nlohmann::json(nullptr)}});
}

std::string format_balances_json(const std::vector<std::string>& names,
                                 const std::vector<std::vector<zel_profile::PhaseBalance>>& each) {
  nlohmann::json list = nlohmann::json::array();
  for (std::size_t p = 0; p < each.size(); ++p) {
    nlohmann::json phases = nlohmann::json::array();
    for (const auto& phase : each[p]) {
      phases.push_back({{"phase", phase.phase},
                        {"epoch", phase.epoch},
                        {"phase_cycles", phase.phase_cycles},
                        {"tile_count", phase.tile_count},
                        {"busy_cycles", phase.busy_cycles},
                        {"maximum_busy_cycles", phase.maximum_busy_cycles},
                        {"critical_tile", phase.critical_tile},
                        {"mean_busy_cycles", phase.mean_busy_cycles},
                        {"imbalance", phase.imbalance},
                        {"lost_cycles", phase.lost_cycles}});
    }
    list.push_back({{"name", names[p]}, {"phases", phases}});
  }
  return text_of({{"profiles", list}});
}

std::string format_warnings_json(const std::vector<std::string>& warnings) {
  return text_of({{"warnings", warnings}});
}

}  // namespace zel_report
