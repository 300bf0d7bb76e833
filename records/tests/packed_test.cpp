// Packing keeps every fact of a profile: tiles, their order and numbers, samples and their steps.
#include <gtest/gtest.h>

#include <stdexcept>

#include <zel_generator/generator.hpp>
#include <zel_package/packed.hpp>

namespace zel_package {
namespace {

ProfileStep step(std::uint32_t phase, std::string kernel) {
  return ProfileStep{.phase = phase,
                     .operation = "op",
                     .kind = ProfileStepKind::Compute,
                     .kernel = std::move(kernel),
                     .metadata = {{"block", "0"}}};
}

TEST(Packed, StoresEachDistinctStepOnceAndUnpacksToTheSameProfile) {
  const ProfileReport report{
      .clock_hz = 7,
      .tiles = {{.physical_tile = 5,
                 .samples = {{step(1, "b"), 10, 20},
                             {step(0, "a"), 4294967290u, 3},
                             {step(1, "b"), 30, 30}}},
                {.physical_tile = 5, .samples = {}},
                {.physical_tile = 2, .samples = {{step(0, "a"), 1, 2}, {step(0, ""), 2, 9}}}}};
  const PackedProfile packed = pack(report);
  ASSERT_EQ(packed.steps.size(), 3u);  // in order of first use
  EXPECT_EQ(packed.steps[0], step(1, "b"));
  EXPECT_EQ(packed.steps[1], step(0, "a"));
  EXPECT_EQ(packed.steps[2], step(0, ""));
  ASSERT_EQ(packed.tiles.size(), 3u);
  EXPECT_EQ(packed.tiles[0].samples[2], (PackedSample{0, 30, 30}));
  EXPECT_EQ(packed.tiles[2].samples[1], (PackedSample{2, 2, 9}));
  EXPECT_EQ(sample_count(packed), 5u);
  EXPECT_EQ(sample_count(report), 5u);
  EXPECT_EQ(unpack(packed), report);
  EXPECT_EQ(unpack(pack(ProfileReport{})), ProfileReport{});
}

TEST(Packed, GeneratedProfileRoundTripsAndStaysSmall) {
  const auto report = zel_generator::generate_profile({.tiles = 24, .epochs = 3, .phases = 9});
  const PackedProfile packed = pack(report);
  EXPECT_EQ(unpack(packed), report);
  // 3 epochs of 9 phases, each an exchange, a compute, an idle and a synchronization step at most.
  EXPECT_LE(packed.steps.size(), 3u * 9u * 4u);
  // Each step once, however it was found (by its place on the tile before, or by its hash).
  for (std::size_t a = 0; a < packed.steps.size(); ++a) {
    for (std::size_t b = a + 1; b < packed.steps.size(); ++b) {
      EXPECT_NE(packed.steps[a], packed.steps[b]) << a << " and " << b;
    }
  }
  EXPECT_EQ(sizeof(PackedSample), 12u);
}

TEST(Packed, UnpackRefusesAStepIndexOutOfRange) {
  const PackedProfile bad{.clock_hz = 1,
                          .steps = {step(0, "a")},
                          .tiles = {{.physical_tile = 0, .samples = {{0, 1, 2}, {1, 2, 3}}}}};
  EXPECT_THROW(unpack(bad), std::invalid_argument);
}

}  // namespace
}  // namespace zel_package
