// A small open-addressing hash index from 64-bit hashes to positions in a caller's list.
//
// The caller keeps the keys; the index only remembers each entry's hash and position, and asks the
// caller whether an entry with an equal hash really holds the key, so colliding hashes are
// harmless. Linear probing over a power-of-two table that is never more than half full.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace zel_profile::detail {

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

  // Fibonacci hashing spreads even poorly mixed hashes over the table.
  std::size_t home(std::uint64_t hash) const {
    return static_cast<std::size_t>((hash * 0x9e3779b97f4a7c15ULL) >> shift_);
  }

  void place(Slot entry) {
    std::size_t at = home(entry.hash);
    while (slots_[at].position != none) {
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

// A hash of a text that takes eight bytes per step; group names are short, so this costs a few
// multiplications.
inline std::uint64_t hash_text(std::string_view text) {
  constexpr std::uint64_t multiplier = 0x9fb21c651e98df25ULL;
  std::uint64_t hash = text.size() * multiplier;
  const char* bytes = text.data();
  std::size_t left = text.size();
  for (; left >= 8; bytes += 8, left -= 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    hash = (hash ^ word) * multiplier;
    hash ^= hash >> 29;
  }
  std::uint64_t tail = 0;
  for (std::size_t i = 0; i < left; ++i) {
    tail |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
  }
  hash = (hash ^ tail) * multiplier;
  return hash ^ (hash >> 32);
}

}  // namespace zel_profile::detail
