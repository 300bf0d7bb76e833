// The fast path of the reader against the full reader. The fast path must take the layouts that
// writers produce (any whitespace, any field order), must give exactly the full reader's profile,
// and must never take a document that the full reader rejects.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>
#include <zel_generator/generator.hpp>
#include <zel_storage/storage.hpp>

#include "reader_detail.hpp"

namespace zel_storage {
using namespace zel_package;
namespace {

using detail::FastReadOptions;
using detail::try_read_packed_fast;

constexpr std::uint32_t max_u32 = 4294967295u;

// What a reader made of a text: the profile, or the error's three parts.
struct ErrorParts {
  std::string source;
  std::string json_path;
  std::string problem;
  bool operator==(const ErrorParts&) const = default;
};
using Outcome = std::variant<PackedProfile, ErrorParts>;

template <typename Read>
Outcome outcome_of(Read&& read) {
  try {
    return read();
  } catch (const ProfileReadError& error) {
    return ErrorParts{error.source(), error.json_path(), error.problem()};
  }
}

std::string describe(const Outcome& outcome) {
  if (const auto* error = std::get_if<ErrorParts>(&outcome)) {
    return "error [" + error->json_path + "] " + error->problem;
  }
  return "profile of " + std::to_string(sample_count(std::get<PackedProfile>(outcome))) +
         " samples";
}

// Reads `text` every way there is and checks that they agree: the fast path (on one thread and
// split over two) takes only what the full reader takes, with the same profile; the public
// readers give the full reader's profile or error. Returns whether the fast path took it.
bool check_readers_agree(const std::string& text) {
  SCOPED_TRACE(text.size() < 3000 ? text : text.substr(0, 3000) + "...");
  const Outcome full = outcome_of([&] { return detail::read_packed_full(text); });
  bool taken = false;
  for (const std::size_t threshold : {std::size_t{0}, std::size_t{1} << 20}) {
    const auto fast = try_read_packed_fast(text, FastReadOptions{.parallel_min_bytes = threshold});
    if (fast) {
      taken = true;
      EXPECT_TRUE(std::holds_alternative<PackedProfile>(full))
          << "the fast path took what the full reader rejects: " << describe(full);
      if (std::holds_alternative<PackedProfile>(full)) {
        EXPECT_TRUE(*fast == std::get<PackedProfile>(full)) << "the fast path read another profile";
      }
    }
  }
  const Outcome packed = outcome_of([&] { return read_packed_profile(text); });
  EXPECT_TRUE(packed == full) << describe(packed) << " / " << describe(full);
  const auto records = [&]() -> std::variant<ProfileReport, ErrorParts> {
    try {
      return read_profile(text);
    } catch (const ProfileReadError& error) {
      return ErrorParts{error.source(), error.json_path(), error.problem()};
    }
  }();
  if (const auto* error = std::get_if<ErrorParts>(&full)) {
    EXPECT_TRUE(std::holds_alternative<ErrorParts>(records) &&
                std::get<ErrorParts>(records) == *error);
  } else {
    EXPECT_TRUE(std::holds_alternative<ProfileReport>(records) &&
                std::get<ProfileReport>(records) == unpack(std::get<PackedProfile>(full)));
  }
  return taken;
}

// Random profiles ------------------------------------------------------------------------------

std::uint32_t random_u32(std::mt19937_64& random) {
  switch (random() % 6) {
    case 0:
      return 0;
    case 1:
      return max_u32;
    case 2:
      return static_cast<std::uint32_t>(random() % 10);
    case 3:
      return static_cast<std::uint32_t>(random() % 1000);
    default:
      return static_cast<std::uint32_t>(random());
  }
}

std::string random_text(std::mt19937_64& random) {
  static const std::array<std::string, 14> pieces = {"a",
                                                     "gemm",
                                                     "_",
                                                     "/",
                                                     " ",
                                                     "\"",
                                                     "\\",
                                                     "\n",
                                                     std::string(1, '\0'),
                                                     "\x1f",
                                                     "\xc3\xa9",
                                                     "\xe2\x82\xac",
                                                     "\xf0\x9f\x9a\x80",
                                                     "{[,:]}"};
  std::string text;
  const auto length = random() % 5;
  for (std::size_t i = 0; i < length; ++i) text += pieces[random() % pieces.size()];
  return text;
}

PackedProfile random_profile(std::mt19937_64& random) {
  PackedProfile profile;
  profile.clock_hz = random() % 3 == 0 ? UINT64_MAX : random() % 2000000000;
  const auto steps = random() % 5;
  for (std::size_t i = 0; i < steps; ++i) {
    ProfileStep step{.local_index = random_u32(random),
                     .phase = random_u32(random),
                     .epoch = random() % 2 ? 0 : random_u32(random),
                     .operation = random_text(random),
                     .kind = static_cast<ProfileStepKind>(random() % 4),
                     .kernel = random() % 2 ? "" : random_text(random)};
    const auto entries = random() % 3;
    for (std::size_t m = 0; m < entries; ++m) {
      step.metadata.push_back({random_text(random), random_text(random)});
    }
    profile.steps.push_back(step);
  }
  const auto tiles = random() % 5;
  for (std::size_t t = 0; t < tiles; ++t) {
    PackedTile tile{.physical_tile = random_u32(random)};
    const auto samples = steps == 0 ? 0 : random() % 7;
    for (std::size_t s = 0; s < samples; ++s) {
      tile.samples.push_back({.step = static_cast<std::uint32_t>(random() % steps),
                              .start_cycle = random_u32(random),
                              .end_cycle = random_u32(random)});
    }
    profile.tiles.push_back(tile);
  }
  return profile;
}

// The profile laid out as a writer might: any JSON whitespace between tokens, fields in any
// order, optional step fields left out when they hold their defaults.
std::string compose(const PackedProfile& profile, std::mt19937_64& random) {
  static const std::array<std::string_view, 7> spaces = {"", "", "", " ", "\n  ", "\t", "\r\n"};
  const auto space = [&] { return std::string(spaces[random() % spaces.size()]); };

  std::string steps = "[" + space();
  for (std::size_t i = 0; i < profile.steps.size(); ++i) {
    const auto& step = profile.steps[i];
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    std::vector<std::pair<std::string, nlohmann::ordered_json>> fields = {
        {"phase", step.phase},
        {"operation", step.operation},
        {"kind", std::array<const char*, 4>{"exchange", "compute", "synchronization",
                                            "idle"}[static_cast<std::size_t>(step.kind)]}};
    if (step.local_index != 0 || random() % 2) fields.emplace_back("local_index", step.local_index);
    if (step.epoch != 0 || random() % 2) fields.emplace_back("epoch", step.epoch);
    if (!step.kernel.empty() || random() % 2) fields.emplace_back("kernel", step.kernel);
    if (!step.metadata.empty() || random() % 2) {
      auto entries = nlohmann::ordered_json::array();
      for (const auto& entry : step.metadata) {
        entries.push_back(
            random() % 2 ? nlohmann::ordered_json{{"name", entry.name}, {"value", entry.value}}
                         : nlohmann::ordered_json{{"value", entry.value}, {"name", entry.name}});
      }
      fields.emplace_back("metadata", entries);
    }
    std::shuffle(fields.begin(), fields.end(), random);
    for (auto& [name, value] : fields) object[name] = value;
    if (i != 0) steps += "," + space();
    steps += object.dump(random() % 3 == 0 ? 2 : -1) + space();
  }
  steps += "]";

  std::string tiles = "[" + space();
  for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
    const auto& tile = profile.tiles[t];
    std::string samples = "[" + space();
    for (std::size_t s = 0; s < tile.samples.size(); ++s) {
      const auto& sample = tile.samples[s];
      if (s != 0) samples += "," + space();
      samples += "[" + space() + std::to_string(sample.step) + space() + "," + space() +
                 std::to_string(sample.start_cycle) + space() + "," + space() +
                 std::to_string(sample.end_cycle) + space() + "]" + space();
    }
    samples += "]";
    const std::string number = "\"physical_tile\"" + space() + ":" + space() +
                               std::to_string(tile.physical_tile) + space();
    const std::string list = "\"samples\"" + space() + ":" + space() + samples + space();
    if (t != 0) tiles += "," + space();
    tiles += "{" + space() +
             (random() % 2 ? number + "," + space() + list : list + "," + space() + number) + "}" +
             space();
  }
  tiles += "]";

