// Reading the binary profile file. Every size and count is checked against the bytes that are
// there before anything is allocated for it; every frame's checksum is checked by zstd; the
// content must be exactly what the writer makes of the profile it describes (its compressed frames
// may differ, as zstd can compress one content in several ways). Tiles are decoded on up to two
// threads.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include <simdjson.h>
#include <zstd.h>

#include <zel_package/step_kinds.hpp>
#include <zel_storage/binary_profile.hpp>
#include <zel_storage/storage.hpp>

#include "binary_format.hpp"
#include "binary_source.hpp"
#include "reader_detail.hpp"

namespace zel_storage {
using namespace zel_package;
namespace {

using namespace detail;
using Bytes = const unsigned char*;

// Faults in the pages of new memory with one system call rather than one fault a page, which
// halves what a profile's fresh sample arrays cost on virtual machines; the pages are written
// anyway. Any failure (an older kernel) leaves them to be faulted in as usual.
void populate(void* memory, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto begin = (reinterpret_cast<std::uintptr_t>(memory) + page - 1) / page * page;
  const auto end = (reinterpret_cast<std::uintptr_t>(memory) + size) / page * page;
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)memory;
  (void)size;
#endif
}

// The fewest bytes of JSON text each part of a profile takes (`{"physical_tile":0,"samples":[]}`,
// `[0,0,0],`, `{"phase":0,"operation":"","kind":"idle"}`, `{"name":"","value":""}`; a string
// at least its own bytes). A binary profile is held to the text reader's limit through them: it
// is refused once the text it stands for would pass that limit, before anything is allocated for
// the part that passes it, so it never costs more memory than reading its text would.
constexpr std::uint64_t least_tile_text = 32;
constexpr std::uint64_t least_sample_text = 8;
constexpr std::uint64_t least_step_text = 40;
constexpr std::uint64_t least_entry_text = 22;

// Where each part of the file is.
struct Frame {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

struct TileEntry {
  std::uint32_t physical_tile = 0;
  std::uint64_t samples = 0;
  std::size_t first_block = 0;  // index of its first block frame
};

class Reader {
 public:
  Reader(const BinarySource& bytes, const std::string& source)
      : bytes_(bytes), size_(bytes.size()), source_(source) {}

  [[noreturn]] void fail(const std::string& where, const std::string& problem) const {
    throw ProfileReadError(source_, where, problem);
  }

  [[noreturn]] void too_large(const std::string& where) const {
    fail(where,
         "too large: the reader takes up to 4 GiB of text, and this profile's text would "
         "take more");
  }

  // Counts `items` parts of at least `text_each` bytes of text each towards the limit.
  void count_text(std::uint64_t items, std::uint64_t text_each, const std::string& where) {
    if (items > (max_text_size - least_text_) / text_each) too_large(where);
    least_text_ += items * text_each;
  }

  // The decompressed content of `frame`, named `where`, which must be one zstd frame with a
  // checksum and a declared size of at least `least` and at most `most` bytes. Its bytes are read
  // into `packed` when they are not in memory, and its content into `buffer`.
  std::size_t decompress(ZSTD_DCtx* context, const Frame& frame, const std::string& where,
                         std::uint64_t least, std::uint64_t most, ByteBuffer& packed,
                         ByteBuffer& buffer) const {
    const std::size_t size = static_cast<std::size_t>(frame.size);
    const Bytes at = bytes_.part(frame.offset, size, packed, where);
    // The frame header (RFC 8878): magic, then a descriptor whose bit 2 says there is a
    // checksum, whose bits 0-1 that there is a dictionary id and whose bits 3 and 4 are unused
    // (zstd ignores bit 4, so a flipped one would go unnoticed otherwise).
    if (size < 6 || get_le(at, 4) != 0xFD2FB528u) fail(where, "damaged: not a zstd frame");
    const unsigned descriptor = at[4];
    const unsigned long long declared = ZSTD_getFrameContentSize(at, size);
    if (declared == ZSTD_CONTENTSIZE_ERROR || declared == ZSTD_CONTENTSIZE_UNKNOWN ||
        (descriptor & 4) == 0 || (descriptor & 0x1B) != 0) {
      fail(where, "damaged: the frame lacks its size or checksum");
    }
    const std::uint64_t content = declared;
    if (content > max_text_size) too_large(where);
    if (content < least || content > most || content / max_frame_ratio > frame.size) {
      fail(where, "damaged: the frame claims " + std::to_string(content) + " bytes of content");
    }
    if (ZSTD_findFrameCompressedSize(at, size) != size) {
      fail(where, "damaged: the frame does not fill its " + std::to_string(size) + " bytes");
    }
    unsigned char* into = buffer.fit(static_cast<std::size_t>(content));
    const std::size_t result = ZSTD_decompressDCtx(context, into, buffer.capacity, at, size);
    if (ZSTD_isError(result)) {
      fail(where, std::string("damaged: ") + ZSTD_getErrorName(result));
    }
    if (result != content) fail(where, "damaged: the frame holds less than it claims");
    return result;
  }

