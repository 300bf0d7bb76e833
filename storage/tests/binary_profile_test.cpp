#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>
#include <zstd.h>

#include <zel_generator/generator.hpp>
#include <zel_storage/binary_profile.hpp>
#include <zel_storage/storage.hpp>

namespace zel_storage {
using namespace zel_package;
namespace {

constexpr std::uint32_t max_u32 = std::numeric_limits<std::uint32_t>::max();

// A profile with everything at random, including what real profiles rarely have: counter readings
// anywhere, ends before starts, steps used in any order, repeated and empty tiles, a tile of more
// than one block, strings with escapes and multi-byte characters.
PackedProfile random_profile(std::uint32_t seed) {
  std::mt19937 random(seed);
  const auto next = [&] { return static_cast<std::uint32_t>(random()); };
  const auto below = [&](std::uint32_t bound) { return next() % bound; };
  PackedProfile profile{.clock_hz = below(2) ? std::uint64_t{next()} << 32 | next() : 0};
  const char* words[] = {
      "", "gemm", "layer0/exchange", "\"quoted\"\n", "\xc3\xa9t\xc3\xa9", "\xf0\x9f\x98\x80"};
  const std::uint32_t steps = 1 + below(40);
  for (std::uint32_t i = 0; i < steps; ++i) {
    ProfileStep step{.local_index = below(4) ? i : max_u32,
                     .phase = below(3) ? below(100) : max_u32,
                     .epoch = below(5),
                     .operation = words[below(6)],
                     .kind = static_cast<ProfileStepKind>(below(4)),
                     .kernel = words[below(6)]};
    for (std::uint32_t m = below(3); m > 0; --m) step.metadata.push_back({words[below(6)], "1"});
    profile.steps.push_back(step);
  }
  const std::uint32_t tiles = below(6);
  for (std::uint32_t t = 0; t < tiles; ++t) {
    PackedTile tile{.physical_tile = below(4) ? below(8) : max_u32};
    const std::uint32_t count = below(8) == 0 ? 65536 + below(70000) : below(300);
    std::uint32_t now = next();
    for (std::uint32_t s = 0; s < count; ++s) {
      PackedSample sample{.step = below(3) ? s % steps : below(steps)};
      if (below(10) == 0) {
        sample.start_cycle = next();
        sample.end_cycle = next();
      } else {
        sample.start_cycle = now + below(30);
        sample.end_cycle = sample.start_cycle + below(5000);
      }
      now = sample.end_cycle;
      tile.samples.push_back(sample);
    }
    profile.tiles.push_back(std::move(tile));
  }
  return profile;
}

TEST(BinaryProfile, RoundTripsThroughTextToTheSameBytes) {
  std::vector<PackedProfile> profiles = {
      {},
      {.clock_hz = std::numeric_limits<std::uint64_t>::max(),
       .tiles = {{.physical_tile = 3}, {.physical_tile = 3}}},
      zel_generator::generate_packed_profile({.tiles = 5, .epochs = 3, .phases = 7, .seed = 4})};
  for (std::uint32_t seed = 1; seed <= 12; ++seed) profiles.push_back(random_profile(seed));
  for (const auto& profile : profiles) {
    const std::string binary = write_binary_profile(profile);
    ASSERT_TRUE(is_binary_profile(binary));
    EXPECT_EQ(read_binary_profile(binary), profile);
    // text -> binary -> text -> binary: both texts and both binaries are identical.
    const std::string text = write_profile(profile);
    const std::string binary_of_text = write_binary_profile(read_packed_profile(text));
    EXPECT_EQ(binary_of_text, binary);
    EXPECT_EQ(write_profile(read_packed_profile(binary_of_text)), text);
    // The in-memory reader knows the binary form by its first bytes.
    EXPECT_EQ(read_packed_profile(binary), profile);
  }
}

TEST(BinaryProfile, IsSmallForARealisticProfile) {
  const auto profile =
      zel_generator::generate_packed_profile({.tiles = 64, .epochs = 20, .phases = 50});
  const double per_sample = static_cast<double>(write_binary_profile(profile).size()) /
                            static_cast<double>(sample_count(profile));
  EXPECT_LE(per_sample, 4.0);
}

// The parts of a written file, in order, with the name a reader gives each in its errors.
struct Part {
  std::string name;
  std::size_t offset = 0;
  std::size_t size = 0;
};

std::vector<Part> parts_of(const std::string& binary, const PackedProfile& profile) {
  std::vector<Part> parts = {{"header", 8, 8}};
  std::vector<std::string> frames = {"block index", "steps"};
  for (std::size_t t = 0; t < profile.tiles.size(); ++t) {
    const std::size_t samples = profile.tiles[t].samples.size();
    for (std::size_t b = 0; b * 65536 < samples; ++b) {
      frames.push_back("tiles[" + std::to_string(t) + "].blocks[" + std::to_string(b) + "]");
    }
  }
  // The block index is its size (8 bytes) and its frame.
  std::size_t offset = 24;
  for (const auto& name : frames) {
    const std::size_t size =
        ZSTD_findFrameCompressedSize(binary.data() + offset, binary.size() - offset);
    EXPECT_FALSE(ZSTD_isError(size)) << name;
    if (name == "block index") {
      parts.push_back({name, 16, 8 + size});
    } else {
      parts.push_back({name, offset, size});
    }
    offset += size;
  }
  EXPECT_EQ(offset, binary.size());
  return parts;
}

// Any flipped bit is refused, naming the part of the file it is in, unless the frame it is in
// still holds exactly the same content (a zstd decoder does not read every bit of a compressed
// block, and some bits encode the same content another way): then the profile read is exactly the
// one written. Any cut is refused, naming the part.
TEST(BinaryProfile, RefusesEveryFlippedBitThatChangesTheProfileAndEveryCutNamingThePart) {
  PackedProfile profile = random_profile(3);
  profile.tiles.resize(2);
  profile.tiles[1].samples.assign(70000, {.step = 1, .start_cycle = 5, .end_cycle = 9});
  const std::string binary = write_binary_profile(profile);
  const auto parts = parts_of(binary, profile);
  ASSERT_EQ(parts.back().name, "tiles[1].blocks[1]");
  const auto refusal = [&](const std::string& bytes) -> std::string {
    try {
      if (read_binary_profile(bytes, "p.zprof") == profile) return "the same profile";
    } catch (const ProfileReadError& error) {
      EXPECT_EQ(error.source(), "p.zprof");
      return error.json_path() + ": " + error.problem();
    }
    return "another profile";
  };
  std::size_t same = 0;
  for (const auto& part : parts) {
    for (std::size_t bit = 8 * part.offset; bit < 8 * (part.offset + part.size); ++bit) {
      std::string damaged = binary;
      damaged[bit / 8] = static_cast<char>(damaged[bit / 8] ^ (1 << (bit % 8)));
      const std::string problem = refusal(damaged);
      same += problem == "the same profile";
      ASSERT_TRUE(problem == "the same profile" || problem.rfind(part.name + ": ", 0) == 0)
          << "byte " << bit / 8 << " bit " << bit % 8 << ": " << problem;
    }
    // A cut anywhere in the part; the header's cut names the header.
    for (std::size_t size = part.offset; size < part.offset + part.size; ++size) {
      const std::string problem = refusal(binary.substr(0, size));
      ASSERT_EQ(problem.rfind(part.name + ": cut short", 0), 0u)
          << "size " << size << ": " << problem;
    }
  }
  EXPECT_LT(same, binary.size());  // a few bits in some compressed blocks, not one a byte
  EXPECT_EQ(refusal(binary + '\0'), ": 1 bytes after the last block");
  EXPECT_EQ(refusal(binary.substr(0, 5)),
            ": not a binary profile: it does not start with its magic");
}

// One zstd frame with its size and checksum, as the format wants every part.
std::string zstd_frame(const std::string& content) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  std::string frame(ZSTD_compressBound(content.size()), '\0');
  frame.resize(ZSTD_compress2(context, frame.data(), frame.size(), content.data(), content.size()));
  ZSTD_freeCCtx(context);
  return frame;
}

std::string varint(std::uint64_t value) {
  std::string bytes;
  for (; value >= 0x80; value >>= 7) bytes += static_cast<char>(value | 0x80);
  return bytes + static_cast<char>(value);
}

// A file made by hand: the header, a block index frame of `index` and the frames after it.
std::string binary_file(const std::string& index, const std::string& frames) {
  const std::string index_frame = zstd_frame(index);
  std::string bytes("\x89ZPROF\r\n\x01\0\0\0\0\0\0\0", 16);
  for (int i = 0; i < 8; ++i) bytes += static_cast<char>(index_frame.size() >> (8 * i));
  return bytes + index_frame + frames;
}

// A binary profile is held to the text reader's 4 GiB: one whose text would take more (counting
// the fewest bytes of text each tile, sample, step, metadata entry and string takes) is refused
// as too large before anything is allocated for the part that passes the limit, however few
// bytes claim it.
TEST(BinaryProfile, ProfilesWhoseTextWouldPassTheLimitAreRefusedBeforeTheyAreMade) {
  const std::uint64_t limit = 0xFFFFFFFF;
  const auto steps_file = [](const std::string& step) {
    const std::string steps = zstd_frame(step);
    return binary_file(varint(0) + varint(1) + varint(steps.size()) + varint(0), steps);
  };
  const struct {
    std::string name;
    std::string bytes;
    std::string where;
  } bombs[] = {
      {"tiles", binary_file(varint(0) + varint(0) + varint(0) + varint(limit / 32 + 1), ""),
       "block index"},
      {"samples",
       binary_file(
           varint(0) + varint(0) + varint(0) + varint(1) + varint(0) + varint(limit / 8 + 1), ""),
       "block index"},
      {"samples of two tiles",
       binary_file(varint(0) + varint(0) + varint(0) + varint(2) + varint(0) +
                       varint(limit / 16 + 1) + varint(0) + varint(limit / 16 + 1) +
                       std::string(8192, '\0'),  // room for the blocks' sizes
                   ""),
       "block index"},
      {"steps", binary_file(varint(0) + varint(limit / 40 + 1) + varint(0) + varint(0), ""),
       "block index"},
      {"a name", steps_file(std::string(4, '\0') + varint(limit)), "steps[0]"},
      {"metadata entries",
       steps_file(std::string(6, '\0') + varint(limit / 22) + std::string(100, '\0')), "steps[0]"},
  };
  for (const auto& bomb : bombs) {
    SCOPED_TRACE(bomb.name);
    try {
      read_binary_profile(bomb.bytes, "bomb.zprof");
      ADD_FAILURE() << "read";
    } catch (const ProfileReadError& error) {
      EXPECT_EQ(error.json_path() + ": " + error.problem(),
                bomb.where +
                    ": too large: the reader takes up to 4 GiB of text, and this profile's text "
                    "would take more");
    }
  }
}

TEST(BinaryProfile, FilesAreReadOrStreamedAndErrorsNameTheFile) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("zel_binary_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "any.name").string();
  const auto profile = random_profile(5);
  write_binary_profile_file(profile, path);
  EXPECT_EQ(read_packed_profile_file(path), profile);
  EXPECT_EQ(read_profile_file(path), unpack(profile));

  // Damage the last byte (a block's checksum): the error names the file and the block.
  std::string bytes = write_binary_profile(profile);
  bytes.back() = static_cast<char>(bytes.back() ^ 1);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  try {
    read_packed_profile_file(path);
    ADD_FAILURE() << "a damaged file was read";
  } catch (const ProfileReadError& error) {
    EXPECT_EQ(std::string(error.what()).rfind(path + ": tiles[", 0), 0u) << error.what();
  }

  // A file cut short while it is read (here once its size is known and before its first part is
  // read: in the header, the block index, the blocks, at a page's end) is an error naming the
  // file, never a signal (SIGBUS, as it was through a memory map).
  const auto larger =
      zel_generator::generate_packed_profile({.tiles = 64, .epochs = 10, .phases = 20, .seed = 4});
  bytes = write_binary_profile(larger);
  ASSERT_GT(bytes.size(), 3 * 4096u);
  const auto parts = parts_of(bytes, larger);
  for (const std::size_t cut : {std::size_t{10}, parts[1].offset + 12, std::size_t{4096}}) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    const ReadOptions cutting{.progress = [&](std::uint64_t done, std::uint64_t) {
      if (done == 0) std::filesystem::resize_file(path, cut);
    }};
    try {
      read_packed_profile_file(path, cutting);
      ADD_FAILURE() << "a file cut to " << cut << " bytes was read";
    } catch (const ProfileReadError& error) {
      EXPECT_EQ(error.source(), path);
      EXPECT_EQ(error.problem().rfind("cut short while it was read", 0), 0u) << error.what();
    }
  }
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace zel_storage
