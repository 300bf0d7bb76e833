#include "query_options.hpp"

#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

#include <zel_package/step_kinds.hpp>

#include "decimal.hpp"
#include "suggest.hpp"
#include "usage_error.hpp"

namespace zel_cli {
namespace {

using zel_profile::GroupBy;
using zel_profile::SortBy;
using zel_profile::StepKind;

// The words an option accepts and what each means, in the order the help text lists them.
template <typename Value>
using Words = std::vector<std::pair<std::string, Value>>;

const Words<GroupBy> group_by_words{
    {"kind", GroupBy::Kind},   {"kernel", GroupBy::Kernel}, {"operation", GroupBy::Operation},
    {"phase", GroupBy::Phase}, {"tile", GroupBy::Tile},     {"metadata", GroupBy::Metadata},
};

const Words<SortBy> sort_by_words{
    {"phase-cycles", SortBy::PhaseCycles},
    {"work-cycles", SortBy::WorkCycles},
    {"maximum-cycles", SortBy::MaximumCycles},
    {"samples", SortBy::Samples},
    {"name", SortBy::Name},
};

// The step kinds' own words, each meaning the query-side kind of the same value.
const Words<StepKind> kind_words = [] {
  Words<StepKind> words;
  for (std::size_t kind = 0; kind < zel_package::step_kind_names.size(); ++kind) {
    words.emplace_back(zel_package::step_kind_names[kind], static_cast<StepKind>(kind));
  }
  return words;
}();

const Words<ReportFormat> format_words{
    {"table", ReportFormat::Table},
    {"json", ReportFormat::Json},
    {"csv", ReportFormat::Csv},
    {"tsv", ReportFormat::Tsv},
};

// The words of a table, for help texts and error messages: "a|b|c".
template <typename Value>
std::string choices(const Words<Value>& words) {
  std::string text;
  for (const auto& [word, value] : words) {
    text += (text.empty() ? "" : "|") + word;
  }
  return text;
}

template <typename Value>
const Value* find(const Words<Value>& words, const std::string& word) {
  for (const auto& [candidate, value] : words) {
    if (candidate == word) {
      return &value;
    }
  }
  return nullptr;
}

// "expected one of a|b|c, got \"x\"; did you mean 'b'?"
template <typename Value>
std::string not_one_of(const Words<Value>& words, const std::string& word) {
  std::vector<std::string> candidates;
  for (const auto& [candidate, value] : words) candidates.push_back(candidate);
  return "expected one of " + choices(words) + ", got \"" + word + "\"" +
         did_you_mean(word, candidates);
}

template <typename Value>
Value lookup(const Words<Value>& words, const std::string& word, std::string_view option) {
  const auto* value = find(words, word);
  if (value == nullptr) {
    std::vector<std::string> allowed;
    for (const auto& [candidate, meaning] : words) allowed.push_back(candidate);
    throw UsageError(std::string(option) + ": " + not_one_of(words, word), std::string(option),
                     std::move(allowed));
  }
  return *value;
}

// Stores every use of an option that takes one value into an optional string.
CLI::Option* add_optional(CLI::App& command, const std::string& name,
                          std::optional<std::string>& target, const std::string& description) {
  return command.add_option_function<std::string>(
      name, [&target](const std::string& value) { target = value; }, description);
}

// Declares an option that accepts exactly the given words, so that CLI11 reports a wrong word as a
// usage error while parsing; the help text lists the words.
template <typename Value, typename Target>
CLI::Option* add_choice(CLI::App& command, const std::string& name, Target& target,
                        const Words<Value>& words, const std::string& description) {
  CLI::Option* option = nullptr;
  if constexpr (std::is_same_v<Target, std::string>) {
    option = command.add_option(name, target, description);
  } else {
    option = add_optional(command, name, target, description);
  }
  return option
      ->check(CLI::Validator(
          [&words](std::string& word) {
            return find(words, word) != nullptr ? std::string() : not_one_of(words, word);
          },
          ""))
      ->type_name(choices(words));
}

zel_profile::MetadataFilter metadata_filter(const std::string& text) {
  const auto equals = text.find('=');
  if (equals == std::string::npos) {
    return {.name = text};
  }
  return {.name = text.substr(0, equals), .value = text.substr(equals + 1)};
}

}  // namespace

namespace {

void add_query_filters(CLI::App& command, QueryOptions& options);

}  // namespace

void add_query_options(CLI::App& command, QueryOptions& options) {
  command
      .add_option("PROFILE", options.profiles,
                  "stored profile (JSON, also gzip- or zstd-compressed); - reads standard input. "
                  "Several profiles (say, one per "
                  "chip of a run) are queried as one, their tiles listed in the order given")
      ->required()
      ->type_name("FILE");
  add_query_filters(command, options);
}

void add_diff_options(CLI::App& command, QueryOptions& options) {
  command
      .add_option("BASE NEW", options.profiles,
                  "the two stored profiles to compare; - reads standard input for one of them")
      ->required()
      ->expected(2)
      ->type_name("FILE");
  add_query_filters(command, options);
  add_optional(command, "--fail-above", options.fail_above,
               "exit with status 3 when the phase cycles of any group grew by more than PERCENT "
               "(a group only in NEW counts as grown), naming each on standard error")
      ->type_name("PERCENT");
}

std::optional<double> to_fail_above(const QueryOptions& options) {
  if (!options.fail_above) return std::nullopt;
  const std::string& text = *options.fail_above;
  double percent = 0.0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), percent, std::chars_format::fixed);
  const bool plain = !text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) != 0);
  if (!plain || error != std::errc{} || end != text.data() + text.size()) {
    throw UsageError("--fail-above: expected a percentage such as 5 or 2.5, got \"" + text + "\"");
  }
  return percent / 100.0;
}