  PackedProfile read() {
    // Magic, version and flags; then the block index: its size and its frame.
    if (size_ < 16) {
      fail("header", "cut short: the header takes 16 bytes, the file has " + std::to_string(size_));
    }
    ByteBuffer packed;
    const Bytes header =
        bytes_.part(0, size_ < binary_header_size ? 16 : binary_header_size, packed, "header");
    check_binary_header({reinterpret_cast<const char*>(header), 16}, source_);
    if (size_ < binary_header_size) {
      fail("block index",
           "cut short: its size takes 8 bytes from byte 16, the file has " + std::to_string(size_));
    }
    const Frame index_frame{binary_header_size, get_le(header + 16, 8)};
    if (index_frame.size > size_ - binary_header_size) {
      fail("block index", "cut short: it takes " + std::to_string(index_frame.size) +
                              " bytes from byte 24, the file has " + std::to_string(size_));
    }
    const std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(),
                                                                       &ZSTD_freeDCtx);
    if (!context) throw std::bad_alloc();
    ByteBuffer buffer;
    const std::size_t index_size =
        decompress(context.get(), index_frame, "block index", 0, UINT64_MAX, packed, buffer);
    PackedProfile profile;
    const Frame steps_frame = read_index(buffer.bytes.get(), index_size, index_frame, profile);
    const std::size_t steps_size =
        decompress(context.get(), steps_frame, "steps", 0, UINT64_MAX, packed, buffer);
    read_steps(buffer.bytes.get(), steps_size, profile);
    packed = {};
    buffer = {};
    read_tiles(profile);
    return profile;
  }

 private:
  // Reads the block index into the profile's clock and tiles (their sizes known, samples not
  // yet read) and the frames of the blocks; returns the steps frame.
  Frame read_index(Bytes at, std::size_t size, const Frame& index_frame, PackedProfile& profile) {
    const Bytes end = at + size;
    const auto number = [&](const char* what) {
      std::uint64_t value = 0;
      if (!get_varint(at, end, value)) fail("block index", std::string("damaged: no ") + what);
      return value;
    };
    profile.clock_hz = number("clock rate");
    step_count_ = number("step count");
    count_text(step_count_, least_step_text, "block index");
    const std::uint64_t steps_size = number("size of the steps");
    const std::uint64_t tile_count = number("tile count");
    count_text(tile_count, least_tile_text, "block index");
    // Each tile takes at least two bytes of the index.
    if (tile_count > static_cast<std::uint64_t>(end - at) / 2) {
      fail("block index", "damaged: " + std::to_string(tile_count) + " tiles in " +
                              std::to_string(end - at) + " bytes");
    }
    tiles_.resize(static_cast<std::size_t>(tile_count));
    std::uint64_t blocks = 0;
    for (auto& tile : tiles_) {
      const std::uint64_t physical = number("tile number");
      if (physical > UINT32_MAX) fail("block index", "damaged: a tile number above 2^32 - 1");
      tile.physical_tile = static_cast<std::uint32_t>(physical);
      tile.samples = number("sample count");
      count_text(tile.samples, least_sample_text, "block index");
      tile.first_block = static_cast<std::size_t>(blocks);
      blocks += block_count(tile.samples);
      // Each block takes at least one byte of the index.
      if (blocks > static_cast<std::uint64_t>(end - at)) {
        fail("block index", "damaged: more blocks than the index has bytes for");
      }
    }
    std::uint64_t offset = index_frame.offset + index_frame.size;
    const auto place = [&](std::uint64_t frame_size, const std::string& where) {
      if (frame_size > size_ - offset) {
        fail(where, "cut short: it takes " + std::to_string(frame_size) + " bytes from byte " +
                        std::to_string(offset) + ", the file has " + std::to_string(size_));
      }
      const Frame frame{offset, frame_size};
      offset += frame_size;
      return frame;
    };
    const Frame steps_frame = place(steps_size, "steps");
    blocks_.resize(static_cast<std::size_t>(blocks));
    std::size_t block = 0;
    for (std::size_t t = 0; t < tiles_.size(); ++t) {
      for (std::uint64_t b = 0; b < block_count(tiles_[t].samples); ++b, ++block) {
        blocks_[block] = place(number("block size"), block_name(t, b));
      }
    }
    if (at != end) fail("block index", "damaged: bytes after the last block's size");
    if (offset != size_) {
      fail("", std::to_string(size_ - offset) + " bytes after the last block");
    }
    profile.tiles.resize(tiles_.size());
    for (std::size_t t = 0; t < tiles_.size(); ++t) {
      profile.tiles[t].physical_tile = tiles_[t].physical_tile;
    }
    return steps_frame;
  }

