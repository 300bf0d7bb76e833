#include <zel_generator/generator.hpp>

#include <algorithm>
#include <array>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace zel_generator {
namespace {

using zel_package::ProfileStep;
using zel_package::ProfileStepKind;

// SplitMix64: a tiny generator whose sequence is fixed by its definition, unlike the standard
// distributions, whose results differ between standard libraries.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

  // A number in [0, bound); bound > 0.
  std::uint32_t below(std::uint32_t bound) { return static_cast<std::uint32_t>(next() % bound); }

  // A number in [low, high].
  std::uint32_t between(std::uint32_t low, std::uint32_t high) {
    return low + below(high - low + 1);
  }

 private:
  std::uint64_t state_;
};

constexpr std::array kernel_families = {"gemm_f16", "gemm_f32",   "conv2d_3x3", "conv2d_1x1",
                                        "softmax",  "layernorm",  "gelu",       "add",
                                        "mul",      "reduce_sum", "transpose",  "embedding_lookup"};
constexpr std::array kernel_variants = {"", "_v2", "_tiled"};

// What every tile runs in one phase (the same in every epoch but for timing).
struct PhasePlan {
  std::string kernel;
  std::string layer;
  std::string block;
  std::string dtype;
  std::uint32_t exchange_cycles = 0;
  std::uint32_t compute_cycles = 0;
};

std::vector<PhasePlan> plan_phases(const GeneratorOptions& options, Random& random) {
  std::vector<PhasePlan> plans(options.phases);
  for (std::uint32_t phase = 0; phase < options.phases; ++phase) {
    auto& plan = plans[phase];
    plan.kernel = std::string(kernel_families[random.below(kernel_families.size())]) +
                  kernel_variants[random.below(kernel_variants.size())];
    plan.layer = std::to_string(phase / 4);
    plan.block = std::to_string(phase % 12);
    plan.dtype = plan.kernel.find("f32") != std::string::npos ? "f32" : "f16";
    plan.exchange_cycles = random.between(40, 900);
    plan.compute_cycles = random.between(150, 4000);
  }
  return plans;
}

ProfileStep make_step(std::uint32_t phase, std::uint32_t epoch, std::uint32_t slot,
                      ProfileStepKind kind, const PhasePlan& plan) {
  ProfileStep step{.local_index = phase * 3 + slot, .phase = phase, .epoch = epoch, .kind = kind};
  const std::string prefix = "layer" + plan.layer + "/";
  switch (kind) {
    case ProfileStepKind::Exchange:
      step.operation = prefix + "exchange";
      break;
    case ProfileStepKind::Compute:
      step.operation = prefix + plan.kernel;
      step.kernel = plan.kernel;
      break;
    case ProfileStepKind::Synchronization:
      step.operation = prefix + "sync";
      break;
    case ProfileStepKind::Idle:
      step.operation = prefix + "idle";
      break;
  }
  step.metadata = {{"block", plan.block}, {"layer", plan.layer}};
  if (kind == ProfileStepKind::Compute) {
    step.metadata.push_back({"dtype", plan.dtype});
  }
  return step;
}

// Within ±10% of `cycles`.
std::uint32_t jitter(Random& random, std::uint32_t cycles) {
  const std::uint32_t spread = cycles / 10;
  return cycles - spread + random.below(2 * spread + 1);
}

// A step is known during generation by a provisional index, 4 per (epoch, phase) in that order,
// one per slot and kind below. Samples are drawn phase by phase across all tiles, but steps are
// numbered in order of first use tile by tile, so the indexes are replaced once every sample is
// drawn.
enum Variant : std::uint32_t { exchange_variant, compute_variant, idle_variant, sync_variant };
constexpr std::uint32_t variants_per_phase = 4;

ProfileStep make_variant_step(std::uint32_t provisional, const GeneratorOptions& options,
                              const std::vector<PhasePlan>& plans) {
  const std::uint32_t execution = provisional / variants_per_phase;
  const std::uint32_t phase = execution % options.phases;
  const std::uint32_t epoch = execution / options.phases;
  const auto& plan = plans[phase];
  switch (provisional % variants_per_phase) {
    case exchange_variant:
      return make_step(phase, epoch, 0, ProfileStepKind::Exchange, plan);
    case compute_variant:
      return make_step(phase, epoch, 1, ProfileStepKind::Compute, plan);
    case idle_variant:
      return make_step(phase, epoch, 1, ProfileStepKind::Idle, plan);
    default:
      return make_step(phase, epoch, 2, ProfileStepKind::Synchronization, plan);
  }
}

