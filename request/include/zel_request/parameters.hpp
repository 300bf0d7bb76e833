// The query's parameters, once for every front end: the word each is given by (the tool's option
// "--group-by", the explorer's URL parameter "group-by", the Python keyword "group_by"), the kind
// of its value, the Query field it sets, its help text and allowed words; and the one parser from
// (word, text) pairs to a checked Query.
//
// Example:
//   parse_query({{"group-by", "phase"}, {"tile", "3"}}, Naming::Url)
//     // Query{.group_by = GroupBy::Phase, .tiles = {3}}
//   parse_query({{"group-by", "phse"}}, Naming::Option)
//     // throws RequestError "--group-by: expected one of kind|...|profile, got \"phse\"; did
//     //                      you mean 'phase'?"
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <zel_profile/model.hpp>

namespace zel_request {

// What a parameter's text holds.
enum class ValueKind : std::uint8_t {
  Word,      // one of the parameter's words
  Text,      // any text
  Whole32,   // a whole number from 0 to 2^32 - 1 (a tile, a phase)
  Cycles,    // a whole number of cycles from 0 to 2^64 - 1
  Count,     // a whole number of groups or samples
  Flag,      // "true" or "false"; on the command line, present or absent
  Metadata,  // NAME or NAME=VALUE, split at the first =
};

// "word", "text", "number", "cycles", "count", "flag" or "metadata".
std::string_view kind_word(ValueKind kind);

// One parameter of a query.
struct Parameter {
  std::string_view word;     // as a URL names it; the tool's option is "--" + word
  std::string_view keyword;  // as Python names it
  ValueKind kind = ValueKind::Text;
  std::string_view field;       // the Query field it sets
  std::string_view value_name;  // how help shows its value ("N", "KEY"); a Word lists its words
  std::string_view help;
  std::span<const std::string_view> words;  // a Word's allowed words
  bool repeatable = false;                  // may be given more than once, each adding a value
};

// Every parameter of a query, in the order help lists them.
std::span<const Parameter> query_parameters();

// The parameter named `word` ("group-by"), or nullptr.
const Parameter* find_parameter(std::string_view word);

// How a front end names a parameter in its messages.
enum class Naming : std::uint8_t {
  Option,   // "--group-by"
  Url,      // "group-by"
  Keyword,  // "group_by"
};

// The name of `parameter` as `naming` spells it.
std::string name_of(const Parameter& parameter, Naming naming);

// A request the query cannot be made from: a bad word or number, or fields that contradict each
// other. Python raises it as ValueError.
class RequestError : public std::invalid_argument {
 public:
  RequestError(const std::string& message, std::string parameter_name,
               std::vector<std::string> allowed_words = {});

  std::string parameter;             // the parameter at fault, as the naming spells it
  std::vector<std::string> allowed;  // the words it accepts, when it takes words
};

// A request's (word, text) pairs, in the order given.
using Words = std::vector<std::pair<std::string, std::string>>;

// The query the pairs make, checked by zel_profile::validate. The words are the parameters' URL
// words; an unknown word or a second value of a parameter that takes one is a RequestError, as is
// any bad value or fault, in `naming`'s words. Values are converted in the table's order, so every
// front end refuses a request with several faults for the same one.
zel_profile::Query parse_query(const Words& words, Naming naming);

// `text` as a whole decimal number from 0 to `largest`: digits only, no sign, blanks or base
// prefix ("010" is ten). Throws RequestError naming `name` for anything else.
std::uint64_t parse_whole(std::string_view text, std::string_view name, std::uint64_t largest);

// The names of the profiles at `paths` as groups by profile, pages and traces show them: the path,
// and "standard input" for "-".
std::vector<std::string> profile_names(const std::vector<std::string>& paths);

// The table as JSON, for the explorer's page: {"parameters": [{"word", "keyword", "kind", "field",
// "value_name", "help", "words", "repeatable"}]}.
std::string parameters_json();

}  // namespace zel_request
