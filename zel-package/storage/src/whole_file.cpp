#include "whole_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <zel_package/storage.hpp>

namespace zel_package::storage_detail {
namespace {

std::string reason(int error) { return std::strerror(error); }

}  // namespace

std::string read_whole_file(const std::string& path) {
  const bool from_stdin = path == "-";
  std::FILE* file = from_stdin ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw ProfileReadError(path, "", "cannot open: " + reason(errno));

  std::string content;
  char buffer[1 << 16];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, count);
  const int read_error = std::ferror(file) ? errno : 0;
  if (!from_stdin) std::fclose(file);
  if (read_error != 0) throw ProfileReadError(path, "", "cannot read: " + reason(read_error));
  return content;
}

void write_whole_file(const std::string& path, std::string_view content) {
  const bool to_stdout = path == "-";
  const std::string name = to_stdout ? "standard output" : path;
  std::FILE* file = to_stdout ? stdout : std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw std::runtime_error("cannot write " + name + ": " + reason(errno));

  errno = 0;
  const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
  int error = written ? 0 : errno;
  if (std::fflush(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  if (!to_stdout && std::fclose(file) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  if (!written && error == 0) error = EIO;
  if (error != 0) throw std::runtime_error("cannot write " + name + ": " + reason(error));
}

}  // namespace zel_package::storage_detail
