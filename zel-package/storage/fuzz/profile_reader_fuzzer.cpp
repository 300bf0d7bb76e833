// Feeds arbitrary bytes to the profile reader. Rejecting them with ProfileReadError is fine; any
// other exception, a sanitizer report or a crash is a fault. A profile that is read must also come
// back unchanged from writing it and reading it again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <zel_package/storage.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  zel_package::ProfileReport report;
  try {
    report = zel_package::read_profile(text);
  } catch (const zel_package::ProfileReadError&) {
    return 0;
  }
  if (zel_package::read_profile(zel_package::write_profile(report)) != report) std::abort();
  return 0;
}
