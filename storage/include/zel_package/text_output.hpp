// Writing any text output (a report, a comparison) the way stored profiles are written.
#pragma once

#include <string>
#include <string_view>

namespace zel_package {

// Writes `text` to the file at `path`, or to standard output for "-". A file is replaced
// atomically, as write_profile_file replaces one: the text goes to a temporary file beside it,
// which is renamed over `path` only once it is completely written and flushed to disk; a new file
// gets mode 0666 less the umask, a replaced one keeps its mode. Throws std::runtime_error "cannot
// write PATH: REASON" when it cannot be written; the old file is then untouched and the temporary
// file removed.
void write_text_file(const std::string& path, std::string_view text);

}  // namespace zel_package
