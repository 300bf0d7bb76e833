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

// Stores every use of an option that takes one value into an optional string.
CLI::Option* add_optional(CLI::App& command, const std::string& name,
                          std::optional<std::string>& target, const std::string& description) {
  return command.add_option_function<std::string>(
      name, [&target](const std::string& value) { target = value; }, description);
}

// A check that a value is one of `words`, so that CLI11 reports a wrong word as a usage error while
// parsing.
CLI::Validator listed_word(std::span<const std::string_view> words) {
  return CLI::Validator(
      [words](std::string& word) {
        const bool listed = std::find(words.begin(), words.end(), word) != words.end();
        return listed ? std::string() : zel_profile::not_one_of(words, word);
      },
      "");
}

void add_query_filters(CLI::App& command, QueryOptions& options) {
  for (const auto& parameter : zel_request::query_parameters()) {
    const std::string name = "--" + std::string(parameter.word);
    const std::string help(parameter.help);
    auto& words = options.words;
    const std::string word(parameter.word);
    if (parameter.kind == zel_request::ValueKind::Flag) {
      command
          .add_flag_function(
              name, [&words, word](std::int64_t) { words.emplace_back(word, "true"); }, help)
          ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
      continue;
    }
    CLI::Option* option = nullptr;
    if (parameter.repeatable) {
      option = command
                   .add_option_function<std::vector<std::string>>(
                       name,
                       [&words, word](const std::vector<std::string>& values) {
                         for (const auto& value : values) words.emplace_back(word, value);
                       },
                       help)
                   ->allow_extra_args(false);
    } else {
      option = command.add_option_function<std::string>(
          name, [&words, word](const std::string& value) { words.emplace_back(word, value); },
          help);
    }
    if (parameter.kind == zel_request::ValueKind::Word) {
      option->check(listed_word(parameter.words))->type_name(zel_profile::choices(parameter.words));
    } else {
      option->type_name(std::string(parameter.value_name));
    }
  }
  command
      .add_option("--format", options.format,
                  "output format (default: table); tsv is csv's columns separated by tabs, one "
                  "line each, with tabs, newlines and backslashes in names written \\t, \\n and "
                  "\\\\")
      ->check(listed_word(format_words))
      ->type_name(zel_profile::choices(format_words));
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

zel_profile::Query to_query(const QueryOptions& options) {
  zel_profile::Query query;
  try {
    query = zel_request::parse_query(options.words, zel_request::Naming::Option);
  } catch (const zel_request::RequestError& error) {
    throw UsageError(error.what(), error.parameter, error.allowed);
  }
  if (query.group_by == GroupBy::Profile) query.profile_names = profile_names(options.profiles);
  return query;
}

ReportFormat to_report_format(const QueryOptions& options) {
  const auto found = std::find(format_words.begin(), format_words.end(), options.format);
  if (found == format_words.end()) {
    throw UsageError("--format: " + zel_profile::not_one_of(format_words, options.format),
                     "--format", {format_words.begin(), format_words.end()});
  }
  return static_cast<ReportFormat>(found - format_words.begin());
}

}  // namespace zel_cli
