#include <zel_report/chrome_trace.hpp>

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <zel_package/step_kinds.hpp>
#include <zel_profile/matching.hpp>

#include "json_text.hpp"
#include "number_text.hpp"

namespace zel_report {
namespace {

using zel_package::PackedProfile;
using zel_package::ProfileStep;

constexpr std::size_t flush_size = std::size_t{1} << 20;

// Whether a step's samples can match: the query's filters on the step alone, asked through
// matches_query with the filters on tile and time taken out.
std::vector<bool> passing_steps(const PackedProfile& profile, const zel_profile::Query& query) {
  zel_profile::Query step_filters = query;
  step_filters.tiles.clear();
  step_filters.at_offset.reset();
  std::vector<bool> passes(profile.steps.size());
  for (std::size_t s = 0; s < profile.steps.size(); ++s) {
    const zel_package::CycleSample sample{
        .step = profile.steps[s], .start_cycle = 0, .end_cycle = 0};
    passes[s] = zel_profile::matches_query(step_filters, 0, sample, 0, 0);
  }
  return passes;
}

// The text of an event before its "tid" value, and after its "ts" and "dur", without the cycles.
struct StepText {
  std::string head;  // {"name":...,"cat":...,"ph":"X","pid":0,"tid":
  std::string tail;  // "phase":...,...,"metadata":{...}}}
};

StepText step_text(const ProfileStep& step) {
  StepText text;
  text.head = "{\"name\":" + json_quoted(step.kernel.empty() ? step.operation : step.kernel) +
              ",\"cat\":" + json_quoted(zel_package::step_kind_name(step.kind)) +
              ",\"ph\":\"X\",\"pid\":0,\"tid\":";
  text.tail = "\"phase\":" + decimal(step.phase) + ",\"epoch\":" + decimal(step.epoch) +
              ",\"operation\":" + json_quoted(step.operation) +
              ",\"kernel\":" + json_quoted(step.kernel) + ",\"metadata\":{";
  std::set<std::string> used;
  for (std::size_t m = 0; m < step.metadata.size(); ++m) {
    std::string name = step.metadata[m].name;
    for (int repeat = 2; used.contains(name); ++repeat) {
      name = step.metadata[m].name + "#" + std::to_string(repeat);
    }
    used.insert(name);
    if (m != 0) text.tail += ',';
    text.tail += json_quoted(name);
    text.tail += ':';
    text.tail += json_quoted(step.metadata[m].value);
  }
  text.tail += "}}}";
  return text;
}

// A time in the trace's unit: microseconds at the clock rate, or cycles without one.
std::string trace_time(std::uint64_t cycles, std::uint64_t clock_hz) {
  if (clock_hz == 0) return decimal(cycles);
  return shortest(static_cast<double>(cycles) * 1e6 / static_cast<double>(clock_hz));
}

}  // namespace

void write_chrome_trace(const PackedProfile& profile, const zel_profile::Query& query,
                        const std::function<void(std::string_view)>& write) {
  const std::size_t step_count = profile.steps.size();
  for (const auto& tile : profile.tiles) {
    for (const auto& sample : tile.samples) {
      if (sample.step >= step_count) {
        throw std::invalid_argument("a sample refers to step " + std::to_string(sample.step) +
                                    " of a profile with " + std::to_string(step_count) + " steps");
      }
    }
  }
  const std::vector<bool> passes = passing_steps(profile, query);
  std::vector<StepText> texts(step_count);
  std::vector<bool> made(step_count, false);

  std::string buffer = "{\"traceEvents\":[\n";
  const auto flush_if_full = [&] {
    if (buffer.size() >= flush_size) {
      write(buffer);
      buffer.clear();
    }
  };
  bool first_event = true;
  const auto next_event = [&] {
    if (!first_event) buffer += ",\n";
    first_event = false;
  };
  std::set<std::uint32_t> named;
  for (const auto& tile : profile.tiles) {
    if (!named.insert(tile.physical_tile).second) continue;
    next_event();
    const std::string tid = decimal(tile.physical_tile);
    buffer += "{\"name\":\"thread_name\",\"ph\":\"M\",\"pid\":0,\"tid\":" + tid +
              ",\"args\":{\"name\":\"tile " + tid + "\"}}";
  }
  for (const auto& tile : profile.tiles) {
    if (tile.samples.empty() ||
        (!query.tiles.empty() && !query.tiles.contains(tile.physical_tile))) {
      continue;
    }
    const std::string tid = decimal(tile.physical_tile);
    const std::uint32_t base = tile.samples.front().start_cycle;
    for (const auto& sample : tile.samples) {
      if (!passes[sample.step]) continue;
      const std::uint64_t offset = static_cast<std::uint32_t>(sample.start_cycle - base);
      const std::uint64_t length =
          static_cast<std::uint32_t>(sample.end_cycle - sample.start_cycle);
      if (query.at_offset && (*query.at_offset < offset || *query.at_offset >= offset + length)) {
        continue;
      }
      if (!made[sample.step]) {
        texts[sample.step] = step_text(profile.steps[sample.step]);
        made[sample.step] = true;
      }
      const StepText& text = texts[sample.step];
      next_event();
      buffer += text.head;
      buffer += tid;
      buffer += ",\"ts\":";
      buffer += trace_time(offset, profile.clock_hz);
      buffer += ",\"dur\":";
      buffer += trace_time(length, profile.clock_hz);
      buffer += ",\"args\":{\"offset_cycles\":";
      buffer += decimal(offset);
      buffer += ",\"duration_cycles\":";
      buffer += decimal(length);
      buffer += ',';
      buffer += text.tail;
      flush_if_full();
    }
  }
  buffer +=
      "\n],\"displayTimeUnit\":\"ns\",\"otherData\":{\"clock_hz\":" + decimal(profile.clock_hz) +
      ",\"time_unit\":\"" + (profile.clock_hz == 0 ? "cycles" : "microseconds") + "\"}}\n";
  write(buffer);
}

}  // namespace zel_report
