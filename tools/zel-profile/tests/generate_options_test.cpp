#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "generate_options.hpp"
#include "usage_error.hpp"

namespace zel_cli {
namespace {

using zel_generator::GeneratorOptions;

GenerateOptions parse(std::vector<std::string> arguments) {
  CLI::App command;
  GenerateOptions options;
  add_generate_options(command, options);
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  command.parse(reversed);
  return options;
}

TEST(GenerateOptions, DefaultsAreTheGeneratorsAndStandardOutput) {
  const auto options = parse({});
  EXPECT_EQ(options.output, "-");
  EXPECT_EQ(to_generator_options(options), GeneratorOptions{});
}

TEST(GenerateOptions, EveryOptionReachesItsSetting) {
  const auto options = parse({"--tiles", "1472", "--epochs", "7", "--phases", "34", "--seed",
                              "18446744073709551615", "--clock-hz", "0", "-o", "out.json"});
  EXPECT_EQ(options.output, "out.json");
  EXPECT_EQ(
      to_generator_options(options),
      (GeneratorOptions{
          .tiles = 1472, .epochs = 7, .phases = 34, .seed = 18446744073709551615u, .clock_hz = 0}));
  EXPECT_EQ(parse({"--output", "-"}).output, "-");
}

TEST(GenerateOptions, BadCountsAndOversizedProfilesAreUsageErrors) {
  for (const std::string option : {"--tiles", "--epochs", "--phases"}) {
    for (const std::string value : {"0", "-1", "4294967296", "", "two"}) {
      EXPECT_THROW(to_generator_options(parse({option, value})), UsageError)
          << option << " " << value;
    }
  }
  EXPECT_THROW(to_generator_options(parse({"--seed", "-1"})), UsageError);
  EXPECT_THROW(to_generator_options(parse({"--clock-hz", "18446744073709551616"})), UsageError);
  // The bound is exact: 3 * 5 * 6666666 = 99999990 samples pass, one tile more does not.
  EXPECT_NO_THROW(
      to_generator_options(parse({"--tiles", "6666666", "--epochs", "5", "--phases", "1"})));
  EXPECT_THROW(
      to_generator_options(parse({"--tiles", "6666667", "--epochs", "5", "--phases", "1"})),
      UsageError);
  // Every phase execution adds steps of its own, so epochs x phases is bounded too, exactly.
  EXPECT_NO_THROW(
      to_generator_options(parse({"--tiles", "33", "--epochs", "1000", "--phases", "1000"})));
  EXPECT_THROW(to_generator_options(parse({"--epochs", "1000", "--phases", "1001"})), UsageError);
  EXPECT_THROW(
      to_generator_options(parse({"--tiles", "1", "--epochs", "33333333", "--phases", "1"})),
      UsageError);
  // Factors whose product overflows 64 bits are refused, not wrapped into a small number.
  EXPECT_THROW(to_generator_options(parse(
                   {"--tiles", "4294967295", "--epochs", "4294967295", "--phases", "4294967295"})),
               UsageError);
}

}  // namespace
}  // namespace zel_cli
