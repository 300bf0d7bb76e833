#include <zel_report/chrome_trace.hpp>

#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <zel_package/step_kinds.hpp>
#include <zel_profile/scan.hpp>

#include "json_text.hpp"
#include "number_text.hpp"

namespace zel_report {
namespace {

using zel_package::PackedProfile;
using zel_package::ProfileStep;

constexpr std::size_t flush_size = std::size_t{1} << 20;

// The text of an event before its "pid" value, and after its "ts" and "dur", without the cycles.
struct StepText {
  std::string head;  // {"name":...,"cat":...,"ph":"X","pid":
  std::string tail;  // "phase":...,...,"metadata":{...}}}
};

StepText step_text(const ProfileStep& step) {
  StepText text;
  text.head = "{\"name\":" + json_quoted(step.kernel.empty() ? step.operation : step.kernel) +
              ",\"cat\":" + json_quoted(zel_package::step_kind_name(step.kind)) +
              ",\"ph\":\"X\",\"pid\":";
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

// The trace's text, handed on in pieces of about flush_size bytes.
class TraceText {
 public:
  explicit TraceText(const std::function<void(std::string_view)>& write) : write_(write) {}

  // The text, after the separator that starts another event.
  std::string& event() {
    if (!first_event_) text_ += ",\n";
    first_event_ = false;
    return text_;
  }
  std::string& text() { return text_; }
  void flush_if_full() {
    if (text_.size() >= flush_size) {
      write_(text_);
      text_.clear();
    }
  }
  void finish() { write_(text_); }

 private:
  const std::function<void(std::string_view)>& write_;
  std::string text_ = "{\"traceEvents\":[\n";
  bool first_event_ = true;
};

// The names of a chip's process (when there are several) and of its tiles' threads.
void write_track_names(TraceText& out, const PackedProfile& profile, const std::string& pid,
                       const std::string& name, bool several) {
  if (several) {
    out.event() += "{\"name\":\"process_name\",\"ph\":\"M\",\"pid\":" + pid +
                   ",\"args\":{\"name\":" + json_quoted("chip " + pid + ": " + name) + "}}";
  }
  std::set<std::uint32_t> named;
  for (const auto& tile : profile.tiles) {
    if (!named.insert(tile.physical_tile).second) continue;
    const std::string tid = decimal(tile.physical_tile);
    out.event() += "{\"name\":\"thread_name\",\"ph\":\"M\",\"pid\":" + pid + ",\"tid\":" + tid +
                   ",\"args\":{\"name\":\"tile " + tid + "\"}}";
  }
}

// An event a sample the selection admits, each step's text made once.
void write_events(TraceText& out, const PackedProfile& profile,
                  const zel_profile::Selection& selection, const std::string& pid,
                  std::uint64_t clock_hz) {
  const std::size_t step_count = profile.steps.size();
  std::vector<StepText> texts(step_count);
  std::vector<bool> made(step_count, false);
  std::size_t tid_tile = SIZE_MAX;  // the tile whose number `tid` holds
  std::string tid;
  const auto event = [&](const zel_profile::ScannedSample& sample) {
    if (sample.tile != tid_tile) {
      tid_tile = sample.tile;
      tid = pid + ",\"tid\":" + decimal(profile.tiles[sample.tile].physical_tile);
    }
    if (!made[sample.step]) {
      texts[sample.step] = step_text(profile.steps[sample.step]);
      made[sample.step] = true;
    }
    const StepText& text = texts[sample.step];
    std::string& buffer = out.event();
    buffer += text.head;
    buffer += tid;
    buffer += ",\"ts\":";
    buffer += trace_time(sample.offset, clock_hz);
    buffer += ",\"dur\":";
    buffer += trace_time(sample.length, clock_hz);
    buffer += ",\"args\":{\"offset_cycles\":";
    buffer += decimal(sample.offset);
    buffer += ",\"duration_cycles\":";
    buffer += decimal(sample.length);
    buffer += ',';
    buffer += text.tail;
    out.flush_if_full();
  };
  zel_profile::scan(profile, selection, 0, profile.tiles.size(), event);
}

}  // namespace

void write_chrome_trace(std::span<const PackedProfile> profiles, std::span<const std::string> names,
                        const zel_profile::Query& query,
                        const std::function<void(std::string_view)>& write) {
  for (std::size_t p = 1; p < profiles.size(); ++p) {
    if (profiles[p].clock_hz != profiles.front().clock_hz) {
      throw std::invalid_argument("cannot export profiles with different clock rates together (" +
                                  std::to_string(profiles.front().clock_hz) + " and " +
                                  std::to_string(profiles[p].clock_hz) + " Hz)");
    }
  }
  std::vector<zel_profile::Selection> selections;
  for (const PackedProfile& profile : profiles) {
    selections.push_back(zel_profile::select(profile, query));
    // Every step is checked before anything is written.
    zel_profile::scan(profile, selections.back(), 0, profile.tiles.size(),
                      [](const zel_profile::ScannedSample&) {});
  }
  const std::uint64_t clock_hz = profiles.empty() ? 0 : profiles.front().clock_hz;
  TraceText out(write);
  for (std::size_t chip = 0; chip < profiles.size(); ++chip) {
    const std::string pid = decimal(chip);
    const std::string name = chip < names.size() ? names[chip] : "chip " + pid;
    write_track_names(out, profiles[chip], pid, name, profiles.size() > 1);
    write_events(out, profiles[chip], selections[chip], pid, clock_hz);
  }
  out.text() += "\n],\"displayTimeUnit\":\"ns\",\"otherData\":{\"clock_hz\":" + decimal(clock_hz) +
                ",\"time_unit\":\"" + (clock_hz == 0 ? "cycles" : "microseconds") + "\"}}\n";
  out.finish();
}

}  // namespace zel_report
