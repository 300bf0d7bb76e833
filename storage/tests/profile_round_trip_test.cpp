#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>
#include <zel_generator/generator.hpp>
#include <zel_storage/storage.hpp>

namespace zel_storage {
using namespace zel_package;
namespace {

constexpr std::uint32_t max_u32 = std::numeric_limits<std::uint32_t>::max();

CycleSample sample(const ProfileStep& step, std::uint32_t start, std::uint32_t end) {
  return {.step = step, .start_cycle = start, .end_cycle = end};
}

ProfileReport round_trip(const ProfileReport& report) {
  return read_profile(write_profile(report));
}

TEST(ProfileRoundTrip, EmptyProfilesAndEmptyTiles) {
  const ProfileReport nothing{};
  EXPECT_EQ(round_trip(nothing), nothing);

  const ProfileReport empty_tiles{.clock_hz = 7,
                                  .tiles = {{.physical_tile = 3}, {.physical_tile = 1}}};
  EXPECT_EQ(round_trip(empty_tiles), empty_tiles);
}

TEST(ProfileRoundTrip, EveryFieldAtItsLimitsAndInOrder) {
  const ProfileStep exchange{.local_index = max_u32,
                             .phase = max_u32,
                             .epoch = max_u32,
                             .operation = "x",
                             .kind = ProfileStepKind::Exchange};
  const ProfileStep compute{.phase = 1,
                            .operation = "mm",
                            .kind = ProfileStepKind::Compute,
                            .kernel = "gemm",
                            .metadata = {{"block", "1"}, {"block", "2"}}};
  const ProfileStep sync{.operation = "", .kind = ProfileStepKind::Synchronization};
  const ProfileStep idle{.epoch = 4, .operation = "wait", .kind = ProfileStepKind::Idle};
  const ProfileReport report{
      .clock_hz = std::numeric_limits<std::uint64_t>::max(),
      .tiles = {
          {.physical_tile = max_u32,
           .samples = {sample(exchange, max_u32 - 5, 10), sample(compute, 0, max_u32),
                       sample(sync, 3, 3)}},
          // Repeated tile numbers and tile order are kept as they are.
          {.physical_tile = 0, .samples = {sample(idle, 1, 2)}},
          {.physical_tile = max_u32, .samples = {sample(compute, 5, 4), sample(exchange, 0, 0)}},
      }};
  EXPECT_EQ(round_trip(report), report);
}

TEST(ProfileRoundTrip, StringsThatNeedEscapingAndUnicode) {
  const std::string awkward = std::string("quote \" backslash \\ slash / newline \n tab \t nul ") +
                              '\0' + " bell \x07 del \x7f end";
  const ProfileStep step{.operation = awkward,
                         .kind = ProfileStepKind::Compute,
                         .kernel = "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x9a\x80",
                         .metadata = {{awkward, "\xe2\x82\xac"}, {"", ""}}};
  const ProfileReport report{.clock_hz = 1, .tiles = {{.samples = {sample(step, 1, 2)}}}};
  EXPECT_EQ(round_trip(report), report);
}

TEST(ProfileRoundTrip, GeneratedProfile) {
  const auto report = zel_generator::generate_profile({.tiles = 6, .epochs = 2, .phases = 7});
  EXPECT_EQ(round_trip(report), report);
}

TEST(ProfileWriter, StoresEachDistinctStepOnceInOrderOfFirstUse) {
  const ProfileStep a{.phase = 2, .operation = "a", .kind = ProfileStepKind::Compute};
  ProfileStep b = a;
  b.metadata = {{"k", "v"}};  // differs from `a` in metadata only
  ProfileStep c = a;
  c.local_index = 1;  // differs from `a` in the index the engine ignores: still a distinct step
  const ProfileReport report{
      .tiles = {
          {.physical_tile = 1, .samples = {sample(b, 0, 1), sample(a, 1, 2), sample(b, 2, 3)}},
          {.physical_tile = 2, .samples = {sample(c, 0, 1), sample(a, 4, 9)}}}};

  const auto stored = nlohmann::json::parse(write_profile(report));
  ASSERT_EQ(stored["steps"].size(), 3u);
  EXPECT_EQ(stored["steps"][0]["metadata"][0]["value"], "v");
  EXPECT_EQ(stored["steps"][1]["metadata"].size(), 0u);
  EXPECT_EQ(stored["steps"][2]["local_index"], 1);
  EXPECT_EQ(stored["tiles"][0]["samples"], nlohmann::json::parse("[[0,0,1],[1,1,2],[0,2,3]]"));
  EXPECT_EQ(stored["tiles"][1]["samples"], nlohmann::json::parse("[[2,0,1],[1,4,9]]"));
  EXPECT_EQ(read_profile(stored.dump()), report);
}

TEST(ProfileWriter, RefusesTextThatIsNotUtf8) {
  const ProfileStep good{.operation = "ok"};
  ProfileStep bad = good;
  bad.metadata = {{"name", "ok"}, {"name", "\xff"}};
  const ProfileReport report{.tiles = {{.samples = {sample(good, 0, 1)}},
                                       {.samples = {sample(good, 1, 2), sample(bad, 2, 3)}}}};
  try {
    write_profile(report);
    FAIL() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(),
                 "cannot write the profile: tiles[1].samples[1].step.metadata[1].value is not "
                 "valid UTF-8");
  }
}

TEST(ProfileReader, AcceptsAnyFieldOrderDefaultsAndEscapedNames) {
  // Tiles before steps, optional step fields left out, a field name written with an escape.
  const auto report = read_profile(R"( {
    "tiles": [{"samples": [[1, 4294967291, 5], [0, 5, 15]], "physical_tile": 9}],
    "steps": [
      {"kind": "exchange", "operation": "layer0/exchange", "phase": 0},
      {"metadata": [{"value": "1", "name": "block"}], "kernel": "k", "kind": "idle",
       "operation": "op", "epoch": 3, "phase": 1, "local_index": 8}
    ],
    "clock_hz": 1330000000, "\u0076ersion": 1
  } )");
  const ProfileStep first{.operation = "layer0/exchange", .kind = ProfileStepKind::Exchange};
  const ProfileStep second{.local_index = 8,
                           .phase = 1,
                           .epoch = 3,
                           .operation = "op",
                           .kind = ProfileStepKind::Idle,
                           .kernel = "k",
                           .metadata = {{"block", "1"}}};
  const ProfileReport expected{
      .clock_hz = 1330000000,
      .tiles = {
          {.physical_tile = 9, .samples = {sample(second, 4294967291, 5), sample(first, 5, 15)}}}};
  EXPECT_EQ(report, expected);
}

}  // namespace
}  // namespace zel_storage
