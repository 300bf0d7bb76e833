#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zel_profile/words.hpp>

#include "run_cli.hpp"

namespace zel_cli {
namespace {

using test_support::run;
using zel_profile::did_you_mean;
using zel_profile::edit_distance;
using zel_profile::nearest;

const std::string example = ZEL_CLI_EXAMPLE_PROFILE;

TEST(Suggestions, EditDistanceCountsEditsAndSwaps) {
  EXPECT_EQ(edit_distance("", ""), 0u);
  EXPECT_EQ(edit_distance("", "abc"), 3u);
  EXPECT_EQ(edit_distance("query", "query"), 0u);
  EXPECT_EQ(edit_distance("qeury", "query"), 1u);  // a swap of neighbours
  EXPECT_EQ(edit_distance("kernal", "kernel"), 1u);
  EXPECT_EQ(edit_distance("kitten", "sitting"), 3u);
  EXPECT_EQ(edit_distance("ca", "abc"), 3u);  // no edit of a swapped pair
  EXPECT_EQ(edit_distance("abc", "ca"), 3u);

  const std::vector<std::string> words{"gemm_f16", "gemm_f32", "softmax", "layernorm"};
  EXPECT_EQ(nearest("gemm", words), (std::vector<std::string>{"gemm_f16", "gemm_f32"}));
  EXPECT_EQ(nearest("sofmax", words), (std::vector<std::string>{"softmax"}));
  EXPECT_EQ(nearest("convolution", words), std::vector<std::string>{});
  EXPECT_EQ(nearest("softmax", words), std::vector<std::string>{});
  EXPECT_EQ(did_you_mean("gemm", words), "; did you mean 'gemm_f16' or 'gemm_f32'?");
  EXPECT_EQ(did_you_mean("x", words), "");
}

// The exact messages, for commands, options and option words of every command.
TEST(Suggestions, MistypedNamesAreNamedWithTheNearestValidOne) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"qeury", example}, "zel-profile: unknown command 'qeury'; did you mean 'query'?\n"},
      {{"help", "dif"}, "zel-profile: unknown command 'dif'; did you mean 'diff'?\n"},
      {{"frobnicate"}, "zel-profile: unknown command 'frobnicate'\n"},
      {{"query", example, "--sort", "name"},
       "zel-profile: unknown option '--sort'; did you mean '--sort-by'?\n"},
      {{"diff", example, example, "--fail-abov", "3"},
       "zel-profile: unknown option '--fail-abov'; did you mean '--fail-above' or "
       "'--fail-above-span'?\n"},
      {{"generate", "--tile", "3"},
       "zel-profile: unknown option '--tile'; did you mean '--tiles'?\n"},
      {{"query", example, "--group-by", "kernal"},
       "zel-profile: --group-by: expected one of "
       "kind|kernel|operation|phase|tile|metadata|profile, got "
       "\"kernal\"; did you mean 'kernel'?\n"},
      {{"query", example, "--kind", "compte"}, "did you mean 'compute'?\n"},
      {{"diff", example, example, "--sort-by", "samples-"}, "did you mean 'samples'?\n"},
      {{"query", example, "--format", "tvs"}, "did you mean 'tsv'?\n"},
  };
  for (const auto& [arguments, expected] : cases) {
    const auto outcome = run(arguments);
    EXPECT_EQ(outcome.status, 2) << expected;
    const auto first_line = outcome.err.substr(0, outcome.err.find('\n') + 1);
    EXPECT_TRUE(first_line.ends_with(expected)) << outcome.err;
    EXPECT_TRUE(first_line.starts_with("zel-profile: ")) << outcome.err;
  }
}

TEST(Suggestions, HelpCommandPrintsWhatHelpOptionsPrint) {
  const auto top = run({"help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_EQ(top.out, run({"--help"}).out);
  EXPECT_NE(top.out.find("help"), std::string::npos);
  for (const std::string command : {"query", "diff", "generate", "help"}) {
    const auto outcome = run({"help", command});
    EXPECT_EQ(outcome.status, 0) << command;
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.out, run({command, "--help"}).out) << command;
    EXPECT_NE(outcome.out.find("Usage: zel-profile " + command), std::string::npos) << outcome.out;
  }
}

// A filter naming what the profile lacks still answers, with a warning per filter.
TEST(Suggestions, FiltersOnAbsentNamesWarnWithTheNearestPresentOnes) {
  const auto outcome = run({"query", example, "--kernel", "gemm", "--tile", "7", "--tile", "4",
                            "--phase", "9", "--metadata", "blok=1", "--format", "json"});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_NE(outcome.out.find("\"matched_sample_count\": 0"), std::string::npos) << outcome.out;
  EXPECT_EQ(outcome.err,
            "zel-profile: no kernel 'gemm'; did you mean 'gemm_f16' or 'gemm_f32'?\n"
            "zel-profile: no tile '7'; did you mean '6'?\n"
            "zel-profile: no phase '9'; did you mean '2'?\n"
            "zel-profile: no metadata 'blok'; did you mean 'block'?\n");
  // Names the profile has give no warning; the example has every kind and steps without kernel.
  const auto present = run({"query", example, "--kernel", "gemm_f16", "--tile", "5", "--kind",
                            "idle", "--phase", "0", "--metadata", "block", "--format", "csv"});
  EXPECT_EQ(present.status, 0);
  EXPECT_EQ(present.err, "");
  EXPECT_EQ(run({"query", example, "--kernel", "", "--format", "csv"}).err, "");
  const auto between = run({"query", example, "--tile", "1000", "--tile", "5", "--format", "csv"});
  EXPECT_EQ(between.err, "zel-profile: no tile '1000'; did you mean '6'?\n");
}

}  // namespace
}  // namespace zel_cli
