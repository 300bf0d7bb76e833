// Reading gzip and zstd input into text, with zlib and libzstd. The text grows in one buffer,
// sized in advance from what the input says of its decompressed size (zstd's frame header, gzip's
// size trailer when the file can be read from its end), so that a large profile is not held
// twice while it grows.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include "text_input.hpp"

namespace zel_storage::detail {
using namespace zel_package;
namespace {

constexpr std::size_t input_chunk = std::size_t{1} << 20;

// The most text a byte of each format can hold: deflate's longest match takes 258 bytes from a
// bit or two (about 1032 to 1); a zstd block of one repeated byte (RLE) takes 128 KiB from 4.
constexpr std::uint64_t gzip_max_ratio = 1032;
constexpr std::uint64_t zstd_max_ratio = 32768;

// Reserves room for the text a compressed input says it holds, as far as the input can hold it:
// corrupt data that claims gigabytes does not get them. (When the input's size is unknown the
// claim is taken; the data fails when it turns out to be less.)
void reserve_claimed(TextReader& text, const ByteInput& input, std::uint64_t claimed,
                     std::uint64_t max_ratio) {
  std::uint64_t size = std::min<std::uint64_t>(claimed, text.max_size());
  if (input.total() != 0) size = std::min(size, input.total() * max_ratio);
  text.reserve(static_cast<std::size_t>(size));
}

// The log2 of the largest window a zstd frame may use: the least that covers `max_size`, but no
// less than libzstd's default and no more than the format's largest.
int zstd_window_log(std::size_t max_size) {
  constexpr int largest = sizeof(std::size_t) == 4 ? 30 : 31;
  int log = 27;  // libzstd's default
  while (log < largest && (std::uint64_t{1} << log) < max_size) ++log;
  return log;
}

// 2^log bytes as "N KiB", "N MiB" or "N GiB".
std::string window_text(int log) {
  static constexpr const char* units[] = {"KiB", "MiB", "GiB"};
  const int unit = std::min(log / 10, 3) - 1;
  return std::to_string(std::uint64_t{1} << (log - 10 * (unit + 1))) + " " + units[unit];
}

[[noreturn]] void corrupt(const ByteInput& input, std::string problem) {
  throw ProfileReadError(input.name(), "", std::move(problem));
}

// Compressed bytes, a chunk at a time: the first chunk is `head` and what follows it.
class CompressedBytes {
 public:
  CompressedBytes(ByteInput& input, std::string_view head)
      : input_(input), buffer_(new char[input_chunk]), head_size_(head.size()) {
    std::memcpy(buffer_.get(), head.data(), head.size());
  }

  // The next bytes, empty at the end of the input.
  std::string_view next() {
    const std::size_t kept = std::exchange(head_size_, 0);
    const std::size_t count = input_.read(buffer_.get() + kept, input_chunk - kept);
    return {buffer_.get(), kept + count};
  }

 private:
  ByteInput& input_;
  std::unique_ptr<char[]> buffer_;
  std::size_t head_size_;
};

// Where decompressed bytes go: straight into the text's free space, or, once that is full, into
// a small side buffer that is appended (growing the text) only if the data goes on. So a text
// reserved at exactly its size never grows just to learn that the data has ended.
class Output {
 public:
  explicit Output(TextReader& text) : text_(text) {}
  char* space() { return text_.free_size() != 0 ? text_.free_space() : side_; }
  // At most a chunk at a time, so that text that cannot be a profile is seen as such before a
  // text reserved at the size a frame claims is filled with it.
  std::size_t space_size() const {
    return text_.free_size() != 0 ? std::min(text_.free_size(), input_chunk) : sizeof side_;
  }
  // Counts `count` bytes written into space().
  void wrote(std::size_t count) {
    if (count == 0) return;
    if (text_.free_size() != 0) {
      text_.added(count);
    } else {
      text_.append(side_, count);
    }
  }

