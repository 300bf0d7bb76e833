// Reading stored profiles: the full reader, simdjson's on-demand parser over the whole document,
// and the public entry points, which try the fast path (fast_reader.cpp) first.
//
// The full reader reads the document front to back once, straight into the packed form. Samples
// keep the step index as stored, because "tiles" may come before "steps" in the object; once the
// whole document has been read, the step indexes are checked. Any problem throws ProfileReadError
// at once, so no partial profile ever leaves this file.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <simdjson.h>
#include <nlohmann/json.hpp>
#include <zel_package/step_kinds.hpp>
#include <zel_storage/binary_profile.hpp>
#include <zel_storage/storage.hpp>

#include "binary_file.hpp"
#include "file_io.hpp"
#include "json_position.hpp"
#include "reader_detail.hpp"

namespace zel_storage {
using namespace zel_package;
namespace {

namespace ondemand = simdjson::ondemand;

constexpr std::uint64_t max_u32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t max_u64 = std::numeric_limits<std::uint64_t>::max();
constexpr std::string_view sample_shape = "a sample [step, start_cycle, end_cycle]";

[[noreturn]] void fail(std::string json_path, std::string problem) {
  throw ProfileReadError("", std::move(json_path), std::move(problem));
}

// A simdjson error met while reading a value that should have been `expected`: a value of the
// wrong type or shape says what was expected; broken JSON says so.
[[noreturn]] void fail_value(std::string json_path, simdjson::error_code error,
                             std::string_view expected) {
  switch (error) {
    case simdjson::INCORRECT_TYPE:
    case simdjson::NUMBER_ERROR:
    case simdjson::NUMBER_OUT_OF_RANGE:
      fail(std::move(json_path), "expected " + std::string(expected));
    default:
      fail(std::move(json_path), std::string("not valid JSON: ") + simdjson::error_message(error));
  }
}

std::string integer_range(std::uint64_t max) {
  return "an integer from 0 to " + std::to_string(max);
}

std::string indexed(const std::string& path, std::size_t index) {
  return path + "[" + std::to_string(index) + "]";
}

// Field names longer than this are cut in paths, so that a message stays readable whatever
// the input holds.
constexpr std::size_t quoted_name_limit = 64;

// The path of a field: `parent.name`, or `parent["name"]` when the name is not a plain word. A
// longer name than quoted_name_limit bytes is cut at a character boundary and shown quoted, with
// an ellipsis after the quote: `parent["first bytes"…]`.
std::string member(const std::string& parent, std::string_view name) {
  const bool cut = name.size() > quoted_name_limit;
  if (cut) {
    std::size_t end = quoted_name_limit;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    name = name.substr(0, end);
  }
  bool plain = !name.empty() && !cut;
  for (const char c : name) {
    const bool word =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    plain = plain && word;
  }
  if (!plain) {
    const std::string quoted = nlohmann::json(std::string(name))
                                   .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return parent + "[" + quoted + (cut ? "\u2026" : "") + "]";
  }
  return parent.empty() ? std::string(name) : parent + "." + std::string(name);
}

std::uint64_t read_integer(ondemand::value value, const std::string& path, std::uint64_t max) {
  std::uint64_t number = 0;
  if (const auto error = value.get_uint64().get(number))
    fail_value(path, error, integer_range(max));
  if (number > max) fail(path, "expected " + integer_range(max));
  return number;
}

std::uint32_t read_u32(ondemand::value value, const std::string& path) {
  return static_cast<std::uint32_t>(read_integer(value, path, max_u32));
}

std::string read_string(ondemand::value value, const std::string& path) {
  std::string_view text;
  if (const auto error = value.get_string().get(text)) fail_value(path, error, "a string");
  return std::string(text);
}

template <typename Value>
ondemand::array read_array(Value&& value, const std::string& path, std::string_view expected) {
  ondemand::array array;
  if (const auto error = std::forward<Value>(value).get_array().get(array)) {
    fail_value(path, error, expected);
  }
  return array;
}

// Reads the fields of an object whose field names are `names`, calling handle(index, value, path)
// for each. Unknown and repeated fields are errors, and so is a missing field whose bit is set in
// `required`.
template <std::size_t N, typename Value, typename Handle>
void read_fields(Value&& value, const std::string& path, std::string_view expected,
                 const std::array<std::string_view, N>& names, std::uint32_t required,
                 Handle&& handle) {
  ondemand::object object;
  if (const auto error = std::forward<Value>(value).get_object().get(object)) {
    fail_value(path, error, expected);
  }
  std::uint32_t seen = 0;
  for (auto field : object) {
    std::string_view name;
    if (const auto error = field.unescaped_key().get(name)) fail_value(path, error, expected);
    std::size_t index = 0;
    while (index < N && names[index] != name) ++index;
    std::string field_path = member(path, name);
    if (index == N) fail(std::move(field_path), "unknown field");
    if (seen & (1u << index)) fail(std::move(field_path), "repeated field");
    seen |= 1u << index;
    ondemand::value field_value;
    if (const auto error = field.value().get(field_value)) {
      fail_value(std::move(field_path), error, "a value");
    }
    handle(index, field_value, field_path);
  }
  for (std::size_t index = 0; index < N; ++index) {
    if ((required & (1u << index)) && !(seen & (1u << index))) {
      fail(member(path, names[index]), "missing required field");
    }
  }
}

template <typename Value>
ProfileMetadata read_metadata(Value&& value, const std::string& path) {
  static constexpr std::array<std::string_view, 2> names = {"name", "value"};
  ProfileMetadata entry;
  read_fields(std::forward<Value>(value), path, "an object {\"name\": ..., \"value\": ...}", names,
              0b11, [&](std::size_t index, ondemand::value field, const std::string& field_path) {
                (index == 0 ? entry.name : entry.value) = read_string(field, field_path);
              });
  return entry;
}

template <typename Value>
ProfileStep read_step(Value&& value, const std::string& path) {
  static constexpr std::array<std::string_view, 7> names = {
      "local_index", "phase", "epoch", "operation", "kind", "kernel", "metadata"};
  // local_index, epoch, kernel and metadata have defaults.
  constexpr std::uint32_t required = 0b0011010;
  ProfileStep step;
  read_fields(std::forward<Value>(value), path, "a step object", names, required,
              [&](std::size_t index, ondemand::value field, const std::string& field_path) {
                switch (index) {
                  case 0:
                    step.local_index = read_u32(field, field_path);
                    break;
                  case 1:
                    step.phase = read_u32(field, field_path);
                    break;
                  case 2:
                    step.epoch = read_u32(field, field_path);
                    break;
                  case 3:
                    step.operation = read_string(field, field_path);
                    break;
                  case 4: {
                    constexpr std::string_view kinds =
                        "one of \"exchange\", \"compute\", \"synchronization\", \"idle\"";
                    std::string_view name;
                    if (const auto error = field.get_string().get(name)) {
                      fail_value(field_path, error, kinds);
                    }
                    const auto kind = step_kind_from_name(name);
                    if (!kind) fail(field_path, "expected " + std::string(kinds));
                    step.kind = *kind;
                    break;
                  }
                  case 5:
                    step.kernel = read_string(field, field_path);
                    break;
                  default: {
                    auto entries = read_array(field, field_path, "an array of metadata entries");
                    std::size_t i = 0;
                    for (auto entry : entries) {
                      step.metadata.push_back(read_metadata(entry, indexed(field_path, i++)));
                    }
                  }
                }
              });
  return step;
}

// A sample's step index is kept as stored and checked once all steps are known. An index above
// 2^32 - 1 is kept as 2^32 - 1, which is out of range too: a document the reader takes (at most
// 4 GiB) cannot hold 2^32 - 1 steps.
std::uint32_t stored_step_index(std::uint64_t index) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(index, max_u32));
}