  static std::string block_name(std::size_t tile, std::uint64_t block) {
    return "tiles[" + std::to_string(tile) + "].blocks[" + std::to_string(block) + "]";
  }

  void read_steps(Bytes at, std::size_t size, PackedProfile& profile) {
    const Bytes end = at + size;
    // A step takes at least eight bytes.
    if (step_count_ > size / 8) {
      fail("steps", "damaged: " + std::to_string(step_count_) + " steps in " +
                        std::to_string(size) + " bytes");
    }
    profile.steps.resize(static_cast<std::size_t>(step_count_));
    for (std::size_t i = 0; i < profile.steps.size(); ++i) {
      const std::string where = "steps[" + std::to_string(i) + "]";
      const auto number = [&](std::uint64_t most) {
        std::uint64_t value = 0;
        if (!get_varint(at, end, value) || value > most) fail(where, "damaged");
        return value;
      };
      const auto text = [&](std::string& into) {
        const std::uint64_t length = number(UINT64_MAX);
        count_text(length, 1, where);
        if (length > static_cast<std::uint64_t>(end - at)) fail(where, "damaged");
        if (!simdjson::validate_utf8(reinterpret_cast<const char*>(at), length)) {
          fail(where, "damaged: a string is not valid UTF-8");
        }
        into.assign(reinterpret_cast<const char*>(at), static_cast<std::size_t>(length));
        at += length;
      };
      auto& step = profile.steps[i];
      step.local_index = static_cast<std::uint32_t>(number(UINT32_MAX));
      step.phase = static_cast<std::uint32_t>(number(UINT32_MAX));
      step.epoch = static_cast<std::uint32_t>(number(UINT32_MAX));
      step.kind = static_cast<ProfileStepKind>(number(255));
      if (!is_step_kind(step.kind)) fail(where, "damaged: not a step kind");
      text(step.operation);
      text(step.kernel);
      const std::uint64_t entries = number(UINT64_MAX);
      count_text(entries, least_entry_text, where);
      if (entries > static_cast<std::uint64_t>(end - at) / 2) fail(where, "damaged");
      step.metadata.resize(static_cast<std::size_t>(entries));
      for (auto& entry : step.metadata) {
        text(entry.name);
        text(entry.value);
      }
    }
    if (at != end) fail("steps", "damaged: bytes after the last step");
  }

