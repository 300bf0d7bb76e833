// Reading and writing a whole file at once, with the operating system's reason on failure.
#pragma once

#include <string>
#include <string_view>

namespace zel_package::storage_detail {

// The whole content of the file at `path`, or of standard input when `path` is "-". Throws
// ProfileReadError (empty JSON path) with a problem such as "cannot open: No such file or
// directory".
std::string read_whole_file(const std::string& path);

// Replaces the file at `path` with `content`, or writes it to standard output when `path` is "-".
// Throws std::runtime_error naming the file and the reason.
void write_whole_file(const std::string& path, std::string_view content);

}  // namespace zel_package::storage_detail
