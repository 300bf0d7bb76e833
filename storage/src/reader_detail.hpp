// The two ways the profile reader reads a document, shared with the tests and the fuzzer.
//
// read_packed_profile() first tries the fast path, a strict recognizer of the layout that writers
// produce (any whitespace and field order, no escapes in field names). The fast path never reports
// errors: on anything it does not recognise, valid or not, it declines (returns nullopt) and the
// full reader reads the whole text, giving the profile or the exact error. So the fast path must
// never accept a document that the full reader rejects, and must give the same profile when both
// accept: the tests and the fuzzer check both.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include <zel_package/packed.hpp>

namespace zel_storage::detail {
using namespace zel_package;

// The largest text either reader takes (simdjson's limit); longer text is "too large".
inline constexpr std::size_t max_text_size = 0xFFFFFFFF;

struct FastReadOptions {
  // A "tiles" region of at least this many bytes is read on two threads.
  std::size_t parallel_min_bytes = std::size_t{1} << 20;
};

// The profile, or nullopt when the fast path declines the text. Throws only std::bad_alloc (or
// std::system_error should a thread fail to start and then also fail to run inline: never).
std::optional<PackedProfile> try_read_packed_fast(std::string_view json,
                                                  const FastReadOptions& options = {});

// The full simdjson reader on the whole text: the profile or ProfileReadError (empty source).
PackedProfile read_packed_full(std::string_view json);

// The same on text followed by at least simdjson's padding (64 readable bytes past the end), so
// no copy is made. `capacity` counts the text and the padding.
PackedProfile read_packed_full_padded(const char* json, std::size_t size, std::size_t capacity);

// The "steps" array alone, as the full reader reads it (the slice runs from '[' to its matching
// ']'); nullopt when the full reader would reject it.
std::optional<std::vector<ProfileStep>> read_steps_slice(std::string_view slice);

}  // namespace zel_storage::detail
