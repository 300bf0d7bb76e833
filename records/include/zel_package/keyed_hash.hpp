// A keyed hash for hash tables whose keys come from a file: names, (phase, epoch) pairs, steps.
//
// A file's author can choose keys, and with a fixed hash function they can choose keys that all
// land in one bucket, which turns every table of n keys into n^2 work. This hash is SipHash-1-3
// under a 128-bit key drawn from std::random_device once per process: without the key, finding
// colliding inputs is as hard as breaking the hash, so each lookup costs O(1) expected probes
// whatever the file holds. The worst case (a caller who knows the key) stays O(n) per lookup;
// nothing the hash decides reaches a result, only the order of buckets, so results do not depend
// on the key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <string_view>

namespace zel_package {

struct HashKey {
  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

// The key of this process, drawn on first use.
inline const HashKey& process_hash_key() {
  static const HashKey key = [] {
    std::random_device device;
    const auto word = [&device] {
      return (std::uint64_t{device()} << 32) ^ std::uint64_t{device()};
    };
    const std::uint64_t k0 = word();
    return HashKey{k0, word()};
  }();
  return key;
}

// SipHash-1-3 over a sequence of 64-bit words. Texts are added as their length followed by their
// bytes in zero-padded words, so different sequences of fields never give the same words.
class KeyedHasher {
 public:
  explicit KeyedHasher(const HashKey& key = process_hash_key())
      : v0_(key.k0 ^ 0x736f6d6570736575ULL),
        v1_(key.k1 ^ 0x646f72616e646f6dULL),
        v2_(key.k0 ^ 0x6c7967656e657261ULL),
        v3_(key.k1 ^ 0x7465646279746573ULL) {}

  void add(std::uint64_t word) {
    v3_ ^= word;
    round();
    v0_ ^= word;
    ++words_;
  }

  void add(std::string_view text) {
    add(std::uint64_t{text.size()});
    const char* bytes = text.data();
    std::size_t left = text.size();
    for (; left >= 8; bytes += 8, left -= 8) {
      std::uint64_t word;
      std::memcpy(&word, bytes, 8);
      add(word);
    }
    if (left > 0) {
      std::uint64_t tail = 0;
      for (std::size_t i = 0; i < left; ++i) {
        tail |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
      }
      add(tail);
    }
  }

  std::uint64_t finish() const {
    KeyedHasher last = *this;
    const std::uint64_t length_block = (last.words_ * 8) << 56;
    last.v3_ ^= length_block;
    last.round();
    last.v0_ ^= length_block;
    last.v2_ ^= 0xff;
    last.round();
    last.round();
    last.round();
    return last.v0_ ^ last.v1_ ^ last.v2_ ^ last.v3_;
  }

 private:
  static std::uint64_t rotate(std::uint64_t x, int bits) {
    return (x << bits) | (x >> (64 - bits));
  }

  void round() {
    v0_ += v1_;
    v1_ = rotate(v1_, 13);
    v1_ ^= v0_;
    v0_ = rotate(v0_, 32);
    v2_ += v3_;
    v3_ = rotate(v3_, 16);
    v3_ ^= v2_;
    v0_ += v3_;
    v3_ = rotate(v3_, 21);
    v3_ ^= v0_;
    v2_ += v1_;
    v1_ = rotate(v1_, 17);
    v1_ ^= v2_;
    v2_ = rotate(v2_, 32);
  }

  std::uint64_t v0_;
  std::uint64_t v1_;
  std::uint64_t v2_;
  std::uint64_t v3_;
  std::uint64_t words_ = 0;
};

inline std::uint64_t keyed_hash(std::uint64_t value, const HashKey& key = process_hash_key()) {
  KeyedHasher hasher(key);
  hasher.add(value);
  return hasher.finish();
}

inline std::uint64_t keyed_hash(std::string_view text, const HashKey& key = process_hash_key()) {
  KeyedHasher hasher(key);
  hasher.add(text);
  return hasher.finish();
}

// keyed_hash as the hash of a table of texts.
//
// Example: std::unordered_map<std::string_view, std::uint32_t, KeyedTextHash> places;
struct KeyedTextHash {
  std::size_t operator()(std::string_view text) const {
    return static_cast<std::size_t>(keyed_hash(text));
  }
};

}  // namespace zel_package
