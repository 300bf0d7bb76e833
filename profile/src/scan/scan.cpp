#include <zel_profile/scan.hpp>

#include "scan/step_matching.hpp"

namespace zel_profile {

Selection select(const zel_package::PackedProfile& profile, const Query& query) {
  Selection selection;
  selection.steps.resize(profile.steps.size());
  for (std::size_t s = 0; s < profile.steps.size(); ++s) {
    selection.steps[s] = detail::step_passes(query, profile.steps[s]) ? 1 : 0;
  }
  selection.tiles = query.tiles;
  selection.timed = query.at_offset || query.from_offset || query.to_offset;
  selection.from = query.from_offset.value_or(0);
  selection.to = query.to_offset.value_or(UINT64_MAX);
  selection.clip = query.clip;
  if (query.at_offset) {
    // [at, at + 1). Nothing runs at the largest value: offsets and lengths are below 2^32.
    selection.at_from = *query.at_offset;
    selection.at_to = *query.at_offset == UINT64_MAX ? UINT64_MAX : *query.at_offset + 1;
  }
  return selection;
}

}  // namespace zel_profile
