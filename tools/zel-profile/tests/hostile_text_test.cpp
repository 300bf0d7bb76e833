// Text from outside the tool (names in a profile, file names, arguments) as its messages and
// tables show it: cut short, escaped, and never costing more than its length to look at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <zel_profile/words.hpp>
#include "query_options.hpp"
#include "run_cli.hpp"
#include "usage_error.hpp"

namespace zel_cli {
namespace {

using test_support::run;
using zel_profile::nearest;

// A profile of one sample for each of `kernels`, at `clock_hz`, written to a file in the test
// folder; returns its path.
std::string profile_file(const std::string& name, const std::vector<std::string>& kernels,
                         std::uint64_t clock_hz = 1000) {
  std::string steps;
  std::string samples;
  for (std::size_t i = 0; i < kernels.size(); ++i) {
    std::string kernel;
    for (const char c : kernels[i]) {
      if (static_cast<unsigned char>(c) < 0x20) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
        kernel += escaped;
      } else {
        kernel += c;
      }
    }
    steps += (i ? "," : "") +
             std::string(R"({"phase": 0, "operation": "op", "kind": "compute", )") +
             R"("kernel": ")" + kernel + "\"}";
    samples += (i ? "," : "") + ("[" + std::to_string(i) + ", " + std::to_string(10 * i) + ", " +
                                 std::to_string(10 * i + 5) + "]");
  }
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path) << R"({"version": 1, "clock_hz": )" << clock_hz << R"(, "steps": [)" << steps
                      << R"(], "tiles": [{"physical_tile": 0, "samples": [)" << samples << "]}]}";
  return path;
}

// A quoted name is cut to 64 bytes at a character boundary; control characters, C1 controls and
// bidirectional overrides are escaped wherever a name is shown: in warnings, suggestions, the
// table and the --fail-above lines, and in file names in errors.
TEST(HostileText, NamesAreCutAndEscapedInEveryMessage) {
  const std::string long_name = std::string(62, 'k') + "\xC3\xA9" + std::string(1 << 20, 'x');
  const std::string shown_long = "'" + std::string(62, 'k') + "\xC3\xA9...'";
  const std::string c1 =
      "csi\xC2\x9B"
      "31m";  // U+009B
  const std::string bidi =
      "txt\xE2\x80\xAE"
      "exe";  // U+202E
  const std::string isolate =
      "a\xE2\x81\xA6"
      "b\x1B";  // U+2066 and ESC
  const std::string path =
      profile_file("zel_cli_hostile.json", {long_name, c1, bidi, isolate, "gemm"});
  const struct {
    std::string kernel;
    std::string warning;
  } cases[] = {
      {long_name + "y", "no kernel " + shown_long},
      {long_name.substr(0, 100), "no kernel " + shown_long + "; did you mean " + shown_long + "?"},
      {"gemn", "no kernel 'gemn'; did you mean 'gemm'?"},
      {"csi\xC2\x9B"
       "32m",
       "no kernel 'csi\\xc2\\x9b32m'; did you mean 'csi\\xc2\\x9b31m'?"},
      {"txt\xE2\x80\xAE"
       "exf",
       "no kernel 'txt\\xe2\\x80\\xaeexf'; did you mean "
       "'txt\\xe2\\x80\\xaeexe'?"},
      {"a\xE2\x81\xA6"
       "c\x1B",
       "no kernel 'a\\xe2\\x81\\xa6c\\x1b'; did you mean "
       "'a\\xe2\\x81\\xa6b\\x1b'?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.warning);
    const auto outcome = run({"query", path, "--kernel", c.kernel, "--format", "csv"});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "zel-profile: " + c.warning + "\n");
  }

  // The table shows every name escaped; none of the raw sequences reaches the terminal.
  const auto table = run({"query", path, "--group-by", "kernel"});
  EXPECT_EQ(table.status, 0) << table.err;
  for (const std::string raw : {"\xC2\x9B", "\xE2\x80\xAE", "\xE2\x81\xA6", "\x1B"}) {
    EXPECT_EQ(table.out.find(raw), std::string::npos);
  }
  for (const std::string shown :
       {"csi\\xc2\\x9b31m", "txt\\xe2\\x80\\xaeexe", "a\\xe2\\x81\\xa6b\\x1b"}) {
    EXPECT_NE(table.out.find(shown), std::string::npos) << shown;
  }

  // A group only in the new profile is named on its --fail-above line, cut like any name.
  const std::string base = profile_file("zel_cli_hostile_base.json", {"gemm"});
  const auto gate =
      run({"diff", base, path, "--group-by", "kernel", "--fail-above", "1", "--format", "csv"});
  EXPECT_EQ(gate.status, 3);
  EXPECT_NE(gate.err.find("zel-profile: " + shown_long.substr(1, shown_long.size() - 2) +
                          ": phase cycles new, 5 (more than 1%)\n"),
            std::string::npos)
      << gate.err.substr(0, 400);
  EXPECT_LT(gate.err.size(), 1000u);

  // File names in errors, and arguments echoed in usage errors.
  const std::string bad_path = ::testing::TempDir() + "no\x1B[2J\nsuch\xC2\x85.json";
  EXPECT_EQ(run({"query", bad_path}).err,
            "zel-profile: " + ::testing::TempDir() +
                "no\\x1b[2J\\nsuch\\xc2\\x85.json: cannot open: No such file or directory\n");
  const auto usage = run({"query", path, "--limit", std::string(1000, '9') + "\x1B"});
  EXPECT_EQ(usage.status, 2);
  EXPECT_NE(usage.err.find("got \"" + std::string(64, '9') + "...\""), std::string::npos)
      << usage.err.substr(0, 400);
  EXPECT_LT(usage.err.size(), 400u);
  for (const auto& file : {path, base}) std::remove(file.c_str());
}

