// Where the bytes of a binary profile are read from: memory, or an open file read part by part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <zel_package/packed.hpp>

namespace zel_storage::detail {
using namespace zel_package;

// A buffer that grows to the largest part asked of it and is reused for the next.
struct ByteBuffer {
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t capacity = 0;

  unsigned char* fit(std::size_t size) {
    if (size > capacity) {
      bytes.reset();
      bytes.reset(new unsigned char[size]);
      capacity = size;
    }
    return bytes.get();
  }
};

// The bytes of a binary profile, `size()` of them. Parts are asked for one at a time, from any
// thread.
class BinarySource {
 public:
  virtual ~BinarySource() = default;
  virtual std::uint64_t size() const = 0;
  // The `size` bytes at `offset` (which lie within size()), where they are or copied into
  // `buffer`. Throws ProfileReadError naming `where` when they cannot be read.
  virtual const unsigned char* part(std::uint64_t offset, std::size_t size, ByteBuffer& buffer,
                                    const std::string& where) const = 0;
};

// The magic, the version and the flags: what a binary profile's first bytes must be.
inline constexpr std::size_t binary_fixed_header_size = 16;

// Throws ProfileReadError naming `source` and the header unless the first 16 bytes of `bytes` (at
// least that many, starting with the magic) are a header this reader takes.
void check_binary_header(std::string_view bytes, const std::string& source);

// Reads the binary profile `bytes` hold (they start with the magic), naming `source` in errors;
// see read_binary_profile.
PackedProfile read_binary_profile_from(const BinarySource& bytes, const std::string& source);

}  // namespace zel_storage::detail
