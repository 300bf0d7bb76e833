// Reading gzip and zstd profiles: the data is made here with zlib and libzstd themselves, in the
// shapes other programs write (one or several gzip members, one or several zstd frames, with or
// without the decompressed size in the frame header), and the profile read from it must be the
// one read from the plain text. Broken data must give an error naming the file, never a profile.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <zel_generator/generator.hpp>
#include <zel_storage/storage.hpp>

#include "file_io.hpp"

namespace zel_storage {
using namespace zel_package;
namespace {

namespace fs = std::filesystem;

// `text` as gzip members, one for each of `parts` equal slices.
std::string gzip(const std::string& text, std::size_t parts = 1) {
  std::string out;
  const std::size_t slice = text.size() / parts + 1;
  for (std::size_t start = 0; start < text.size(); start += slice) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    const std::string piece = text.substr(start, slice);
    std::string member(deflateBound(&stream, piece.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
    stream.avail_in = static_cast<uInt>(piece.size());
    stream.next_out = reinterpret_cast<Bytef*>(member.data());
    stream.avail_out = static_cast<uInt>(member.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    member.resize(stream.total_out);
    deflateEnd(&stream);
    out += member;
  }
  return out;
}

// `text` as zstd frames, one for each of `parts` slices; with the decompressed size in each frame
// header, or (streamed) without it.
std::string zstd(const std::string& text, std::size_t parts = 1, bool sized = true) {
  std::string out;
  const std::size_t slice = text.size() / parts + 1;
  for (std::size_t start = 0; start < text.size(); start += slice) {
    const std::string piece = text.substr(start, slice);
    std::string frame(ZSTD_compressBound(piece.size()), '\0');
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, sized ? 1 : 0);
    ZSTD_inBuffer in{piece.data(), piece.size(), 0};
    ZSTD_outBuffer frame_out{frame.data(), frame.size(), 0};
    EXPECT_EQ(ZSTD_compressStream2(context, &frame_out, &in, ZSTD_e_end), 0u);
    ZSTD_freeCCtx(context);
    frame.resize(frame_out.pos);
    out += frame;
  }
  return out;
}

// `text` (under 128 KiB) in a zstd frame made by hand: one raw block, no size, no checksum, and
// the window the `window` descriptor byte gives (2^(10 + bits 7-3), plus eighths in bits 2-0).
std::string raw_zstd_frame(const std::string& text, unsigned char window) {
  std::string frame("\x28\xB5\x2F\xFD\x00", 5);
  frame += static_cast<char>(window);
  const std::uint32_t block = 1 | static_cast<std::uint32_t>(text.size()) << 3;  // last, raw
  for (int shift = 0; shift < 24; shift += 8) frame += static_cast<char>(block >> shift & 0xFF);
  return frame + text;
}

// A zstd skippable frame (magic 0x184D2A50 + `variant`) holding `payload`.
std::string skippable_frame(const std::string& payload, unsigned char variant = 0) {
  std::string frame = {static_cast<char>(0x50 + variant), '\x2A', '\x4D', '\x18'};
  for (int shift = 0; shift < 32; shift += 8) {
    frame += static_cast<char>(static_cast<std::uint32_t>(payload.size()) >> shift & 0xFF);
  }
  return frame + payload;
}

class CompressedProfiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / ("zel_compressed_" + std::to_string(::getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string file(const std::string& name, const std::string& bytes) const {
    const std::string path = (folder_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  fs::path folder_;
};

TEST_F(CompressedProfiles, ReadAsThePlainTextInEveryShapeWithProgressToTheEnd) {
  const auto profile = zel_generator::generate_packed_profile({.tiles = 40, .seed = 7});
  const std::string json = write_profile(profile);
  const std::string marked = "\xEF\xBB\xBF" + json;  // a byte-order mark after decompressing
  ASSERT_EQ(read_packed_profile(json), profile);
  struct Shape {
    std::string name;
    std::string bytes;
    bool exact_size_known;  // the one member or frame tells the text's size
  };
  const std::vector<Shape> shapes = {
      {"one.gz", gzip(json), true},           {"three.gz", gzip(json, 3), false},
      {"marked.gz", gzip(marked), true},      {"one.zst", zstd(json), true},
      {"three.zst", zstd(json, 3), false},    {"unsized.zst", zstd(json, 1, false), false},
      {"marked.zst", zstd(marked, 2), false},
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.name);
    const std::string path = file(shape.name, shape.bytes);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    detail::largest_text_allocation = 0;
    EXPECT_EQ(read_packed_profile_file(path, {.progress =
                                                  [&](std::uint64_t done, std::uint64_t total) {
                                                    calls.emplace_back(done, total);
                                                  }}),
              profile);
    // The text was allocated once, at its size, when the data told it.
    const std::size_t text_size = shape.name.starts_with("marked") ? marked.size() : json.size();
    if (shape.exact_size_known) {
      EXPECT_EQ(detail::largest_text_allocation, text_size + detail::PaddedText::padding);
    }
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(),
              std::make_pair(std::uint64_t{shape.bytes.size()}, std::uint64_t{shape.bytes.size()}));
    for (std::size_t i = 1; i < calls.size(); ++i) EXPECT_GT(calls[i].first, calls[i - 1].first);

    // The same through standard input, whose size is not known in advance.
    ASSERT_NE(std::freopen(path.c_str(), "rb", stdin), nullptr);
    calls.clear();
    EXPECT_EQ(read_packed_profile_file(
                  "-", {.progress = [&](std::uint64_t done,
                                        std::uint64_t total) { calls.emplace_back(done, total); }}),
              profile);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(),
              std::make_pair(std::uint64_t{shape.bytes.size()}, std::uint64_t{shape.bytes.size()}));
    for (std::size_t i = 0; i + 1 < calls.size(); ++i) EXPECT_EQ(calls[i].second, 0u);
  }
}

TEST_F(CompressedProfiles, PlainFileProgressIsBoundedMonotonicAndEndsAtTheSize) {
  // About 10 MB of text: a handful of calls, one per MiB at most.
  const auto profile =
      zel_generator::generate_packed_profile({.tiles = 400, .epochs = 8, .phases = 40});
  const std::string json = write_profile(profile);
  const std::string path = file("plain.json", json);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  EXPECT_EQ(read_packed_profile_file(
                path, {.progress = [&](std::uint64_t done,
                                       std::uint64_t total) { calls.emplace_back(done, total); }}),
            profile);
  ASSERT_GE(calls.size(), 2u);
  EXPECT_LE(calls.size(), json.size() / (1u << 20) + 2);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].second, json.size());
    // At least a MiB apart, but for the last call, which ends the reading.
    if (i > 0 && i + 1 < calls.size()) {
      EXPECT_GE(calls[i].first - calls[i - 1].first, std::uint64_t{1} << 20);
    }
  }
  EXPECT_GT(calls.back().first, calls[calls.size() - 2].first);
  EXPECT_EQ(calls.back().first, json.size());
}

