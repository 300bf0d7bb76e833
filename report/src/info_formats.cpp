#include <zel_report/info_formats.hpp>

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <zel_report/text.hpp>

#include "display_width.hpp"
#include "json_text.hpp"
#include "number_text.hpp"
#include "time_text.hpp"

namespace zel_report {
namespace {

using zel_profile::NameCount;
using zel_profile::NumberCount;
using zel_profile::ProfileInfo;

constexpr std::size_t listed_names = 20;
constexpr std::size_t listed_values = 10;

// "0–3, 5, 7–9": consecutive numbers as ranges.
std::string ranges(const std::vector<NumberCount>& numbers) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t end = i + 1;
    while (end < numbers.size() && numbers[end].number == numbers[end - 1].number + 1) ++end;
    text += (text.empty() ? "" : ", ") + decimal(numbers[i].number);
    if (end - i > 1) text += "\u2013" + decimal(numbers[end - 1].number);
    i = end;
  }
  return text.empty() ? "none" : text;
}

std::string shown_name(const std::string& name, const char* empty) {
  return name.empty() ? std::string(empty) : printable(name);
}

// A heading and the first `limit` names with their samples, aligned, then how many more.
std::string name_list(const std::string& heading, const std::vector<NameCount>& names,
                      const char* empty, std::size_t limit) {
  std::string text = heading + " (" + decimal(names.size()) + "):\n";
  const std::size_t shown = std::min(names.size(), limit);
  std::size_t width = 0;
  for (std::size_t i = 0; i < shown; ++i) {
    width = std::max(width, display_width(shown_name(names[i].name, empty)));
  }
  for (std::size_t i = 0; i < shown; ++i) {
    const std::string name = shown_name(names[i].name, empty);
    text += "  " + name + std::string(width - display_width(name) + 2, ' ') +
            decimal(names[i].samples) + "\n";
  }
  if (shown < names.size()) text += "  ... and " + decimal(names.size() - shown) + " more\n";
  return text;
}

std::string table(const ProfileInfo& info) {
  std::string text =
      decimal(info.tile_count) + " tiles, " + decimal(info.sample_count) + " samples, span " +
      decimal(info.span_cycles) + " cycles (" +
      (info.clock_hz == 0 ? std::string("clock rate unknown")
                          : readable_time(info.span_ms) + " at " + decimal(info.clock_hz) + " Hz") +
      ")\n";
  text += "phases (" + decimal(info.phases.size()) + "): " + ranges(info.phases) + "\n";
  text += "epochs (" + decimal(info.epochs.size()) + "): " + ranges(info.epochs) + "\n";
  text += name_list("samples per kind", info.kinds, "", info.kinds.size());
  text += name_list("kernels", info.kernels, "(no kernel)", listed_names);
  text += name_list("operations", info.operations, "(no operation)", listed_names);
  text += "metadata keys (" + decimal(info.metadata.size()) + "):\n";
  for (const auto& key : info.metadata) {
    text += "  " + printable(key.key) + ": " + decimal(key.samples) + " samples, " +
            decimal(key.values.size()) + (key.values.size() == 1 ? " value" : " values");
    const std::size_t shown = std::min(key.values.size(), listed_values);
    for (std::size_t i = 0; i < shown; ++i) {
      text += (i == 0 ? ": " : ", ") + shown_name(key.values[i].name, "\"\"") + " (" +
              decimal(key.values[i].samples) + ")";
    }
    if (shown < key.values.size()) text += ", ...";
    text += "\n";
  }
  return text;
}

// A list of names or numbers with their samples: [{"name" or "number": ..., "samples": N}, ...].
template <typename Count>
void json_counts(JsonText& json, std::string_view name, const std::vector<Count>& counts) {
  json.key(name).begin_array();
  for (const auto& entry : counts) {
    json.begin_object();
    if constexpr (std::is_same_v<Count, NameCount>) json.key("name").string(entry.name);
    if constexpr (std::is_same_v<Count, NumberCount>) json.key("number").integer(entry.number);
    json.key("samples").integer(entry.samples);
    json.end_object();
  }
  json.end_array();
}

std::string json(const ProfileInfo& info) {
  JsonText json;
  json.begin_object();
  json.key("clock_hz").integer(info.clock_hz);
  json.key("tile_count").integer(info.tile_count);
  json.key("sample_count").integer(info.sample_count);
  json.key("span_cycles").integer(info.span_cycles);
  json.key("span_ms").number(info.span_ms);
  json_counts(json, "kinds", info.kinds);
  json_counts(json, "kernels", info.kernels);
  json_counts(json, "operations", info.operations);
  json_counts(json, "phases", info.phases);
  json_counts(json, "epochs", info.epochs);
  json.key("metadata").begin_array();
  for (const auto& key : info.metadata) {
    json.begin_object();
    json.key("key").string(key.key);
    json.key("samples").integer(key.samples);
    json_counts(json, "values", key.values);
    json.end_object();
  }
  json.end_array();
  json.end_object();
  return std::move(json).take();
}

}  // namespace

std::string format_info(const ProfileInfo& info, ReportFormat format) {
  switch (format) {
    case ReportFormat::Table:
      return table(info);
    case ReportFormat::Json:
      return json(info);
    default:
      throw std::invalid_argument("what a profile holds is written as a table or JSON");
  }
}

}  // namespace zel_report
