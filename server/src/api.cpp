#include <zel_server/api.hpp>

#include <algorithm>
#include <future>
#include <map>
#include <optional>
#include <span>
#include <stdexcept>

#include <nlohmann/json.hpp>
#include <zel_profile/diff.hpp>
#include <zel_profile/info.hpp>
#include <zel_report/explorer_documents.hpp>
#include <zel_report/formats.hpp>
#include <zel_report/info_formats.hpp>
#include <zel_report/timeline_formats.hpp>
#include <zel_request/parameters.hpp>

#include "answer_cache.hpp"
#include "engine_calls.hpp"

namespace zel_server {
namespace {

// Timeline answers kept: a gesture's last views, and a bound on their memory.
constexpr std::size_t timeline_answers = 32;
constexpr std::size_t timeline_answer_bytes = std::size_t{64} << 20;

// The parameters in one order, as the key of their answer.
std::string canonical(Parameters parameters) {
  std::sort(parameters.begin(), parameters.end());
  std::string key;
  for (const auto& [name, value] : parameters) {
    key += name;
    key += '\0';
    key += value;
    key += '\0';
  }
  return key;
}

// What GET /api/info answers for these profiles: their info alone, which one scan of the samples
// gives (no query, so no memory beyond the scan's counts).
std::string info_json(const std::vector<std::string>& names,
                      const std::vector<zel_package::PackedProfile>& profiles,
                      const std::optional<std::string>& base) {
  const zel_profile::Parallelism every_core{.threads = 0};
  std::vector<zel_profile::ProfileInfo> each;
  for (const auto& profile : profiles)
    each.push_back(zel_profile::profile_info({&profile, 1}, every_core));
  // One profile's info is already that of all of them.
  const auto all =
      profiles.size() == 1 ? each.front() : zel_profile::profile_info(profiles, every_core);
  return zel_report::format_profiles_json(names, each, all, base);
}

const std::map<std::string_view, Endpoint> endpoints{
    {"/api/info", Endpoint::Info},
    {"/api/query", Endpoint::Query},
    {"/api/timeline", Endpoint::Timeline},
    {"/api/samples", Endpoint::Samples},
    {"/api/load-balance", Endpoint::LoadBalance},
    {"/api/diff", Endpoint::Diff},
    {"/api/warnings", Endpoint::Warnings},
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

// Loads one run: its profiles indexed by time and their names gathered; the summary (naming the
// base run the profiles are compared with, if any) is computed in the background from then on.
void load(Explorer::Served& served, std::vector<LoadedProfile> profiles,
          std::optional<std::string> base) {
  for (auto& loaded : profiles) {
    served.names.push_back(std::move(loaded.name));
    served.profiles.push_back(std::move(loaded.profile));
  }
  served.indexes = index_timelines(served.profiles);
  for (const auto& profile : served.profiles) zel_report::add_names(served.present, profile);
  // The summary costs a scan of every sample: it runs while the server starts answering, and a
  // request for it waits for it.
  served.info = std::async(std::launch::async, [&served, base = std::move(base)] {
                  return info_json(served.names, served.profiles, base);
                }).share();
}

}  // namespace

std::string error_json(const std::string& message, const std::string& parameter,
                       const std::vector<std::string>& allowed) {
  nlohmann::json body{{"error", message}, {"parameter", parameter}, {"allowed", allowed}};
  return body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Explorer::Explorer(std::vector<LoadedProfile> profiles, std::optional<LoadedProfile> base) {
  if (base && profiles.size() != 1) {
    throw std::invalid_argument("a base run is compared with one profile, not " +
                                std::to_string(profiles.size()));
  }
  timeline_answers_ = std::make_unique<AnswerCache>(timeline_answers, timeline_answer_bytes);
  load(new_, std::move(profiles), base ? std::optional(base->name) : std::nullopt);
  either_ = new_.present;
  if (base) {
    base_ = std::make_unique<Served>();
    std::vector<LoadedProfile> one;
    one.push_back(std::move(*base));
    load(*base_, std::move(one), std::nullopt);
    for (const auto& profile : base_->profiles) zel_report::add_names(either_, profile);
  }
}

const Explorer::Served& Explorer::served(Run run) const {
  if (run == Run::New) return new_;
  if (!base_) {
    throw ParameterError("run: no base run is served (zel-profile serve --base BASE NEW)", "run",
                         {"new"});
  }
  return *base_;
}

Explorer::~Explorer() = default;

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
    if (request.query.group_by == zel_profile::GroupBy::Profile && request.run != Run::Both) {
      request.query.profile_names = zel_request::profile_names(served(request.run).names);
    }
    switch (endpoint->second) {
      case Endpoint::Info:
        return {.body = served(request.run).info.get()};
      case Endpoint::Query:
        return {.body = query(request)};
      case Endpoint::Timeline: {
        const std::string type = request.binary ? "application/octet-stream" : "application/json";
        auto key = canonical(parameters);
        if (const auto kept = timeline_answers_->find(key)) {
          return {.content_type = type, .body = *kept};
        }
        auto body = std::make_shared<const std::string>(timeline(request));
        timeline_answers_->add(std::move(key), body);
        return {.content_type = type, .body = *body};
      }
      case Endpoint::Samples:
        return {.body = samples(request)};
      case Endpoint::LoadBalance:
        return {.body = load_balance(request)};
      case Endpoint::Diff:
        return {.body = diff(request)};
      case Endpoint::Warnings:
        return {.body = warnings(request)};
      case Endpoint::Words:
        return {.body = words_json()};
    }
  } catch (const ParameterError& error) {
    return {.status = 400, .body = error_json(error.what(), error.parameter, error.allowed)};
  }
  return {.status = 404};
}

std::string Explorer::info() const { return new_.info.get(); }

std::string Explorer::query(const ApiRequest& request) const {
  return zel_report::format_json(run_query(served(request.run).profiles, request.query));
}

std::string Explorer::samples(const ApiRequest& request) const {
  const auto& run = served(request.run);
  if (!request.chip) {
    return zel_report::format_samples_json(
        longest_samples(run.profiles, run.indexes, request.query));
  }
  // One chip's tile: that profile alone, whose tile numbers another chip may share.
  const std::size_t chip = *request.chip;
  if (chip >= run.profiles.size()) {
    throw ParameterError("chip: expected a number below " + std::to_string(run.profiles.size()) +
                             ", got \"" + std::to_string(chip) + "\"",
                         "chip", {});
  }
  return zel_report::format_samples_json(longest_samples(
      std::span(&run.profiles[chip], 1), std::span(&run.indexes[chip], 1), request.query));
}

std::string Explorer::timeline(const ApiRequest& request) const {
  const auto& run = served(request.run);
  zel_profile::TimelineShape shape{
      .rows = request.rows, .bins = request.bins, .color_by = request.color_by};
  if (request.color_by == zel_profile::TimelineColor::Group) {
    auto ordered = request.query;
    ordered.sample_limit = 0;
    // The new run's groups colour the base's timeline too, so that a group has one colour in
    // both (grouped by profile, each run's groups are its own files).
    const bool own = request.query.group_by == zel_profile::GroupBy::Profile;
    shape.groups =
        zel_profile::coloured_groups(run_query(own ? run.profiles : new_.profiles, ordered));
  }
  const auto grid = window_timeline(run.profiles, run.indexes, request.query, shape,
                                    request.from.value_or(0), request.to.value_or(UINT64_MAX));
  return request.binary ? zel_report::format_timeline_bytes(grid)
                        : zel_report::format_timeline_json(grid);
}

std::string Explorer::load_balance(const ApiRequest& request) const {
  const auto& run = served(request.run);
  return zel_report::format_balances_json(run.names, load_balances(run.profiles, request.query));
}

std::string Explorer::diff(const ApiRequest& request) const {
  const auto& base = served(Run::Base);
  const auto side = zel_profile::side_query(request.query);
  const auto compared = zel_profile::diff_reports(
      run_query(base.profiles, side), run_query(new_.profiles, side), request.query.sort_by);
  return zel_report::format_diff(zel_profile::ordered_diff(compared, request.query),
                                 zel_report::ReportFormat::Json);
}

std::string Explorer::warnings(const ApiRequest& request) const {
  const auto& present = request.run == Run::Both ? either_ : served(request.run).present;
  return zel_report::format_warnings_json(zel_report::absent_name_warnings(request.query, present));
}

}  // namespace zel_server
