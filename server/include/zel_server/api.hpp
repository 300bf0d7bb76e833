// The explorer's JSON API over profiles loaded once: what each path answers, without the network,
// so that tests and benchmarks call it directly.
#pragma once

#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <zel_package/packed.hpp>
#include <zel_profile/timeline.hpp>
#include <zel_report/absent_names.hpp>

#include <zel_server/parameters.hpp>

namespace zel_server {

class AnswerCache;

// A profile the explorer serves, under the name it was given (its file name).
struct LoadedProfile {
  std::string name;
  zel_package::PackedProfile profile;
};

// An answer: HTTP status, content type and body.
struct Response {
  int status = 200;
  std::string content_type = "application/json";
  std::string body;
};

// The API over a fixed set of profiles, queried as one (several profiles are several chips), and
// maybe a base run to compare them with. Every method is const and may be called from many
// threads at once.
class Explorer {
 public:
  // Takes the profiles and indexes them by time; the summary that /api/info answers is computed
  // in the background from then on. With a `base`, `run=base` reads it, and /api/diff compares
  // the one profile served with it, as `zel-profile diff BASE NEW` does; several profiles with
  // a base throw std::invalid_argument (a comparison is of two profiles).
  explicit Explorer(std::vector<LoadedProfile> profiles,
                    std::optional<LoadedProfile> base = std::nullopt);
  ~Explorer();
  Explorer(const Explorer&) = delete;
  Explorer& operator=(const Explorer&) = delete;

  // The answer to GET `path` (such as "/api/query") with the decoded parameters: 200 with JSON,
  // 400 with {"error", "parameter", "allowed"} for a bad parameter, 404 for a path the API does
  // not have.
  Response get(std::string_view path, const Parameters& parameters) const;

  // GET /api/info: per profile its name, tiles, samples, span and clock, and per kind the samples
  // and their cycles; and the same over all profiles. Waits for the summary when it is not ready.
  std::string info() const;
  // GET /api/query: exactly what `zel-profile query --format json` prints for the same words.
  std::string query(const ApiRequest& request) const;
  // GET /api/timeline: {"from", "to", "bins", "bin_cycles", "categories", "rows": [{"label",
  // "profile", "tiles", "cycles": {category: [one integer a bin]}}]}, or the same figures in
  // binary with format=binary (zel_report::format_timeline_bytes). get() keeps the last answers.
  std::string timeline(const ApiRequest& request) const;
  // GET /api/samples: {"samples": [...]}, the longest matched samples of one tile (`limit` of
  // them, 100 without it), such as those running at `at`, each exactly as /api/query prints it
  // with the same filters and `samples` for `limit`. Unlike /api/query it reports no counts or
  // groups: it reads only that tile's samples near `at`, `from` and `to`, not every sample.
  std::string samples(const ApiRequest& request) const;
  // GET /api/load-balance: {"profiles": [{"name", "phases": [...]}]}, the engine's load balance.
  // GET /api/words: zel_request::parameters_json() with "endpoints": {path: [parameter, ...]}.
  std::string load_balance(const ApiRequest& request) const;
  // GET /api/diff: exactly what `zel-profile diff BASE NEW --format json` prints for the same
  // words. Throws ParameterError when no base is served.
  std::string diff(const ApiRequest& request) const;
  // GET /api/warnings: {"warnings": [...]}, what the tool warns about the query's filters on names
  // the run lacks (zel_report::absent_name_warnings), from the names gathered once a run.
  std::string warnings(const ApiRequest& request) const;

  // One run's profiles, loaded once.
  struct Served {
    std::vector<std::string> names;
    std::vector<zel_package::PackedProfile> profiles;
    std::vector<zel_profile::TimelineIndex> indexes;  // each profile's, for its timelines
    zel_report::ProfileNames present;                 // the names the profiles have
    std::shared_future<std::string> info;  // last: destroyed first, so it waits for the task
  };

 private:
  // The run `run` reads: the new one or the base (ParameterError when none is served).
  const Served& served(Run run) const;

  Served new_;
  std::unique_ptr<Served> base_;                   // with a base run
  zel_report::ProfileNames either_;                // the names either run has
  std::unique_ptr<AnswerCache> timeline_answers_;  // the last timelines, by their parameters
};

// {"error": message, "parameter": parameter, "allowed": [...]}.
std::string error_json(const std::string& message, const std::string& parameter,
                       const std::vector<std::string>& allowed);

}  // namespace zel_server
