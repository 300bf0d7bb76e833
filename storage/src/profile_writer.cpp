// Writing stored profiles: the steps of a packed profile as they are, then one tile per line with
// its samples as [step, start_cycle, end_cycle] triples. Strings are escaped by nlohmann-json; the
// many integers of the samples are formatted directly, which keeps large profiles fast. A records
// profile is packed first (each distinct step once, in order of first use) and written the same
// way. Everything is checked before the first byte is written, so an invalid profile leaves no
// partial output anywhere, not even on standard output.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>
#include <zel_package/step_kinds.hpp>
#include <zel_storage/storage.hpp>

#include "binary_format.hpp"
#include "file_io.hpp"

namespace zel_storage {
using namespace zel_package;
namespace {

// Names step `index` in error messages, such as "steps[3]" or "tiles[1].samples[4].step".
using StepName = std::function<std::string(std::size_t index)>;

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
  if (!is_step_kind(step.kind)) {
    // A byte outside the four kinds has no word the reader would take back.
    throw std::invalid_argument("cannot write the profile: " + where() + ".kind is " +
                                std::to_string(static_cast<unsigned>(step.kind)) +
                                ", not one of the four step kinds");
  }
  out += step_kind_name(step.kind);
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

// Throws std::invalid_argument for a string that is not valid UTF-8 or a kind outside the four
// (steps in order, fields in the order they are written), or a sample whose step index is out of
// range.
void check_writable(const PackedProfile& profile, const StepName& name) {
  std::string scratch;
  for (std::size_t i = 0; i < profile.steps.size(); ++i) {
    scratch.clear();
    append_step(scratch, profile.steps[i], [&] { return name(i); });
  }
  const std::size_t steps = profile.steps.size();
  for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
    const auto& samples = profile.tiles[t].samples;
    for (std::size_t s = 0; s < samples.size(); ++s) {
      if (samples[s].step >= steps) {
        throw std::invalid_argument("cannot write the profile: tiles[" + std::to_string(t) +
                                    "].samples[" + std::to_string(s) + "] refers to step " +
                                    std::to_string(samples[s].step) + ", but there are " +
                                    std::to_string(steps) + " steps");
      }
    }
  }
}

// Writes the text of a checked profile into `out`, handing it to spill(out) whenever it holds at
// least `chunk` bytes (spill empties it).
template <typename Spill>
void write_text(const PackedProfile& profile, std::string& out, std::size_t chunk, Spill&& spill) {
  out += "{\n  \"version\": 1,\n  \"clock_hz\": ";
  append_integer(out, profile.clock_hz);
  out += ",\n  \"steps\": [";
  for (std::size_t i = 0; i < profile.steps.size(); ++i) {
    out += i == 0 ? "\n    " : ",\n    ";
    append_step(out, profile.steps[i], [i] { return "steps[" + std::to_string(i) + "]"; });
    if (out.size() >= chunk) spill(out);
  }
  out += profile.steps.empty() ? "],\n  \"tiles\": [" : "\n  ],\n  \"tiles\": [";
  for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
    const auto& tile = profile.tiles[t];
    out += t == 0 ? "\n    {\"physical_tile\": " : ",\n    {\"physical_tile\": ";
    append_integer(out, tile.physical_tile);
    out += ", \"samples\": [";
    for (std::size_t s = 0; s < tile.samples.size(); ++s) {
      const auto& sample = tile.samples[s];
      out += s == 0 ? "[" : ",[";
      append_integer(out, sample.step);
      out += ',';
      append_integer(out, sample.start_cycle);
      out += ',';
      append_integer(out, sample.end_cycle);
      out += ']';
      if (out.size() >= chunk) spill(out);
    }
    out += "]}";
  }
  out += profile.tiles.empty() ? "]\n}\n" : "\n  ]\n}\n";
}

std::string text_of(const PackedProfile& profile, const StepName& name) {
  check_writable(profile, name);
  std::string out;
  // About 30 characters per sample (indexes and counter readings of up to 10 digits).
  out.reserve(256 + profile.steps.size() * 256 + sample_count(profile) * 30);
  write_text(profile, out, SIZE_MAX, [](std::string&) {});
  return out;
}

void write_file(const PackedProfile& profile, const std::string& path, const StepName& name) {
  check_writable(profile, name);
  detail::write_text_file(path, [&](detail::OutputStream& stream) {
    constexpr std::size_t chunk = std::size_t{1} << 20;
    std::string out;
    out.reserve(chunk + 4096);
    write_text(profile, out, chunk, [&](std::string& text) {
      stream.write(text);
      text.clear();
    });
    stream.write(out);
  });
}

// Steps of the packed form are named by their index.
std::string packed_step_name(std::size_t index) { return "steps[" + std::to_string(index) + "]"; }

// A records profile names a step by the first sample that uses it, which pack() made the sample
// that added the step.
StepName first_use_of(const PackedProfile& packed) {
  return [&packed](std::size_t index) {
    for (std::size_t t = 0; t < packed.tiles.size(); ++t) {
      const auto& samples = packed.tiles[t].samples;
      for (std::size_t s = 0; s < samples.size(); ++s) {
        if (samples[s].step == index) {
          return "tiles[" + std::to_string(t) + "].samples[" + std::to_string(s) + "].step";
        }
      }
    }
    return packed_step_name(index);
  };
}

}  // namespace

void detail::check_writable_profile(const PackedProfile& profile) {
  check_writable(profile, packed_step_name);
}

std::string write_profile(const PackedProfile& profile) {
  return text_of(profile, packed_step_name);
}

std::string write_profile(const ProfileReport& report) {
  const PackedProfile packed = pack(report);
  return text_of(packed, first_use_of(packed));
}

void write_profile_file(const PackedProfile& profile, const std::string& path) {
  write_file(profile, path, packed_step_name);
}

void write_profile_file(const ProfileReport& report, const std::string& path) {
  const PackedProfile packed = pack(report);
  write_file(packed, path, first_use_of(packed));
}

}  // namespace zel_storage
