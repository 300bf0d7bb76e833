#include <gtest/gtest.h>

#include <malloc.h>

#include <set>
#include <string>

#include <zel_generator/generator.hpp>
#include <zel_profile/query.hpp>

namespace zel_generator {
namespace {

using zel_package::ProfileStepKind;

TEST(Generator, SameSeedSameProfileOtherSeedOtherProfile) {
  const GeneratorOptions options{.tiles = 9, .epochs = 2, .phases = 5, .seed = 42};
  EXPECT_EQ(generate_profile(options), generate_profile(options));
  auto other = options;
  other.seed = 43;
  EXPECT_NE(generate_profile(options), generate_profile(other));
}

// pack() numbers steps on its own, in order of first use; the packed generator must agree with it
// exactly, including steps (idle or compute) that only a later tile uses first.
TEST(Generator, PackedProfileIsThePackedRecords) {
  for (const GeneratorOptions& options :
       {GeneratorOptions{}, GeneratorOptions{.tiles = 1, .epochs = 3, .phases = 2},
        GeneratorOptions{.tiles = 40, .epochs = 2, .phases = 30, .seed = 11, .clock_hz = 0}}) {
    const auto packed = generate_packed_profile(options);
    EXPECT_EQ(zel_package::pack(generate_profile(options)), packed)
        << ::testing::PrintToString(options.tiles);
    EXPECT_EQ(zel_package::sample_count(packed),
              std::size_t{options.tiles} * options.epochs * options.phases * 3);
  }
}

// A large profile must be generated without a record per sample: what the generator keeps, as the
// allocator counts it, is 12 bytes a sample and the distinct steps, which at 10^8 samples is what
// lets it fit in memory.
TEST(Generator, HoldsTwelveBytesASamplePlusItsSteps) {
  const auto in_use = [] {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
  };
  const GeneratorOptions options{.tiles = 512, .epochs = 4, .phases = 25, .seed = 3};
  const std::size_t before = in_use();
  const auto profile = generate_packed_profile(options);
  const std::size_t held = in_use() - before;
  const std::size_t samples = zel_package::sample_count(profile);
  ASSERT_EQ(samples, 512u * 4 * 25 * 3);
  // Steps: at most 4 per phase execution, a few hundred bytes each with their strings.
  EXPECT_LE(held, samples * 12 + 512 * 64 + 4 * 4 * 25 * 1024) << held / samples << " B a sample";
}

TEST(Generator, ShapeKindsAndPerTileTimeOrder) {
  const GeneratorOptions options{.tiles = 24, .epochs = 3, .phases = 34, .seed = 7, .clock_hz = 5};
  const auto profile = generate_profile(options);
  EXPECT_EQ(profile.clock_hz, 5u);
  ASSERT_EQ(profile.tiles.size(), 24u);
  std::set<std::string> kernels;
  std::set<ProfileStepKind> kinds;
  bool crosses_wrap = false;
  for (std::uint32_t tile = 0; tile < 24; ++tile) {
    const auto& samples = profile.tiles[tile].samples;
    EXPECT_EQ(profile.tiles[tile].physical_tile, tile);
    ASSERT_EQ(samples.size(), 3u * 3 * 34);
    const std::uint32_t base = samples.front().start_cycle;
    std::uint64_t previous_end = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const auto& sample = samples[i];
      kinds.insert(sample.step.kind);
      if (!sample.step.kernel.empty()) {
        kernels.insert(sample.step.kernel);
      }
      EXPECT_EQ(sample.step.phase, (i / 3) % 34);
      EXPECT_EQ(sample.step.epoch, i / (3 * 34));
      // Samples follow one another on the tile's own axis, without overlap.
      const std::uint64_t offset = static_cast<std::uint32_t>(sample.start_cycle - base);
      EXPECT_GE(offset, previous_end);
      previous_end = offset + zel_profile::duration(sample);
      crosses_wrap |= sample.start_cycle < base;
    }
  }
  EXPECT_EQ(kinds.size(), 4u) << "exchange, compute, synchronization and idle all occur";
  EXPECT_GE(kernels.size(), 12u);
  EXPECT_TRUE(crosses_wrap);
}

TEST(Generator, SynchronizationEndsThePhaseOnEveryTileTogether) {
  const auto profile = generate_profile({.tiles = 6, .epochs = 1, .phases = 4, .seed = 3});
  const auto report = zel_profile::query(profile, {.group_by = zel_profile::GroupBy::Phase,
                                                   .kind = zel_profile::StepKind::Synchronization});
  ASSERT_EQ(report.groups.size(), 4u);
  for (const auto& group : report.groups) {
    EXPECT_EQ(group.tile_count, 6u);
    EXPECT_GT(group.average_active_tiles, 1.0);
  }
}

}  // namespace
}  // namespace zel_generator