std::vector<PackedSample> read_samples(ondemand::value value, const std::string& path) {
  auto samples = read_array(value, path, "an array of samples");
  std::size_t count = 0;
  if (const auto error = samples.count_elements().get(count)) {
    fail_value(path, error, "an array of samples");
  }
  std::vector<PackedSample> result;
  result.reserve(count);
  std::size_t index = 0;
  for (auto element : samples) {
    // Paths are built only for errors: this loop runs once per sample.
    ondemand::array triple;
    if (const auto error = element.get_array().get(triple)) {
      fail_value(indexed(path, index), error, sample_shape);
    }
    std::array<std::uint64_t, 3> numbers{};
    std::size_t size = 0;
    for (auto number : triple) {
      if (size == numbers.size()) {
        fail(indexed(path, index), "expected " + std::string(sample_shape) + " of 3 integers");
      }
      std::uint64_t parsed = 0;
      const auto error = number.get_uint64().get(parsed);
      if (error || (size > 0 && parsed > max_u32)) {
        const std::string number_path = indexed(indexed(path, index), size);
        if (size == 0) fail_value(number_path, error, "a step index");
        fail_value(number_path, error ? error : simdjson::NUMBER_OUT_OF_RANGE,
                   integer_range(max_u32));
      }
      numbers[size++] = parsed;
    }
    if (size != numbers.size()) {
      fail(indexed(path, index), "expected " + std::string(sample_shape) + " of 3 integers");
    }
    result.push_back({.step = stored_step_index(numbers[0]),
                      .start_cycle = static_cast<std::uint32_t>(numbers[1]),
                      .end_cycle = static_cast<std::uint32_t>(numbers[2])});
    ++index;
  }
  return result;
}

