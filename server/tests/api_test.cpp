// The API against the tool: /api/query answers what `zel-profile query --format json` prints, word
// for word and error for error, and the timeline's cells hold exactly the cycles of the samples in
// them, counted here from the samples themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <zel_generator/generator.hpp>
#include <zel_package/step_kinds.hpp>
#include <zel_server/api.hpp>
#include <zel_storage/storage.hpp>

#include "cli.hpp"

namespace {

using zel_server::Explorer;
using zel_server::Parameters;

struct Fixture {
  std::vector<std::string> paths;
  std::vector<zel_package::PackedProfile> profiles;
};

// Two chips of different sizes, written where the tool can read them.
const Fixture& fixture() {
  static const Fixture made = [] {
    Fixture f;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zel_server_api_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const zel_generator::GeneratorOptions chips[] = {
        {.tiles = 12, .epochs = 2, .phases = 5, .seed = 7},
        {.tiles = 5, .epochs = 3, .phases = 4, .seed = 9}};
    for (std::size_t c = 0; c < 2; ++c) {
      f.profiles.push_back(zel_generator::generate_packed_profile(chips[c]));
      f.paths.push_back((dir / ("chip" + std::to_string(c) + ".json")).string());
      zel_storage::write_profile_file(f.profiles.back(), f.paths.back());
    }
    return f;
  }();
  return made;
}

Explorer make_explorer() {
  std::vector<zel_server::LoadedProfile> loaded;
  for (std::size_t p = 0; p < fixture().paths.size(); ++p) {
    loaded.push_back({fixture().paths[p], fixture().profiles[p]});
  }
  return Explorer(std::move(loaded));
}

// The first or the second profile alone.
Explorer make_single_explorer(std::size_t chip) {
  std::vector<zel_server::LoadedProfile> loaded{{fixture().paths[chip], fixture().profiles[chip]}};
  return Explorer(std::move(loaded));
}

// Random words for the query, now and then a wrong one.
Parameters random_parameters(std::mt19937_64& random) {
  const auto pick = [&](std::vector<std::string> words) {
    return words[std::uniform_int_distribution<std::size_t>(0, words.size() - 1)(random)];
  };
  const auto chance = [&](double p) { return std::bernoulli_distribution(p)(random); };
  Parameters parameters;
  const auto group_by =
      pick({"kind", "kernel", "operation", "phase", "tile", "profile", "metadata", "kernal"});
  parameters.emplace_back("group-by", group_by);
  if (group_by == "metadata" || chance(0.05))
    parameters.emplace_back("metadata-key", pick({"layer", "dtype", "block"}));
  if (chance(0.5))
    parameters.emplace_back("sort-by", pick({"phase-cycles", "work-cycles", "maximum-cycles",
                                             "samples", "name", "size"}));
  if (chance(0.3))
    parameters.emplace_back("kind",
                            pick({"exchange", "compute", "synchronization", "idle", "busy"}));
  for (int i = 0; i < 3; ++i) {
    if (chance(0.2)) parameters.emplace_back("tile", pick({"0", "3", "4", "11", "99", "-1"}));
  }
  if (chance(0.2)) parameters.emplace_back("phase", pick({"0", "1", "2", "40", "x"}));
  if (chance(0.2)) parameters.emplace_back("kernel", pick({"gemm_f16", "gemm", "softmx", ""}));
  if (chance(0.2))
    parameters.emplace_back("metadata", pick({"layer", "dtype=f16", "block=1", "none"}));
  if (chance(0.2)) parameters.emplace_back("at", pick({"0", "1000", "50000", "1e3"}));
  if (chance(0.3)) parameters.emplace_back("from", pick({"0", "700", "20000", "-5"}));
  if (chance(0.3)) parameters.emplace_back("to", pick({"1", "700", "30000", "999999999"}));
  if (chance(0.3)) parameters.emplace_back("limit", pick({"0", "1", "3", "100"}));
  if (chance(0.3)) parameters.emplace_back("reverse", "true");
  if (chance(0.3)) parameters.emplace_back("clip", "true");
  if (chance(0.3)) parameters.emplace_back("samples", pick({"0", "2", "10"}));
  std::shuffle(parameters.begin(), parameters.end(), random);
  return parameters;
}

// What the tool prints for `command` (query or diff) over `paths` with the words as options,
// against `path` of the API with the words as parameters: the same JSON byte for byte and the
// same warnings as /api/warnings (for `run`), or the same refusal. Counts answers and refusals.
void expect_api_is_tool(const Explorer& explorer, const std::string& command,
                        const std::vector<std::string>& paths, const std::string& path,
                        const std::string& run, const Parameters& parameters, int& answered,
                        int& refused) {
  std::vector<std::string> arguments{command};
  for (const auto& file : paths) arguments.push_back(file);
  for (const auto& [name, value] : parameters) {
    if (name == "reverse" || name == "clip") {
      arguments.push_back("--" + name);
    } else {
      // One argument, so that a value such as -5 is not read as an option.
      arguments.push_back("--" + name + "=" + value);
    }
  }
  arguments.insert(arguments.end(), {"--format", "json"});
  std::ostringstream out;
  std::ostringstream err;
  const int status = zel_cli::run_cli(arguments, out, err);
  const auto answer = explorer.get(path, parameters);
  SCOPED_TRACE(err.str() + answer.body);
  if (status == 0) {
    ++answered;
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(answer.body, out.str());
    // Each line the tool says on standard error is a warning the page shows.
    auto asked = parameters;
    asked.emplace_back("run", run);
    const auto warned = explorer.get("/api/warnings", asked);
    ASSERT_EQ(warned.status, 200);
    std::string lines;
    const auto body = nlohmann::json::parse(warned.body);
    for (const auto& warning : body.at("warnings")) {
      lines += "zel-profile: " + warning.get<std::string>() + "\n";
    }
    EXPECT_EQ(lines, err.str());
  } else {
    ++refused;
    ASSERT_EQ(status, 2);
    ASSERT_EQ(answer.status, 400);
    const auto body = nlohmann::json::parse(answer.body);
    // The tool's message, with its options named as parameters.
    auto tool_message = err.str().substr(0, err.str().find('\n'));
    tool_message.erase(0, std::string("zel-profile: ").size());
    for (auto at = tool_message.find("--"); at != std::string::npos; at = tool_message.find("--")) {
      tool_message.erase(at, 2);
    }
    EXPECT_EQ(body.at("error").get<std::string>(), tool_message);
    EXPECT_NE(std::find_if(parameters.begin(), parameters.end(),
                           [&](const auto& p) { return p.first == body.at("parameter"); }),
              parameters.end());
  }
}

TEST(Api, QueryIsTheToolsJsonWordForWordAndErrorForError) {
  const auto explorer = make_explorer();
  std::mt19937_64 random(2026);
  int answered = 0;
  int refused = 0;
  int warned = 0;
  for (int round = 0; round < 120; ++round) {
    const auto parameters = random_parameters(random);
    expect_api_is_tool(explorer, "query", fixture().paths, "/api/query", "new", parameters,
                       answered, refused);
    auto asked = parameters;
    asked.emplace_back("run", "new");
    const auto warnings = explorer.get("/api/warnings", asked);
    if (warnings.status == 200 && warnings.body != R"({"warnings":[]})") ++warned;
  }
  EXPECT_GT(answered, 40);
  EXPECT_GT(refused, 10);
  EXPECT_GT(warned, 10);
}

// Two runs served: /api/diff is `zel-profile diff BASE NEW --format json`, and the base run
// answers as a query over it alone would.
TEST(Api, DiffIsTheToolsJsonWordForWordAndErrorForError) {
  std::vector<zel_server::LoadedProfile> served{{fixture().paths[1], fixture().profiles[1]}};
  const Explorer explorer(std::move(served),
                          zel_server::LoadedProfile{fixture().paths[0], fixture().profiles[0]});
  std::mt19937_64 random(30);
  int answered = 0;
  int refused = 0;
  for (int round = 0; round < 100; ++round) {
    auto parameters = random_parameters(random);
    std::erase_if(parameters, [](const auto& p) { return p.first == "samples"; });
    expect_api_is_tool(explorer, "diff", fixture().paths, "/api/diff", "both", parameters, answered,
                       refused);
    if (round % 10 == 0) {
      auto asked = parameters;
      asked.emplace_back("run", "base");
      const auto base = explorer.get("/api/query", asked);
      const auto alone = make_single_explorer(0).get("/api/query", parameters);
      EXPECT_EQ(base.status, alone.status);
      EXPECT_EQ(base.body, alone.body);
    }
  }
  EXPECT_GT(answered, 30);
  EXPECT_GT(refused, 10);
  // Coloured by group, both runs' timelines have the new run's groups: one colour a group.
  const auto categories = [&](const std::string& run) {
    const auto answer = explorer.get("/api/timeline", {{"color-by", "group"}, {"run", run}});
    return nlohmann::json::parse(answer.body).at("categories");
  };
  const auto report = nlohmann::json::parse(explorer.get("/api/query", {}).body);
  EXPECT_EQ(categories("base"), categories("new"));
  EXPECT_EQ(categories("base").front(), report.at("groups").front().at("name"));
  // Without a base there is nothing to compare.
  const auto none = make_explorer().get("/api/diff", {});
  EXPECT_EQ(none.status, 400);
  EXPECT_EQ(nlohmann::json::parse(none.body).at("parameter"), "run");
}

TEST(Api, RefusesUnknownRepeatedAndMissingParametersNamingWhatIsAllowed) {
  const auto explorer = make_explorer();
  struct Case {
    std::string path;
    Parameters parameters;
    int status;
    std::string parameter;
    std::string allowed;    // one of the words "allowed" must list
    std::string says = "";  // a text the error must contain
  };
  const Case cases[] = {
      {"/api/query", {{"group-by", "kernal"}}, 400, "group-by", "kernel"},
      {"/api/query", {{"colour", "x"}}, 400, "colour", "sort-by"},
      {"/api/query", {{"limit", "1"}, {"limit", "2"}}, 400, "limit", ""},
      {"/api/query", {{"group-by", "metadata"}}, 400, "metadata-key", ""},
      {"/api/query", {{"reverse", "yes"}}, 400, "reverse", "true"},
      {"/api/timeline", {{"bins", "0"}}, 400, "bins", ""},
      {"/api/timeline", {{"rows", "100000"}}, 400, "rows", ""},
      {"/api/timeline", {{"color-by", "colour"}}, 400, "color-by", "group"},
      {"/api/timeline", {{"from", "10"}, {"to", "10"}}, 400, "from", ""},
      {"/api/timeline", {{"from", "-1"}}, 400, "from", ""},
      {"/api/timeline", {{"format", "xml"}}, 400, "format", "binary"},
      // Each within its bound, together too many cells for one answer.
      {"/api/timeline",
       {{"rows", "4096"}, {"bins", "8192"}, {"color-by", "group"}},
       400,
       "bins",
       ""},
      {"/api/timeline", {{"rows", "129"}, {"bins", "8192"}}, 400, "bins", ""},
      {"/api/samples", {{"at", "10"}}, 400, "tile", ""},
      // One answer holds at most 5,000 samples, whatever a request asks for.
      {"/api/query", {{"samples", "5001"}}, 400, "samples", "", "from 0 to 5000, got \"5001\""},
      {"/api/query", {{"samples", "18446744073709551615"}}, 400, "samples", "", "to 5000"},
      {"/api/samples", {{"tile", "1"}, {"limit", "5001"}}, 400, "limit", "", "from 0 to 5000"},
      {"/api/samples", {{"tile", "3"}, {"chip", "2"}}, 400, "chip", ""},
      {"/api/info", {{"tile", "1"}}, 400, "tile", ""},
      {"/api/nothing", {}, 404, "/api/nothing", "/api/query"},
  };
  for (const auto& c : cases) {
    const auto answer = explorer.get(c.path, c.parameters);
    SCOPED_TRACE(c.path + " " + answer.body);
    ASSERT_EQ(answer.status, c.status);
    const auto body = nlohmann::json::parse(answer.body);
    EXPECT_EQ(body.at("parameter"), c.parameter);
    const auto allowed = body.at("allowed").get<std::vector<std::string>>();
    if (!c.allowed.empty()) {
      EXPECT_NE(std::find(allowed.begin(), allowed.end(), c.allowed), allowed.end());
    }
    EXPECT_NE(body.at("error").get<std::string>().find(c.says), std::string::npos);
  }
  // The cap itself is answered.
  EXPECT_EQ(explorer.get("/api/query", {{"samples", "5000"}}).status, 200);
  EXPECT_EQ(explorer.get("/api/samples", {{"tile", "1"}, {"limit", "5000"}}).status, 200);
}

// The cycles of each kind in [from, to) of normalised time, per physical tile of each profile,
// counted from the samples: a sample's offset is its start less its tile's first start, modulo
// 2^32.
std::map<std::pair<std::size_t, std::uint32_t>, std::vector<std::uint64_t>> cycles_in(
    std::uint64_t from, std::uint64_t to, const std::string& kernel) {
  std::map<std::pair<std::size_t, std::uint32_t>, std::vector<std::uint64_t>> cycles;
  for (std::size_t p = 0; p < fixture().profiles.size(); ++p) {
    const auto& profile = fixture().profiles[p];
    for (const auto& tile : profile.tiles) {
      auto& kinds = cycles[{p, tile.physical_tile}];
      kinds.assign(4, 0);
      if (tile.samples.empty()) continue;
      const std::uint32_t first = tile.samples.front().start_cycle;
      for (const auto& sample : tile.samples) {
        const auto& step = profile.steps[sample.step];
        if (!kernel.empty() && step.kernel != kernel) continue;
        const std::uint64_t begin = static_cast<std::uint32_t>(sample.start_cycle - first);
        const std::uint64_t end =
            begin + static_cast<std::uint32_t>(sample.end_cycle - sample.start_cycle);
        const auto low = std::max(begin, from);
        const auto high = std::min(end, to);
        if (low < high) kinds[static_cast<std::size_t>(step.kind)] += high - low;
      }
    }
  }
  return cycles;
}

// An unsigned little-endian integer of `bytes` bytes at `at`.
std::uint64_t little_endian(const std::string& bytes, std::size_t at, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t b = 0; b < width; ++b) {
    value |= std::uint64_t{static_cast<unsigned char>(bytes.at(at + b))} << (8 * b);
  }
  return value;
}

