// The parameters of the explorer's API: the query's (<zel_request/parameters.hpp>), so that a word
// means in a URL what it means on the command line, and the timeline's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <zel_profile/model.hpp>
#include <zel_profile/timeline.hpp>
#include <zel_request/parameters.hpp>

namespace zel_server {

// A request's parameters, name and value, decoded, in the order they came.
using Parameters = std::vector<std::pair<std::string, std::string>>;

// The API's endpoints that take parameters.
enum class Endpoint { Info, Query, Timeline, Samples, LoadBalance, Diff, Warnings, Words };

// Which run a request reads when two are served (`zel-profile serve --base BASE NEW`): the new one
// (the profiles served, the default), the base, or, for the warnings, either (as `diff` warns).
enum class Run { New, Base, Both };

// A parameter the API cannot use: unknown, repeated, or a bad word or number, with the parameter
// at fault as named in the URL and the names or words it could have been. Answered with status
// 400 and {"error", "parameter", "allowed"}.
using ParameterError = zel_request::RequestError;

// What one request asks for.
struct ApiRequest {
  zel_profile::Query query;           // read by zel_request::parse_query
  std::optional<std::uint64_t> from;  // timeline: first cycle of the window (normalised time)
  std::optional<std::uint64_t> to;    // timeline: one past its last cycle
  std::size_t bins = 800;             // timeline: at most this many columns
  std::size_t rows = 64;              // timeline: at most this many rows over all profiles
  zel_profile::TimelineColor color_by = zel_profile::TimelineColor::Kind;
  bool binary = false;              // timeline: answered in binary (format=binary), not JSON
  std::optional<std::size_t> chip;  // samples: only this profile's, by its place among those served
  Run run = Run::New;               // `run`: new|base (|both for the warnings)
};

// Most bins and rows a timeline may ask for, and most cells (rows x bins x categories) of one
// answer: 4 categories coloured by kind, zel_profile::coloured_group_count + 1 by group. 2^22
// cells are at most 32 MB of figures in the engine and 16 MB in binary.
inline constexpr std::size_t maximum_bins = 8192;
inline constexpr std::size_t maximum_rows = 4096;
inline constexpr std::size_t maximum_timeline_cells = std::size_t{1} << 22;
// Most samples one answer reports (/api/query's `samples`, /api/samples' `limit`). Each is held in
// memory and written whole (about 470 bytes of JSON): 5,000 grow the server by about 3 MB.
inline constexpr std::size_t maximum_samples = 5000;

// The request the parameters make for `endpoint`. Throws ParameterError for a name the endpoint
// does not take, a second value of a parameter that takes one, a missing required parameter, more
// than maximum_samples samples, and any bad word or number (the tool's message, naming the
// parameter as the URL does).
ApiRequest parse_parameters(Endpoint endpoint, const Parameters& parameters);

// The names `endpoint` accepts, in the order of the tool's help.
std::vector<std::string> parameter_names(Endpoint endpoint);

}  // namespace zel_server
