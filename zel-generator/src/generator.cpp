#include <zel_generator/generator.hpp>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace zel_generator {
namespace {

using zel_package::CycleSample;
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

}  // namespace

zel_package::ProfileReport generate_profile(const GeneratorOptions& options) {
  Random random(options.seed);
  const auto plans = plan_phases(options, random);

  zel_package::ProfileReport report{.clock_hz = options.clock_hz, .tiles = {}};
  report.tiles.resize(options.tiles);
  std::vector<std::uint32_t> origin(options.tiles);
  std::vector<std::uint32_t> speed_percent(options.tiles);
  for (std::uint32_t tile = 0; tile < options.tiles; ++tile) {
    report.tiles[tile].physical_tile = tile;
    report.tiles[tile].samples.reserve(std::size_t{options.epochs} * options.phases * 3);
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
      const auto exchange = make_step(phase, epoch, 0, ProfileStepKind::Exchange, plan);
      const auto compute = make_step(phase, epoch, 1, ProfileStepKind::Compute, plan);
      const auto idle = make_step(phase, epoch, 1, ProfileStepKind::Idle, plan);
      const auto sync = make_step(phase, epoch, 2, ProfileStepKind::Synchronization, plan);

      auto raw = [&](std::uint32_t tile, std::uint64_t time) {
        return static_cast<std::uint32_t>(origin[tile] + time);
      };
      std::uint64_t phase_end = now;
      for (std::uint32_t tile = 0; tile < options.tiles; ++tile) {
        auto& samples = report.tiles[tile].samples;
        const std::uint64_t start = now + random.below(24);
        const std::uint64_t exchanged = start + jitter(random, plan.exchange_cycles);
        samples.push_back(CycleSample{exchange, raw(tile, start), raw(tile, exchanged)});
        const bool is_idle = random.below(50) == 0;
        const std::uint32_t work = jitter(random, plan.compute_cycles * speed_percent[tile] / 100);
        compute_end[tile] = exchanged + (is_idle ? work / 4 : work);
        samples.push_back(CycleSample{is_idle ? idle : compute, raw(tile, exchanged),
                                      raw(tile, compute_end[tile])});
        phase_end = std::max(phase_end, compute_end[tile]);
      }
      phase_end += 30;  // the synchronization's own latency
      for (std::uint32_t tile = 0; tile < options.tiles; ++tile) {
        report.tiles[tile].samples.push_back(
            CycleSample{sync, raw(tile, compute_end[tile]), raw(tile, phase_end)});
      }
      now = phase_end;
    }
  }
  return report;
}

}  // namespace zel_generator
