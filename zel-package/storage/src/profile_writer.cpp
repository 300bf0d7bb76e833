// Writing stored profiles: each distinct step once, in order of first use, then one tile per line
// with its samples as [step, start_cycle, end_cycle] triples. Strings are escaped by nlohmann-json;
// the many integers of the samples are formatted directly, which keeps large profiles fast.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include <zel_package/storage.hpp>

#include "step_kind_names.hpp"
#include "whole_file.hpp"

namespace zel_package {
namespace {

void hash_into(std::size_t& seed, std::size_t value) {
  seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

struct StepHash {
  std::size_t operator()(const ProfileStep* step) const {
    const std::hash<std::string> text;
    std::size_t seed = text(step->operation);
    hash_into(seed, text(step->kernel));
    hash_into(seed, step->local_index);
    hash_into(seed, step->phase);
    hash_into(seed, step->epoch);
    hash_into(seed, static_cast<std::size_t>(step->kind));
    for (const auto& entry : step->metadata) {
      hash_into(seed, text(entry.name));
      hash_into(seed, text(entry.value));
    }
    return seed;
  }
};

struct StepEqual {
  bool operator()(const ProfileStep* a, const ProfileStep* b) const { return *a == *b; }
};

// The distinct steps of a profile in order of first use, and each sample's index among them.
struct StepTable {
  std::vector<const ProfileStep*> steps;
  std::vector<std::pair<std::size_t, std::size_t>> first_use;  // (tile, sample), for messages
  std::vector<std::size_t> sample_steps;
};

StepTable collect_steps(const ProfileReport& report) {
  StepTable table;
  std::size_t total = 0;
  for (const auto& tile : report.tiles) total += tile.samples.size();
  table.sample_steps.reserve(total);
  std::unordered_map<const ProfileStep*, std::size_t, StepHash, StepEqual> index_of;
  for (std::size_t t = 0; t < report.tiles.size(); ++t) {
    const auto& samples = report.tiles[t].samples;
    for (std::size_t s = 0; s < samples.size(); ++s) {
      const auto [entry, added] = index_of.try_emplace(&samples[s].step, table.steps.size());
      if (added) {
        table.steps.push_back(&samples[s].step);
        table.first_use.emplace_back(t, s);
      }
      table.sample_steps.push_back(entry->second);
    }
  }
  return table;
}

void append_integer(std::string& out, std::uint64_t value) {
  char digits[20];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

// A JSON string literal. Text that is not valid UTF-8 could not be read back, so it is refused.
template <typename Where>
void append_string(std::string& out, const std::string& text, const Where& where) {
  try {
    out += nlohmann::json(text).dump();
  } catch (const nlohmann::json::type_error&) {
    throw std::invalid_argument("cannot write the profile: " + where() + " is not valid UTF-8");
  }
}

// `where` names the step for error messages; it is called only when one is needed.
template <typename Where>
void append_step(std::string& out, const ProfileStep& step, const Where& where) {
  out += "{\"local_index\": ";
  append_integer(out, step.local_index);
  out += ", \"phase\": ";
  append_integer(out, step.phase);
  out += ", \"epoch\": ";
  append_integer(out, step.epoch);
  out += ", \"operation\": ";
  append_string(out, step.operation, [&] { return where() + ".operation"; });
  out += ", \"kind\": \"";
  out += storage_detail::step_kind_name(step.kind);
  out += "\", \"kernel\": ";
  append_string(out, step.kernel, [&] { return where() + ".kernel"; });
  out += ", \"metadata\": [";
  for (std::size_t i = 0; i < step.metadata.size(); ++i) {
    const auto entry = [&] { return where() + ".metadata[" + std::to_string(i) + "]"; };
    out += i == 0 ? "{\"name\": " : ", {\"name\": ";
    append_string(out, step.metadata[i].name, [&] { return entry() + ".name"; });
    out += ", \"value\": ";
    append_string(out, step.metadata[i].value, [&] { return entry() + ".value"; });
    out += '}';
  }
  out += "]}";
}

}  // namespace

std::string write_profile(const ProfileReport& report) {
  const StepTable table = collect_steps(report);

  std::string out;
  // About 30 characters per sample (indexes and counter readings of up to 10 digits).
  out.reserve(256 + table.steps.size() * 256 + table.sample_steps.size() * 30);
  out += "{\n  \"version\": 1,\n  \"clock_hz\": ";
  append_integer(out, report.clock_hz);
  out += ",\n  \"steps\": [";
  for (std::size_t i = 0; i < table.steps.size(); ++i) {
    out += i == 0 ? "\n    " : ",\n    ";
    const auto& use = table.first_use[i];
    append_step(out, *table.steps[i], [&use] {
      return "tiles[" + std::to_string(use.first) + "].samples[" + std::to_string(use.second) +
             "].step";
    });
  }
  out += table.steps.empty() ? "],\n  \"tiles\": [" : "\n  ],\n  \"tiles\": [";
  std::size_t next = 0;
  for (std::size_t t = 0; t < report.tiles.size(); ++t) {
    const auto& tile = report.tiles[t];
    out += t == 0 ? "\n    {\"physical_tile\": " : ",\n    {\"physical_tile\": ";
    append_integer(out, tile.physical_tile);
    out += ", \"samples\": [";
    for (std::size_t s = 0; s < tile.samples.size(); ++s) {
      out += s == 0 ? "[" : ",[";
      append_integer(out, table.sample_steps[next++]);
      out += ',';
      append_integer(out, tile.samples[s].start_cycle);
      out += ',';
      append_integer(out, tile.samples[s].end_cycle);
      out += ']';
    }
    out += "]}";
  }
  out += report.tiles.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

void write_profile_file(const ProfileReport& report, const std::string& path) {
  storage_detail::write_whole_file(path, write_profile(report));
}

}  // namespace zel_package
