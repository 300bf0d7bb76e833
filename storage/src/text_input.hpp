// The pieces read_text_file is made of, shared with the decompressors: a source of bytes (a file,
// standard input or memory) that reports how far it has got, and the growing buffer the text is
// collected in.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include <zel_storage/storage.hpp>

#include "file_io.hpp"
#include "text_start.hpp"

namespace zel_storage::detail {
using namespace zel_package;

// Bytes read in order from somewhere. read() fills `into` with up to `size` bytes and returns how
// many, 0 only at the end; it throws ProfileReadError "cannot read: REASON" on failure. It counts
// the bytes and passes the count to the progress callback, if any, at most once per MiB of input
// and once more at the end, when the total becomes the count.
class ByteInput {
 public:
  ByteInput(const std::string& name, std::uint64_t total, const ReadProgress& progress)
      : name_(name), total_(total), progress_(progress) {}
  virtual ~ByteInput() = default;

  std::size_t read(char* into, std::size_t size) {
    const std::size_t count = read_some(into, size);
    done_ += count;
    if (progress_ && !ended_ && (count == 0 || done_ - reported_ >= report_step)) {
      // At the end, the total is what was read: a file may have changed size while it was read,
      // and a stream's size is known only now. (It is told then unless it was just told.)
      const bool told = reported_ == done_ && reported_total_ == done_;
      if (count == 0) total_ = done_;
      if (!told) progress_(done_, total_);
      reported_ = done_;
      reported_total_ = total_;
      ended_ = count == 0;
    }
    return count;
  }

  const std::string& name() const noexcept { return name_; }
  // The size of the whole input when known in advance (a regular file), else 0.
  std::uint64_t total() const noexcept { return total_; }
  // The last 4 bytes of the input, when it can tell them without reading the rest.
  virtual bool last_four_bytes(unsigned char (&bytes)[4]) { return (void)bytes, false; }

  [[noreturn]] void failed(std::string_view what, int error) const;

 private:
  static constexpr std::uint64_t report_step = std::uint64_t{1} << 20;
  virtual std::size_t read_some(char* into, std::size_t size) = 0;

  const std::string& name_;
  std::uint64_t total_;
  const ReadProgress& progress_;
  std::uint64_t done_ = 0;
  std::uint64_t reported_ = 0;
  std::uint64_t reported_total_ = 0;
  bool ended_ = false;
};

// Builds a PaddedText, growing it as text arrives when the size is not known in advance. More
// text than `max_size` throws ProfileReadError "too large: ..." naming `name`.
class TextReader {
 public:
  TextReader(const std::string& name, std::size_t max_size, bool decompressed = false)
      : name_(name), max_size_(max_size), decompressed_(decompressed) {}

  // Room for `size` bytes of text in all, and the padding. The buffer is reallocated, which for a
  // large one moves its pages rather than holding an old and a new copy at once.
  void reserve(std::size_t size) {
    if (size + PaddedText::padding <= text_.capacity_) return;
    resize(size + PaddedText::padding);
  }
  std::size_t size() const { return text_.size_; }
  std::string_view view() const { return text_.view(); }
  std::size_t max_size() const { return max_size_; }
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

  // Counts `count` bytes just written into free_space().
  void added(std::size_t count) {
    text_.size_ += count;
    if (text_.size_ > max_size_) too_large();
    start_.look(text_.view());
  }
  void append(const char* bytes, std::size_t count) {
    if (count > max_size_ - text_.size_) too_large();  // before growing, which stops at the limit
    while (free_size() < count) grow();
    std::memcpy(free_space(), bytes, count);
    added(count);
  }

  // Whether the text so far cannot start a profile: its reader reads no more.
  bool refused() const { return start_.verdict() == TextStart::Verdict::not_profile; }

  [[noreturn]] void too_large() const {
    throw ProfileReadError(name_, "",
                           decompressed_ ? "too large: the reader takes up to 4 GiB of text, and "
                                           "this decompresses to more"
                                         : "too large: the reader takes up to 4 GiB of text");
  }

  // The text, with its padding zeroed; room reserved beyond that is given back.
  PaddedText finish() {
    const std::size_t capacity = text_.size_ + PaddedText::padding;
    if (text_.capacity_ != capacity) resize(capacity);
    std::memset(text_.bytes_.get() + text_.size_, 0, PaddedText::padding);
    return std::move(text_);
  }

 private:
  void resize(std::size_t capacity) {
    largest_text_allocation = std::max(largest_text_allocation, capacity);
    char* bytes = static_cast<char*>(std::realloc(text_.bytes_.get(), capacity));
    if (bytes == nullptr) throw std::bad_alloc();
    (void)text_.bytes_.release();
    text_.bytes_.reset(bytes);
    text_.capacity_ = capacity;
  }

  const std::string& name_;
  std::size_t max_size_;
  bool decompressed_;
  PaddedText text_;
  TextStart start_;
};

// The compressed formats read_text_file recognises by their first bytes.
enum class Compression { none, gzip, zstd };

// The format that text starting with `head` (its first 4 bytes, or all of a shorter text) is in.
Compression compression_of(std::string_view head);

// Decompresses `input`, whose first bytes `head` have already been read from it, into `text`.
// Concatenated gzip members and zstd frames are read one after another. Throws ProfileReadError
// naming the input for corrupt or truncated data ("truncated gzip data", "corrupt zstd data:
// ..."), and "too large" past the text's size limit.
void decompress_gzip(ByteInput& input, std::string_view head, TextReader& text);
void decompress_zstd(ByteInput& input, std::string_view head, TextReader& text);

}  // namespace zel_storage::detail
