#include "file_io.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <random>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zel_package/storage.hpp>

namespace zel_package::storage_detail {
namespace {

std::string reason(int error) { return std::strerror(error); }

}  // namespace

// Builds a PaddedText, growing it as text arrives when the size is not known in advance.
class TextReader {
 public:
  TextReader(const std::string& path, std::size_t max_size) : path_(path), max_size_(max_size) {}

  // Room for `size` bytes of text in all, and the padding.
  void reserve(std::size_t size) {
    if (size + PaddedText::padding <= text_.capacity_) return;
    const std::size_t capacity = size + PaddedText::padding;
    largest_text_allocation = std::max(largest_text_allocation, capacity);
    std::unique_ptr<char[]> bytes(new char[capacity]);
    if (text_.size_ != 0) std::memcpy(bytes.get(), text_.bytes_.get(), text_.size_);
    text_.bytes_ = std::move(bytes);
    text_.capacity_ = capacity;
  }

  char* free_space() { return text_.bytes_.get() + text_.size_; }
  std::size_t free_size() const {
    const std::size_t used = text_.size_ + PaddedText::padding;
    return text_.capacity_ > used ? text_.capacity_ - used : 0;
  }
  // Room for more text, growing by half, but never past one byte more than `max_size`: an
  // endless stream reaches that byte and is refused as too large without holding more.
  void grow() {
    const std::size_t wanted =
        text_.size_ < (1u << 16) ? (1u << 16) : text_.size_ + text_.size_ / 2;
    reserve(std::min(wanted, max_size_ + 1));
  }

  // Counts `count` bytes just read into free_space().
  void added(std::size_t count) {
    text_.size_ += count;
    if (text_.size_ > max_size_) too_large();
  }
  void append(const char* bytes, std::size_t count) {
    if (count > max_size_ - text_.size_) too_large();  // before growing, which stops at the limit
    while (free_size() < count) grow();
    std::memcpy(free_space(), bytes, count);
    added(count);
  }

  [[noreturn]] void too_large() const {
    throw ProfileReadError(path_, "", "too large: the reader takes up to 4 GiB of text");
  }
  [[noreturn]] void failed(std::string_view what, int error) const {
    throw ProfileReadError(path_, "", std::string(what) + ": " + reason(error));
  }

  PaddedText finish() {
    reserve(text_.size_);
    std::memset(text_.bytes_.get() + text_.size_, 0, text_.capacity_ - text_.size_);
    return std::move(text_);
  }

 private:
  const std::string& path_;
  std::size_t max_size_;
  PaddedText text_;
};

PaddedText read_text_file(const std::string& path, std::size_t max_size) {
  TextReader reader(path, max_size);
  if (path == "-") {
    // Through stdio, which may already hold buffered input.
    for (;;) {
      if (reader.free_size() == 0) reader.grow();
      const std::size_t count = std::fread(reader.free_space(), 1, reader.free_size(), stdin);
      if (count == 0) break;
      reader.added(count);
    }
    if (std::ferror(stdin)) reader.failed("cannot read", errno != 0 ? errno : EIO);
    return reader.finish();
  }

  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) reader.failed("cannot open", errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};

  struct stat status {};
  if (::fstat(fd, &status) != 0) reader.failed("cannot read", errno);
  const bool sized = S_ISREG(status.st_mode);
  if (sized) {
    // The size is known: check it before reading, and allocate once. (The file may still change
    // size while it is read; then the text grows or ends early, as read() says.)
    if (static_cast<std::uint64_t>(status.st_size) > max_size) reader.too_large();
    reader.reserve(static_cast<std::size_t>(status.st_size));
  }
  char probe[4096];
  for (;;) {
    // Once a regular file's announced size is in, a small read tells whether it has grown.
    const bool probing = sized && reader.free_size() == 0;
    if (!sized && reader.free_size() == 0) reader.grow();
    const ssize_t count = probing ? ::read(fd, probe, sizeof probe)
                                  : ::read(fd, reader.free_space(), reader.free_size());
    if (count < 0) {
      if (errno == EINTR) continue;
      reader.failed("cannot read", errno);
    }
    if (count == 0) break;
    if (probing) {
      reader.append(probe, static_cast<std::size_t>(count));
    } else {
      reader.added(static_cast<std::size_t>(count));
    }
  }
  return reader.finish();
}

