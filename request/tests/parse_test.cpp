#include <gtest/gtest.h>

#include <set>
#include <string>

#include <nlohmann/json.hpp>
#include <zel_request/parameters.hpp>

namespace zel_request {
namespace {

using zel_profile::Query;

std::string message_of(const Words& words, Naming naming) {
  try {
    parse_query(words, naming);
  } catch (const RequestError& error) {
    return error.what();
  }
  return "";
}

// Every parameter of the table sets its field, and its words and names are unique.
TEST(Request, EveryParameterSetsItsField) {
  const Words words{{"group-by", "metadata"},
                    {"metadata-key", "block"},
                    {"sort-by", "name"},
                    {"kind", "idle"},
                    {"kernel", ""},
                    {"operation-contains", "x"},
                    {"tile", "7"},
                    {"tile", "3"},
                    {"phase", "4294967295"},
                    {"metadata", "a=b=c"},
                    {"metadata", "d"},
                    {"at", "9"},
                    {"from", "1"},
                    {"to", "2"},
                    {"limit", "0"},
                    {"reverse", "true"},
                    {"samples", "12"}};
  const Query expected{.group_by = zel_profile::GroupBy::Metadata,
                       .sort_by = zel_profile::SortBy::Name,
                       .kind = zel_profile::StepKind::Idle,
                       .kernel = "",
                       .operation_contains = "x",
                       .tiles = {3, 7},
                       .phases = {4294967295u},
                       .metadata = {{.name = "a", .value = "b=c"}, {.name = "d"}},
                       .metadata_key = "block",
                       .at_offset = 9,
                       .from_offset = 1,
                       .to_offset = 2,
                       .limit = 0,
                       .reverse = true,
                       .sample_limit = 12};
  EXPECT_EQ(parse_query(words, Naming::Url), expected);
  EXPECT_EQ(parse_query({}, Naming::Url), Query{});
  std::set<std::string_view> seen_words;
  std::set<std::string_view> fields;
  for (const auto& parameter : query_parameters()) {
    EXPECT_TRUE(seen_words.insert(parameter.word).second) << parameter.word;
    EXPECT_TRUE(fields.insert(parameter.field).second) << parameter.field;
    EXPECT_EQ(find_parameter(parameter.word), &parameter);
    bool listed = false;
    for (const auto& [word, text] : words) listed = listed || word == parameter.word;
    EXPECT_TRUE(listed) << parameter.word << " is not checked above";
  }
  const auto json = nlohmann::json::parse(parameters_json());
  ASSERT_EQ(json.at("parameters").size(), query_parameters().size());
  EXPECT_EQ(json["parameters"][0]["words"][2], "operation");
}

// Each fault in each front end's words; the first fault in the table's order wins.
TEST(Request, FaultsAreNamedInEachFrontEndsWords) {
  const struct {
    Words words;
    Naming naming;
    std::string message;
  } cases[] = {
      {{{"group-by", "phse"}},
       Naming::Option,
       "--group-by: expected one of kind|kernel|operation|phase|tile|metadata|profile, got "
       "\"phse\"; did you mean 'phase'?"},
      {{{"tile", "-1"}},
       Naming::Keyword,
       "tiles: expected a whole number from 0 to 4294967295, got \"-1\""},
      {{{"limit", "1"}, {"limit", "1"}}, Naming::Url, "limit: given more than once"},
      {{{"colour", "red"}}, Naming::Url, "unknown parameter \"colour\""},
      {{{"group-by", "metadata"}}, Naming::Keyword, "group_by metadata needs metadata_key KEY"},
      {{{"metadata-key", "k"}},
       Naming::Option,
       "--metadata-key applies only with --group-by metadata"},
      {{{"from", "7"}, {"to", "7"}}, Naming::Url, "from: expected a cycle below to's 7, got \"7\""},
      {{{"to", "5"}, {"from", "6"}}, Naming::Keyword, "window: expected from below to, got (6, 5)"},
      {{{"reverse", "yes"}, {"at", "x"}},
       Naming::Url,
       "at: expected a whole number from 0 to 18446744073709551615, got \"x\""},
      {{{"samples", "18446744073709551616"}},
       Naming::Url,
       "samples: expected a whole number from 0 to 18446744073709551615, got "
       "\"18446744073709551616\""},
  };
  for (const auto& c : cases) EXPECT_EQ(message_of(c.words, c.naming), c.message);
  for (const std::string bad : {"", "+1", " 1", "0x10", "1.5", "4294967296"}) {
    EXPECT_THROW(parse_whole(bad, "n", 4294967295u), RequestError) << bad;
  }
  EXPECT_EQ(parse_whole("010", "n", 10), 10u);
}

}  // namespace
}  // namespace zel_request
