// The options of `zel-profile generate`, as typed on the command line, and the generator settings
// they stand for.
#pragma once

#include <optional>
#include <string>

#include <CLI/CLI.hpp>
#include <zel_generator/generator.hpp>

namespace zel_cli {

// The words of `zel-profile generate`, unconverted. Absent options keep the generator's defaults.
struct GenerateOptions {
  std::optional<std::string> tiles;
  std::optional<std::string> epochs;
  std::optional<std::string> phases;
  std::optional<std::string> seed;
  std::optional<std::string> clock_hz;
  std::string output = "-";  // file name; "-" writes standard output

  bool operator==(const GenerateOptions&) const = default;
};

// The most samples one generated profile may hold: enough for any benchmark, and a bound that
// turns a typing slip into a usage error. Generating holds the whole profile in packed form, 12
// bytes a sample: 1.2 GB at this bound.
inline constexpr std::uint64_t maximum_generated_samples = 100'000'000;

// The most phase executions (epochs x phases) one generated profile may hold. Each adds up to four
// distinct steps of about 330 bytes each, held besides the samples, so this bounds them to about
// 1.3 GB; without it a profile of few tiles and many phases would make a step of nearly every
// sample, 30 GB and more.
inline constexpr std::uint64_t maximum_generated_phase_executions = 1'000'000;

// Declares every generate option on `command`, storing into `options`, which must outlive the
// parse.
void add_generate_options(CLI::App& command, GenerateOptions& options);

// The generator settings the options describe. Throws UsageError for a bad number, for a profile
// of more than maximum_generated_samples samples or maximum_generated_phase_executions epochs x
// phases, or for no tiles, epochs or phases.
zel_generator::GeneratorOptions to_generator_options(const GenerateOptions& options);

}  // namespace zel_cli
