// Reading a whole file into memory, and streaming text into a file that is replaced atomically;
// failures carry the operating system's reason.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <zel_storage/storage.hpp>

namespace zel_storage::detail {
using namespace zel_package;

// Text followed by zeroed padding that simdjson may read past its end, so that the full reader
// can parse it without copying it.
class PaddedText {
 public:
  static constexpr std::size_t padding = 64;  // simdjson::SIMDJSON_PADDING

  const char* data() const noexcept { return bytes_.get(); }
  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }  // size() plus at least `padding`
  std::string_view view() const noexcept { return {bytes_.get(), size_}; }

 private:
  friend class TextReader;
  // Held with malloc, so that growing it can move its pages instead of copying them.
  struct Free {
    void operator()(char* bytes) const noexcept { std::free(bytes); }
  };
  std::unique_ptr<char, Free> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// The largest text buffer (text and padding) that read_text_file allocated on this thread, for
// tests that check how far an endless stream makes it grow.
inline thread_local std::size_t largest_text_allocation = 0;

// The whole content of the file at `path`, or of standard input when `path` is "-". A regular
// file's size is checked before it is read, and longer text than `max_size` is refused. Throws
// ProfileReadError (source `path`, empty JSON path) with the problem "cannot open: REASON",
// "cannot read: REASON" or "too large: the reader takes up to 4 GiB of text". A stream or device
// of unknown size is read into a buffer that grows in place to at most `max_size` + 1 bytes (and
// the padding): reaching the last byte means the text is too large. Reading stops early, keeping
// the bytes read so far, when they cannot start a profile (see TextStart): the parser then says
// what is wrong with them, and an endless stream of anything but white space ends at once.
//
// Text that starts as gzip (1f 8b) or zstd (28 b5 2f fd, or a skippable frame) data does is
// decompressed as it is read, held to the same `max_size` ("too large: ..., and this decompresses
// to more"); data that is corrupt, truncated or followed by anything else throws ProfileReadError
// saying so. `progress`, when set, is told of the bytes read from the file (compressed ones for
// compressed data): see ReadOptions.
PaddedText read_text_file(const std::string& path, std::size_t max_size,
                          const ReadProgress& progress = {});

// The same for bytes held in memory, named `name` in errors.
PaddedText read_text_bytes(std::string_view bytes, const std::string& name, std::size_t max_size);

// Where streamed text goes: standard output or an open file. write() throws std::runtime_error
// "cannot write NAME: REASON".
class OutputStream {
 public:
  virtual ~OutputStream() = default;
  virtual void write(std::string_view bytes) = 0;
};

// Calls produce(stream) to stream the text to `path`, or to standard output when `path` is "-".
// A regular file is replaced atomically: the text goes to a new temporary file in the same
// directory, which is flushed to disk, closed and renamed over `path` (following symbolic links
// to the file they name, made if it does not exist); a new file gets mode 0666 less the umask, a
// replaced file keeps its mode. On any failure, and when SIGINT, SIGTERM or SIGHUP (left to their
// default action) end the process meanwhile, the temporary file is removed, `path` is left as it
// was and std::runtime_error "cannot write PATH: REASON" is thrown (exceptions from `produce` pass
// through after the same cleanup). A device, FIFO or socket at `path` is written in place.
void write_text_file(const std::string& path, const std::function<void(OutputStream&)>& produce);

}  // namespace zel_storage::detail
