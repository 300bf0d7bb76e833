#include "query_words.hpp"

#include <pybind11/stl.h>

#include <limits>
#include <stdexcept>
#include <string>

#include <zel_request/parameters.hpp>

namespace py = pybind11;

namespace zel_python {
namespace {

using zel_request::ValueKind;

// A value as the query's parameters read it: ints in decimal, True and False as words.
std::string text_of(py::handle value, ValueKind kind) {
  if (kind == ValueKind::Flag) return value.cast<bool>() ? "true" : "false";
  if (PyLong_Check(value.ptr())) return py::str(value).cast<std::string>();
  return value.cast<std::string>();
}

std::size_t threads_of(py::handle number) {
  const unsigned long long value = PyLong_AsUnsignedLongLong(number.ptr());
  const bool overflow = PyErr_Occurred() != nullptr;
  if (overflow) PyErr_Clear();
  if (overflow || value < 1 || value > std::numeric_limits<std::size_t>::max()) {
    throw std::invalid_argument("threads: expected a whole number from 1, got " +
                                std::string(py::str(number)));
  }
  return static_cast<std::size_t>(value);
}

}  // namespace

std::pair<zel_profile::Query, zel_profile::Parallelism> to_query(const py::dict& words) {
  zel_request::Words given;
  zel_profile::Parallelism parallelism{.threads = 0};
  std::vector<std::string> profile_names;
  for (const auto& [key, value] : words) {
    const auto keyword = key.cast<std::string>();
    if (value.is_none()) continue;
    if (keyword == "threads") {
      parallelism.threads = threads_of(value);
    } else if (keyword == "profile_names") {
      profile_names = value.cast<std::vector<std::string>>();
    } else if (keyword == "window") {
      // The window's two ends, either open.
      const auto ends = value.cast<py::tuple>();
      if (!ends[0].is_none()) given.emplace_back("from", text_of(ends[0], ValueKind::Cycles));
      if (!ends[1].is_none()) given.emplace_back("to", text_of(ends[1], ValueKind::Cycles));
    } else {
      for (const auto& parameter : zel_request::query_parameters()) {
        if (parameter.keyword != keyword) continue;
        const std::string word(parameter.word);
        if (parameter.repeatable) {
          for (const auto item : value) given.emplace_back(word, text_of(item, parameter.kind));
        } else {
          given.emplace_back(word, text_of(value, parameter.kind));
        }
      }
    }
  }
  auto query = zel_request::parse_query(given, zel_request::Naming::Keyword);
  query.profile_names = std::move(profile_names);
  return {std::move(query), parallelism};
}

std::vector<std::tuple<std::string, std::string, bool>> query_keywords() {
  std::vector<std::tuple<std::string, std::string, bool>> keywords;
  for (const auto& parameter : zel_request::query_parameters()) {
    const bool pair = parameter.keyword == "window";
    if (pair && parameter.word != "from") continue;
    keywords.emplace_back(std::string(parameter.keyword),
                          pair ? std::string("pair") : std::string(kind_word(parameter.kind)),
                          parameter.repeatable);
  }
  return keywords;
}

}  // namespace zel_python
