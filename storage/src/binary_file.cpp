// Reading a binary profile from a regular file, each part read with pread into the buffer its
// decoder needs: the file is never held whole, and one that is cut short while it is read gives an
// error rather than a signal.
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zel_storage/binary_profile.hpp>
#include <zel_storage/storage.hpp>

#include "binary_file.hpp"
#include "binary_source.hpp"

namespace zel_storage::detail {
using namespace zel_package;
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

// The file's bytes read with pread as each part is needed: a file cut short meanwhile gives an
// error, where a memory map would end the process with SIGBUS.
class FileSource final : public BinarySource {
 public:
  FileSource(int fd, std::uint64_t size, const std::string& path)
      : fd_(fd), size_(size), path_(path) {}
  std::uint64_t size() const override { return size_; }
  const unsigned char* part(std::uint64_t offset, std::size_t size, ByteBuffer& buffer,
                            const std::string& where) const override {
    unsigned char* into = buffer.fit(size);
    for (std::size_t done = 0; done < size;) {
      const ssize_t count =
          ::pread(fd_, into + done, size - done, static_cast<off_t>(offset + done));
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) {
        throw ProfileReadError(path_, where, std::string("cannot read: ") + std::strerror(errno));
      }
      if (count == 0) {
        throw ProfileReadError(path_, where,
                               "cut short while it was read: the file had " +
                                   std::to_string(size_) + " bytes, now it ends before byte " +
                                   std::to_string(offset + size));
      }
      done += static_cast<std::size_t>(count);
    }
    return into;
  }

 private:
  int fd_;
  std::uint64_t size_;
  const std::string& path_;
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
  const auto size = static_cast<std::uint64_t>(status.st_size);
  // The parts are read in file order, each once.
  ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  if (options.progress) options.progress(0, size);
  PackedProfile profile = read_binary_profile_from(FileSource(file.get(), size, path), path);
  if (options.progress) options.progress(size, size);
  return profile;
}

}  // namespace zel_storage::detail