// Replaces the provisional step indexes by indexes in order of first use, tile by tile and sample
// by sample, and makes each step used once.
void number_steps(zel_package::PackedProfile& profile, const GeneratorOptions& options,
                  const std::vector<PhasePlan>& plans) {
  constexpr std::uint32_t unused = std::numeric_limits<std::uint32_t>::max();
  std::vector<std::uint32_t> final_index(
      std::size_t{options.epochs} * options.phases * variants_per_phase, unused);
  std::vector<std::uint32_t> first_use_order;
  for (auto& tile : profile.tiles) {
    for (auto& sample : tile.samples) {
      auto& index = final_index[sample.step];
      if (index == unused) {
        index = static_cast<std::uint32_t>(first_use_order.size());
        first_use_order.push_back(sample.step);
      }
      sample.step = index;
    }
  }
  profile.steps.reserve(first_use_order.size());
  for (const std::uint32_t provisional : first_use_order) {
    profile.steps.push_back(make_variant_step(provisional, options, plans));
  }
}

}  // namespace

zel_package::PackedProfile generate_packed_profile(const GeneratorOptions& options) {
  if (std::uint64_t{options.epochs} * options.phases * variants_per_phase >
      std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("a generated profile holds at most 2^30 phase executions");
  }
  Random random(options.seed);
  const auto plans = plan_phases(options, random);

  zel_package::PackedProfile profile{.clock_hz = options.clock_hz, .steps = {}, .tiles = {}};
  profile.tiles.resize(options.tiles);
  std::vector<std::uint32_t> origin(options.tiles);
  std::vector<std::uint32_t> speed_percent(options.tiles);
  for (std::uint32_t tile = 0; tile < options.tiles; ++tile) {
    profile.tiles[tile].physical_tile = tile;
    // Exactly the samples the tile gets, so that large profiles never hold spare capacity.
    profile.tiles[tile].samples.reserve(std::size_t{options.epochs} * options.phases * 3);
    // Every eighth tile starts its counter shortly before the wrap.
    origin[tile] =
        tile % 8 == 3 ? 0u - random.between(1, 200000) : static_cast<std::uint32_t>(random.next());
    speed_percent[tile] = random.between(85, 120);
  }

  std::uint64_t now = 0;  // global time, in cycles since the run began
  std::vector<std::uint64_t> compute_end(options.tiles);
  for (std::uint32_t epoch = 0; epoch < options.epochs; ++epoch) {
    for (std::uint32_t phase = 0; phase < options.phases; ++phase) {
      const auto& plan = plans[phase];
      const std::uint32_t first_variant = (epoch * options.phases + phase) * variants_per_phase;
      auto raw = [&](std::uint32_t tile, std::uint64_t time) {
        return static_cast<std::uint32_t>(origin[tile] + time);
      };
      std::uint64_t phase_end = now;
      for (std::uint32_t tile = 0; tile < options.tiles; ++tile) {
        auto& samples = profile.tiles[tile].samples;
        const std::uint64_t start = now + random.below(24);
        const std::uint64_t exchanged = start + jitter(random, plan.exchange_cycles);
        samples.push_back(
            {first_variant + exchange_variant, raw(tile, start), raw(tile, exchanged)});
        const bool is_idle = random.below(50) == 0;
        const std::uint32_t work = jitter(random, plan.compute_cycles * speed_percent[tile] / 100);
        compute_end[tile] = exchanged + (is_idle ? work / 4 : work);
        samples.push_back({first_variant + (is_idle ? idle_variant : compute_variant),
                           raw(tile, exchanged), raw(tile, compute_end[tile])});
        phase_end = std::max(phase_end, compute_end[tile]);
      }
      phase_end += 30;  // the synchronization's own latency
      for (std::uint32_t tile = 0; tile < options.tiles; ++tile) {
        profile.tiles[tile].samples.push_back(
            {first_variant + sync_variant, raw(tile, compute_end[tile]), raw(tile, phase_end)});
      }
      now = phase_end;
    }
  }
  number_steps(profile, options, plans);
  return profile;
}

zel_package::ProfileReport generate_profile(const GeneratorOptions& options) {
  return zel_package::unpack(generate_packed_profile(options));
}

}  // namespace zel_generator
