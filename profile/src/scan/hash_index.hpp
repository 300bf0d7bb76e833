// A small open-addressing hash index from 64-bit hashes to positions in a caller's list.
//
// The caller keeps the keys; the index only remembers each entry's hash and position, and asks the
// caller whether an entry with an equal hash really holds the key, so colliding hashes are
// harmless. Linear probing over a power-of-two table that is never more than half full.
//
// The keys come from the profile, so the hashes given to the index must be keyed ones
// (hash_text, hash_number below): with them no file can steer its keys onto one run of slots, and
// a lookup takes O(1) expected probes. The worst case, reached only by someone who knows the
// process's key, is O(n) probes per lookup. The index never decides an order that reaches a
// result: callers number their entries in order of first appearance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include <zel_package/keyed_hash.hpp>

namespace zel_profile::detail {

// Slots looked at by every HashIndex on this thread, for tests that check a lookup's cost.
inline thread_local std::uint64_t hash_index_probes = 0;

class HashIndex {
 public:
  static constexpr std::uint32_t none = UINT32_MAX;

  // The position of the entry with this hash for which `holds_key(position)` is true, or `none`.
  template <typename HoldsKey>
  std::uint32_t find(std::uint64_t hash, HoldsKey holds_key) const {
    if (slots_.empty()) {
      return none;
    }
    for (std::size_t at = home(hash);; at = (at + 1) & mask_) {
      ++hash_index_probes;
      const Slot& slot = slots_[at];
      if (slot.position == none) {
        return none;
      }
      if (slot.hash == hash && holds_key(slot.position)) {
        return slot.position;
      }
    }
  }

  // Adds an entry; the caller has made sure that its key is not in the index yet.
  void insert(std::uint64_t hash, std::uint32_t position) {
    if (2 * (count_ + 1) > slots_.size()) {
      grow();
    }
    place(Slot{hash, position});
    ++count_;
  }

 private:
  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t position = none;
  };

  // The top bits of a keyed hash, after one more multiplication for hashes that are not.
  std::size_t home(std::uint64_t hash) const {
    return static_cast<std::size_t>((hash * 0x9e3779b97f4a7c15ULL) >> shift_);
  }

  void place(Slot entry) {
    std::size_t at = home(entry.hash);
    while (slots_[at].position != none) {
      ++hash_index_probes;
      at = (at + 1) & mask_;
    }
    slots_[at] = entry;
  }

  void grow() {
    std::vector<Slot> old = std::move(slots_);
    const std::size_t size = old.empty() ? 16 : 2 * old.size();
    slots_.assign(size, Slot{});
    mask_ = size - 1;
    shift_ = 64;
    for (std::size_t bits = size; bits > 1; bits >>= 1) {
      --shift_;
    }
    for (const Slot& slot : old) {
      if (slot.position != none) {
        place(slot);
      }
    }
  }

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
};

// Keyed hashes (see <zel_package/keyed_hash.hpp>) of a group name and of a number.
inline std::uint64_t hash_text(std::string_view text) { return zel_package::keyed_hash(text); }

inline std::uint64_t hash_number(std::uint64_t number) { return zel_package::keyed_hash(number); }

}  // namespace zel_profile::detail
