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

// Each parameter has a word and a field of its own, and the page's JSON lists them all. (What each
// word sets is checked through the tool's options, the explorer's parameters and Python.)
TEST(Request, TheTableNamesEachParameterAndFieldOnce) {
  std::set<std::string_view> words;
  std::set<std::string_view> fields;
  for (const auto& parameter : query_parameters()) {
    EXPECT_TRUE(words.insert(parameter.word).second) << parameter.word;
    EXPECT_TRUE(fields.insert(parameter.field).second) << parameter.field;
    EXPECT_EQ(find_parameter(parameter.word), &parameter);
    const bool worded = parameter.kind == ValueKind::Word || parameter.kind == ValueKind::Flag;
    EXPECT_EQ(worded, !parameter.words.empty()) << parameter.word;
  }
  EXPECT_EQ(parse_query({}, Naming::Url), Query{});
  EXPECT_TRUE(parse_query({{"reverse", "true"}}, Naming::Url).reverse);
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