 private:
  TextReader& text_;
  char side_[16384];
};

}  // namespace

Compression compression_of(std::string_view head) {
  using namespace std::string_view_literals;
  if (head.starts_with("\x1F\x8B"sv)) return Compression::gzip;
  if (head.starts_with("\x28\xB5\x2F\xFD"sv)) return Compression::zstd;
  // A skippable frame (magic 0x184D2A50 to 0x184D2A5F), which parallel compressors put first.
  if (head.size() >= 4 && (static_cast<unsigned char>(head[0]) & 0xF0) == 0x50 &&
      head.substr(1, 3) == "\x2A\x4D\x18"sv) {
    return Compression::zstd;
  }
  return Compression::none;
}

void decompress_gzip(ByteInput& input, std::string_view head, TextReader& text) {
  // The last member's size mod 2^32: the whole text's size when there is one member, and the
  // text may not reach 2^32 bytes. A wrong hint costs only a larger or further allocation.
  unsigned char trailer[4];
  if (input.last_four_bytes(trailer)) {
    const std::uint64_t size = std::uint64_t{trailer[0]} | std::uint64_t{trailer[1]} << 8 |
                               std::uint64_t{trailer[2]} << 16 | std::uint64_t{trailer[3]} << 24;
    reserve_claimed(text, input, size, gzip_max_ratio);
  }

  z_stream stream{};
  // 16 + 15: gzip data only, with the largest window.
  switch (inflateInit2(&stream, 16 + MAX_WBITS)) {
    case Z_OK:
      break;
    case Z_MEM_ERROR:
      throw std::bad_alloc();
    default:
      corrupt(input, "cannot decompress gzip data: zlib failed to start");
  }
  struct End {
    z_stream& stream;
    ~End() { inflateEnd(&stream); }
  } end{stream};

  CompressedBytes bytes(input, head);
  Output output(text);
  bool in_member = true;  // between a member's first byte and its end
  for (std::string_view chunk = bytes.next(); !chunk.empty(); chunk = bytes.next()) {
    if (text.refused()) return;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
    stream.avail_in = static_cast<uInt>(chunk.size());
    // Until this chunk is used up and the decompressor has given all it can of it.
    bool full = false;
    for (;;) {
      if (!in_member) {
        if (stream.avail_in == 0) break;
        // Another member follows, which must start as one does.
        if (stream.next_in[0] != 0x1F) corrupt(input, "unexpected data after the gzip data");
        if (inflateReset(&stream) != Z_OK) corrupt(input, "cannot decompress gzip data");
        in_member = true;
      }
      if ((stream.avail_in == 0 && !full) || text.refused()) break;
      const std::size_t room = output.space_size();
      stream.next_out = reinterpret_cast<Bytef*>(output.space());
      stream.avail_out = static_cast<uInt>(room);
      const int status = inflate(&stream, Z_NO_FLUSH);
      output.wrote(room - stream.avail_out);
      full = stream.avail_out == 0;
      if (status == Z_STREAM_END) {
        in_member = false;
      } else if (status == Z_MEM_ERROR) {
        throw std::bad_alloc();
      } else if (status == Z_DATA_ERROR || status == Z_NEED_DICT) {
        corrupt(input, std::string("corrupt gzip data: ") +
                           (stream.msg != nullptr ? stream.msg : "invalid data"));
      } else if (status != Z_OK && status != Z_BUF_ERROR) {
        corrupt(input, "cannot decompress gzip data");
      }
    }
  }
  // A second member's first byte alone is a truncated member too.
  if (in_member && !text.refused()) corrupt(input, "truncated gzip data");
}

void decompress_zstd(ByteInput& input, std::string_view head, TextReader& text) {
  const std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(),
                                                                     &ZSTD_freeDCtx);
  if (!context) throw std::bad_alloc();
  // Frames written with a long window (zstd --long) need it to decompress: allow any window the
  // text limit can fill, up to the format's largest.
  const int window_log = zstd_window_log(text.max_size());
  ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, window_log);

  CompressedBytes bytes(input, head);
  Output output(text);
  // 0 at the end of a frame; otherwise more input is needed to finish the frame.
  std::size_t pending = 0;
  bool first = true;
  for (std::string_view chunk = bytes.next(); !chunk.empty(); chunk = bytes.next()) {
    if (text.refused()) return;
    if (std::exchange(first, false)) {
      // The first frame's decompressed size, when its header gives it: a larger one than the
      // reader takes is refused at once, as the data must hold that much (or be corrupt).
      const auto size = ZSTD_getFrameContentSize(chunk.data(), chunk.size());
      if (size != ZSTD_CONTENTSIZE_UNKNOWN && size != ZSTD_CONTENTSIZE_ERROR) {
        if (size > text.max_size()) text.too_large();
        reserve_claimed(text, input, size, zstd_max_ratio);
      }
    }
    ZSTD_inBuffer in{chunk.data(), chunk.size(), 0};
    // Until this chunk is used up and the decompressor has given all it can of it.
    bool full = false;
    while ((in.pos < in.size || full) && !text.refused()) {
      ZSTD_outBuffer out{output.space(), output.space_size(), 0};
      const std::size_t read_before = in.pos;
      const std::size_t result = ZSTD_decompressStream(context.get(), &out, &in);
      if (ZSTD_getErrorCode(result) == ZSTD_error_frameParameter_windowTooLarge) {
        corrupt(input, "cannot decompress zstd data: its window is larger than " +
                           window_text(window_log) + ", the most the reader takes");
      }
      if (ZSTD_isError(result)) {
        corrupt(input, std::string("corrupt zstd data: ") + ZSTD_getErrorName(result));
      }
      output.wrote(out.pos);
      full = out.pos == out.size;
      // A call that moved nothing (only looking for more once a frame has ended) asks for the
      // next frame's header, which need not come.
      if (in.pos != read_before || out.pos != 0) pending = result;
    }
  }
  if (pending != 0 && !text.refused()) corrupt(input, "truncated zstd data");
}

}  // namespace zel_storage::detail
