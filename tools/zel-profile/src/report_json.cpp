#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>
#include "report_output.hpp"

#include "number_text.hpp"

namespace zel_cli {
namespace {

// Writes JSON text with two-space indentation. Members and elements are added one by one;
// the writer places the commas.
class JsonText {
 public:
  std::string take() && { return std::move(text_) + "\n"; }

  void begin_object() { open('{'); }
  void end_object() { close('}'); }
  void begin_array() { open('['); }
  void end_array() { close(']'); }

  // Starts a member of the current object; its value comes next.
  void key(std::string_view name) {
    next_item();
    text_ += quoted(name);
    text_ += ": ";
    after_key_ = true;
  }

  void string(std::string_view value) {
    next_item();
    text_ += quoted(value);
  }
  void integer(std::uint64_t value) {
    next_item();
    text_ += decimal(value);
  }
  void number(double value) {
    next_item();
    // The engine's floats are finite; JSON has no text for the others.
    text_ += std::isfinite(value) ? shortest(value) : "null";
  }
  void null() {
    next_item();
    text_ += "null";
  }

 private:
  static std::string quoted(std::string_view text) {
    return nlohmann::json(std::string(text))
        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }

  void open(char bracket) {
    next_item();
    text_ += bracket;
    first_.push_back(true);
  }

  void close(char bracket) {
    const bool empty = first_.back();
    first_.pop_back();
    if (!empty) {
      new_line();
    }
    text_ += bracket;
  }

  // Places the comma and line break before an item, unless it is the value of a key.
  void next_item() {
    if (after_key_) {
      after_key_ = false;
      return;
    }
    if (first_.empty()) {
      return;
    }
    if (!first_.back()) {
      text_ += ',';
    }
    first_.back() = false;
    new_line();
  }

  void new_line() {
    text_ += '\n';
    text_.append(2 * first_.size(), ' ');
  }

  std::string text_;
  std::vector<bool> first_;  // per open bracket: nothing written inside it yet
  bool after_key_ = false;
};

void write_group(JsonText& json, const zel_profile::GroupSummary& group) {
  json.begin_object();
  json.key("name");
  json.string(group.name);
  json.key("dimensions");
  json.begin_object();
  for (const auto& [key, value] : group.dimensions) {
    json.key(key);
    json.string(value);
  }
  json.end_object();
  json.key("sample_count");
  json.integer(group.sample_count);
  json.key("tile_count");
  json.integer(group.tile_count);
  json.key("phase_count");
  json.integer(group.phase_count);
  json.key("phase_cycles");
  json.integer(group.phase_cycles);
  json.key("phase_ms");
  json.number(group.phase_ms);
  json.key("work_cycles");
  json.integer(group.work_cycles);
  json.key("average_active_tiles");
  json.number(group.average_active_tiles);
  json.key("mean_cycles");
  json.number(group.mean_cycles);
  json.key("p50_cycles");
  json.integer(group.p50_cycles);
  json.key("p95_cycles");
  json.integer(group.p95_cycles);
  json.key("maximum_cycles");
  json.integer(group.maximum_cycles);
  json.key("first_offset");
  json.integer(group.first_offset);
  json.key("last_offset");
  json.integer(group.last_offset);
  json.end_object();
}

void write_sample(JsonText& json, const zel_profile::SampleRecord& sample) {
  json.begin_object();
  json.key("physical_tile");
  json.integer(sample.physical_tile);
  json.key("offset");
  json.integer(sample.offset);
  json.key("duration");
  json.integer(sample.duration);
  json.key("phase");
  json.integer(sample.phase);
  json.key("epoch");
  json.integer(sample.epoch);
  json.key("kind");
  json.string(sample.kind);
  json.key("operation");
  json.string(sample.operation);
  json.key("kernel");
  json.string(sample.kernel);
  json.key("metadata");
  json.begin_array();
  for (const auto& entry : sample.metadata) {
    json.begin_object();
    json.key("name");
    json.string(entry.name);
    json.key("value");
    json.string(entry.value);
    json.end_object();
  }
  json.end_array();
  json.end_object();
}

}  // namespace

std::string format_json(const zel_profile::QueryReport& report) {
  JsonText json;
  json.begin_object();
  json.key("clock_hz");
  json.integer(report.clock_hz);
  json.key("tile_count");
  json.integer(report.tile_count);
  json.key("sample_count");
  json.integer(report.sample_count);
  json.key("matched_sample_count");
  json.integer(report.matched_sample_count);
  json.key("profile_span_cycles");
  json.integer(report.profile_span_cycles);
  json.key("profile_span_ms");
  json.number(report.profile_span_ms);
  json.key("at_offset");
  if (report.at_offset) {
    json.integer(*report.at_offset);
  } else {
    json.null();
  }
  json.key("groups");
  json.begin_array();
  for (const auto& group : report.groups) {
    write_group(json, group);
  }
  json.end_array();
  json.key("samples");
  json.begin_array();
  for (const auto& sample : report.samples) {
    write_sample(json, sample);
  }
  json.end_array();
  json.end_object();
  return std::move(json).take();
}

}  // namespace zel_cli
