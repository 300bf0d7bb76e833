#include "generate_options.hpp"

#include <cstdint>

#include "decimal.hpp"
#include "usage_error.hpp"

namespace zel_cli {
namespace {

CLI::Option* add_optional(CLI::App& command, const std::string& name,
                          std::optional<std::string>& target, const std::string& description) {
  return command
      .add_option_function<std::string>(
          name, [&target](const std::string& value) { target = value; }, description)
      ->type_name("N");
}

// A count that must be at least 1: a profile without tiles, epochs or phases has no samples.
std::uint32_t count(const std::optional<std::string>& text, std::uint32_t fallback,
                    const char* option) {
  if (!text) {
    return fallback;
  }
  const auto value = parse_decimal<std::uint32_t>(*text, option);
  if (value == 0) {
    throw UsageError(std::string(option) + ": expected at least 1");
  }
  return value;
}

}  // namespace

void add_generate_options(CLI::App& command, GenerateOptions& options) {
  const zel_generator::GeneratorOptions defaults;
  add_optional(command, "--tiles", options.tiles,
               "number of tiles (default: " + std::to_string(defaults.tiles) + ")");
  add_optional(
      command, "--epochs", options.epochs,
      "repetitions of the phase sequence (default: " + std::to_string(defaults.epochs) + ")");
  add_optional(command, "--phases", options.phases,
               "phases per epoch, each an exchange, a compute or idle and a synchronization step "
               "(default: " +
                   std::to_string(defaults.phases) + ")");
  add_optional(command, "--seed", options.seed,
               "random seed; the same seed gives the same file (default: " +
                   std::to_string(defaults.seed) + ")");
  add_optional(command, "--clock-hz", options.clock_hz,
               "tile clock rate in Hz (default: " + std::to_string(defaults.clock_hz) + ")")
      ->type_name("HZ");
  command
      .add_option("-o,--output", options.output, "file to write; - or no -o writes standard output")
      ->type_name("FILE");
}

zel_generator::GeneratorOptions to_generator_options(const GenerateOptions& options) {
  const zel_generator::GeneratorOptions defaults;
  zel_generator::GeneratorOptions result{
      .tiles = count(options.tiles, defaults.tiles, "--tiles"),
      .epochs = count(options.epochs, defaults.epochs, "--epochs"),
      .phases = count(options.phases, defaults.phases, "--phases"),
      .seed = options.seed ? parse_decimal<std::uint64_t>(*options.seed, "--seed") : defaults.seed,
      .clock_hz = options.clock_hz ? parse_decimal<std::uint64_t>(*options.clock_hz, "--clock-hz")
                                   : defaults.clock_hz,
  };
  // tiles x epochs fits 64 bits; the first test keeps the full product from overflowing before
  // the exact comparison.
  std::uint64_t samples = std::uint64_t{result.tiles} * result.epochs;
  if (samples > maximum_generated_samples / 3 / result.phases + 1 ||
      samples * result.phases * 3 > maximum_generated_samples) {
    throw UsageError("--tiles x --epochs x --phases x 3 samples: at most " +
                     std::to_string(maximum_generated_samples) + " samples per profile");
  }
  if (std::uint64_t{result.epochs} * result.phases > maximum_generated_phase_executions) {
    throw UsageError("--epochs x --phases: at most " +
                     std::to_string(maximum_generated_phase_executions) +
                     " phase executions per profile");
  }
  return result;
}

}  // namespace zel_cli
