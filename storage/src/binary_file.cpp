// Reading a binary profile from a regular file through a read-only memory map, so that its bytes
// are decoded straight from the page cache without being copied first.
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zel_package/binary_profile.hpp>
#include <zel_package/storage.hpp>

#include "binary_file.hpp"

namespace zel_package::storage_detail {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

class Mapping {
 public:
  Mapping(void* address, std::size_t size) : address_(address), size_(size) {}
  ~Mapping() { ::munmap(address_, size_); }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  std::string_view bytes() const { return {static_cast<const char*>(address_), size_}; }

 private:
  void* address_;
  std::size_t size_;
};

}  // namespace

std::optional<PackedProfile> read_binary_profile_mapped(const std::string& path,
                                                        const ReadOptions& options) {
  if (path == "-") return std::nullopt;
  // Only a regular file is opened here: opening a FIFO would take its writer's first reader.
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return std::nullopt;  // the text reader opens it again and reports the problem
  }
  char first[binary_profile_magic.size()];
  if (::pread(file.get(), first, sizeof first, 0) != static_cast<ssize_t>(sizeof first) ||
      !is_binary_profile({first, sizeof first})) {
    return std::nullopt;
  }
  const auto size = static_cast<std::size_t>(status.st_size);
  void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file.get(), 0);
  if (address == MAP_FAILED) {
    throw ProfileReadError(path, "", std::string("cannot read: ") + std::strerror(errno));
  }
  const Mapping mapping(address, size);
  if (options.progress) options.progress(0, size);
  PackedProfile profile = read_binary_profile(mapping.bytes(), path);
  if (options.progress) options.progress(size, size);
  return profile;
}

}  // namespace zel_package::storage_detail