  std::vector<std::string> members = {
      "\"version\"" + space() + ":" + space() + "1",
      "\"clock_hz\"" + space() + ":" + space() + std::to_string(profile.clock_hz),
      "\"steps\"" + space() + ":" + space() + steps, "\"tiles\"" + space() + ":" + space() + tiles};
  std::shuffle(members.begin(), members.end(), random);
  std::string text = space() + "{" + space();
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i != 0) text += "," + space();
    text += members[i] + space();
  }
  return text + "}" + space();
}

// Tests ----------------------------------------------------------------------------------------

TEST(ProfileFastPath, TakesWhatWritersProduce) {
  const auto generated =
      pack(zel_generator::generate_profile({.tiles = 9, .epochs = 2, .phases = 5}));
  const std::string text = write_profile(generated);
  for (const std::size_t threshold : {std::size_t{0}, std::size_t{64}, std::size_t{1} << 20}) {
    const auto fast = try_read_packed_fast(text, {.parallel_min_bytes = threshold});
    ASSERT_TRUE(fast.has_value()) << threshold;
    EXPECT_EQ(*fast, generated);
  }
  EXPECT_TRUE(check_readers_agree(text));
  EXPECT_TRUE(check_readers_agree(write_profile(PackedProfile{})));
  EXPECT_TRUE(check_readers_agree(write_profile(PackedProfile{.tiles = {{.physical_tile = 3}}})));
}

