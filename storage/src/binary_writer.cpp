// Writing the binary profile file. The block index comes before the blocks and holds their sizes,
// so the blocks are compressed twice: once to measure them, once to write them. That keeps the
// writer streaming (one block in memory at a time) at the cost of compressing twice.
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <zstd.h>

#include <zel_storage/binary_profile.hpp>

#include "binary_format.hpp"
#include "file_io.hpp"

namespace zel_storage {
using namespace zel_package;
namespace {

using namespace detail;

// Makes the zstd frames of the file: the same content always gives the same frame.
class FrameMaker {
 public:
  FrameMaker() : context_(ZSTD_createCCtx(), &ZSTD_freeCCtx) {
    if (!context_) throw std::bad_alloc();
    check(
        ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_compressionLevel, binary_compression_level));
    check(ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_checksumFlag, 1));
    check(ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_contentSizeFlag, 1));
  }

  const std::string& frame(std::string_view content) {
    frame_.resize(ZSTD_compressBound(content.size()));
    frame_.resize(check(ZSTD_compress2(context_.get(), frame_.data(), frame_.size(), content.data(),
                                       content.size())));
    return frame_;
  }

 private:
  static std::size_t check(std::size_t result) {
    if (ZSTD_isError(result)) {
      throw std::runtime_error(std::string("cannot compress the profile: ") +
                               ZSTD_getErrorName(result));
    }
    return result;
  }

  std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context_;
  std::string frame_;
};

void put_string(std::string& out, const std::string& text) {
  put_varint(out, text.size());
  out += text;
}

std::string steps_content(const std::vector<ProfileStep>& steps) {
  std::string out;
  for (const auto& step : steps) {
    put_varint(out, step.local_index);
    put_varint(out, step.phase);
    put_varint(out, step.epoch);
    put_varint(out, static_cast<std::uint8_t>(step.kind));
    put_string(out, step.operation);
    put_string(out, step.kernel);
    put_varint(out, step.metadata.size());
    for (const auto& entry : step.metadata) {
      put_string(out, entry.name);
      put_string(out, entry.value);
    }
  }
  return out;
}

// One block's samples by column: step index as a difference from the previous one, start as a
// difference from the previous sample's end, then length; the first sample of a block follows an
// imagined sample of step 0 ending at 0, so every block decodes on its own.
void block_content(const PackedSample* samples, std::size_t count, std::string& out) {
  out.clear();
  std::uint32_t previous_step = 0;
  for (std::size_t i = 0; i < count; ++i) {
    put_varint(out, zigzag64(std::int64_t{samples[i].step} - std::int64_t{previous_step}));
    previous_step = samples[i].step;
  }
  std::uint32_t previous_end = 0;
  for (std::size_t i = 0; i < count; ++i) {
    put_varint(out, zigzag32(samples[i].start_cycle - previous_end));
    previous_end = samples[i].end_cycle;
  }
  for (std::size_t i = 0; i < count; ++i) {
    put_varint(out, samples[i].end_cycle - samples[i].start_cycle);
  }
}

// Calls visit(samples, count) for every block of the profile, in file order.
template <typename Visit>
void for_each_block(const PackedProfile& profile, Visit&& visit) {
  for (const auto& tile : profile.tiles) {
    for (std::size_t first = 0; first < tile.samples.size(); first += samples_per_block) {
      visit(tile.samples.data() + first, std::min(samples_per_block, tile.samples.size() - first));
    }
  }
}

void write_binary(const PackedProfile& profile, const std::function<void(std::string_view)>& emit) {
  check_writable_profile(profile);
  FrameMaker maker;
  std::string content;
  std::vector<std::uint64_t> block_sizes;
  for_each_block(profile, [&](const PackedSample* samples, std::size_t count) {
    block_content(samples, count, content);
    block_sizes.push_back(maker.frame(content).size());
  });
  const std::string steps = maker.frame(steps_content(profile.steps));

  content.clear();
  put_varint(content, profile.clock_hz);
  put_varint(content, profile.steps.size());
  put_varint(content, steps.size());
  put_varint(content, profile.tiles.size());
  for (const auto& tile : profile.tiles) {
    put_varint(content, tile.physical_tile);
    put_varint(content, tile.samples.size());
  }
  for (const auto size : block_sizes) put_varint(content, size);
  const std::string& index = maker.frame(content);

  std::string header(binary_profile_magic);
  put_u32(header, binary_version);
  put_u32(header, 0);
  put_u64(header, index.size());
  emit(header);
  emit(index);
  emit(steps);
  std::size_t block = 0;
  for_each_block(profile, [&](const PackedSample* samples, std::size_t count) {
    block_content(samples, count, content);
    const std::string& frame = maker.frame(content);
    if (frame.size() != block_sizes[block++]) {
      throw std::logic_error("cannot write the profile: a block compressed differently twice");
    }
    emit(frame);
  });
}

}  // namespace

bool is_binary_profile(std::string_view bytes) noexcept {
  return bytes.substr(0, binary_profile_magic.size()) == binary_profile_magic;
}

std::string write_binary_profile(const PackedProfile& profile) {
  std::string out;
  write_binary(profile, [&](std::string_view bytes) { out += bytes; });
  return out;
}

void write_binary_profile_file(const PackedProfile& profile, const std::string& path) {
  check_writable_profile(profile);
  write_text_file(path, [&](OutputStream& stream) {
    write_binary(profile, [&](std::string_view bytes) { stream.write(bytes); });
  });
}

}  // namespace zel_storage
