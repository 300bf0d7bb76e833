// The table of the query's parameters.
#include <zel_request/parameters.hpp>

#include <array>

#include <nlohmann/json.hpp>
#include <zel_profile/words.hpp>

namespace zel_request {
namespace {

using enum ValueKind;

constexpr std::array<std::string_view, 2> flag_words = {"true", "false"};

const std::array<Parameter, 15> table = {{
    {"group-by", "group_by", Word, "group_by", "",
     "what one group is (default: kernel); several profiles are several chips: tile groups are "
     "then named \"chip N tile T\" (N counting the profiles from 0), and profile gives one group a "
     "profile, named by its file",
     zel_profile::group_by_words},
    {"metadata-key", "metadata_key", Text, "metadata_key", "KEY",
     "metadata name to group by, with --group-by metadata"},
    {"sort-by", "sort_by", Word, "sort_by", "",
     "order of the groups: larger first, names in byte order (default: phase-cycles)",
     zel_profile::sort_by_words},
    {"kind", "kind", Word, "kind", "", "only steps of this kind", zel_profile::step_kind_words},
    {"kernel", "kernel", Text, "kernel", "NAME",
     "only steps running this kernel; \"\" selects steps without a kernel"},
    {"operation-contains", "operation_contains", Text, "operation_contains", "TEXT",
     "only operations containing TEXT (case-sensitive)"},
    {"tile", "tiles", Whole32, "tiles", "N", "only this physical tile (repeatable)", {}, true},
    {"phase",
     "phases",
     Whole32,
     "phases",
     "N",
     "only this phase, in any epoch (repeatable)",
     {},
     true},
    {"metadata",
     "metadata",
     Metadata,
     "metadata",
     "NAME[=VALUE]",
     "only steps with metadata NAME, of value VALUE when given (the first = splits; repeatable, "
     "all must hold)",
     {},
     true},
    {"at", "at", Cycles, "at_offset", "CYCLES",
     "only samples running at this many cycles after their tile's first sample began"},
    {"from", "window", Cycles, "from_offset", "CYCLES",
     "only samples running at some cycle from this many cycles after their tile's first sample "
     "began (with --to: of the window [FROM, TO))"},
    {"to", "window", Cycles, "to_offset", "CYCLES",
     "only samples running at some cycle before this many cycles after their tile's first sample "
     "began"},
    {"limit", "limit", Count, "limit", "N", "at most N groups, after ordering"},
    {"reverse", "reverse", Flag, "reverse", "",
     "the groups in the opposite order, smallest first (ties in exactly the opposite order too); "
     "--limit then keeps the smallest",
     flag_words},
    {"samples", "samples", Count, "sample_limit", "N",
     "also report the N longest matched samples (default: 0). With --format csv or tsv the output "
     "is then the samples table alone (one row per sample), not the groups"},
}};

}  // namespace

std::string_view kind_word(ValueKind kind) {
  // Indexed by ValueKind's value.
  constexpr std::array<std::string_view, 7> kind_words = {"word",  "text", "number",  "cycles",
                                                          "count", "flag", "metadata"};
  const auto index = static_cast<std::size_t>(kind);
  return index < kind_words.size() ? kind_words[index] : "text";
}

std::span<const Parameter> query_parameters() { return table; }

const Parameter* find_parameter(std::string_view word) {
  for (const auto& parameter : table) {
    if (parameter.word == word) return &parameter;
  }
  return nullptr;
}

std::string name_of(const Parameter& parameter, Naming naming) {
  switch (naming) {
    case Naming::Option:
      return "--" + std::string(parameter.word);
    case Naming::Url:
      return std::string(parameter.word);
    case Naming::Keyword:
      return std::string(parameter.keyword);
  }
  return std::string(parameter.word);
}

std::vector<std::string> profile_names(const std::vector<std::string>& paths) {
  std::vector<std::string> names;
  for (const auto& path : paths) names.push_back(path == "-" ? "standard input" : path);
  return names;
}

std::string parameters_json() {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& parameter : table) {
    list.push_back(
        {{"word", parameter.word},
         {"keyword", parameter.keyword},
         {"kind", kind_word(parameter.kind)},
         {"field", parameter.field},
         {"value_name", parameter.value_name},
         {"help", parameter.help},
         {"words", std::vector<std::string_view>(parameter.words.begin(), parameter.words.end())},
         {"repeatable", parameter.repeatable}});
  }
  return nlohmann::json{{"parameters", list}}.dump();
}

}  // namespace zel_request