// Every cut and every changed byte of small compressed profiles: an error that names the source
// and says what is wrong with the data, or (when the change is in a part that nothing checks,
// such as a gzip header's time stamp) exactly the profile.
TEST_F(CompressedProfiles, BrokenDataIsAnErrorNeverAPartialProfile) {
  const auto profile = zel_generator::generate_packed_profile({.tiles = 3, .epochs = 1});
  const std::string json = write_profile(profile);
  for (const auto& [format, data] :
       {std::pair<std::string, std::string>{"gzip", gzip(json, 2)}, {"zstd", zstd(json, 2)}}) {
    SCOPED_TRACE(format);
    const auto read = [&](const std::string& bytes) -> std::optional<ProfileReadError> {
      try {
        const auto text = detail::read_text_bytes(bytes, "p.data", std::size_t{1} << 24);
        EXPECT_EQ(read_packed_profile(text.view()), profile);
        return std::nullopt;
      } catch (const ProfileReadError& error) {
        return error;
      }
    };
    for (std::size_t cut = 2; cut < data.size(); ++cut) {
      const auto error = read(data.substr(0, cut));
      ASSERT_TRUE(error.has_value()) << "cut at " << cut;
      // A cut between members or frames leaves whole data: the JSON is cut then.
      if (!error->problem().starts_with("not valid JSON")) {
        EXPECT_EQ(error->source(), "p.data");
        EXPECT_TRUE(error->problem() == "truncated " + format + " data" ||
                    error->problem().starts_with("corrupt " + format + " data: "))
            << error->problem();
      }
    }
    std::size_t undetected = 0;
    for (std::size_t at = 0; at < data.size(); ++at) {
      std::string changed = data;
      changed[at] = static_cast<char>(changed[at] ^ 0x55);
      const auto error = read(changed);
      if (!error) ++undetected;
    }
    EXPECT_LT(undetected, 20u);  // the header fields that no check covers, at most
    const auto trailing = read(data + "\n");
    ASSERT_TRUE(trailing.has_value());
    EXPECT_EQ(trailing->problem(), format == "gzip"
                                       ? "unexpected data after the gzip data"
                                       : "corrupt zstd data: Unknown frame descriptor");
  }
}

