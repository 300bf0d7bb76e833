#include <zel_report/fields.hpp>

#include <array>

namespace zel_report {

using zel_profile::GroupSummary;
using zel_profile::MetadataEntry;
using zel_profile::QueryReport;

namespace {

constexpr std::array<Field<QueryReport>, 12> report{{
    {"clock_hz", [](const QueryReport& r) -> FieldValue { return r.clock_hz; }},
    {"tile_count", [](const QueryReport& r) -> FieldValue { return std::uint64_t{r.tile_count}; }},
    {"sample_count",
     [](const QueryReport& r) -> FieldValue { return std::uint64_t{r.sample_count}; }},
    {"matched_sample_count",
     [](const QueryReport& r) -> FieldValue { return std::uint64_t{r.matched_sample_count}; }},
    {"profile_span_cycles",
     [](const QueryReport& r) -> FieldValue { return r.profile_span_cycles; }},
    {"profile_span_ms", [](const QueryReport& r) -> FieldValue { return r.profile_span_ms; }},
    {"at_offset",
     [](const QueryReport& r) -> FieldValue {
       return r.at_offset ? FieldValue(*r.at_offset) : FieldValue(Absent{});
     }},
    {"from_offset",
     [](const QueryReport& r) -> FieldValue {
       return r.from_offset ? FieldValue(*r.from_offset) : FieldValue(Absent{});
     }},
    {"to_offset",
     [](const QueryReport& r) -> FieldValue {
       return r.to_offset ? FieldValue(*r.to_offset) : FieldValue(Absent{});
     }},
    {"total_phase_cycles", [](const QueryReport& r) -> FieldValue { return r.total_phase_cycles; }},
    {"groups", [](const QueryReport& r) -> FieldValue { return &r.groups; }},
    {"samples", [](const QueryReport& r) -> FieldValue { return &r.samples; }},
}};

constexpr std::array<Field<GroupSummary>, 15> group{{
    {"name", [](const GroupSummary& g) -> FieldValue { return std::string_view(g.name); }},
    {"dimensions", [](const GroupSummary& g) -> FieldValue { return &g.dimensions; }},
    {"sample_count",
     [](const GroupSummary& g) -> FieldValue { return std::uint64_t{g.sample_count}; }},
    {"tile_count", [](const GroupSummary& g) -> FieldValue { return std::uint64_t{g.tile_count}; }},
    {"phase_count",
     [](const GroupSummary& g) -> FieldValue { return std::uint64_t{g.phase_count}; }},
    {"phase_cycles", [](const GroupSummary& g) -> FieldValue { return g.phase_cycles; }},
    {"phase_ms", [](const GroupSummary& g) -> FieldValue { return g.phase_ms; }},
    {"work_cycles", [](const GroupSummary& g) -> FieldValue { return g.work_cycles; }},
    {"average_active_tiles",
     [](const GroupSummary& g) -> FieldValue { return g.average_active_tiles; }},
    {"mean_cycles", [](const GroupSummary& g) -> FieldValue { return g.mean_cycles; }},
    {"p50_cycles", [](const GroupSummary& g) -> FieldValue { return std::uint64_t{g.p50_cycles}; }},
    {"p95_cycles", [](const GroupSummary& g) -> FieldValue { return std::uint64_t{g.p95_cycles}; }},
    {"maximum_cycles",
     [](const GroupSummary& g) -> FieldValue { return std::uint64_t{g.maximum_cycles}; }},
    {"first_offset", [](const GroupSummary& g) -> FieldValue { return g.first_offset; }},
    {"last_offset", [](const GroupSummary& g) -> FieldValue { return g.last_offset; }},
}};

constexpr std::array<Field<SampleView>, 9> sample{{
    {"physical_tile",
     [](const SampleView& s) -> FieldValue { return std::uint64_t{s.sample.physical_tile}; }},
    {"offset", [](const SampleView& s) -> FieldValue { return s.sample.offset; }},
    {"duration",
     [](const SampleView& s) -> FieldValue { return std::uint64_t{s.sample.duration}; }},
    // From here on, the step's fields (first_step_field).
    {"phase", [](const SampleView& s) -> FieldValue { return std::uint64_t{s.step.phase}; }},
    {"epoch", [](const SampleView& s) -> FieldValue { return std::uint64_t{s.step.epoch}; }},
    {"kind", [](const SampleView& s) -> FieldValue { return std::string_view(s.step.kind); }},
    {"operation",
     [](const SampleView& s) -> FieldValue { return std::string_view(s.step.operation); }},
    {"kernel", [](const SampleView& s) -> FieldValue { return std::string_view(s.step.kernel); }},
    {"metadata", [](const SampleView& s) -> FieldValue { return &s.step.metadata; }},
}};
static_assert(sample[first_step_field].name == "phase");

constexpr std::array<Field<MetadataEntry>, 2> metadata_entry{{
    {"name", [](const MetadataEntry& e) -> FieldValue { return std::string_view(e.name); }},
    {"value", [](const MetadataEntry& e) -> FieldValue { return std::string_view(e.value); }},
}};

}  // namespace

std::span<const Field<QueryReport>> report_fields() { return report; }
std::span<const Field<GroupSummary>> group_fields() { return group; }
std::span<const Field<SampleView>> sample_fields() { return sample; }
std::span<const Field<MetadataEntry>> metadata_entry_fields() { return metadata_entry; }

}  // namespace zel_report
