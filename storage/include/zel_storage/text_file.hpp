// Streaming any text to a file that is replaced atomically, as stored profiles are written.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace zel_storage {

// Hands the text's pieces to a file.
using TextSink = std::function<void(std::string_view)>;

// Calls produce(sink), which passes the text to `sink` piece by piece, and writes the pieces to
// `path`, or to standard output for "-", without holding the text whole. A regular file is
// replaced atomically, as write_profile_file does: the text goes to a temporary file beside it,
// renamed over `path` only once completely written and flushed to disk, so a full disk or a killed
// writer never leaves a truncated file where a good one was. Throws std::runtime_error "cannot
// write PATH: REASON" when it cannot be written (the old file is then untouched and the temporary
// file removed); an exception from `produce` passes through after the same cleanup.
void write_text_file(const std::string& path, const std::function<void(const TextSink&)>& produce);

}  // namespace zel_storage