// A size trailer that claims more text than the data can hold gets no more room than the data
// could fill, and the data is found corrupt.
TEST_F(CompressedProfiles, ClaimedSizeIsBoundedByWhatTheDataCanHold) {
  const std::string json = write_profile(zel_generator::generate_packed_profile({.tiles = 2}));
  std::string data = gzip(json);
  data.replace(data.size() - 4, 4, "\xFF\xFF\xFF\x7F");  // 2 GiB
  const std::string path = file("claims.gz", data);
  detail::largest_text_allocation = 0;
  try {
    read_packed_profile_file(path);
    ADD_FAILURE() << "read";
  } catch (const ProfileReadError& error) {
    EXPECT_EQ(error.what(), path + ": corrupt gzip data: incorrect length check");
  }
  EXPECT_LE(detail::largest_text_allocation, data.size() * 1032 + detail::PaddedText::padding);
}

// Data that decompresses to more than the reader takes is refused once the limit is passed, by a
// buffer that never grows past it; zstd's frame header can tell at once.
TEST_F(CompressedProfiles, DecompressingPastTheLimitIsTooLarge) {
  const std::string spaces(1 << 20, ' ');
  for (const auto& data : {gzip(spaces), gzip(spaces, 4), zstd(spaces), zstd(spaces, 4, false)}) {
    for (const std::size_t limit : {std::size_t{1000}, std::size_t{300000}}) {
      detail::largest_text_allocation = 0;
      try {
        detail::read_text_bytes(data, "big.gz", limit);
        ADD_FAILURE() << "read past the limit";
      } catch (const ProfileReadError& error) {
        EXPECT_EQ(error.what(), std::string("big.gz: too large: the reader takes up to 4 GiB of "
                                            "text, and this decompresses to more"));
      }
      EXPECT_LE(detail::largest_text_allocation, limit + 1 + detail::PaddedText::padding);
    }
  }
  // Within the limit the same data is read whole.
  EXPECT_EQ(detail::read_text_bytes(zstd(spaces, 3), "big.zst", spaces.size()).view(), spaces);
}

}  // namespace
}  // namespace zel_storage

namespace zel_storage {
namespace {

// zstd data as other compressors write it: skippable frames (parallel compressors put one first,
// holding the frames' sizes) and the long windows of `zstd --long`. A window larger than the
// format allows is refused, saying so.
TEST_F(CompressedProfiles, ZstdFromOtherCompressorsIsRead) {
  const auto profile = zel_generator::generate_packed_profile({.tiles = 2, .epochs = 1});
  const std::string json = write_profile(profile);
  ASSERT_LT(json.size(), std::size_t{1} << 17);
  const std::string half = json.substr(0, json.size() / 2);
  const std::string rest = json.substr(json.size() / 2);
  const struct {
    std::string name;
    std::string bytes;
  } shapes[] = {
      {"skippable first", skippable_frame("sizes", 0) + zstd(json, 2)},
      {"skippable between and after", zstd(half) + skippable_frame("", 15) + zstd(rest) +
                                          skippable_frame(std::string(300, '\0'), 7)},
      {"window of 2^28", raw_zstd_frame(json, 18 << 3)},
      {"window of 2^31", raw_zstd_frame(half, 21 << 3) + raw_zstd_frame(rest, 21 << 3)},
  };
  for (const auto& shape : shapes) {
    SCOPED_TRACE(shape.name);
    EXPECT_EQ(read_packed_profile_file(file("p.zst", shape.bytes)), profile);
  }
  const std::string path = file("huge.zst", raw_zstd_frame(json, 21 << 3 | 7));  // 3.75 GiB
  try {
    read_packed_profile_file(path);
    ADD_FAILURE() << "read";
  } catch (const ProfileReadError& error) {
    EXPECT_EQ(error.what(), path +
                                ": cannot decompress zstd data: its window is larger than 2 "
                                "GiB, the most the reader takes");
  }
}

}  // namespace
}  // namespace zel_storage
