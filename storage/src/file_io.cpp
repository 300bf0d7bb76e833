#include "file_io.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <new>
#include <random>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zel_storage/storage.hpp>

#include "binary_magic.hpp"
#include "binary_source.hpp"
#include "text_input.hpp"

namespace zel_storage::detail {
using namespace zel_package;
namespace {

std::string reason(int error) { return std::strerror(error); }

}  // namespace

void ByteInput::failed(std::string_view what, int error) const {
  throw ProfileReadError(name_, "", std::string(what) + ": " + reason(error));
}

namespace {

// Standard input, through stdio, which may already hold buffered input.
class StandardInput final : public ByteInput {
 public:
  using ByteInput::ByteInput;

 private:
  std::size_t read_some(char* into, std::size_t size) override {
    const std::size_t count = std::fread(into, 1, size, stdin);
    if (count == 0 && std::ferror(stdin)) failed("cannot read", errno != 0 ? errno : EIO);
    return count;
  }
};

// An open file; a regular one can also be read from its end.
class FileInput final : public ByteInput {
 public:
  FileInput(int fd, bool regular, const std::string& name, std::uint64_t total,
            const ReadProgress& progress)
      : ByteInput(name, total, progress), fd_(fd), regular_(regular) {}

  bool last_four_bytes(unsigned char (&bytes)[4]) override {
    if (!regular_ || total() < 4) return false;
    return ::pread(fd_, bytes, 4, static_cast<off_t>(total() - 4)) == 4;
  }

 private:
  std::size_t read_some(char* into, std::size_t size) override {
    for (;;) {
      const ssize_t count = ::read(fd_, into, size);
      if (count >= 0) return static_cast<std::size_t>(count);
      if (errno != EINTR) failed("cannot read", errno);
    }
  }

  int fd_;
  bool regular_;
};

class MemoryInput final : public ByteInput {
 public:
  MemoryInput(std::string_view bytes, const std::string& name, const ReadProgress& progress)
      : ByteInput(name, bytes.size(), progress), bytes_(bytes) {}

  bool last_four_bytes(unsigned char (&bytes)[4]) override {
    if (bytes_.size() < 4) return false;
    std::memcpy(bytes, bytes_.data() + bytes_.size() - 4, 4);
    return true;
  }

 private:
  std::size_t read_some(char* into, std::size_t size) override {
    const std::size_t count = std::min(size, bytes_.size() - offset_);
    std::memcpy(into, bytes_.data() + offset_, count);
    offset_ += count;
    return count;
  }

