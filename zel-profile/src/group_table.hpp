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
#include <unordered_map>

#include <zel_package/records.hpp>
#include <zel_profile/model.hpp>

#include "group_totals.hpp"

namespace zel_profile::detail {

struct Group {
  std::string name;
  std::map<std::string, std::string> dimensions;
  GroupTotals totals;
};

class GroupTable {
 public:
  explicit GroupTable(const Query& query);

  // The group of a matched sample, created (its first offset `offset`) when it does not exist.
  Group& find_or_create(std::uint32_t tile, const zel_package::CycleSample& sample,
                        std::uint64_t offset);

  // Asks the processor to start loading the text that names the group of `sample`, which the
  // caller will look up a few samples later: it lives in the heap, outside the sample itself.
  void prefetch_name(const zel_package::CycleSample& sample) const;

  // Every group, in order of creation; the table must not be used afterwards.
  std::deque<Group>& groups() { return groups_; }

 private:
  struct Recent {
    std::string_view name;
    std::uint64_t number = 0;
    Group* group = nullptr;
  };

  bool keyed_by_number() const;
  std::string_view name_of(const zel_package::CycleSample& sample) const;
  std::uint64_t number_of(std::uint32_t tile, const zel_package::CycleSample& sample) const;
  Group& create(std::uint32_t tile, const zel_package::CycleSample& sample, std::uint64_t offset);
  Group& remember(Group& group, std::string_view name, std::uint64_t number);

  const Query& query_;
  const std::string_view metadata_key_;
  std::deque<Group> groups_;  // stable addresses: the indexes below point into it
  std::unordered_map<std::string_view, Group*> by_name_;
  std::unordered_map<std::uint64_t, Group*> by_number_;
  std::array<Recent, 2> recent_{};  // most recent first
};

}  // namespace zel_profile::detail