// The binary timeline read back as the JSON form's document: each array where the header says,
// at a multiple of 8 (so a page views it as a typed array), within the answer.
nlohmann::json decode_timeline(const std::string& bytes, std::set<std::size_t>& widths_seen) {
  EXPECT_EQ(bytes.substr(0, 4), "ZTL1");
  const std::size_t header_length = little_endian(bytes, 4, 4);
  EXPECT_EQ((8 + header_length) % 8, 0u);
  const auto header = nlohmann::json::parse(bytes.substr(8, header_length));
  std::map<std::string, std::vector<std::uint64_t>> arrays;
  std::size_t end = 8 + header_length;
  for (const auto& array : header.at("arrays")) {
    const std::size_t offset = array.at("offset");
    const std::size_t length = array.at("length");
    const std::map<std::string, std::size_t> widths{{"u8", 1}, {"u16", 2}, {"u32", 4}, {"u64", 8}};
    const std::size_t width = widths.at(array.at("type"));
    widths_seen.insert(width);
    EXPECT_EQ(offset % 8, 0u);
    EXPECT_GE(offset, end);
    EXPECT_LE(offset + length * width, bytes.size());
    end = offset + length * width;
    auto& values = arrays[array.at("name")];
    for (std::size_t i = 0; i < length; ++i) {
      values.push_back(little_endian(bytes, offset + i * width, width));
    }
  }
  const auto& categories = header.at("categories");
  const std::size_t bins = header.at("bins");
  nlohmann::json rows = nlohmann::json::array();
  for (std::size_t r = 0; r < header.at("labels").size(); ++r) {
    nlohmann::json row{{"label", header.at("labels")[r]}, {"profile", arrays.at("profile").at(r)}};
    const std::size_t first_tile = r == 0 ? 0 : arrays.at("tile_ends").at(r - 1);
    row["tiles"] = std::vector<std::uint64_t>(
        arrays.at("tiles").begin() + static_cast<std::ptrdiff_t>(first_tile),
        arrays.at("tiles").begin() + static_cast<std::ptrdiff_t>(arrays.at("tile_ends").at(r)));
    row["cycles"] = nlohmann::json::object();
    for (std::size_t c = 0; c < categories.size(); ++c) {
      auto& cells = row["cycles"][categories[c].get<std::string>()] = nlohmann::json::array();
      for (std::size_t b = 0; b < bins; ++b) {
        cells.push_back(arrays.at("cycles").at((r * bins + b) * categories.size() + c));
      }
    }
    rows.push_back(row);
  }
  EXPECT_EQ(arrays.at("tile_ends").empty() ? 0 : arrays.at("tile_ends").back(),
            arrays.at("tiles").size());
  EXPECT_EQ(arrays.at("cycles").size(), rows.size() * bins * categories.size());
  return {{"from", header.at("from")},
          {"to", header.at("to")},
          {"bins", bins},
          {"bin_cycles", header.at("bin_cycles")},
          {"categories", categories},
          {"rows", rows}};
}

