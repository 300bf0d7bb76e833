#include "query_options.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>

#include <zel_profile/words.hpp>

#include "decimal.hpp"
#include "messages.hpp"
#include "usage_error.hpp"

namespace zel_cli {
namespace {

using zel_profile::GroupBy;

// The tool's own output formats, indexed by ReportFormat's value; the query's words are the
// engine's.
constexpr std::array<std::string_view, 4> format_words = {"table", "json", "csv", "tsv"};

// The most threads a query can use: one a core.
std::size_t core_count() { return std::max(1u, std::thread::hardware_concurrency()); }

template <typename Value>
std::optional<Value> format_from_word(std::string_view word) {
  for (std::size_t i = 0; i < format_words.size(); ++i) {
    if (format_words[i] == word) return static_cast<Value>(i);
  }
  return std::nullopt;
}

// The value `word` names through `from_word`, or a UsageError naming `option` and the words.
template <typename FromWord>
auto lookup(std::span<const std::string_view> words, FromWord from_word, const std::string& word,
            std::string_view option) {
  const auto value = from_word(word);
  if (!value) {
    throw UsageError(std::string(option) + ": " + zel_profile::not_one_of(words, word),
                     std::string(option), std::vector<std::string>(words.begin(), words.end()));
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
template <typename Target>
CLI::Option* add_choice(CLI::App& command, const std::string& name, Target& target,
                        std::span<const std::string_view> words, const std::string& description) {
  CLI::Option* option = nullptr;
  if constexpr (std::is_same_v<Target, std::string>) {
    option = command.add_option(name, target, description);
  } else {
    option = add_optional(command, name, target, description);
  }
  return option
      ->check(CLI::Validator(
          [words](std::string& word) {
            const bool listed = std::find(words.begin(), words.end(), word) != words.end();
            return listed ? std::string() : zel_profile::not_one_of(words, word);
          },
          ""))
      ->type_name(zel_profile::choices(words));
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

CLI::Validator one_of(std::vector<std::string> words) {
  return CLI::Validator(
      [words = std::move(words)](std::string& word) {
        if (std::find(words.begin(), words.end(), word) != words.end()) return std::string();
        std::string listed;
        for (const auto& candidate : words) listed += (listed.empty() ? "" : "|") + candidate;
        return "expected " + std::string(words.size() == 1 ? "" : "one of ") + listed + ", got \"" +
               word + "\"" + zel_profile::did_you_mean(word, words);
      },
      "");
}

void add_query_options(CLI::App& command, QueryOptions& options) {
  command
      .add_option("PROFILE", options.profiles,
                  "stored profile (JSON, also gzip- or zstd-compressed); - reads standard input. "
                  "Several profiles (say, one per chip of a run) are queried as one, each a chip "
                  "(chip 0 the first given): a tile is a (chip, physical tile) pair")
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
  // A comparison of groups reports no single samples.
  command.remove_option(command.get_option("--samples"));
  add_optional(command, "--fail-above", options.fail_above,
               "exit with status 3 when the phase cycles of any group grew by more than PERCENT "
               "(a group only in NEW counts as grown), naming each on standard error")
      ->type_name("PERCENT");
  add_optional(command, "--fail-above-span", options.fail_above_span,
               "exit with status 3 when the profile's span grew by more than PERCENT")
      ->type_name("PERCENT");
  add_optional(command, "--min-cycles", options.min_cycles,
               "with --fail-above: a group below N phase cycles in both profiles never fails")
      ->type_name("N");
}

namespace {

// A plain non-negative decimal percentage as a fraction.
std::optional<double> percentage(const std::optional<std::string>& given, std::string_view option) {
  if (!given) return std::nullopt;
  const std::string& text = *given;
  double percent = 0.0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), percent, std::chars_format::fixed);
  const bool plain = !text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) != 0);
  if (!plain || error != std::errc{} || end != text.data() + text.size()) {
    throw UsageError(std::string(option) + ": expected a percentage such as 5 or 2.5, got \"" +
                     text + "\"");
  }
  return percent / 100.0;
}

}  // namespace

DiffGate to_diff_gate(const QueryOptions& options) {
  DiffGate gate{.group_growth = percentage(options.fail_above, "--fail-above"),
                .span_growth = percentage(options.fail_above_span, "--fail-above-span")};
  if (options.min_cycles) {
    if (!options.fail_above) throw UsageError("--min-cycles applies only with --fail-above");
    gate.min_cycles = parse_decimal<std::uint64_t>(*options.min_cycles, "--min-cycles");
  }
  return gate;
}

namespace {

void add_query_filters(CLI::App& command, QueryOptions& options) {
  add_choice(command, "--group-by", options.group_by, zel_profile::group_by_words,
             "what one group is (default: kernel); several profiles are several chips: tile groups "
             "are then named \"chip N tile T\" (N counting the profiles from 0), and profile "
             "gives one group a profile, named by its file");
  add_optional(command, "--metadata-key", options.metadata_key,
               "metadata name to group by, with --group-by metadata")
      ->type_name("KEY");
  add_choice(command, "--sort-by", options.sort_by, zel_profile::sort_by_words,
             "order of the groups: larger first, names in byte order (default: phase-cycles)");
  add_choice(command, "--kind", options.kind, zel_profile::step_kind_words,
             "only steps of this kind");
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
  add_optional(command, "--from", options.from,
               "only samples running at some cycle from this many cycles after their tile's first "
               "sample began (with --to: of the window [FROM, TO))")
      ->type_name("CYCLES");
  add_optional(command, "--to", options.to,
               "only samples running at some cycle before this many cycles after their tile's "
               "first sample began")
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
               "run the query on N threads (default: every core; 1 runs it on one thread; more "
               "than the cores runs it on every core). The report is the same for every N")
      ->type_name("N");
}

}  // namespace