// A long word is not measured against every name by edit distance (the cost is the square of the
// length): it is only looked for as the start of one.
TEST(HostileText, LongWordsAreOnlyMatchedAsPrefixes) {
  const std::string name(2000, 'n');
  const std::vector<std::string> names = {name, "gemm"};
  EXPECT_TRUE(nearest(name.substr(1) + "m", names).empty());
  EXPECT_EQ(nearest(name.substr(0, 1000), names), std::vector<std::string>{name});
  const std::vector<std::string> short_name = {std::string(64, 'n')};
  EXPECT_EQ(nearest(std::string(63, 'n') + "m", short_name),
            std::vector<std::string>{std::string(64, 'n')});
}

// More threads than cores would only take turns (and thousands cannot all start): the count is
// capped at the cores, and every bad count gets the same range message.
QueryOptions with_threads(const std::string& threads) {
  QueryOptions options;
  options.threads = threads;
  return options;
}

TEST(HostileText, ThreadCountsAreCappedAndRangeMessagesAgree) {
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  for (const std::string threads : {"1000", "5000", "99999999999999999999999"}) {
    EXPECT_EQ(to_parallelism(with_threads(threads)).threads, cores) << threads;
  }
  EXPECT_EQ(to_parallelism(with_threads("1")).threads, 1u);
  for (const std::string bad : {"0", "-1", "x", "", "1.5", "0x10"}) {
    try {
      to_parallelism(with_threads(bad));
      ADD_FAILURE() << bad;
    } catch (const UsageError& error) {
      EXPECT_EQ(std::string(error.what()),
                "--threads: expected a whole number from 1, got \"" + bad + "\"");
    }
  }
}

// Profiles with different clock rates: query refuses them together; diff compares them, saying
// that their times are not comparable.
TEST(HostileText, DiffWarnsAboutDifferentClockRates) {
  const std::string slow = profile_file("zel_cli_slow.json", {"gemm"}, 1);
  const std::string fast = profile_file("zel_cli_fast.json", {"gemm"}, 1000000000);
  const auto diff = run({"diff", slow, fast, "--format", "csv"});
  EXPECT_EQ(diff.status, 0);
  EXPECT_EQ(diff.err,
            "zel-profile: the profiles have different clock rates (1 and 1000000000 Hz): their "
            "cycles are compared as they are, and their times differ by that ratio\n");
  EXPECT_EQ(run({"diff", slow, slow, "--format", "csv"}).err, "");
  EXPECT_EQ(run({"query", slow, fast}).status, 1);
  for (const auto& file : {slow, fast}) std::remove(file.c_str());
}

}  // namespace
}  // namespace zel_cli