  // Decodes one block's content into `samples` (sized to the block); false when it is not
  // exactly what the writer makes.
  bool decode_block(Bytes at, Bytes end, PackedSample* samples, std::size_t count) const {
    std::uint64_t value = 0;
    std::int64_t step = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (!get_varint(at, end, value) || value > UINT32_MAX * 2ull + 1) return false;
      step += unzigzag64(value);
      if (step < 0 || static_cast<std::uint64_t>(step) >= step_count_) return false;
      samples[i].step = static_cast<std::uint32_t>(step);
    }
    // The gaps first, kept in start_cycle until the lengths give each sample's end.
    for (std::size_t i = 0; i < count; ++i) {
      if (!get_varint(at, end, value) || value > UINT32_MAX) return false;
      samples[i].start_cycle = unzigzag32(static_cast<std::uint32_t>(value));
    }
    std::uint32_t previous_end = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (!get_varint(at, end, value) || value > UINT32_MAX) return false;
      samples[i].start_cycle += previous_end;
      samples[i].end_cycle = samples[i].start_cycle + static_cast<std::uint32_t>(value);
      previous_end = samples[i].end_cycle;
    }
    return at == end;
  }

  void read_tile(std::size_t t, PackedTile& tile, ZSTD_DCtx* context, ByteBuffer& packed,
                 ByteBuffer& buffer) const {
    const TileEntry& entry = tiles_[t];
    tile.samples.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(entry.samples, 1 << 20)));
    populate(tile.samples.data(), tile.samples.capacity() * sizeof(PackedSample));
    for (std::uint64_t b = 0; b < block_count(entry.samples); ++b) {
      const std::size_t count = static_cast<std::size_t>(
          std::min<std::uint64_t>(samples_per_block, entry.samples - b * samples_per_block));
      const std::string where = block_name(t, b);
      const std::size_t size =
          decompress(context, blocks_[entry.first_block + b], where, count * min_sample_bytes,
                     count * max_sample_bytes, packed, buffer);
      const std::size_t first = tile.samples.size();
      tile.samples.resize(first + count);
      const Bytes content = buffer.bytes.get();
      if (!decode_block(content, content + size, tile.samples.data() + first, count)) {
        fail(where, "damaged: its samples do not decode");
      }
    }
  }

  void read_tiles(PackedProfile& profile) const {
    const std::size_t threads = std::min<std::size_t>(
        {2, std::max(1u, std::thread::hardware_concurrency()), tiles_.size()});
    std::atomic<std::size_t> next{0};
    // The first tile (in file order) that failed, and its error; later tiles are skipped.
    std::atomic<std::size_t> failed_at{SIZE_MAX};
    std::mutex mutex;
    std::exception_ptr error;
    const auto work = [&] {
      const std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(),
                                                                         &ZSTD_freeDCtx);
      ByteBuffer packed;
      ByteBuffer buffer;
      for (std::size_t t = next++; t < tiles_.size(); t = next++) {
        if (t > failed_at.load()) continue;
        try {
          if (!context) throw std::bad_alloc();
          read_tile(t, profile.tiles[t], context.get(), packed, buffer);
        } catch (...) {
          const std::lock_guard lock(mutex);
          if (t < failed_at.load()) {
            failed_at = t;
            error = std::current_exception();
          }
        }
      }
    };
    std::vector<std::thread> helpers;
    for (std::size_t i = 1; i < threads; ++i) {
      try {
        helpers.emplace_back(work);
      } catch (const std::system_error&) {
        break;  // the calling thread does the work alone
      }
    }
    work();
    for (auto& helper : helpers) helper.join();
    if (error) std::rethrow_exception(error);
  }

  const BinarySource& bytes_;
  std::uint64_t size_;
  const std::string& source_;
  std::uint64_t step_count_ = 0;
  std::uint64_t least_text_ = 0;  // the fewest bytes the text of what was read so far takes
  std::vector<TileEntry> tiles_;
  std::vector<Frame> blocks_;
};

}  // namespace

void detail::check_binary_header(std::string_view bytes, const std::string& source) {
  const auto header = reinterpret_cast<Bytes>(bytes.data());
  const std::uint64_t version = get_le(header + 8, 4);
  if (version != binary_version) {
    throw ProfileReadError(
        source, "header",
        "binary profile version " + std::to_string(version) + ", but this reader takes version 1");
  }
  if (get_le(header + 12, 4) != 0) {
    throw ProfileReadError(source, "header", "damaged: unknown flags");
  }
}

namespace {

class MemorySource final : public detail::BinarySource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  const unsigned char* part(std::uint64_t offset, std::size_t, detail::ByteBuffer&,
                            const std::string&) const override {
    return reinterpret_cast<Bytes>(bytes_.data()) + offset;
  }

 private:
  std::string_view bytes_;
};

}  // namespace

PackedProfile detail::read_binary_profile_from(const BinarySource& bytes,
                                               const std::string& source) {
  return Reader(bytes, source).read();
}

PackedProfile read_binary_profile(std::string_view bytes, const std::string& source) {
  if (!is_binary_profile(bytes)) {
    throw ProfileReadError(source, "", "not a binary profile: it does not start with its magic");
  }
  return Reader(MemorySource(bytes), source).read();
}

}  // namespace zel_storage