TEST(Api, TimelineCellsHoldTheCyclesOfTheirTilesAndBins) {
  const auto explorer = make_explorer();
  const auto info = nlohmann::json::parse(explorer.info());
  const std::uint64_t span = info.at("span_cycles");
  ASSERT_GT(span, 1000u);
  std::mt19937_64 random(5);
  // Windows in one bin, which answered two (bins on either side of a multiple of the width).
  const std::uint64_t one_bin[][2] = {{3, 10}, {5, 12}, {100, 1000}, {999, 5000}};
  std::set<std::size_t> widths_seen;  // of the binary form's integers
  for (int round = 0; round < 34; ++round) {
    std::uint64_t from = std::uniform_int_distribution<std::uint64_t>(0, span - 1)(random);
    std::uint64_t to = std::uniform_int_distribution<std::uint64_t>(from + 1, span + 50)(random);
    auto bins = std::uniform_int_distribution<std::size_t>(1, 300)(random);
    if (round == 0) from = 0, to = span;
    if (round >= 30) from = one_bin[round - 30][0], to = one_bin[round - 30][1], bins = 1;
    const auto rows = std::uniform_int_distribution<std::size_t>(1, 20)(random);
    Parameters parameters{{"from", std::to_string(from)},
                          {"to", std::to_string(to)},
                          {"bins", std::to_string(bins)},
                          {"rows", std::to_string(rows)}};
    const std::string kernel = round % 3 == 1 ? "gemm_f16" : "";
    if (!kernel.empty()) parameters.emplace_back("kernel", kernel);
    const bool by_group = round % 5 == 2;
    if (by_group) parameters.emplace_back("color-by", "group");
    const auto answer = explorer.get("/api/timeline", parameters);
    ASSERT_EQ(answer.status, 200) << answer.body;
    const auto body = nlohmann::json::parse(answer.body);
    SCOPED_TRACE(std::to_string(from) + ".." + std::to_string(to) + " in " + std::to_string(bins));
    // The binary form holds the same figures (asked for second, and first: the answers kept are
    // by format too).
    auto binary = parameters;
    binary.emplace_back("format", "binary");
    const auto bytes = explorer.get("/api/timeline", binary);
    ASSERT_EQ(bytes.status, 200);
    EXPECT_EQ(bytes.content_type, "application/octet-stream");
    EXPECT_EQ(bytes.body.size() % 8, 0u);
    ASSERT_EQ(decode_timeline(bytes.body, widths_seen), body);
    const std::uint64_t width = body.at("bin_cycles");
    const std::uint64_t first = body.at("from");
    const std::size_t count = body.at("bins");
    ASSERT_GE(count, 1u);
    ASSERT_LE(count, bins);
    ASSERT_LE(first, from);
    ASSERT_EQ(first % width, 0u);
    ASSERT_GE(first + count * width, std::min(to, span));
    ASSERT_GT(first + width, from);
    ASSERT_LT(first + (count - 1) * width, std::min(to, span));
    if (by_group) continue;
    // Every tile of every chip in exactly one row; each cell against the samples.
    std::map<std::pair<std::size_t, std::uint32_t>, int> rows_of_tile;
    for (const auto& row : body.at("rows")) {
      const std::size_t profile = row.at("profile");
      for (std::size_t b = 0; b < count; ++b) {
        const auto expected = [&] {
          std::vector<std::uint64_t> sum(4, 0);
          for (const auto& [key, kinds] :
               cycles_in(first + b * width, first + (b + 1) * width, kernel)) {
            const auto& tiles = row.at("tiles");
            if (key.first == profile &&
                std::find(tiles.begin(), tiles.end(), key.second) != tiles.end()) {
              for (int k = 0; k < 4; ++k) sum[k] += kinds[k];
            }
          }
          return sum;
        }();
        for (std::size_t k = 0; k < 4; ++k) {
          ASSERT_EQ(row.at("cycles")
                        .at(std::string(zel_package::step_kind_names[k]))[b]
                        .get<std::uint64_t>(),
                    expected[k])
              << "bin " << b << " row " << row.at("label");
        }
      }
      for (const auto& tile : row.at("tiles")) ++rows_of_tile[{profile, tile}];
    }
    EXPECT_EQ(rows_of_tile.size(), 17u);
    for (const auto& [tile, seen] : rows_of_tile) EXPECT_EQ(seen, 1);
  }
  // Close views' figures in one or two bytes, wide ones' in four.
  EXPECT_EQ(widths_seen, (std::set<std::size_t>{1, 2, 4}));
}