TEST(ProfileFastPath, TakesAnyWhitespaceAndFieldOrder) {
  std::mt19937_64 random(7);
  for (int round = 0; round < 400; ++round) {
    const PackedProfile profile = random_profile(random);
    const std::string text = compose(profile, random);
    SCOPED_TRACE(text);
    for (const std::size_t threshold : {std::size_t{0}, std::size_t{1} << 20}) {
      const auto fast = try_read_packed_fast(text, {.parallel_min_bytes = threshold});
      ASSERT_TRUE(fast.has_value());
      EXPECT_EQ(*fast, profile);
    }
    EXPECT_TRUE(check_readers_agree(text));
  }
}

TEST(ProfileFastPath, SplitsLargeTileArraysAcrossTwoThreads) {
  // Tiles after the steps, before them, and a profile whose steps outweigh its tiles, so that
  // the worker's start falls in the steps: the result is always that of one front-to-back read.
  const auto generated =
      pack(zel_generator::generate_profile({.tiles = 40, .epochs = 3, .phases = 9}));
  std::mt19937_64 random(11);
  for (int round = 0; round < 20; ++round) {
    PackedProfile profile = generated;
    if (round % 3 == 2) {
      profile.tiles.resize(2);
      for (int i = 0; i < 200; ++i) profile.steps.push_back(profile.steps[i % 5]);
    }
    const std::string text = round % 2 ? write_profile(profile) : compose(profile, random);
    for (const std::size_t threshold : {std::size_t{0}, std::size_t{100}, std::size_t{5000}}) {
      const auto fast = try_read_packed_fast(text, {.parallel_min_bytes = threshold});
      ASSERT_TRUE(fast.has_value()) << round << " " << threshold;
      EXPECT_EQ(*fast, profile);
    }
  }
}