zel_profile::Parallelism to_parallelism(const QueryOptions& options) {
  if (!options.threads) {
    return zel_profile::Parallelism{.threads = 0};
  }
  const std::string_view text = *options.threads;
  std::size_t threads = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), threads);
  // Any count from 1 is taken, however large: more threads than cores would only take turns.
  if (error == std::errc::result_out_of_range && end == text.data() + text.size()) {
    threads = std::numeric_limits<std::size_t>::max();
  } else if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
             threads == 0) {
    throw UsageError("--threads: expected a whole number from 1, got \"" + shown_name(text) + "\"",
                     "--threads");
  }
  return zel_profile::Parallelism{.threads = std::min(threads, core_count())};
}

std::vector<std::string> profile_names(const std::vector<std::string>& paths) {
  std::vector<std::string> names;
  for (const auto& path : paths) names.push_back(path == "-" ? "standard input" : path);
  return names;
}

zel_profile::Query to_query(const QueryOptions& options) {
  zel_profile::Query query{
      .group_by = lookup(zel_profile::group_by_words, zel_profile::group_by_from_word,
                         options.group_by, "--group-by"),
      .sort_by = lookup(zel_profile::sort_by_words, zel_profile::sort_by_from_word, options.sort_by,
                        "--sort-by"),
      .kernel = options.kernel,
      .operation_contains = options.operation_contains,
      .metadata_key = options.metadata_key,
  };
  if (query.group_by == GroupBy::Profile) query.profile_names = profile_names(options.profiles);
  if (query.group_by == GroupBy::Metadata && !options.metadata_key) {
    throw UsageError("--group-by metadata needs --metadata-key KEY", "--metadata-key");
  }
  if (query.group_by != GroupBy::Metadata && options.metadata_key) {
    throw UsageError("--metadata-key applies only with --group-by metadata", "--metadata-key");
  }
  if (options.kind) {
    query.kind = lookup(zel_profile::step_kind_words, zel_profile::step_kind_from_word,
                        *options.kind, "--kind");
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
  if (options.from) query.from_offset = parse_decimal<std::uint64_t>(*options.from, "--from");
  if (options.to) query.to_offset = parse_decimal<std::uint64_t>(*options.to, "--to");
  if (query.from_offset && query.to_offset && *query.from_offset >= *query.to_offset) {
    throw UsageError(
        "--from: expected a cycle below --to's " + *options.to + ", got \"" + *options.from + "\"",
        "--from");
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
  return lookup(format_words, format_from_word<ReportFormat>, options.format, "--format");
}

}  // namespace zel_cli