template <typename Value>
PackedTile read_tile(Value&& value, const std::string& path) {
  static constexpr std::array<std::string_view, 2> names = {"physical_tile", "samples"};
  PackedTile tile;
  read_fields(std::forward<Value>(value), path, "a tile object", names, 0b11,
              [&](std::size_t index, ondemand::value field, const std::string& field_path) {
                if (index == 0) {
                  tile.physical_tile = read_u32(field, field_path);
                } else {
                  tile.samples = read_samples(field, field_path);
                }
              });
  return tile;
}

// Checks every sample's step index, in document order.
void check_step_indexes(const PackedProfile& profile) {
  const std::size_t steps = profile.steps.size();
  for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
    const auto& samples = profile.tiles[t].samples;
    for (std::size_t s = 0; s < samples.size(); ++s) {
      if (samples[s].step >= steps) {
        fail(indexed(indexed("tiles", t) + ".samples", s) + "[0]",
             steps == 0 ? "expected a step index, but there are no steps"
                        : "expected a step index from 0 to " + std::to_string(steps - 1));
      }
    }
  }
}

[[noreturn]] void fail_too_large() { fail("", "too large: the reader takes up to 4 GiB of text"); }

// The encoding a byte-order mark at the start of the text names, when it is not UTF-8's.
std::optional<std::string_view> foreign_encoding(std::string_view text) {
  const auto starts = [&](std::string_view mark) { return text.starts_with(mark); };
  using namespace std::string_view_literals;
  if (starts("\x00\x00\xFE\xFF"sv) || starts("\xFF\xFE\x00\x00"sv)) return "UTF-32";
  if (starts("\xFE\xFF"sv) || starts("\xFF\xFE"sv)) return "UTF-16";
  return std::nullopt;
}

constexpr std::string_view utf8_byte_order_mark = "\xEF\xBB\xBF";

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Where the first JSON value of the text ends when it is an object whose braces and brackets
// close, found by counting them outside strings; nullopt otherwise. Used only once reading has
// failed, to tell a broken object from one followed by something else.
std::optional<std::size_t> end_of_first_object(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && is_json_space(text[at])) ++at;
  if (at == text.size() || text[at] != '{') return std::nullopt;
  std::size_t depth = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '"') {
      for (++at; at < text.size() && text[at] != '"'; ++at) {
        if (text[at] == '\\') ++at;
      }
      if (at >= text.size()) return std::nullopt;
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (--depth == 0) return at + 1;
    }
  }
  return std::nullopt;
}

// The error at `offset` in `text`, with its line and column.
[[noreturn]] void fail_at(std::string_view text, std::size_t offset, std::string json_path,
                          std::string problem) {
  const auto position = detail::text_position(text, offset);
  throw ProfileReadError("", std::move(json_path), std::move(problem), position.line,
                         position.column);
}

// Where the JSON token at `offset` ends: after a string's closing quote, else at the next
// whitespace or punctuation.
std::size_t token_end(std::string_view text, std::size_t offset) {
  std::size_t at = offset;
  if (at < text.size() && text[at] == '"') {
    for (++at; at < text.size() && text[at] != '"'; ++at) {
      if (text[at] == '\\') ++at;
    }
    return std::min(at + 1, text.size());
  }
  while (at < text.size() && !is_json_space(text[at]) &&
         std::string_view(",:[]{}").find(text[at]) == std::string_view::npos) {
    ++at;
  }
  return at;
}

