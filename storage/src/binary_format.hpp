// The pieces of the binary profile file shared by its writer and reader: the layout constants and
// the variable-length integers. The layout is described byte by byte in docs/profile-format.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zel_storage::detail {
using namespace zel_package;

inline constexpr std::uint32_t binary_version = 1;
// Magic, version, flags and the size of the block index frame.
inline constexpr std::size_t binary_header_size = 24;
// Every block but a tile's last holds exactly this many samples.
inline constexpr std::size_t samples_per_block = 65536;
// The zstd level of every frame.
inline constexpr int binary_compression_level = 9;
// A zstd frame never holds more than this many times its own size (an RLE block of 128 KiB takes
// four bytes), so a larger claim is refused before anything is allocated for it.
inline constexpr std::uint64_t max_frame_ratio = 65536;
// A sample takes 3 to 15 bytes in a block's content (three varints of at most 5 bytes).
inline constexpr std::uint64_t min_sample_bytes = 3;
inline constexpr std::uint64_t max_sample_bytes = 15;

inline void put_u32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

inline void put_u64(std::string& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

inline std::uint64_t get_le(const unsigned char* bytes, int count) {
  std::uint64_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

// LEB128: seven bits a byte, least significant first, the high bit set on all but the last.
inline void put_varint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

// Reads one varint at `at`, which it advances; false when the bytes end first, the value has more
// than 64 bits or it is not in its shortest form (a last byte of 0 after others), which keeps
// every value's encoding unique.
inline bool get_varint(const unsigned char*& at, const unsigned char* end, std::uint64_t& value) {
  if (at != end && *at < 0x80) {
    value = *at++;
    return true;
  }
  std::uint64_t result = 0;
  for (int shift = 0; at != end && shift < 64; shift += 7) {
    const unsigned char byte = *at++;
    if (shift == 63 && byte > 1) return false;
    result |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if (byte < 0x80) {
      if (byte == 0 && shift > 0) return false;
      value = result;
      return true;
    }
  }
  return false;
}

// Signed differences as unsigned values, small magnitudes small: 0, -1, 1, -2, ... -> 0, 1, 2, 3.
inline std::uint32_t zigzag32(std::uint32_t difference) {
  return (difference << 1) ^ static_cast<std::uint32_t>(-(difference >> 31));
}
inline std::uint32_t unzigzag32(std::uint32_t value) { return (value >> 1) ^ (0u - (value & 1)); }
inline std::uint64_t zigzag64(std::int64_t difference) {
  return (static_cast<std::uint64_t>(difference) << 1) ^
         static_cast<std::uint64_t>(difference >> 63);
}
inline std::int64_t unzigzag64(std::uint64_t value) {
  return static_cast<std::int64_t>((value >> 1) ^ (0 - (value & 1)));
}

// The number of blocks of a tile with `samples` samples.
inline std::uint64_t block_count(std::uint64_t samples) {
  return samples / samples_per_block + (samples % samples_per_block != 0);
}

}  // namespace zel_storage::detail

#include <zel_package/packed.hpp>

namespace zel_storage::detail {
using namespace zel_package;

// Throws std::invalid_argument as write_profile(const PackedProfile&) does when the profile cannot
// be stored (profile_writer.cpp), before anything is written.
void check_writable_profile(const PackedProfile& profile);

}  // namespace zel_storage::detail