TEST(Api, WholeTimelineSumsToTheWorkCyclesOfEachKind) {
  const auto explorer = make_explorer();
  for (const std::string kernel : {"", "gemm_f16"}) {
    Parameters filter;
    if (!kernel.empty()) filter.emplace_back("kernel", kernel);
    auto by_kind = filter;
    by_kind.emplace_back("group-by", "kind");
    const auto report = nlohmann::json::parse(explorer.get("/api/query", by_kind).body);
    auto grid = filter;
    grid.emplace_back("bins", "1600");
    const auto timeline = nlohmann::json::parse(explorer.get("/api/timeline", grid).body);
    std::map<std::string, std::uint64_t> sums;
    for (const auto& row : timeline.at("rows")) {
      for (const auto& [kind, bins] : row.at("cycles").items()) {
        for (const auto& cycles : bins) sums[kind] += cycles.get<std::uint64_t>();
      }
    }
    std::size_t groups = 0;
    for (const auto& group : report.at("groups")) {
      EXPECT_EQ(sums[group.at("name")], group.at("work_cycles").get<std::uint64_t>());
      ++groups;
    }
    EXPECT_GE(groups, 1u);
    // The summary's kinds, with no filter, summed over the profiles: the same groups, figures.
    if (!kernel.empty()) continue;
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> kinds;
    const auto info = nlohmann::json::parse(explorer.get("/api/info", {}).body);
    for (const auto& profile : info.at("profiles")) {
      for (const auto& [kind, figures] : profile.at("kinds").items()) {
        kinds[kind].first += figures.at("samples").get<std::uint64_t>();
        kinds[kind].second += figures.at("work_cycles").get<std::uint64_t>();
      }
    }
    EXPECT_EQ(kinds.size(), groups);
    for (const auto& group : report.at("groups")) {
      EXPECT_EQ(kinds[group.at("name")], std::pair(group.at("sample_count").get<std::uint64_t>(),
                                                   group.at("work_cycles").get<std::uint64_t>()));
    }
  }
}