// An error of the reader, placed where the text stops being JSON when that is what went wrong:
// for a syntax error from simdjson, which says what but not where, at the first place where the
// text breaks (with what breaks it there); for a value of the wrong type or shape, when the text
// breaks within it (`tru` is not a misspelt string but not JSON). Runs only once reading has
// failed: the text is scanned again from the start.
[[noreturn]] void fail_placed(const ProfileReadError& error, std::string_view text,
                              std::size_t stop) {
  const bool syntax = error.problem().starts_with("not valid JSON:");
  if (!error.line() && (syntax || error.problem().starts_with("expected "))) {
    if (const auto broken = detail::first_json_error(text)) {
      if (syntax || broken->offset <= token_end(text, stop)) {
        fail_at(text, broken->offset, error.json_path(),
                "not valid JSON: " + std::string(broken->reason));
      }
    }
  }
  throw error;
}

// The full reader over padded text with no byte-order mark; step indexes are checked last, when
// `check_indexes`.
PackedProfile read_whole_document(simdjson::padded_string_view text, bool check_indexes = true) {
  const std::string_view view(text.data(), text.size());
  ondemand::parser parser;
  ondemand::document document;
  if (const auto error = parser.iterate(text).get(document)) {
    if (error == simdjson::MEMALLOC) throw std::bad_alloc();
    if (error == simdjson::CAPACITY) fail_too_large();
    fail_placed(
        ProfileReadError("", "", std::string("not valid JSON: ") + simdjson::error_message(error)),
        view, view.size());
  }

  static constexpr std::array<std::string_view, 4> names = {"version", "clock_hz", "steps",
                                                            "tiles"};
  PackedProfile profile;
  try {
    read_fields(
        document, "", "a JSON object holding the profile", names, 0b1111,
        [&](std::size_t index, ondemand::value field, const std::string& field_path) {
          switch (index) {
            case 0: {
              std::uint64_t version = 0;
              const auto error = field.get_uint64().get(version);
              if (error || version != 1) {
                fail_value(field_path, error ? error : simdjson::INCORRECT_TYPE,
                           "1 (the only version this reader knows)");
              }
              break;
            }
            case 1:
              profile.clock_hz = read_integer(field, field_path, max_u64);
              break;
            case 2: {
              auto array = read_array(field, field_path, "an array of steps");
              for (auto step : array) {
                profile.steps.push_back(read_step(step, indexed(field_path, profile.steps.size())));
              }
              break;
            }
            default: {
              auto array = read_array(field, field_path, "an array of tiles");
              for (auto tile : array) {
                profile.tiles.push_back(read_tile(tile, indexed(field_path, profile.tiles.size())));
              }
            }
          }
        });
  } catch (const ProfileReadError& error) {
    // Where the reader stopped: the token it was reading, or the end when it cannot tell.
    const char* at = nullptr;
    const bool known = document.current_location().get(at) == simdjson::SUCCESS &&
                       at >= view.data() && at <= view.data() + view.size();
    fail_placed(error, view, known ? static_cast<std::size_t>(at - view.data()) : view.size());
  }

  const char* rest = nullptr;
  if (document.current_location().get(rest) == simdjson::SUCCESS) {
    fail_at(view, static_cast<std::size_t>(rest - view.data()), "",
            "unexpected content after the profile object");
  }
  if (check_indexes) check_step_indexes(profile);
  return profile;
}

// The full reader over padded text. A UTF-8 byte-order mark is skipped; other ones are named.
// Content after the object can upset the parser before the object has been read (an unclosed
// string or an unbalanced bracket in it, say), so on an error the object alone is read again: its
// own error comes first, else the error is the content after it.
PackedProfile read_unmarked_document(std::string_view view, std::size_t capacity) {
  try {
    return read_whole_document(simdjson::padded_string_view(view.data(), view.size(), capacity));
  } catch (const ProfileReadError&) {
    const auto end = end_of_first_object(view);
    if (!end ||
        std::all_of(view.begin() + static_cast<std::ptrdiff_t>(*end), view.end(), is_json_space)) {
      throw;
    }
    read_whole_document(simdjson::padded_string_view(view.data(), *end, capacity), false);
    std::size_t rest = *end;
    while (is_json_space(view[rest])) ++rest;
    fail_at(view, rest, "", "unexpected content after the profile object");
  }
}

