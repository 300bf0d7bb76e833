#include <zel_server/api.hpp>

#include <algorithm>
#include <charconv>
#include <future>
#include <map>
#include <optional>

#include <nlohmann/json.hpp>
#include <zel_profile/info.hpp>
#include <zel_report/explorer_documents.hpp>
#include <zel_report/formats.hpp>
#include <zel_request/parameters.hpp>

#include "engine_calls.hpp"

namespace zel_server {
namespace {

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
  std::vector<zel_profile::ProfileInfo> each;
  for (const auto& profile : profiles)
    each.push_back(zel_profile::profile_info({&profile, 1}, every_core));
  // One profile's info is already that of all of them.
  const auto all =
      profiles.size() == 1 ? each.front() : zel_profile::profile_info(profiles, every_core);
  return zel_report::format_profiles_json(names, each, all);
}

const std::map<std::string_view, Endpoint> endpoints{
    {"/api/info", Endpoint::Info},
    {"/api/query", Endpoint::Query},
    {"/api/timeline", Endpoint::Timeline},
    {"/api/samples", Endpoint::Samples},
    {"/api/load-balance", Endpoint::LoadBalance},
    {"/api/words", Endpoint::Words},
};

// What GET /api/words answers: the query's parameters, and those each path takes.
std::string words_json() {
  auto body = nlohmann::json::parse(zel_request::parameters_json());
  body["endpoints"] = nlohmann::json::object();
  for (const auto& [path, endpoint] : endpoints) {
    body["endpoints"][std::string(path)] = parameter_names(endpoint);
  }
  return body.dump();
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
      request.query.profile_names = zel_request::profile_names(names_);
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
      case Endpoint::Words:
        return {.body = words_json()};
    }
  } catch (const ParameterError& error) {
    return {.status = 400, .body = error_json(error.what(), error.parameter, error.allowed)};
  }
  return {.status = 404};
}

std::string Explorer::info() const { return info_.get(); }

std::string Explorer::query(const ApiRequest& request) const {
  return zel_report::format_json(run_query(profiles_, request.query));
}

std::string Explorer::samples(const ApiRequest& request) const {
  return zel_report::format_samples_json(longest_samples(profiles_, indexes_, request.query));
}

std::string Explorer::timeline(const ApiRequest& request) const {
  zel_profile::TimelineShape shape{
      .rows = request.rows, .bins = request.bins, .color_by = request.color_by};
  if (request.color_by == zel_profile::TimelineColor::Group) {
    auto ordered = request.query;
    ordered.sample_limit = 0;
    shape.groups = zel_profile::coloured_groups(run_query(profiles_, ordered));
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
  return zel_report::format_balances_json(names_, load_balances(profiles_, request.query));
}

}  // namespace zel_server
