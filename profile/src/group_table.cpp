#include "group_table.hpp"

#include <utility>

#include <zel_profile/matching.hpp>

#include "same_bytes.hpp"

namespace zel_profile::detail {

GroupTable::GroupTable(const Query& query)
    : query_(query),
      metadata_key_(query.metadata_key ? std::string_view(*query.metadata_key)
                                       : std::string_view()) {}

bool GroupTable::keyed_by_number() const {
  return query_.group_by == GroupBy::Phase || query_.group_by == GroupBy::Tile ||
         query_.group_by == GroupBy::Profile;
}

std::string_view GroupTable::name_of(const zel_package::CycleSample& sample) const {
  const auto& step = sample.step;
  switch (query_.group_by) {
    case GroupBy::Kind:
      return kind_name(sample);
    case GroupBy::Kernel:
      return step.kernel.empty() ? std::string_view("(no kernel)") : std::string_view(step.kernel);
    case GroupBy::Operation:
      return step.operation;
    case GroupBy::Metadata:
      for (const auto& entry : step.metadata) {
        if (same_bytes(entry.name, metadata_key_)) {
          return entry.value;
        }
      }
      return "(missing)";
    case GroupBy::Phase:
    case GroupBy::Tile:
    case GroupBy::Profile:
      break;
  }
  // Numbered groupings are looked up by number instead; a value outside the enumeration has the
  // empty name, as group_key gives it.
  return {};
}

std::uint64_t GroupTable::number_of(std::uint32_t tile,
                                    const zel_package::CycleSample& sample) const {
  if (query_.group_by == GroupBy::Tile) {
    return tile;
  }
  if (query_.group_by == GroupBy::Profile) {
    return 0;  // one profile, one chip
  }
  return phase_epoch_key(sample.step);
}

Group& GroupTable::find_or_create(std::uint32_t tile, const zel_package::CycleSample& sample,
                                  std::uint64_t offset) {
  if (keyed_by_number()) {
    const std::uint64_t number = number_of(tile, sample);
    for (Group* group : recent_) {
      if (group != nullptr && group->number == number) {
        return *group;
      }
    }
    const std::uint64_t hash = hash_number(number);
    const std::uint32_t found =
        index_.find(hash, [&](std::uint32_t at) { return groups_[at].number == number; });
    return remember(found != HashIndex::none ? groups_[found]
                                             : create(tile, sample, offset, hash, number));
  }

  const std::string_view name = name_of(sample);
  for (Group* group : recent_) {
    if (group != nullptr && same_bytes(group->name, name)) {
      return *group;
    }
  }
  const std::uint64_t hash = hash_text(name);
  const std::uint32_t found =
      index_.find(hash, [&](std::uint32_t at) { return same_bytes(groups_[at].name, name); });
  return remember(found != HashIndex::none ? groups_[found]
                                           : create(tile, sample, offset, hash, 0));
}

Group& GroupTable::create(std::uint32_t tile, const zel_package::CycleSample& sample,
                          std::uint64_t offset, std::uint64_t hash, std::uint64_t number) {
  GroupKey key = group_key(query_, tile, sample);
  index_.insert(hash, static_cast<std::uint32_t>(groups_.size()));
  return groups_.emplace_back(
      Group{std::move(key.name), std::move(key.dimensions), GroupTotals(offset), number});
}

Group& GroupTable::remember(Group& group) {
  if (recent_[0] != &group) {
    recent_[1] = recent_[0];
    recent_[0] = &group;
  }
  return group;
}

}  // namespace zel_profile::detail
