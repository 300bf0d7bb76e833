#include <zel_server/api.hpp>

#include <algorithm>
#include <charconv>
#include <future>
#include <map>
#include <optional>
#include <span>

#include <nlohmann/json.hpp>
#include <zel_package/step_kinds.hpp>
#include <zel_profile/info.hpp>
#include <zel_report/formats.hpp>
#include <zel_report/info_formats.hpp>

#include "engine_calls.hpp"
#include "query_options.hpp"
#include "query_text.hpp"

namespace zel_server {
namespace {

// Groups beyond this many share one colour in a timeline coloured by group.
constexpr std::size_t coloured_groups = 12;

std::string json_string(std::string_view text) {
  return nlohmann::json(std::string(text))
      .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void append_number(std::string& out, std::uint64_t value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// "tile 4", "tiles 0-22", with the profile's place first when there are several.
std::string row_label(const WindowRow& row, std::size_t profile_count) {
  std::string label = profile_count > 1 ? "chip " + std::to_string(row.profile) + " " : "";
  if (row.tiles.empty()) return label + "no tiles";
  const auto [lowest, highest] = std::minmax_element(row.tiles.begin(), row.tiles.end());
  if (*lowest == *highest) return label + "tile " + std::to_string(*lowest);
  return label + "tiles " + std::to_string(*lowest) + "-" + std::to_string(*highest);
}

// What GET /api/info answers for these profiles: their info alone, which one scan of the samples
// gives (no query, so no memory beyond the scan's counts).
std::string info_json(const std::vector<std::string>& names,
                      const std::vector<zel_package::PackedProfile>& profiles) {
  const zel_profile::Parallelism every_core{.threads = 0};
  nlohmann::json list = nlohmann::json::array();
  zel_profile::ProfileInfo info;
  for (std::size_t p = 0; p < profiles.size(); ++p) {
    info = zel_profile::profile_info({&profiles[p], 1}, every_core);
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
                    {"info", nlohmann::json::parse(
                                 zel_report::format_info(info, zel_report::ReportFormat::Json))}});
  }
  // One profile's info is already that of all of them.
  const auto all = profiles.size() == 1 ? info : zel_profile::profile_info(profiles, every_core);
  nlohmann::json body{{"profiles", list},
                      {"tiles", all.tile_count},
                      {"samples", all.sample_count},
                      {"span_cycles", all.span_cycles},
                      {"span_ms", all.span_ms},
                      {"clock_hz", all.clock_hz},
                      {"kinds", zel_package::step_kind_names}};
  return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::string error_json(const std::string& message, const std::string& parameter,
                       const std::vector<std::string>& allowed) {
  nlohmann::json body{{"error", message}, {"parameter", parameter}, {"allowed", allowed}};
  return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Explorer::Explorer(std::vector<LoadedProfile> profiles) {
  for (auto& loaded : profiles) {
    names_.push_back(std::move(loaded.name));
    profiles_.push_back(std::move(loaded.profile));
  }
  indexes_ = index_timelines(profiles_);
  // The summary costs a scan of every sample: it runs while the server starts answering, and a
  // request for it waits for it.
  info_ = std::async(std::launch::async, [this] { return info_json(names_, profiles_); }).share();
}

Response Explorer::get(std::string_view path, const Parameters& parameters) const {
  static const std::map<std::string_view, Endpoint> endpoints{
      {"/api/info", Endpoint::Info},
      {"/api/query", Endpoint::Query},
      {"/api/timeline", Endpoint::Timeline},
      {"/api/samples", Endpoint::Samples},
      {"/api/load-balance", Endpoint::LoadBalance},
  };
  const auto endpoint = endpoints.find(path);
  if (endpoint == endpoints.end()) {
    std::vector<std::string> paths;
    for (const auto& [known, value] : endpoints) paths.emplace_back(known);
    return {.status = 404, .body = error_json("no such path", std::string(path), paths)};
  }
  try {
    auto request = parse_parameters(endpoint->second, parameters);
    // Grouped by profile, the groups are named by the files served, as the tool names them.
    if (request.query.group_by == zel_profile::GroupBy::Profile) {
      request.query.profile_names = zel_cli::profile_names(names_);
    }
    switch (endpoint->second) {
      case Endpoint::Info:
        return {.body = info()};
      case Endpoint::Query:
        return {.body = query(request)};
      case Endpoint::Timeline:
        return {.body = timeline(request)};
      case Endpoint::Samples:
        return {.body = samples(request)};
      case Endpoint::LoadBalance:
        return {.body = load_balance(request)};
    }
  } catch (const ParameterError& error) {
    return {.status = 400, .body = error_json(error.what(), error.parameter, error.allowed)};
  }
  return {.status = 404};
}

std::string Explorer::info() const { return info_.get(); }

std::string Explorer::query(const ApiRequest& request) const {
  return zel_cli::format_query_report(run_query(profiles_, request.query), request.query,
                                      request.options.reverse, zel_report::ReportFormat::Json);
}

std::string Explorer::samples(const ApiRequest& request) const {
  if (!request.chip) {
    return zel_report::format_samples_json(longest_samples(profiles_, indexes_, request.query));
  }
  // One chip's tile: that profile alone, whose tile numbers another chip may share.
  const std::size_t chip = *request.chip;
  if (chip >= profiles_.size()) {
    throw ParameterError("chip: expected a number below " + std::to_string(profiles_.size()) +
                             ", got \"" + std::to_string(chip) + "\"",
                         "chip", {});
  }
  return zel_report::format_samples_json(longest_samples(
      std::span(&profiles_[chip], 1), std::span(&indexes_[chip], 1), request.query));
}

std::string Explorer::timeline(const ApiRequest& request) const {
  zel_profile::TimelineShape shape{
      .rows = request.rows, .bins = request.bins, .color_by = request.color_by};
  if (request.color_by == zel_profile::TimelineColor::Group) {
    auto ordered = request.query;
    ordered.sample_limit = 0;
    const auto report = run_query(profiles_, ordered);
    for (std::size_t g = 0; g < std::min(report.groups.size(), coloured_groups); ++g) {
      shape.groups.push_back(report.groups[g].name);
    }
  }
  const auto window = window_timeline(profiles_, indexes_, request.query, shape,
                                      request.from.value_or(0), request.to.value_or(UINT64_MAX));
  std::string out = "{\"from\": ";
  append_number(out, window.from);
  out += ", \"to\": ";
  append_number(out, window.to);
  out += ", \"bins\": ";
  append_number(out, window.bins);
  out += ", \"bin_cycles\": ";
  append_number(out, window.bin_cycles);
  out += ", \"categories\": [";
  for (std::size_t c = 0; c < window.categories.size(); ++c) {
    out += (c > 0 ? ", " : "") + json_string(window.categories[c]);
  }
  out += "], \"rows\": [";
  for (std::size_t r = 0; r < window.rows.size(); ++r) {
    const auto& row = window.rows[r];
    out += r > 0 ? ", {\"label\": " : "{\"label\": ";
    out += json_string(row_label(row, profiles_.size()));
    out += ", \"profile\": ";
    append_number(out, row.profile);
    out += ", \"tiles\": [";
    for (std::size_t t = 0; t < row.tiles.size(); ++t) {
      if (t > 0) out += ',';
      append_number(out, row.tiles[t]);
    }
    out += "], \"cycles\": {";
    for (std::size_t c = 0; c < window.categories.size(); ++c) {
      out += (c > 0 ? ", " : "") + json_string(window.categories[c]) + ": [";
      for (std::size_t b = 0; b < row.cycles[c].size(); ++b) {
        if (b > 0) out += ',';
        append_number(out, row.cycles[c][b]);
      }
      out += ']';
    }
    out += "}}";
  }
  out += "]}";
  return out;
}

std::string Explorer::load_balance(const ApiRequest& request) const {
  const auto balances = load_balances(profiles_, request.query);
  nlohmann::json list = nlohmann::json::array();
  for (std::size_t p = 0; p < balances.size(); ++p) {
    nlohmann::json phases = nlohmann::json::array();
    for (const auto& phase : balances[p]) {
      phases.push_back({{"phase", phase.phase},
                        {"epoch", phase.epoch},
                        {"phase_cycles", phase.phase_cycles},
                        {"tile_count", phase.tile_count},
                        {"busy_cycles", phase.busy_cycles},
                        {"maximum_busy_cycles", phase.maximum_busy_cycles},
                        {"critical_tile", phase.critical_tile},
                        {"mean_busy_cycles", phase.mean_busy_cycles},
                        {"imbalance", phase.imbalance}});
    }
    list.push_back({{"name", names_[p]}, {"phases", phases}});
  }
  return nlohmann::json{{"profiles", list}}.dump(-1, ' ', false,
                                                 nlohmann::json::error_handler_t::replace);
}

}  // namespace zel_server
