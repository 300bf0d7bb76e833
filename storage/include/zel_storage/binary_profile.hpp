// The binary profile file (see the second part of docs/profile-format.md): the same content as the
// JSON text (clock, steps, per tile the samples) in a compact, checksummed form that opens in a
// fraction of the time. The file readers of <zel_storage/storage.hpp> recognise it by its first
// bytes, whatever the file is called; ".zprof" is the usual suffix.
#pragma once

#include <string>
#include <string_view>

#include <zel_package/packed.hpp>

namespace zel_storage {

// The first eight bytes of every binary profile file.
inline constexpr std::string_view binary_profile_magic{"\x89ZPROF\r\n", 8};

// Whether `bytes` start as a binary profile does.
bool is_binary_profile(std::string_view bytes) noexcept;

// The binary form of `profile`. The same profile always gives the same bytes. Throws
// std::invalid_argument, as write_profile does, for a string that is not valid UTF-8, a kind
// outside the four or a sample whose step index is out of range.
std::string write_binary_profile(const zel_package::PackedProfile& profile);

// Writes the binary form to a file, or to standard output for "-", streamed and replaced
// atomically exactly as write_profile_file does (same errors).
void write_binary_profile_file(const zel_package::PackedProfile& profile, const std::string& path);

// Reads a binary profile held in memory. Throws ProfileReadError with `source` as its source and
// the part of the file concerned ("tiles[3]", "steps", "block index") as its path when the bytes
// are damaged, cut short or not a version 1 binary profile. Whatever it accepts is exactly the
// content the writer makes of the profile read; its compressed frames may differ from the
// writer's (zstd can compress one content in several ways), so writing it back gives the same
// profile, and the same bytes for every file the writer made.
zel_package::PackedProfile read_binary_profile(std::string_view bytes,
                                               const std::string& source = "");

}  // namespace zel_storage
