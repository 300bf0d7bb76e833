// libFuzzer target for decoding partial results, whose bytes may come from another machine. Any
// input either throws std::invalid_argument or decodes to a partial that encodes back to the same
// bytes (each partial has one encoding, and ends with its checksum, which the corpus's files
// carry so that the fuzzer starts from valid inputs), and a decoded partial can be finished, and
// merged and finished, under every grouping without crashing, whatever groups it claims to hold,
// into a report that a real profile could give (no more matched samples than samples, means and
// percentiles within the maximum, no more phase than work cycles, ...).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include <zel_profile/partial.hpp>
#include <zel_profile/partial_bytes.hpp>

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// What every report of a real profile satisfies.
void require_possible(const zel_profile::QueryReport& report) {
  require(report.matched_sample_count <= report.sample_count);
  require(report.samples.size() <= report.matched_sample_count);
  for (const auto& group : report.groups) {
    require(group.sample_count <= report.matched_sample_count);
    require(group.tile_count <= group.sample_count && group.tile_count <= report.tile_count);
    require(group.phase_count <= group.sample_count);
    require(group.phase_cycles <= group.work_cycles);
    require(group.p50_cycles <= group.p95_cycles && group.p95_cycles <= group.maximum_cycles);
    require(group.mean_cycles <= group.maximum_cycles);
    require(group.maximum_cycles <= group.work_cycles);
    require(group.first_offset <= group.last_offset &&
            group.maximum_cycles <= group.last_offset - group.first_offset);
    require(group.last_offset <= report.profile_span_cycles);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  zel_profile::PartialQuery partial;
  try {
    partial = zel_profile::decode_partial(bytes);
  } catch (const std::invalid_argument&) {
    return 0;
  }
  require(zel_profile::encode(partial) == bytes);
  for (const auto group_by : {zel_profile::GroupBy::Kernel, zel_profile::GroupBy::Phase,
                              zel_profile::GroupBy::Tile, zel_profile::GroupBy::Metadata}) {
    zel_profile::Query query{.group_by = group_by, .metadata_key = "block", .sample_limit = 3};
    // Made by this query, whichever query the bytes name: the merge is what is tried here.
    partial.query_fingerprint = zel_profile::query_fingerprint(query);
    // Alone, and merged with itself, which a partial with finished groups refuses.
    try {
      require_possible(zel_profile::finish(partial, query));
      (void)zel_profile::finish(zel_profile::merge(partial, partial, query), query);
    } catch (const std::invalid_argument&) {
    } catch (const std::overflow_error&) {
    }
  }
  return 0;
}
