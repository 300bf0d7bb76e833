#include "report_bytes.hpp"

#include <bit>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <utility>

namespace zel_python {
namespace {

constexpr std::string_view magic = "zelreport1";

class Writer {
 public:
  void number(std::uint64_t value) {
    for (int byte = 0; byte < 8; ++byte) bytes_.push_back(static_cast<char>(value >> (8 * byte)));
  }
  void real(double value) { number(std::bit_cast<std::uint64_t>(value)); }
  void text(std::string_view value) {
    number(value.size());
    bytes_.append(value);
  }
  void maybe(const std::optional<std::uint64_t>& value) {
    number(value ? 1 : 0);
    number(value.value_or(0));
  }
  std::string take() { return std::move(bytes_); }

 private:
  std::string bytes_{magic};
};

class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {
    if (!rest_.starts_with(magic)) fail();
    rest_.remove_prefix(magic.size());
  }
  std::uint64_t number() {
    if (rest_.size() < 8) fail();
    std::uint64_t value = 0;
    for (int byte = 0; byte < 8; ++byte) {
      value |= std::uint64_t{static_cast<unsigned char>(rest_[byte])} << (8 * byte);
    }
    rest_.remove_prefix(8);
    return value;
  }
  std::uint32_t number32() {
    const auto value = number();
    if (value > UINT32_MAX) fail();
    return static_cast<std::uint32_t>(value);
  }
  double real() { return std::bit_cast<double>(number()); }
  std::string text() {
    const auto size = number();
    if (size > rest_.size()) fail();
    std::string value(rest_.substr(0, size));
    rest_.remove_prefix(size);
    return value;
  }
  std::optional<std::uint64_t> maybe() {
    const auto present = number();
    const auto value = number();
    if (present > 1 || (present == 0 && value != 0)) fail();
    return present ? std::optional(value) : std::nullopt;
  }
  // A count of items of at least 8 bytes each, checked against the bytes left before any
  // allocation.
  std::size_t count() {
    const auto value = number();
    if (value > rest_.size() / 8) fail();
    return static_cast<std::size_t>(value);
  }
  void finish() const {
    if (!rest_.empty()) fail();
  }
  [[noreturn]] static void fail() { throw std::invalid_argument("malformed report bytes"); }

 private:
  std::string_view rest_;
};

void write_sample(Writer& out, const zel_profile::SampleRecord& sample) {
  out.number(sample.physical_tile);
  out.number(sample.offset);
  out.number(sample.duration);
  out.number(sample.phase);
  out.number(sample.epoch);
  out.text(sample.kind);
  out.text(sample.operation);
  out.text(sample.kernel);
  out.number(sample.metadata.size());
  for (const auto& entry : sample.metadata) {
    out.text(entry.name);
    out.text(entry.value);
  }
}

zel_profile::SampleRecord read_sample(Reader& in) {
  zel_profile::SampleRecord sample;
  sample.physical_tile = in.number32();
  sample.offset = in.number();
  sample.duration = in.number32();
  sample.phase = in.number32();
  sample.epoch = in.number32();
  sample.kind = in.text();
  sample.operation = in.text();
  sample.kernel = in.text();
  sample.metadata.resize(in.count());
  for (auto& entry : sample.metadata) {
    entry.name = in.text();
    entry.value = in.text();
  }
  return sample;
}

void write_group(Writer& out, const zel_profile::GroupSummary& group) {
  out.text(group.name);
  out.number(group.dimensions.size());
  for (const auto& [key, value] : group.dimensions) {
    out.text(key);
    out.text(value);
  }
  out.number(group.sample_count);
  out.number(group.tile_count);
  out.number(group.phase_count);
  out.number(group.phase_cycles);
  out.real(group.phase_ms);
  out.number(group.work_cycles);
  out.real(group.average_active_tiles);
  out.real(group.mean_cycles);
  out.number(group.p50_cycles);
  out.number(group.p95_cycles);
  out.number(group.maximum_cycles);
  out.number(group.first_offset);
  out.number(group.last_offset);
}

zel_profile::GroupSummary read_group(Reader& in) {
  zel_profile::GroupSummary group;
  group.name = in.text();
  for (auto entries = in.count(); entries > 0; --entries) {
    auto key = in.text();
    auto value = in.text();
    if (!group.dimensions.emplace(std::move(key), std::move(value)).second) Reader::fail();
  }
  group.sample_count = in.number();
  group.tile_count = in.number();
  group.phase_count = in.number();
  group.phase_cycles = in.number();
  group.phase_ms = in.real();
  group.work_cycles = in.number();
  group.average_active_tiles = in.real();
  group.mean_cycles = in.real();
  group.p50_cycles = in.number32();
  group.p95_cycles = in.number32();
  group.maximum_cycles = in.number32();
  group.first_offset = in.number();
  group.last_offset = in.number();
  return group;
}

}  // namespace

std::string encode_report(const zel_profile::QueryReport& report) {
  Writer out;
  out.number(report.clock_hz);
  out.number(report.tile_count);
  out.number(report.sample_count);
  out.number(report.matched_sample_count);
  out.number(report.profile_span_cycles);
  out.real(report.profile_span_ms);
  out.maybe(report.at_offset);
  out.maybe(report.from_offset);
  out.maybe(report.to_offset);
  out.number(report.groups.size());
  for (const auto& group : report.groups) write_group(out, group);
  out.number(report.samples.size());
  for (const auto& sample : report.samples) write_sample(out, sample);
  return out.take();
}

zel_profile::QueryReport decode_report(std::string_view bytes) {
  Reader in(bytes);
  zel_profile::QueryReport report;
  report.clock_hz = in.number();
  report.tile_count = in.number();
  report.sample_count = in.number();
  report.matched_sample_count = in.number();
  report.profile_span_cycles = in.number();
  report.profile_span_ms = in.real();
  report.at_offset = in.maybe();
  report.from_offset = in.maybe();
  report.to_offset = in.maybe();
  report.groups.resize(in.count());
  for (auto& group : report.groups) group = read_group(in);
  report.samples.resize(in.count());
  for (auto& sample : report.samples) sample = read_sample(in);
  in.finish();
  return report;
}

}  // namespace zel_python
