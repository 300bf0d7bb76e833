// The report as JSON text, written field by field from the report's field description.
#include <cmath>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>
#include <zel_report/fields.hpp>
#include <zel_report/formats.hpp>

#include "number_text.hpp"

namespace zel_report {
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

template <typename Record>
void write_record(JsonText& json, const Record& record, std::span<const Field<Record>> fields);

// A field's value: numbers as they are, texts escaped, lists element by element.
void write_value(JsonText& json, const FieldValue& value) {
  std::visit(
      [&json](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Absent>) {
          json.null();
        } else if constexpr (std::is_same_v<T, std::uint64_t>) {
          json.integer(v);
        } else if constexpr (std::is_same_v<T, double>) {
          json.number(v);
        } else if constexpr (std::is_same_v<T, std::string_view>) {
          json.string(v);
        } else if constexpr (std::is_same_v<T, const std::map<std::string, std::string>*>) {
          json.begin_object();
          for (const auto& [key, text] : *v) {
            json.key(key);
            json.string(text);
          }
          json.end_object();
        } else if constexpr (std::is_same_v<T, const std::vector<zel_profile::MetadataEntry>*>) {
          json.begin_array();
          for (const auto& entry : *v) write_record(json, entry, metadata_entry_fields());
          json.end_array();
        } else if constexpr (std::is_same_v<T, const std::vector<zel_profile::GroupSummary>*>) {
          json.begin_array();
          for (const auto& group : *v) write_record(json, group, group_fields());
          json.end_array();
        } else {
          json.begin_array();
          for (const auto& sample : *v) write_record(json, sample, sample_fields());
          json.end_array();
        }
      },
      value);
}

// A record as an object of its fields, in their order.
template <typename Record>
void write_record(JsonText& json, const Record& record, std::span<const Field<Record>> fields) {
  json.begin_object();
  for (const auto& field : fields) {
    json.key(field.name);
    write_value(json, field.value(record));
  }
  json.end_object();
}

}  // namespace

std::string format_json(const zel_profile::QueryReport& report) {
  JsonText json;
  write_record(json, report, report_fields());
  return std::move(json).take();
}

}  // namespace zel_report
