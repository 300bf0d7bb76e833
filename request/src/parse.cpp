// From (word, text) pairs to a checked Query.
#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <optional>

#include <zel_profile/validate.hpp>
#include <zel_profile/words.hpp>
#include <zel_report/text.hpp>
#include <zel_request/parameters.hpp>

namespace zel_request {
namespace {

using zel_profile::Query;

[[noreturn]] void refuse(const Parameter& parameter, Naming naming, const std::string& problem,
                         std::vector<std::string> allowed = {}) {
  const std::string name = name_of(parameter, naming);
  throw RequestError(name + ": " + problem, name, std::move(allowed));
}

template <typename Value>
Value word_value(const Parameter& parameter, Naming naming, const std::string& text) {
  const auto found = std::find(parameter.words.begin(), parameter.words.end(), text);
  if (found == parameter.words.end()) {
    refuse(parameter, naming, zel_profile::not_one_of(parameter.words, text),
           {parameter.words.begin(), parameter.words.end()});
  }
  return static_cast<Value>(found - parameter.words.begin());
}

template <typename Number>
Number whole(const Parameter& parameter, Naming naming, const std::string& text) {
  return static_cast<Number>(
      parse_whole(text, name_of(parameter, naming), std::numeric_limits<Number>::max()));
}

zel_profile::MetadataFilter metadata_filter(const std::string& text) {
  const auto equals = text.find('=');
  if (equals == std::string::npos) return {.name = text};
  return {.name = text.substr(0, equals), .value = text.substr(equals + 1)};
}

// Sets the Query field of `parameter` from one of its values.
void store(Query& query, const Parameter& parameter, Naming naming, const std::string& text) {
  const std::string_view field = parameter.field;
  if (field == "group_by") {
    query.group_by = word_value<zel_profile::GroupBy>(parameter, naming, text);
  } else if (field == "sort_by") {
    query.sort_by = word_value<zel_profile::SortBy>(parameter, naming, text);
  } else if (field == "kind") {
    query.kind = word_value<zel_profile::StepKind>(parameter, naming, text);
  } else if (field == "metadata_key") {
    query.metadata_key = text;
  } else if (field == "kernel") {
    query.kernel = text;
  } else if (field == "operation_contains") {
    query.operation_contains = text;
  } else if (field == "tiles") {
    query.tiles.insert(whole<std::uint32_t>(parameter, naming, text));
  } else if (field == "phases") {
    query.phases.insert(whole<std::uint32_t>(parameter, naming, text));
  } else if (field == "metadata") {
    query.metadata.push_back(metadata_filter(text));
  } else if (field == "at_offset") {
    query.at_offset = whole<std::uint64_t>(parameter, naming, text);
  } else if (field == "from_offset") {
    query.from_offset = whole<std::uint64_t>(parameter, naming, text);
  } else if (field == "to_offset") {
    query.to_offset = whole<std::uint64_t>(parameter, naming, text);
  } else if (field == "limit") {
    query.limit = whole<std::size_t>(parameter, naming, text);
  } else if (field == "reverse") {
    query.reverse = word_value<std::size_t>(parameter, naming, text) == 0;
  } else if (field == "sample_limit") {
    query.sample_limit = whole<std::size_t>(parameter, naming, text);
  }
}

// The fault of a query in `naming`'s words.
[[noreturn]] void refuse_fault(zel_profile::QueryFault fault, const Query& query, Naming naming) {
  const auto name = [naming](std::string_view word) {
    return name_of(*find_parameter(word), naming);
  };
  switch (fault) {
    case zel_profile::QueryFault::MetadataKeyMissing:
      throw RequestError(name("group-by") + " metadata needs " + name("metadata-key") + " KEY",
                         name("metadata-key"));
    case zel_profile::QueryFault::MetadataKeyUnused:
      throw RequestError(
          name("metadata-key") + " applies only with " + name("group-by") + " metadata",
          name("metadata-key"));
    case zel_profile::QueryFault::EmptyWindow:
      const std::string from = std::to_string(*query.from_offset);
      const std::string to = std::to_string(*query.to_offset);
      // Python gives the window as one (from, to) pair.
      if (name("from") == name("to")) {
        throw RequestError(
            name("from") + ": expected from below to, got (" + from + ", " + to + ")",
            name("from"));
      }
      throw RequestError(name("from") + ": expected a cycle below " + name("to") + "'s " + to +
                             ", got \"" + from + "\"",
                         name("from"));
  }
  throw RequestError("bad query", "");
}

}  // namespace

RequestError::RequestError(const std::string& message, std::string parameter_name,
                           std::vector<std::string> allowed_words)
    : std::invalid_argument(message),
      parameter(std::move(parameter_name)),
      allowed(std::move(allowed_words)) {}

std::uint64_t parse_whole(std::string_view text, std::string_view name, std::uint64_t largest) {
  std::uint64_t value = 0;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, value);
  if (text.empty() || error != std::errc{} || end != last || value > largest) {
    throw RequestError(std::string(name) + ": expected a whole number from 0 to " +
                           std::to_string(largest) + ", got \"" + zel_report::shown_name(text) +
                           "\"",
                       std::string(name));
  }
  return value;
}

zel_profile::Query parse_query(const Words& words, Naming naming) {
  const auto parameters = query_parameters();
  // Each parameter's values, in the order given.
  std::vector<std::vector<const std::string*>> given(parameters.size());
  for (const auto& [word, text] : words) {
    const Parameter* parameter = find_parameter(word);
    if (parameter == nullptr) {
      std::vector<std::string> names;
      for (const auto& known : parameters) names.push_back(name_of(known, naming));
      throw RequestError("unknown parameter \"" + word + "\"", word, std::move(names));
    }
    auto& values = given[static_cast<std::size_t>(parameter - parameters.data())];
    if (!values.empty() && !parameter->repeatable) {
      throw RequestError(name_of(*parameter, naming) + ": given more than once",
                         name_of(*parameter, naming));
    }
    values.push_back(&text);
  }
  Query query;
  for (std::size_t p = 0; p < parameters.size(); ++p) {
    for (const std::string* text : given[p]) store(query, parameters[p], naming, *text);
  }
  if (const auto fault = zel_profile::validate(query)) refuse_fault(*fault, query, naming);
  return query;
}

}  // namespace zel_request
