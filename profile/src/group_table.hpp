// The groups of one query, found by name without building the name when the group already exists.
//
// For groupings by kind, kernel, operation or metadata the name is a piece of the sample's step (or
// a fixed text), looked at in place; for groupings by phase or tile it is decided by numbers, which
// serve as the key instead. The two groups used last are remembered, since consecutive samples
// mostly alternate between few groups. A group's name and dimensions come from group_key when the
// group is created, so names are exactly those of group_key.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <zel_package/records.hpp>
#include <zel_profile/model.hpp>

#include "group_totals.hpp"
#include "hash_index.hpp"

namespace zel_profile::detail {

struct Group {
  std::string name;
  std::map<std::string, std::string> dimensions;
  GroupTotals totals;
  std::uint64_t number = 0;  // the key of groupings by phase or tile
};

class GroupTable {
 public:
  explicit GroupTable(const Query& query);

  // The group of a matched sample, created (its first offset `offset`) when it does not exist.
  Group& find_or_create(std::uint32_t tile, const zel_package::CycleSample& sample,
                        std::uint64_t offset);

  // Every group, in order of creation; the table must not be used afterwards.
  std::deque<Group>& groups() { return groups_; }

 private:
  bool keyed_by_number() const;
  std::string_view name_of(const zel_package::CycleSample& sample) const;
  std::uint64_t number_of(std::uint32_t tile, const zel_package::CycleSample& sample) const;
  Group& create(std::uint32_t tile, const zel_package::CycleSample& sample, std::uint64_t offset,
                std::uint64_t hash, std::uint64_t number);
  Group& remember(Group& group);

  const Query& query_;
  const std::string_view metadata_key_;
  std::deque<Group> groups_;        // stable addresses, so that `recent_` can point into it
  HashIndex index_;                 // by the hash of the name, or of the number
  std::array<Group*, 2> recent_{};  // most recent first
};

}  // namespace zel_profile::detail
