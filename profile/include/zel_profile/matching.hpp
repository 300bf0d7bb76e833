// The two per-sample decisions of a query: whether a sample passes the query's filters, and the
// group it is counted in. Both only read their arguments and keep no state.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include <zel_package/records.hpp>
#include <zel_profile/model.hpp>

namespace zel_profile {

// A group's identity (`name`, which alone identifies the group) and the attributes that describe
// it. Dimension keys: "phase" and "epoch" (GroupBy::Phase), "physicalTile" (GroupBy::Tile, with
// "chip" when several profiles are queried together), "metadataKey" and "metadataValue"
// (GroupBy::Metadata), "chip" (GroupBy::Profile); the other groupings have none.
struct GroupKey {
  std::string name;
  std::map<std::string, std::string> dimensions;

  bool operator==(const GroupKey&) const = default;
};

// True when `sample` of the tile numbered `tile` passes every filter of `query` (kind, kernel,
// operation text, tiles, phases, point in time, window, metadata); the first that fails decides.
// `offset` is the sample's normalised start and `sample_duration` its length; together they serve
// only the time conditions: the point in time holds when offset <= at_offset < offset +
// sample_duration, the window when max(from_offset, offset) < min(to_offset, offset +
// sample_duration) (the end saturating at the largest 64-bit value). Allocates nothing.
bool matches_query(const Query& query, std::uint32_t tile, const zel_package::CycleSample& sample,
                   std::uint64_t offset, std::uint32_t sample_duration);

// The group name and dimensions of a sample under `query.group_by`. Numbers are written in plain
// decimal; a step without kernel groups as "(no kernel)", a missing metadata entry as "(missing)".
GroupKey group_key(const Query& query, std::uint32_t tile, const zel_package::CycleSample& sample);

// Several profiles queried together are several chips, numbered from 0 in the order given; a tile
// is a (chip, physical tile) pair. The key of chip `chip`'s group under GroupBy::Profile: named
// query.profile_names[chip] when that name is given and no other profile has it, the name
// followed by " (chip N)" when another profile has the same name or the name has the form of an
// unnamed chip's, "chip N" when none is given;
// the dimension "chip" is N. Example: names {"a.json", "a.json"} give "a.json (chip 0)" and
// "a.json (chip 1)".
GroupKey profile_group_key(const Query& query, std::uint32_t chip);

// The key of a tile group: "tile T" with the dimension "physicalTile" for a profile queried alone,
// "chip N tile T" with "chip" and "physicalTile" when several are queried together.
GroupKey tile_group_key(std::uint32_t tile, std::uint32_t chip, bool several_chips);

// The lower-case name of the sample's step kind: "exchange", "compute", "synchronization" or
// "idle". The text is constant and lives for the whole program.
std::string_view kind_name(const zel_package::CycleSample& sample);

}  // namespace zel_profile
