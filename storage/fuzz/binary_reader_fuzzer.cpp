// Feeds arbitrary bytes to the binary profile reader. Refusing them with ProfileReadError is fine;
// any other exception, a sanitizer report or a crash is a fault. A profile that is read must write
// back to bytes that read as the same profile, and the text reader must read the same profile from
// its text. (Not to the very bytes read: zstd can compress one content in several ways, and its
// checksum covers the content, so a frame compressed otherwise is the same profile.)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <zel_storage/binary_profile.hpp>
#include <zel_storage/storage.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zel_package;
  using namespace zel_storage;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  PackedProfile profile;
  try {
    profile = read_binary_profile(bytes, "fuzz");
  } catch (const ProfileReadError& error) {
    if (error.source() != "fuzz") std::abort();
    return 0;
  }
  if (read_binary_profile(write_binary_profile(profile), "fuzz") != profile) std::abort();
  if (read_packed_profile(write_profile(profile)) != profile) std::abort();
  return 0;
}