TEST(ProfileFastPath, DeclinesEveryDeviationAndTheReadersAgree) {
  const std::string good =
      write_profile(pack(zel_generator::generate_profile({.tiles = 2, .epochs = 1, .phases = 2})));
  ASSERT_TRUE(try_read_packed_fast(good).has_value());
  const auto replaced = [&](std::string_view from, std::string_view to) {
    std::string text = good;
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
  };
  const auto sample_at = good.find("[[") + 1;
  const std::string first_sample =
      good.substr(sample_at, good.find(']', sample_at) + 1 - sample_at);
  const std::vector<std::string> declined = {
      "\xef\xbb\xbf" + good,  // byte-order mark
      "\v" + good,
      "\f" + good,
      good + "\v",
      good + "\xc2\xa0",  // not JSON whitespace
      good + "x",
      good + "{}",
      good + "}",
      good + std::string(1, '\0'),
      replaced("\"version\"", "\"\\u0076ersion\""),  // an escaped name: valid, declined
      replaced("\"physical_tile\"", "\"physical_\\u0074ile\""),
      replaced("\"samples\"", "\"sample\""),
      replaced("\"physical_tile\": 0", "\"physical_tile\": 00"),
      replaced("\"physical_tile\": 0", "\"physical_tile\": -0"),
      replaced("\"physical_tile\": 0", "\"physical_tile\": 0.0"),
      replaced("\"physical_tile\": 0", "\"physical_tile\": 4294967296"),
      replaced("\"physical_tile\": 0", "\"physical_tile\": 0, \"physical_tile\": 0"),
      replaced("\"physical_tile\": 0, ", ""),
      replaced("\"physical_tile\": 0", "\"physical_tile\": 0, \"name\": \"t\""),
      replaced("\"clock_hz\": 1330000000", "\"clock_hz\": 18446744073709551616"),
      replaced("\"clock_hz\": 1330000000", "\"clock_hz\": 01330000000"),
      replaced("\"clock_hz\": 1330000000", "\"clock_hz\": 1.33e9"),
      replaced("\"version\": 1", "\"version\": 1.0"),
      replaced("\"version\": 1", "\"version\": 01"),
      replaced("\"version\": 1", "\"version\": 1, \"version\": 1"),
      replaced(first_sample, "[0,1,2,3]"),
      replaced(first_sample, "[0,1]"),
      replaced(first_sample, "[0,01,2]"),
      replaced(first_sample, "[0,1,2e0]"),
      replaced(first_sample, "[0,1,-2]"),
      replaced(first_sample, "[0,1,4294967296]"),
      replaced(first_sample, "[0,1,42949672950]"),
      replaced(first_sample, "[0,1,2,]"),
      replaced(first_sample, "[0,1,\"2\"]"),
      replaced(first_sample, "[0,1,null]"),
      replaced(first_sample, "[0 1,2]"),
      replaced(first_sample, "[0,1,2]]"),
      replaced(first_sample, "[99,1,2]"),
      replaced(first_sample, "[4294967295,1,2]"),
      replaced(first_sample, "[4294967296,1,2]"),
      replaced(first_sample, "[0,\v1,2]"),
      replaced(first_sample, "{0,1,2}"),
      replaced("]]}", "]],}"),
      replaced("]]}", "]]}}"),
      replaced("\n  ]\n}", ",\n  ]\n}"),
      replaced("\n  ]\n}", "\n  ]]\n}"),
      replaced("\"steps\": [", "\"steps\": [,"),
      replaced("\"steps\": [", "\"steps\": {"),
      replaced("\"tiles\": [", "\"tiles\": {"),
      replaced("\"tiles\": [", "\"tiles\": [["),
      replaced("\"kind\": \"exchange\"", "\"kind\": \"Exchange\""),
      replaced("\"operation\": \"", "\"operation\": \"\x01"),
      replaced("\"operation\": \"", "\"operation\": \"\xff"),
      replaced("\"operation\": \"", "\"operation\": \"\\x"),
      "",
      "{}",
      "[]",
      "1",
      good.substr(0, good.size() - 3),
      good.substr(0, good.size() / 2),
  };
  for (const auto& text : declined) {
    SCOPED_TRACE(text.substr(0, 200));
    EXPECT_FALSE(try_read_packed_fast(text).has_value());
    EXPECT_FALSE(try_read_packed_fast(text, {.parallel_min_bytes = 0}).has_value());
    check_readers_agree(text);
  }
}

// Random profiles as the writer and compose() lay them out, mutated at random places: whatever
// the mutation made of them, the readers must agree (this is what would catch a fast path that
// takes something the full reader rejects).
TEST(ProfileFastPath, RandomMutationsAreReadAlikeByEveryReader) {
  static const std::string alphabet = std::string("0123456789 \t\r\n\v\f[]{}\",:-+.eE\\/u") +
                                      std::string(1, '\0') + "\xff\xc3\xef\xbb\xbf";
  std::mt19937_64 random(2026);
  int taken = 0;
  int rejected = 0;
  constexpr int rounds = 15000;
  for (int round = 0; round < rounds; ++round) {
    const PackedProfile profile = random_profile(random);
    std::string text = random() % 2 ? write_profile(profile) : compose(profile, random);
    const auto mutations = 1 + random() % 3;
    for (std::size_t m = 0; m < mutations && !text.empty(); ++m) {
      // Mostly in the tiles, where the fast path does its own reading.
      const auto tiles_at = text.find("\"tiles\"");
      const std::size_t from = tiles_at != std::string::npos && random() % 4 != 0 ? tiles_at : 0;
      const std::size_t at = from + random() % (text.size() - from);
      const char c = alphabet[random() % alphabet.size()];
      switch (random() % 6) {
        case 0:
          text[at] = c;
          break;  // replace
        case 1:
          text[at] = static_cast<char>(text[at] ^ (1 << random() % 8));
          break;  // flip
        case 2:
          text.erase(at, 1 + random() % 3);
          break;  // delete
        case 3:
          text.insert(at, 1, c);
          break;  // insert
        case 4:
          text.insert(at, std::string(1 + random() % 12, "0123456789"[random() % 10]));
          break;
        default:
          text.insert(at, text.substr(random() % text.size(), 1 + random() % 8));  // copy
      }
    }
    if (check_readers_agree(text)) {
      ++taken;
    } else if (!std::holds_alternative<PackedProfile>(
                   outcome_of([&] { return detail::read_packed_full(text); }))) {
      ++rejected;
    }
    if (::testing::Test::HasFailure()) break;
  }
  // Both kinds must be well represented for the test to mean anything.
  EXPECT_GT(taken, rounds / 50);
  EXPECT_GT(rejected, rounds / 2);
}

}  // namespace
}  // namespace zel_storage
