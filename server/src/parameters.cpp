#include <zel_server/parameters.hpp>

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>

#include <zel_package/step_kinds.hpp>
#include <zel_request/parameters.hpp>

namespace zel_server {
namespace {

// The query's parameters every view takes: its filters, and the grouping that colours a timeline
// by group.
constexpr std::string_view filters[] = {"group-by", "metadata-key",       "kind",
                                        "kernel",   "operation-contains", "tile",
                                        "phase",    "metadata",           "at"};

// The parameters `endpoint` takes beyond the filters: the query's, and the timeline's own.
std::vector<std::string_view> more_of(Endpoint endpoint) {
  switch (endpoint) {
    case Endpoint::Query:
      return {"sort-by", "limit", "reverse", "samples", "from", "to", "clip", "run"};
    case Endpoint::Timeline:
      return {"from", "to", "bins", "rows", "color-by", "format", "run"};
    case Endpoint::Samples:
      return {"limit", "chip", "from", "to", "clip", "run"};
    case Endpoint::LoadBalance:
      return {"from", "to", "clip", "run"};
    // The options of `zel-profile diff` that shape its JSON.
    case Endpoint::Diff:
      return {"sort-by", "limit", "reverse", "from", "to", "clip"};
    // The query's, so that the page asks with the words it queries with.
    case Endpoint::Warnings:
      return {"sort-by", "limit", "reverse", "samples", "from", "to", "clip", "run"};
    case Endpoint::Info:
    case Endpoint::Words:
      break;
  }
  return {};
}

std::size_t count(const std::string& name, const std::string& value, std::size_t maximum) {
  const auto number = zel_request::parse_whole(value, name, SIZE_MAX);
  if (number == 0 || number > maximum) {
    throw ParameterError(name + ": expected a whole number from 1 to " + std::to_string(maximum) +
                             ", got \"" + value + "\"",
                         name, {});
  }
  return static_cast<std::size_t>(number);
}

// The place of `value` among the words parameter `name` takes; a ParameterError for another.
std::size_t word_of(const std::string& name, const std::string& value,
                    std::vector<std::string> words) {
  const auto found = std::find(words.begin(), words.end(), value);
  if (found != words.end()) return static_cast<std::size_t>(found - words.begin());
  std::string listed;
  for (const auto& word : words) listed += (listed.empty() ? "" : "|") + word;
  throw ParameterError(name + ": expected one of " + listed + ", got \"" + value + "\"", name,
                       std::move(words));
}

// Which run `run` names; "both" only where the endpoint reads both (the warnings).
Run run_of(Endpoint endpoint, const std::string& value) {
  if (endpoint == Endpoint::Warnings) {
    return static_cast<Run>(word_of("run", value, {"new", "base", "both"}));
  }
  return static_cast<Run>(word_of("run", value, {"new", "base"}));
}

// Reads one of the API's own parameters (the timeline's, a tile's chip, the run) into the request.
void store_own(Endpoint endpoint, ApiRequest& request, const std::string& name,
               const std::string& value) {
  if (name == "run") {
    request.run = run_of(endpoint, value);
  } else if (name == "from" || name == "to") {
    (name == "from" ? request.from : request.to) =
        zel_request::parse_whole(value, name, UINT64_MAX);
  } else if (name == "bins") {
    request.bins = count(name, value, maximum_bins);
  } else if (name == "rows") {
    request.rows = count(name, value, maximum_rows);
  } else if (name == "chip") {
    request.chip = zel_request::parse_whole(value, name, SIZE_MAX);
  } else if (name == "format") {
    request.binary = word_of(name, value, {"json", "binary"}) == 1;
  } else {
    request.color_by =
        static_cast<zel_profile::TimelineColor>(word_of("color-by", value, {"kind", "group"}));
  }
}

// Refuses a timeline of more cells than an answer may hold (each category a cell).
void check_cells(const ApiRequest& request) {
  const std::size_t categories = request.color_by == zel_profile::TimelineColor::Group
                                     ? zel_profile::coloured_group_count + 1
                                     : zel_package::step_kind_names.size();
  // Each factor is at most maximum_rows, maximum_bins or 13: the product fits.
  if (request.rows * request.bins * categories > maximum_timeline_cells) {
    throw ParameterError("rows x bins x categories: at most " +
                             std::to_string(maximum_timeline_cells) + " cells an answer, got " +
                             std::to_string(request.rows) + " x " + std::to_string(request.bins) +
                             " x " + std::to_string(categories),
                         "bins", {});
  }
}

}  // namespace

std::vector<std::string> parameter_names(Endpoint endpoint) {
  std::vector<std::string> names;
  if (endpoint == Endpoint::Info) return {"run"};
  if (endpoint == Endpoint::Words) return names;
  for (const auto name : filters) names.emplace_back(name);
  for (const auto name : more_of(endpoint)) names.emplace_back(name);
  return names;
}

ApiRequest parse_parameters(Endpoint endpoint, const Parameters& parameters) {
  const auto names = parameter_names(endpoint);
  ApiRequest request;
  zel_request::Words words;
  std::map<std::string, std::size_t> seen;
  for (const auto& [name, value] : parameters) {
    if (std::find(names.begin(), names.end(), name) == names.end()) {
      throw ParameterError("unknown parameter \"" + name + "\"", name, names);
    }
    const auto* parameter = zel_request::find_parameter(name);
    if (++seen[name] > 1 && !(parameter != nullptr && parameter->repeatable)) {
      throw ParameterError(name + ": given more than once", name, {});
    }
    // The timeline's own parameters, its window among them, and a tile's chip.
    if (parameter == nullptr ||
        (endpoint == Endpoint::Timeline && (name == "from" || name == "to"))) {
      store_own(endpoint, request, name, value);
    } else {
      // A tile's samples are as many as `limit` says: the query's samples.
      words.emplace_back(endpoint == Endpoint::Samples && name == "limit" ? "samples" : name,
                         value);
    }
  }
  if (endpoint == Endpoint::Samples && seen["tile"] != 1) {
    throw ParameterError("tile: exactly one tile is needed", "tile", {});
  }
  if (request.from && request.to && *request.from >= *request.to) {
    throw ParameterError("from: must be less than to", "from", {});
  }
  if (endpoint == Endpoint::Timeline) check_cells(request);
  request.query = zel_request::parse_query(words, zel_request::Naming::Url);
  if (endpoint == Endpoint::Samples && seen["limit"] == 0) request.query.sample_limit = 100;
  if (request.query.sample_limit > maximum_samples) {
    const std::string name = endpoint == Endpoint::Samples ? "limit" : "samples";
    const auto given = std::find_if(parameters.begin(), parameters.end(),
                                    [&](const auto& parameter) { return parameter.first == name; });
    throw ParameterError(name + ": expected a whole number from 0 to " +
                             std::to_string(maximum_samples) + ", got \"" + given->second + "\"",
                         name, {});
  }
  return request;
}

}  // namespace zel_server