  std::string_view bytes_;
  std::size_t offset_ = 0;
};

// Chunks read from a regular file of known size, so that progress can be told as it goes.
constexpr std::size_t file_chunk = std::size_t{4} << 20;

// The text of `input`, decompressed when it starts as gzip or zstd data does. `sized` says that
// input.total() is the size of a regular file, checked against `max_size` before it is read.
// Reading stops as soon as the text cannot start a profile.
PaddedText read_text(ByteInput& input, bool sized, std::size_t max_size) {
  char head[4];
  std::size_t head_size = 0;
  while (head_size < sizeof head) {
    const std::size_t count = input.read(head + head_size, sizeof head - head_size);
    if (count == 0) break;
    head_size += count;
  }
  const std::string_view first(head, head_size);
  if (const Compression compression = compression_of(first); compression != Compression::none) {
    TextReader reader(input.name(), max_size, true);
    (compression == Compression::gzip ? decompress_gzip : decompress_zstd)(input, first, reader);
    return reader.finish();
  }

  TextReader reader(input.name(), max_size);
  if (sized) {
    // The size is known: check it before reading, and allocate once. (The file may still change
    // size while it is read; then the text grows or ends early, as read() says.)
    if (input.total() > max_size) reader.too_large();
    reader.reserve(static_cast<std::size_t>(input.total()));
  }
  reader.append(head, head_size);
  // A binary profile's header is checked as soon as it is in, so that a stream that only starts
  // like one is not read whole first.
  bool header_checked = false;
  const auto check_header = [&] {
    if (header_checked || reader.size() < binary_fixed_header_size) return;
    header_checked = true;
    if (reader.view().starts_with(binary_magic)) check_binary_header(reader.view(), input.name());
  };
  char probe[4096];
  while (!reader.refused()) {
    check_header();
    // Once a regular file's announced size is in, a small read tells whether it has grown.
    const bool probing = sized && reader.free_size() == 0;
    if (!sized && reader.free_size() == 0) reader.grow();
    const std::size_t count =
        probing ? input.read(probe, sizeof probe)
                : input.read(reader.free_space(), std::min(reader.free_size(), file_chunk));
    if (count == 0) break;
    if (probing) {
      reader.append(probe, count);
    } else {
      reader.added(count);
    }
  }
  return reader.finish();
}

}  // namespace

PaddedText read_text_file(const std::string& path, std::size_t max_size,
                          const ReadProgress& progress) {
  if (path == "-") {
    StandardInput input(path, 0, progress);
    return read_text(input, false, max_size);
  }

  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ProfileReadError(path, "", "cannot open: " + reason(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};

  struct stat status {};
  if (::fstat(fd, &status) != 0) throw ProfileReadError(path, "", "cannot read: " + reason(errno));
  const bool sized = S_ISREG(status.st_mode);
  FileInput input(fd, sized, path, sized ? static_cast<std::uint64_t>(status.st_size) : 0,
                  progress);
  return read_text(input, sized, max_size);
}

PaddedText read_text_bytes(std::string_view bytes, const std::string& name, std::size_t max_size) {
  const ReadProgress none;
  MemoryInput input(bytes, name, none);
  return read_text(input, false, max_size);
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

// Temporary files being written, so that a SIGINT, SIGTERM or SIGHUP that ends the process before
// they are renamed does not leave them (each may be gigabytes) beside their targets. The handler
// is installed only while a file is written, and only for signals that would end the process
// anyway (their action is the default one): it removes the files and ends the process by the
// signal, as the default action would have. A program's own handlers are left alone.
struct PendingFile {
  std::atomic<bool> used{false};
  std::atomic<bool> ready{false};
  char name[4096];
};

class PendingFiles {
 public:
  // Registers the temporary file `name` until the returned slot is given back with done().
  static int add(const std::string& name) {
    int slot = -1;
    for (int i = 0; i < slots && slot < 0; ++i) {
      if (!files_[i].used.exchange(true)) slot = i;
    }
    if (slot < 0 || name.size() >= sizeof files_[slot].name) {
      if (slot >= 0) files_[slot].used = false;
      return -1;  // too many at once, or a name too long to open: written without the cleanup
    }
    std::memcpy(files_[slot].name, name.c_str(), name.size() + 1);
    files_[slot].ready = true;
    const std::lock_guard lock(mutex_);
    if (writers_++ == 0) install();
    return slot;
  }

  static void done(int slot) {
    if (slot < 0) return;
    files_[slot].ready = false;
    files_[slot].used = false;
    const std::lock_guard lock(mutex_);
    if (--writers_ == 0) restore();
  }

 private:
  static constexpr int slots = 16;
  static constexpr int signals[] = {SIGINT, SIGTERM, SIGHUP};

  static void install() {
    for (std::size_t i = 0; i < std::size(signals); ++i) {
      struct sigaction now {};
      installed_[i] = ::sigaction(signals[i], nullptr, &now) == 0 &&
                      (now.sa_flags & SA_SIGINFO) == 0 && now.sa_handler == SIG_DFL;
      if (!installed_[i]) continue;
      struct sigaction cleanup {};
      cleanup.sa_handler = &PendingFiles::remove_and_end;
      sigemptyset(&cleanup.sa_mask);
      installed_[i] = ::sigaction(signals[i], &cleanup, nullptr) == 0;
    }
  }

  static void restore() {
    for (std::size_t i = 0; i < std::size(signals); ++i) {
      if (!installed_[i]) continue;
      struct sigaction default_action {};
      default_action.sa_handler = SIG_DFL;
      sigemptyset(&default_action.sa_mask);
      ::sigaction(signals[i], &default_action, nullptr);
    }
  }

  // Async-signal-safe: unlink, sigaction, sigprocmask and raise only.
  static void remove_and_end(int signal) {
    for (auto& file : files_) {
      if (file.ready) ::unlink(file.name);
    }
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    ::sigaction(signal, &default_action, nullptr);
    // Unblocked, the signal ends the process here and now, whatever would run after a handler.
    sigset_t this_one;
    sigemptyset(&this_one);
    sigaddset(&this_one, signal);
    ::sigprocmask(SIG_UNBLOCK, &this_one, nullptr);
    ::raise(signal);
  }

  static inline PendingFile files_[slots];
  static inline std::mutex mutex_;
  static inline int writers_ = 0;
  static inline bool installed_[std::size(signals)] = {};
};

// The file `path` names: symbolic links are followed, also to a file that does not exist yet (as
// the shell's `>` writes the target of a dangling link). Throws "cannot write PATH: REASON" after
// 40 links, as the system would.
std::string followed_links(const std::string& path) {
  std::filesystem::path at = path;
  for (int links = 0; links < 40; ++links) {
    struct stat status {};
    if (::lstat(at.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return at.string();
    std::error_code error;
    const auto to = std::filesystem::read_symlink(at, error);
    if (error) return at.string();
    at = to.is_absolute() ? to : at.parent_path() / to;
  }
  cannot_write(path, ELOOP);
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
  // A symbolic link stays, and the file it names is replaced (or made).
  const std::string target = followed_links(path);
  struct stat status {};
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
  // Until the rename, any failure (or a signal that ends the process) closes and removes the
  // temporary file.
  struct Cleanup {
    int& fd;
    const std::string& name;
    int pending;
    bool armed = true;
    ~Cleanup() {
      if (armed) {
        if (fd >= 0) ::close(fd);
        ::unlink(name.c_str());
      }
      PendingFiles::done(pending);
    }
  } cleanup{fd, temporary, PendingFiles::add(temporary)};

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

}  // namespace zel_storage::detail
