#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "query_options.hpp"
#include "usage_error.hpp"

namespace zel_cli {
namespace {

using zel_profile::GroupBy;
using zel_profile::MetadataFilter;
using zel_profile::Query;
using zel_profile::SortBy;
using zel_profile::StepKind;

// The options after `zel-profile query` as CLI11 parses them.
QueryOptions parse(std::vector<std::string> arguments) {
  CLI::App command;
  QueryOptions options;
  add_query_options(command, options);
  std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
  command.parse(reversed);
  return options;
}

Query query_of(std::vector<std::string> arguments) { return to_query(parse(std::move(arguments))); }

TEST(QueryOptions, NoOptionsGiveTheDefaultQueryAndTable) {
  const auto options = parse({"profile.json"});
  EXPECT_EQ(options.profiles, std::vector<std::string>{"profile.json"});
  EXPECT_EQ(to_query(options), Query{});
  EXPECT_EQ(to_report_format(options), ReportFormat::Table);
}

TEST(QueryOptions, EveryOptionReachesItsQueryField) {
  const auto options = parse({"-",
                              "--group-by",
                              "metadata",
                              "--metadata-key",
                              "block",
                              "--sort-by",
                              "maximum-cycles",
                              "--kind",
                              "synchronization",
                              "--kernel",
                              "gemm",
                              "--operation-contains",
                              "layer1",
                              "--tile",
                              "7",
                              "--tile",
                              "3",
                              "--tile",
                              "7",
                              "--phase",
                              "0",
                              "--phase",
                              "4294967295",
                              "--metadata",
                              "dtype=f16",
                              "--metadata",
                              "block",
                              "--at",
                              "18446744073709551615",
                              "--limit",
                              "5",
                              "--samples",
                              "12",
                              "--format",
                              "csv"});
  EXPECT_EQ(options.profiles, std::vector<std::string>{"-"});
  const Query expected{
      .group_by = GroupBy::Metadata,
      .sort_by = SortBy::MaximumCycles,
      .kind = StepKind::Synchronization,
      .kernel = "gemm",
      .operation_contains = "layer1",
      .tiles = {3, 7},
      .phases = {0, 4294967295u},
      .metadata = {{.name = "dtype", .value = "f16"}, {.name = "block"}},
      .metadata_key = "block",
      .at_offset = 18446744073709551615u,
      .limit = 5,
      .sample_limit = 12,
  };
  EXPECT_EQ(to_query(options), expected);
  EXPECT_EQ(to_report_format(options), ReportFormat::Csv);
}

TEST(QueryOptions, EveryWordOfEveryChoice) {
  const std::vector<std::pair<std::string, GroupBy>> groupings{
      {"kind", GroupBy::Kind},   {"kernel", GroupBy::Kernel}, {"operation", GroupBy::Operation},
      {"phase", GroupBy::Phase}, {"tile", GroupBy::Tile},
  };
  for (const auto& [word, group_by] : groupings) {
    EXPECT_EQ(query_of({"p", "--group-by", word}).group_by, group_by) << word;
  }
  const std::vector<std::pair<std::string, SortBy>> orders{
      {"phase-cycles", SortBy::PhaseCycles},
      {"work-cycles", SortBy::WorkCycles},
      {"maximum-cycles", SortBy::MaximumCycles},
      {"samples", SortBy::Samples},
      {"name", SortBy::Name},
  };
  for (const auto& [word, sort_by] : orders) {
    EXPECT_EQ(query_of({"p", "--sort-by", word}).sort_by, sort_by) << word;
  }
  const std::vector<std::pair<std::string, StepKind>> kinds{
      {"exchange", StepKind::Exchange},
      {"compute", StepKind::Compute},
      {"synchronization", StepKind::Synchronization},
      {"idle", StepKind::Idle},
  };
  for (const auto& [word, kind] : kinds) {
    EXPECT_EQ(query_of({"p", "--kind", word}).kind, kind) << word;
  }
  EXPECT_EQ(to_report_format(parse({"p", "--format", "json"})), ReportFormat::Json);
  EXPECT_EQ(to_report_format(parse({"p", "--format", "table"})), ReportFormat::Table);
}

TEST(QueryOptions, EmptyKernelAndMetadataSplitAtTheFirstEquals) {
  EXPECT_EQ(query_of({"p", "--kernel", ""}).kernel, std::optional<std::string>(""));
  EXPECT_EQ(query_of({"p"}).kernel, std::nullopt);
  EXPECT_EQ(query_of({"p", "--operation-contains", ""}).operation_contains,
            std::optional<std::string>(""));
  const auto metadata =
      query_of({"p", "--metadata", "expr=a=b", "--metadata", "=", "--metadata", "empty="}).metadata;
  const std::vector<MetadataFilter> expected{
      {.name = "expr", .value = "a=b"}, {.name = "", .value = ""}, {.name = "empty", .value = ""}};
  EXPECT_EQ(metadata, expected);
}

TEST(QueryOptions, BadNumbersAreUsageErrors) {
  for (const std::string option : {"--tile", "--phase"}) {
    for (const std::string value :
         {"-1", "4294967296", "", "1.5", "0x10", " 1", "1 ", "+1", "seven"}) {
      EXPECT_THROW(query_of({"p", option, value}), UsageError) << option << " " << value;
    }
  }
  for (const std::string option : {"--at", "--limit", "--samples"}) {
    for (const std::string value : {"-1", "18446744073709551616", "", "1e3", "x"}) {
      EXPECT_THROW(query_of({"p", option, value}), UsageError) << option << " " << value;
    }
  }
  // Leading zeros are decimal, not octal.
  EXPECT_EQ(query_of({"p", "--tile", "010"}).tiles, (std::set<std::uint32_t>{10}));
}

TEST(QueryOptions, TheWindowsEndsAreOptionalAndOrdered) {
  EXPECT_EQ(query_of({"p", "--from", "5"}).from_offset, 5u);
  EXPECT_EQ(query_of({"p", "--from", "5"}).to_offset, std::nullopt);
  EXPECT_EQ(query_of({"p", "--to", "18446744073709551615"}).to_offset, 18446744073709551615u);
  const Query both = query_of({"p", "--to", "7", "--from", "6"});
  EXPECT_EQ(std::pair(both.from_offset, both.to_offset),
            std::pair(std::optional<std::uint64_t>(6), std::optional<std::uint64_t>(7)));
  for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
           {"7", "7"}, {"8", "7"}, {"18446744073709551615", "0"}, {"-1", "3"}, {"1", "x"}}) {
    EXPECT_THROW(query_of({"p", "--from", from, "--to", to}), UsageError) << from << " " << to;
  }
}

