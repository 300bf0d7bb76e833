#include <zel_profile/report_bytes.hpp>

#include <utility>

#include "wire/byte_form.hpp"
#include "wire/sample_bytes.hpp"

namespace zel_profile {
namespace {

using detail::ByteReader;
using detail::ByteWriter;

constexpr std::string_view magic = "zelreport2";

void write_maybe(ByteWriter& out, const std::optional<std::uint64_t>& value) {
  out.byte(value ? 1 : 0);
  if (value) out.number(*value);
}

std::optional<std::uint64_t> read_maybe(ByteReader& in, const char* field) {
  const unsigned char present = in.byte(field);
  if (present > 1) in.malformed(std::string("unknown form of ") + field);
  return present ? std::optional(in.number(field)) : std::nullopt;
}

void write_group(ByteWriter& out, const GroupSummary& group) {
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

GroupSummary read_group(ByteReader& in) {
  GroupSummary group;
  group.name = in.text("group name");
  for (auto entries = in.count("dimensions"); entries > 0; --entries) {
    auto key = in.text("dimension name");
    if (!group.dimensions.emplace(std::move(key), in.text("dimension value")).second) {
      in.malformed("a repeated dimension");
    }
  }
  group.sample_count = in.number("group samples");
  group.tile_count = in.number("group tiles");
  group.phase_count = in.number("phase count");
  group.phase_cycles = in.number("phase cycles");
  group.phase_ms = in.real("phase ms");
  group.work_cycles = in.number("work cycles");
  group.average_active_tiles = in.real("average active tiles");
  group.mean_cycles = in.real("mean cycles");
  group.p50_cycles = in.number32("p50");
  group.p95_cycles = in.number32("p95");
  group.maximum_cycles = in.number32("maximum");
  group.first_offset = in.number("first offset");
  group.last_offset = in.number("last offset");
  return group;
}

}  // namespace

std::string encode(const QueryReport& report) {
  ByteWriter out;
  out.text(magic);
  out.number(report.clock_hz);
  out.number(report.tile_count);
  out.number(report.sample_count);
  out.number(report.matched_sample_count);
  out.number(report.profile_span_cycles);
  out.real(report.profile_span_ms);
  write_maybe(out, report.at_offset);
  write_maybe(out, report.from_offset);
  write_maybe(out, report.to_offset);
  out.number(report.total_phase_cycles);
  out.number(report.groups.size());
  for (const auto& group : report.groups) write_group(out, group);
  detail::write_samples(out, report.samples, "report");
  return out.take();
}

QueryReport decode_report(std::string_view bytes) {
  ByteReader in(bytes, "report");
  if (in.text("format") != magic) in.malformed("unknown format");
  QueryReport report;
  report.clock_hz = in.number("clock rate");
  report.tile_count = in.number("tile count");
  report.sample_count = in.number("sample count");
  report.matched_sample_count = in.number("matched sample count");
  report.profile_span_cycles = in.number("profile span");
  report.profile_span_ms = in.real("profile span ms");
  report.at_offset = read_maybe(in, "at offset");
  report.from_offset = read_maybe(in, "from offset");
  report.to_offset = read_maybe(in, "to offset");
  report.total_phase_cycles = in.number("total phase cycles");
  report.groups.resize(in.count("groups"));
  for (auto& group : report.groups) group = read_group(in);
  report.samples = detail::read_samples(in, in.count("samples"));
  if (!in.done()) in.malformed("trailing bytes");
  return report;
}

}  // namespace zel_profile
