// Feeds arbitrary bytes to the profile readers. Rejecting them with ProfileReadError is fine; any
// other exception, a sanitizer report or a crash is a fault. So is any disagreement between the
// readers: the fast path (on one thread, and split over two) must take only what the full reader
// takes and give the same profile, and read_profile and read_packed_profile must give the full
// reader's profile or exactly its error. A profile that is read must also come back unchanged
// from writing it and reading it again, in both forms. Text the full reader takes must be JSON to
// the grammar check that places syntax errors. Input that starts as gzip or zstd data does is
// also decompressed as a file would be, and what comes out is read. Input that starts as a binary
// profile does goes to the binary reader, which binary_reader_fuzzer checks; every profile read
// from text must come back unchanged through the binary form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include <zel_storage/binary_profile.hpp>
#include <zel_storage/storage.hpp>

#include "json_position.hpp"
#include "reader_detail.hpp"
#include "text_input.hpp"

namespace {

using namespace zel_package;
using namespace zel_storage;

void check(bool condition) {
  if (!condition) std::abort();
}

struct ErrorParts {
  std::string source;
  std::string json_path;
  std::string problem;
  std::optional<std::uint64_t> line;
  std::optional<std::uint64_t> column;
  bool operator==(const ErrorParts&) const = default;
};

ErrorParts parts(const ProfileReadError& error) {
  return {error.source(), error.json_path(), error.problem(), error.line(), error.column()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (is_binary_profile(text)) {
    try {
      check(read_packed_profile(text) == read_binary_profile(text));
    } catch (const ProfileReadError&) {
    }
    return 0;
  }

  std::optional<PackedProfile> full;
  std::optional<ErrorParts> full_error;
  try {
    full = detail::read_packed_full(text);
  } catch (const ProfileReadError& error) {
    full_error = parts(error);
  }

  if (detail::compression_of(text) != detail::Compression::none) {
    try {
      const auto decompressed = detail::read_text_bytes(text, "fuzz", std::size_t{1} << 24);
      read_packed_profile(decompressed.view());
    } catch (const ProfileReadError&) {
      // Broken data, or a text that is not a profile.
    }
  }

  if (full) {
    std::string_view unmarked = text;
    if (unmarked.starts_with("\xEF\xBB\xBF")) unmarked.remove_prefix(3);
    check(!detail::first_json_error(unmarked).has_value());
  } else {
    check(full_error->line.has_value() == full_error->column.has_value());
    check(!full_error->line || (*full_error->line >= 1 && *full_error->column >= 1));
  }

  for (const std::size_t threshold : {std::size_t{0}, std::size_t{1} << 20}) {
    const auto fast = detail::try_read_packed_fast(text, {.parallel_min_bytes = threshold});
    if (fast) check(full.has_value() && *fast == *full);
  }

  std::optional<PackedProfile> packed;
  try {
    packed = read_packed_profile(text);
    check(full.has_value() && *packed == *full);
  } catch (const ProfileReadError& error) {
    check(full_error.has_value() && parts(error) == *full_error);
  }

  ProfileReport report;
  try {
    report = read_profile(text);
    check(full.has_value() && report == unpack(*full));
  } catch (const ProfileReadError& error) {
    check(full_error.has_value() && parts(error) == *full_error);
    return 0;
  }

  check(read_profile(write_profile(report)) == report);
  check(read_packed_profile(write_profile(*packed)) == *packed);
  check(read_packed_profile(write_binary_profile(*packed)) == *packed);
  return 0;
}
