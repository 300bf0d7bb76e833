// Reading a binary profile file part by part.
#pragma once

#include <optional>
#include <string>

#include <zel_package/packed.hpp>
#include <zel_storage/storage.hpp>

namespace zel_storage::detail {
using namespace zel_package;

// The profile in the regular file at `path` when the file starts as a binary profile; nullopt
// for anything else (standard input, a pipe, a text profile, a file that cannot be opened), which
// the text reader then reads. Throws ProfileReadError as read_binary_profile does.
std::optional<PackedProfile> read_binary_profile_mapped(const std::string& path,
                                                        const ReadOptions& options);

}  // namespace zel_storage::detail