namespace {

[[noreturn]] void cannot_write(const std::string& name, int error) {
  throw std::runtime_error("cannot write " + name + ": " + reason(error));
}

class StdioStream final : public OutputStream {
 public:
  StdioStream(std::FILE* file, std::string name) : file_(file), name_(std::move(name)) {}
  void write(std::string_view bytes) override {
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
      cannot_write(name_, errno != 0 ? errno : EIO);
    }
  }
  void flush() {
    errno = 0;
    if (std::fflush(file_) != 0) cannot_write(name_, errno != 0 ? errno : EIO);
  }

 private:
  std::FILE* file_;
  std::string name_;
};

class FdStream final : public OutputStream {
 public:
  FdStream(int fd, const std::string& name) : fd_(fd), name_(name) {}
  void write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t count = ::write(fd_, bytes.data(), bytes.size());
      if (count < 0) {
        if (errno == EINTR) continue;
        cannot_write(name_, errno);
      }
      if (count == 0) cannot_write(name_, EIO);
      bytes.remove_prefix(static_cast<std::size_t>(count));
    }
  }

 private:
  int fd_;
  const std::string& name_;
};

// Creates a new file named after `target` in its directory ("TARGET.tmp-XXXXXX", or a shorter
// name when that one would be too long), mode 0666 less the umask. Returns the descriptor, or -1
// with errno set.
int create_temporary(const std::string& target, std::string& name) {
  thread_local std::mt19937_64 random(
      std::random_device{}() ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<std::uint64_t>(::getpid()) << 32));
  static constexpr char letters[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const auto slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  bool short_name = false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix(6, 'x');
    for (char& c : suffix) c = letters[random() % (sizeof letters - 1)];
    name = short_name ? directory + ".zel-profile.tmp-" + suffix : target + ".tmp-" + suffix;
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return fd;
    if (errno == ENAMETOOLONG && !short_name) {
      short_name = true;
      continue;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

void sync_directory_of(const std::string& target) {
  const auto slash = target.rfind('/');
  const std::string directory =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // the file is in place already; this only hastens its name to disk
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

void write_text_file(const std::string& path, const std::function<void(OutputStream&)>& produce) {
  if (path == "-") {
    StdioStream out(stdout, "standard output");
    produce(out);
    out.flush();
    return;
  }

  if (path.empty()) cannot_write(path, ENOENT);
  // A symbolic link stays, and the file it names is replaced.
  std::string target = path;
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
    std::error_code error;
    const auto resolved = std::filesystem::canonical(path, error);
    if (!error) target = resolved.string();
  }
  const bool exists = ::stat(target.c_str(), &status) == 0;
  if (exists && S_ISDIR(status.st_mode)) cannot_write(path, EISDIR);
  if (exists && !S_ISREG(status.st_mode)) {
    // A device such as /dev/null, a FIFO or a socket: there is no file to replace.
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) cannot_write(path, errno);
    struct Closer {
      int fd;
      ~Closer() {
        if (fd >= 0) ::close(fd);
      }
    } closer{fd};
    FdStream out(fd, path);
    produce(out);
    closer.fd = -1;
    if (::close(fd) != 0) cannot_write(path, errno);
    return;
  }

  std::string temporary;
  int fd = create_temporary(target, temporary);
  if (fd < 0) cannot_write(path, errno);
  // Until the rename, any failure closes and removes the temporary file.
  struct Cleanup {
    int& fd;
    const std::string& name;
    bool armed = true;
    ~Cleanup() {
      if (!armed) return;
      if (fd >= 0) ::close(fd);
      ::unlink(name.c_str());
    }
  } cleanup{fd, temporary};

  if (exists) ::fchmod(fd, status.st_mode & 07777);  // best effort, as a copy would
  FdStream out(fd, path);
  produce(out);
  if (::fsync(fd) != 0) cannot_write(path, errno);
  const int closing = ::close(fd);
  fd = -1;
  if (closing != 0) cannot_write(path, errno);
  if (::rename(temporary.c_str(), target.c_str()) != 0) cannot_write(path, errno);
  cleanup.armed = false;
  sync_directory_of(target);
}

}  // namespace zel_package::storage_detail
