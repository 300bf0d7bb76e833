#include "query_words.hpp"

#include <pybind11/stl.h>

#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include "query_options.hpp"

namespace py = pybind11;

namespace zel_python {
namespace {

std::optional<std::string> optional_word(const py::dict& words, const char* key) {
  if (!words.contains(key) || words[key].is_none()) return std::nullopt;
  return words[key].cast<std::string>();
}

std::vector<std::string> word_list(const py::dict& words, const char* key) {
  if (!words.contains(key) || words[key].is_none()) return {};
  return words[key].cast<std::vector<std::string>>();
}

}  // namespace

std::pair<zel_profile::Query, zel_profile::Parallelism> to_query(const py::dict& words) {
  zel_cli::QueryOptions options;
  options.group_by = optional_word(words, "group_by").value_or(options.group_by);
  options.sort_by = optional_word(words, "sort_by").value_or(options.sort_by);
  options.metadata_key = optional_word(words, "metadata_key");
  options.kind = optional_word(words, "kind");
  options.kernel = optional_word(words, "kernel");
  options.operation_contains = optional_word(words, "operation_contains");
  options.tiles = word_list(words, "tiles");
  options.phases = word_list(words, "phases");
  options.metadata = word_list(words, "metadata");
  options.at = optional_word(words, "at");
  options.limit = optional_word(words, "limit");
  options.samples = optional_word(words, "samples");
  options.threads = optional_word(words, "threads");
  return {zel_cli::to_query(options), zel_cli::to_parallelism(options)};
}

std::string with_keyword_names(const std::string& message) {
  // Longer names first, so that --metadata-key is not taken for --metadata.
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 13> names{{
      {"--operation-contains", "operation_contains"},
      {"--metadata-key", "metadata_key"},
      {"--group-by", "group_by"},
      {"--sort-by", "sort_by"},
      {"--metadata", "metadata"},
      {"--samples", "samples"},
      {"--threads", "threads"},
      {"--kernel", "kernel"},
      {"--limit", "limit"},
      {"--phase", "phases"},
      {"--kind", "kind"},
      {"--tile", "tiles"},
      {"--at", "at"},
  }};
  const auto is_name_char = [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; };
  std::string text;
  for (std::size_t i = 0; i < message.size();) {
    bool replaced = false;
    if (message.compare(i, 2, "--") == 0) {
      for (const auto& [option, keyword] : names) {
        const std::size_t end = i + option.size();
        if (message.compare(i, option.size(), option) == 0 &&
            (end == message.size() || !is_name_char(message[end]))) {
          text += keyword;
          i = end;
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) text += message[i++];
  }
  return text;
}

}  // namespace zel_python