// An explorer of one chip of the fixture alone.
Explorer make_chip_explorer(std::size_t chip) {
  std::vector<zel_server::LoadedProfile> loaded;
  loaded.push_back({fixture().paths[chip], fixture().profiles[chip]});
  return Explorer(std::move(loaded));
}

TEST(Api, SamplesAreTheQuerysSamplesForTheSameWords) {
  const auto explorer = make_explorer();
  // With `chip`, the samples are those of a query over that chip's profile alone.
  const Explorer chips[] = {make_chip_explorer(0), make_chip_explorer(1)};
  const std::uint64_t span = nlohmann::json::parse(explorer.info()).at("span_cycles");
  ASSERT_GT(span, 1000u);
  std::mt19937_64 random(22);
  const auto pick = [&](std::vector<std::string> words) {
    return words[std::uniform_int_distribution<std::size_t>(0, words.size() - 1)(random)];
  };
  const auto chance = [&](double p) { return std::bernoulli_distribution(p)(random); };
  const auto cycle = [&](std::uint64_t below) {
    return std::uniform_int_distribution<std::uint64_t>(0, below - 1)(random);
  };
  int found = 0;
  for (int round = 0; round < 200; ++round) {
    // One tile, mostly at a cycle or in a window of the span, as the page's hover asks.
    Parameters words{{"tile", pick({"0", "3", "4", "11", "99"})}};
    if (chance(0.7)) words.emplace_back("at", std::to_string(cycle(span)));
    if (chance(0.3)) {
      const std::uint64_t from = cycle(span);
      words.emplace_back("from", std::to_string(from));
      if (chance(0.7)) words.emplace_back("to", std::to_string(from + 1 + cycle(span / 8)));
    }
    if (chance(0.3)) words.emplace_back("group-by", pick({"kind", "tile", "profile", "phase"}));
    if (chance(0.2)) words.emplace_back("kind", pick({"exchange", "compute", "idle"}));
    if (chance(0.2)) words.emplace_back("kernel", "gemm_f16");
    if (chance(0.2)) words.emplace_back("phase", pick({"0", "1", "2"}));
    if (chance(0.2)) words.emplace_back("metadata", pick({"layer", "dtype=f16"}));
    const bool limited = chance(0.7);
    if (limited) words.emplace_back("limit", pick({"0", "1", "3", "5000"}));
    // The same words for the query, whose `samples` is the `limit` here (100 without it).
    Parameters query_words;
    for (const auto& [name, value] : words) {
      query_words.emplace_back(name == "limit" ? "samples" : name, value);
    }
    if (!limited) query_words.emplace_back("samples", "100");
    const int chip = chance(0.4) ? static_cast<int>(cycle(2)) : -1;
    if (chip >= 0) words.emplace_back("chip", std::to_string(chip));

    const auto answer = explorer.get("/api/samples", words);
    const auto report = (chip >= 0 ? chips[chip] : explorer).get("/api/query", query_words);
    SCOPED_TRACE(answer.body);
    ASSERT_EQ(answer.status, 200);
    ASSERT_EQ(report.status, 200) << report.body;
    const auto samples = nlohmann::json::parse(answer.body);
    ASSERT_EQ(samples.size(), 1u);
    ASSERT_EQ(samples.at("samples"), nlohmann::json::parse(report.body).at("samples"));
    found += !samples.at("samples").empty();
  }
  EXPECT_GT(found, 50);
}

}  // namespace