PackedProfile read_document(simdjson::padded_string_view text) {
  if (text.size() > detail::max_text_size) fail_too_large();
  std::string_view view(text.data(), text.size());
  if (const auto encoding = foreign_encoding(view)) {
    fail("", "not valid JSON: the text is " + std::string(*encoding) + ", not UTF-8");
  }
  std::size_t capacity = text.capacity();
  if (view.starts_with(utf8_byte_order_mark)) {
    view.remove_prefix(utf8_byte_order_mark.size());
    capacity -= utf8_byte_order_mark.size();
  }
  return read_unmarked_document(view, capacity);
}

// The error with the file named as its source.
ProfileReadError from_file(const ProfileReadError& error, const std::string& path) {
  return ProfileReadError(path, error.json_path(), error.problem(), error.line(), error.column());
}

}  // namespace

namespace detail {

PackedProfile read_packed_full(std::string_view json) {
  if (json.size() > max_text_size) fail_too_large();
  const simdjson::padded_string padded(json);
  if (padded.data() == nullptr && !json.empty()) throw std::bad_alloc();
  return read_document(padded);
}

PackedProfile read_packed_full_padded(const char* json, std::size_t size, std::size_t capacity) {
  return read_document(simdjson::padded_string_view(json, size, capacity));
}

std::optional<std::vector<ProfileStep>> read_steps_slice(std::string_view slice) {
  const simdjson::padded_string padded(slice);
  if (padded.data() == nullptr && !slice.empty()) throw std::bad_alloc();
  ondemand::parser parser;
  ondemand::document document;
  if (const auto error = parser.iterate(padded).get(document)) {
    if (error == simdjson::MEMALLOC) throw std::bad_alloc();
    return std::nullopt;
  }
  std::vector<ProfileStep> steps;
  try {
    auto array = read_array(document, "steps", "an array of steps");
    for (auto step : array) steps.push_back(read_step(step, indexed("steps", steps.size())));
  } catch (const ProfileReadError&) {
    return std::nullopt;
  }
  const char* rest = nullptr;
  if (document.current_location().get(rest) == simdjson::SUCCESS) return std::nullopt;
  return steps;
}

}  // namespace detail

PackedProfile read_packed_profile(std::string_view json) {
  if (is_binary_profile(json)) return read_binary_profile(json);
  if (json.size() > detail::max_text_size) fail_too_large();
  if (auto fast = detail::try_read_packed_fast(json)) return std::move(*fast);
  return detail::read_packed_full(json);
}

PackedProfile read_packed_profile_file(const std::string& path, const ReadOptions& options) {
  if (auto binary = detail::read_binary_profile_mapped(path, options)) {
    return std::move(*binary);
  }
  // What was being read when memory ran out: the text, or the profile from text of this size.
  std::optional<std::size_t> text_size;
  try {
    // The text is freed when this returns, before any caller makes records of the profile.
    const auto text = detail::read_text_file(path, detail::max_text_size, options.progress);
    text_size = text.size();
    // A binary profile from standard input or a pipe, held to the same limit as text.
    if (is_binary_profile(text.view())) return read_binary_profile(text.view(), path);
    try {
      if (auto fast = detail::try_read_packed_fast(text.view())) return std::move(*fast);
      return detail::read_packed_full_padded(text.data(), text.size(), text.capacity());
    } catch (const ProfileReadError& error) {
      throw from_file(error, path);
    }
  } catch (const std::bad_alloc&) {
    // Everything read so far has been freed on the way here.
    throw ProfileReadError(path, "",
                           text_size ? "out of memory while reading the profile from its " +
                                           std::to_string(*text_size) + " bytes of text"
                                     : std::string("out of memory while reading the text"));
  }
}

ProfileReport read_profile(std::string_view json) { return unpack(read_packed_profile(json)); }

ProfileReport read_profile_file(const std::string& path, const ReadOptions& options) {
  const PackedProfile packed = read_packed_profile_file(path, options);
  try {
    return unpack(packed);
  } catch (const std::bad_alloc&) {
    throw ProfileReadError(path, "",
                           "out of memory while making the records of the profile (" +
                               std::to_string(sample_count(packed)) +
                               " samples, each with its own step)");
  }
}

}  // namespace zel_storage
