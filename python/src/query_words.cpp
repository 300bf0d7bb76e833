#include "query_words.hpp"

#include <pybind11/stl.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <zel_profile/words.hpp>

namespace py = pybind11;

namespace zel_python {
namespace {

bool absent(const py::dict& words, const char* key) {
  return !words.contains(key) || words[key].is_none();
}

std::optional<std::string> text(const py::dict& words, const char* key) {
  if (absent(words, key)) return std::nullopt;
  return words[key].cast<std::string>();
}

// The value the word of `key` names, or std::nullopt when the key is absent.
template <typename FromWord>
auto word(const py::dict& words, const char* key, std::span<const std::string_view> listed,
          FromWord from_word) -> decltype(from_word(std::string_view())) {
  const auto given = text(words, key);
  if (!given) return std::nullopt;
  const auto value = from_word(*given);
  if (!value) {
    throw std::invalid_argument(std::string(key) + ": " + zel_profile::not_one_of(listed, *given));
  }
  return value;
}

// A Python int as T, from `least` to T's largest; anything else is a ValueError naming `key`.
template <typename T>
T whole(py::handle number, const char* key, T least = 0) {
  const unsigned long long value = PyLong_AsUnsignedLongLong(number.ptr());
  const bool overflow = PyErr_Occurred() != nullptr;
  if (overflow) PyErr_Clear();
  if (overflow || value < least || value > std::numeric_limits<T>::max()) {
    const std::string range = least == 0
                                  ? "from 0 to " + std::to_string(std::numeric_limits<T>::max())
                                  : "from " + std::to_string(least);
    throw std::invalid_argument(std::string(key) + ": expected a whole number " + range + ", got " +
                                std::string(py::str(number)));
  }
  return static_cast<T>(value);
}

template <typename T>
std::optional<T> optional_whole(const py::dict& words, const char* key, T least = 0) {
  if (absent(words, key)) return std::nullopt;
  return whole<T>(words[key], key, least);
}

py::list many(const py::dict& words, const char* key) {
  if (absent(words, key)) return py::list();
  return words[key].cast<py::list>();
}

zel_profile::MetadataFilter metadata_filter(const std::string& filter) {
  const auto equals = filter.find('=');
  if (equals == std::string::npos) return {.name = filter};
  return {.name = filter.substr(0, equals), .value = filter.substr(equals + 1)};
}

}  // namespace

std::pair<zel_profile::Query, zel_profile::Parallelism> to_query(const py::dict& words) {
  using namespace zel_profile;
  Query query{
      .group_by =
          word(words, "group_by", group_by_words, group_by_from_word).value_or(GroupBy::Kernel),
      .sort_by =
          word(words, "sort_by", sort_by_words, sort_by_from_word).value_or(SortBy::PhaseCycles),
      .kind = word(words, "kind", step_kind_words, step_kind_from_word),
      .kernel = text(words, "kernel"),
      .operation_contains = text(words, "operation_contains"),
      .metadata_key = text(words, "metadata_key"),
      .at_offset = optional_whole<std::uint64_t>(words, "at"),
      .limit = optional_whole<std::size_t>(words, "limit"),
      .sample_limit = optional_whole<std::size_t>(words, "samples").value_or(0),
  };
  if (query.group_by == GroupBy::Metadata && !query.metadata_key) {
    throw std::invalid_argument("group_by metadata needs metadata_key KEY");
  }
  if (query.group_by != GroupBy::Metadata && query.metadata_key) {
    throw std::invalid_argument("metadata_key applies only with group_by metadata");
  }
  for (const auto tile : many(words, "tiles"))
    query.tiles.insert(whole<std::uint32_t>(tile, "tiles"));
  for (const auto phase : many(words, "phases")) {
    query.phases.insert(whole<std::uint32_t>(phase, "phases"));
  }
  for (const auto filter : many(words, "metadata")) {
    query.metadata.push_back(metadata_filter(filter.cast<std::string>()));
  }
  for (const auto name : many(words, "profile_names")) {
    query.profile_names.push_back(name.cast<std::string>());
  }
  if (!absent(words, "window")) {
    const auto window = words["window"].cast<py::tuple>();
    if (!window[0].is_none()) query.from_offset = whole<std::uint64_t>(window[0], "window");
    if (!window[1].is_none()) query.to_offset = whole<std::uint64_t>(window[1], "window");
    if (query.from_offset && query.to_offset && *query.from_offset >= *query.to_offset) {
      throw std::invalid_argument("window: expected from below to, got (" +
                                  std::to_string(*query.from_offset) + ", " +
                                  std::to_string(*query.to_offset) + ")");
    }
  }
  const Parallelism parallelism{.threads =
                                    optional_whole<std::size_t>(words, "threads", 1).value_or(0)};
  return {std::move(query), parallelism};
}

}  // namespace zel_python
