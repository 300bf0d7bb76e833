// Reported samples in the engine's byte forms (partial results and finished reports): each
// sample's numbers as varints, its kind as one byte, its names and metadata entries as strings.
// Every sample carries its step's fields, so that the bytes do not depend on how a list lays out
// its table of steps.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <zel_package/keyed_hash.hpp>
#include <zel_package/step_kinds.hpp>
#include <zel_profile/reported_samples.hpp>

#include "wire/byte_form.hpp"

namespace zel_profile::detail {

// Throws std::invalid_argument "cannot encode <form>: ..." for a kind that is not a step kind.
inline void write_samples(ByteWriter& out, const ReportedSamples& samples, std::string_view form) {
  out.number(samples.size());
  for (const ReportedSample& sample : samples.samples()) {
    const SampleStep& step = samples.step_of(sample);
    out.number(sample.physical_tile);
    out.number(sample.offset);
    out.number(sample.duration);
    out.number(step.phase);
    out.number(step.epoch);
    const auto kind = zel_package::step_kind_from_name(step.kind);
    if (!kind) {
      throw std::invalid_argument("cannot encode " + std::string(form) + ": a sample's kind \"" +
                                  step.kind + "\" is not a step kind");
    }
    out.byte(static_cast<unsigned char>(*kind));
    out.text(step.operation);
    out.text(step.kernel);
    out.number(step.metadata.size());
    for (const MetadataEntry& entry : step.metadata) {
      out.text(entry.name);
      out.text(entry.value);
    }
  }
}

// `count` samples; samples whose step fields are the same bytes share one step of the table.
inline ReportedSamples read_samples(ByteReader& in, std::size_t count) {
  // A metadata entry is two strings, each at least its one-byte length.
  constexpr std::size_t entry_bytes = 2;
  std::vector<ReportedSample> samples(count);
  std::vector<SampleStep> steps;
  // The bytes may come from another machine, so the table's hash is keyed: no sender can make its
  // steps collide.
  std::unordered_map<std::string_view, std::uint32_t, zel_package::KeyedTextHash> step_places;
  for (ReportedSample& sample : samples) {
    sample.physical_tile = in.number32("sample tile");
    sample.offset = in.number("sample offset");
    sample.duration = in.number32("sample duration");
    const std::size_t step_begin = in.position();
    SampleStep step;
    step.phase = in.number32("sample phase");
    step.epoch = in.number32("sample epoch");
    const unsigned char kind = in.byte("sample kind");
    if (kind >= zel_package::step_kind_names.size()) in.malformed("unknown sample kind");
    step.kind = std::string(zel_package::step_kind_names[kind]);
    step.operation = in.text("sample operation");
    step.kernel = in.text("sample kernel");
    step.metadata.resize(in.count("sample metadata", entry_bytes));
    for (MetadataEntry& entry : step.metadata) {
      entry.name = in.text("metadata name");
      entry.value = in.text("metadata value");
    }
    const auto [place, added] = step_places.try_emplace(in.read_since(step_begin),
                                                        static_cast<std::uint32_t>(steps.size()));
    if (added) steps.push_back(std::move(step));
    sample.step = place->second;
  }
  return ReportedSamples(std::move(samples), std::move(steps));
}

}  // namespace zel_profile::detail