namespace {

void add_query_filters(CLI::App& command, QueryOptions& options) {
  add_choice(command, "--group-by", options.group_by, group_by_words,
             "what one group is (default: kernel)");
  add_optional(command, "--metadata-key", options.metadata_key,
               "metadata name to group by, with --group-by metadata")
      ->type_name("KEY");
  add_choice(command, "--sort-by", options.sort_by, sort_by_words,
             "order of the groups: larger first, names in byte order (default: phase-cycles)");
  add_choice(command, "--kind", options.kind, kind_words, "only steps of this kind");
  add_optional(command, "--kernel", options.kernel,
               "only steps running this kernel; \"\" selects steps without a kernel")
      ->type_name("NAME");
  add_optional(command, "--operation-contains", options.operation_contains,
               "only operations containing TEXT (case-sensitive)")
      ->type_name("TEXT");
  command.add_option("--tile", options.tiles, "only this physical tile (repeatable)")
      ->allow_extra_args(false)
      ->type_name("N");
  command.add_option("--phase", options.phases, "only this phase, in any epoch (repeatable)")
      ->allow_extra_args(false)
      ->type_name("N");
  command
      .add_option("--metadata", options.metadata,
                  "only steps with metadata NAME, of value VALUE when given (the first = splits; "
                  "repeatable, all must hold)")
      ->allow_extra_args(false)
      ->type_name("NAME[=VALUE]");
  add_optional(command, "--at", options.at,
               "only samples running at this many cycles after their tile's first sample began")
      ->type_name("CYCLES");
  add_optional(command, "--limit", options.limit, "at most N groups, after ordering")
      ->type_name("N");
  command
      .add_flag("--reverse", options.reverse,
                "the groups in the opposite order, smallest first (ties in exactly the opposite "
                "order too); --limit then keeps the smallest")
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  add_optional(command, "--samples", options.samples,
               "also report the N longest matched samples (default: 0). With --format csv or tsv "
               "the output is then the samples table alone (one row per sample), not the groups")
      ->type_name("N");
  add_choice(command, "--format", options.format, format_words,
             "output format (default: table); tsv is csv's columns separated by tabs, one line "
             "each, with tabs, newlines and backslashes in names written \\t, \\n and \\\\");
  command
      .add_option("-o,--output", options.output,
                  "write the output to FILE (default and -: standard output); the file is replaced "
                  "only once the output is complete")
      ->type_name("FILE");
  command
      .add_flag("--timing", options.timing,
                "after the report, print on standard error one figure a line: \"zel-profile: "
                "timing: load W s wall, C s cpu\", the same for query, then \"zel-profile: "
                "timing: peak memory M MB\" (seconds to 3 decimals; MB of 2^20 bytes)")
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
  add_optional(command, "--threads", options.threads,
               "run the query on N threads (default: every core; 1 runs it on one thread). The "
               "report is the same for every N")
      ->type_name("N");
}

}  // namespace

zel_profile::Parallelism to_parallelism(const QueryOptions& options) {
  if (!options.threads) {
    return zel_profile::Parallelism{.threads = 0};
  }
  const auto threads = parse_decimal<std::size_t>(*options.threads, "--threads");
  if (threads == 0) {
    throw UsageError("--threads: expected a whole number from 1, got \"0\"", "--threads");
  }
  return zel_profile::Parallelism{.threads = threads};
}

zel_profile::Query to_query(const QueryOptions& options) {
  zel_profile::Query query{
      .group_by = lookup(group_by_words, options.group_by, "--group-by"),
      .sort_by = lookup(sort_by_words, options.sort_by, "--sort-by"),
      .kernel = options.kernel,
      .operation_contains = options.operation_contains,
      .metadata_key = options.metadata_key,
  };
  if (query.group_by == GroupBy::Metadata && !options.metadata_key) {
    throw UsageError("--group-by metadata needs --metadata-key KEY", "--metadata-key");
  }
  if (query.group_by != GroupBy::Metadata && options.metadata_key) {
    throw UsageError("--metadata-key applies only with --group-by metadata", "--metadata-key");
  }
  if (options.kind) {
    query.kind = lookup(kind_words, *options.kind, "--kind");
  }
  for (const auto& tile : options.tiles) {
    query.tiles.insert(parse_decimal<std::uint32_t>(tile, "--tile"));
  }
  for (const auto& phase : options.phases) {
    query.phases.insert(parse_decimal<std::uint32_t>(phase, "--phase"));
  }
  for (const auto& filter : options.metadata) {
    query.metadata.push_back(metadata_filter(filter));
  }
  if (options.at) {
    query.at_offset = parse_decimal<std::uint64_t>(*options.at, "--at");
  }
  if (options.limit) {
    query.limit = parse_decimal<std::size_t>(*options.limit, "--limit");
  }
  if (options.samples) {
    query.sample_limit = parse_decimal<std::size_t>(*options.samples, "--samples");
  }
  return query;
}

ReportFormat to_report_format(const QueryOptions& options) {
  return lookup(format_words, options.format, "--format");
}

}  // namespace zel_cli