TEST(QueryOptions, MetadataGroupingAndKeyComeTogether) {
  EXPECT_THROW(query_of({"p", "--group-by", "metadata"}), UsageError);
  EXPECT_THROW(query_of({"p", "--metadata-key", "block"}), UsageError);
  EXPECT_EQ(query_of({"p", "--group-by", "metadata", "--metadata-key", ""}).metadata_key, "");
}

TEST(QueryOptions, CommandLineMistakesFailTheParse) {
  const std::vector<std::vector<std::string>> mistakes{
      {},                                         // no profile
      {"p", "--threads", "2", "--threads", "3"},  // single options are single
      {"p", "--group-by", "colour"},              // unknown grouping
      {"p", "--sort-by", "size"},                 // unknown order
      {"p", "--kind", "Compute"},                 // words are lower case
      {"p", "--format", "xml"},                   // unknown format
      {"p", "--kernel", "a", "--kernel", "b"},    // single options are single
      {"p", "--format", "json", "--format", "csv"},
      {"p", "--limit"},   // missing value
      {"p", "--colour"},  // unknown option
  };
  for (const auto& arguments : mistakes) {
    EXPECT_THROW(parse(arguments), CLI::ParseError) << ::testing::PrintToString(arguments);
  }
}

}  // namespace
}  // namespace zel_cli
