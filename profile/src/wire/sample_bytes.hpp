// A reported sample in the engine's byte forms (partial results and finished reports): its
// numbers as varints, its kind as one byte, its names and metadata entries as strings.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include <zel_package/step_kinds.hpp>
#include <zel_profile/model.hpp>

#include "wire/byte_form.hpp"

namespace zel_profile::detail {

// Throws std::invalid_argument "cannot encode <form>: ..." for a kind that is not a step kind.
inline void write_sample(ByteWriter& out, const SampleRecord& sample, std::string_view form) {
  out.number(sample.physical_tile);
  out.number(sample.offset);
  out.number(sample.duration);
  out.number(sample.phase);
  out.number(sample.epoch);
  const auto kind = zel_package::step_kind_from_name(sample.kind);
  if (!kind) {
    throw std::invalid_argument("cannot encode " + std::string(form) + ": a sample's kind \"" +
                                sample.kind + "\" is not a step kind");
  }
  out.byte(static_cast<unsigned char>(*kind));
  out.text(sample.operation);
  out.text(sample.kernel);
  out.number(sample.metadata.size());
  for (const MetadataEntry& entry : sample.metadata) {
    out.text(entry.name);
    out.text(entry.value);
  }
}

inline SampleRecord read_sample(ByteReader& in) {
  // A metadata entry is two strings, each at least its one-byte length.
  constexpr std::size_t entry_bytes = 2;
  SampleRecord sample;
  sample.physical_tile = in.number32("sample tile");
  sample.offset = in.number("sample offset");
  sample.duration = in.number32("sample duration");
  sample.phase = in.number32("sample phase");
  sample.epoch = in.number32("sample epoch");
  const unsigned char kind = in.byte("sample kind");
  if (kind >= zel_package::step_kind_names.size()) in.malformed("unknown sample kind");
  sample.kind = std::string(zel_package::step_kind_names[kind]);
  sample.operation = in.text("sample operation");
  sample.kernel = in.text("sample kernel");
  sample.metadata.resize(in.count("sample metadata", entry_bytes));
  for (MetadataEntry& entry : sample.metadata) {
    entry.name = in.text("metadata name");
    entry.value = in.text("metadata value");
  }
  return sample;
}

}  // namespace zel_profile::detail
