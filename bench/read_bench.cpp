// Reading the stored format, from memory, in bytes and samples per second:
// - read_stored_profile: into records, the profile of 1472 tiles (about 10^6 samples);
// - read_packed_stored_profile: into the packed form, the same profile and one of 10^7 samples
//   (1472 tiles, 35 epochs of 68 phases). This reader uses two threads, so it is timed by the
//   wall clock (UseRealTime), not by the CPU time of the benchmark's thread.
// - read_stored_profile_file: the 10^7-sample profile from a file in the page cache, plain, gzip
//   (zlib level 6, as gzip's default) and zstd (level 3, as zstd's default), into the packed
//   form (wall clock): what decompressing costs against reading the plain text.
// Each profile is generated and written to JSON once, before its first timing.
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>

#include <zel_generator/generator.hpp>
#include <zel_storage/storage.hpp>

#include "bench_profiles.hpp"

namespace {

// Bytes the allocator has handed out and not yet been given back, large blocks included.
std::size_t heap_bytes_in_use() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

void read_stored_profile(benchmark::State& state) {
  const auto& profile = zel_bench::profile_with_tiles(static_cast<std::uint32_t>(state.range(0)));
  const std::string json = zel_storage::write_profile(profile);
  const auto samples = zel_package::sample_count(profile);
  for (auto _ : state) {
    auto read = zel_storage::read_profile(json);
    benchmark::DoNotOptimize(read);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(json.size()));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(samples));
  state.counters["file_MB"] = static_cast<double>(json.size()) / 1e6;
}

BENCHMARK(read_stored_profile)->Arg(1472)->Unit(benchmark::kMillisecond);

// The stored text of a generated profile, and its sample count; made once per set of options.
const std::pair<std::string, std::size_t>& stored_text(std::uint32_t epochs, std::uint32_t phases) {
  static std::map<std::pair<std::uint32_t, std::uint32_t>, std::pair<std::string, std::size_t>>
      texts;
  auto& slot = texts[{epochs, phases}];
  if (slot.first.empty()) {
    const auto profile = zel_generator::generate_packed_profile(
        {.tiles = 1472, .epochs = epochs, .phases = phases, .seed = 2026, .clock_hz = 1330000000});
    slot = {zel_storage::write_profile(profile), zel_package::sample_count(profile)};
  }
  return slot;
}

void read_packed_stored_profile(benchmark::State& state) {
  const auto& [json, samples] = stored_text(static_cast<std::uint32_t>(state.range(0)),
                                            static_cast<std::uint32_t>(state.range(1)));
  std::size_t resident = 0;
  for (auto _ : state) {
    const std::size_t before = heap_bytes_in_use();
    auto read = zel_storage::read_packed_profile(json);
    resident = heap_bytes_in_use() - before;
    benchmark::DoNotOptimize(read);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(json.size()));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(samples));
  state.counters["file_MB"] = static_cast<double>(json.size()) / 1e6;
  state.counters["samples"] = static_cast<double>(samples);
  // The memory the loaded profile holds, as the allocator counts it: samples, tiles and steps.
  state.counters["bytes_per_sample"] = static_cast<double>(resident) / static_cast<double>(samples);
}

// Arguments: epochs and phases of the 1472-tile profile.
BENCHMARK(read_packed_stored_profile)
    ->ArgNames({"epochs", "phases"})
    ->Args({7, 34})
    ->Args({35, 68})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

std::string gzip_bytes(const std::string& text) {
  z_stream stream{};
  if (deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate failed");
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string zstd_bytes(const std::string& text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  const std::size_t size = ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3);
  if (ZSTD_isError(size)) throw std::runtime_error(ZSTD_getErrorName(size));
  out.resize(size);
  return out;
}

// The 10^7-sample profile as a file in the temporary folder: 0 plain, 1 gzip, 2 zstd; written once
// and removed when the program ends.
const std::string& stored_file(int format) {
  struct Files {
    std::map<int, std::string> paths;
    ~Files() {
      for (const auto& [format, path] : paths) std::filesystem::remove(path);
    }
  };
  static Files files;
  auto& path = files.paths[format];
  if (path.empty()) {
    const auto& json = stored_text(35, 68).first;
    static constexpr const char* suffixes[] = {".json", ".json.gz", ".json.zst"};
    path = (std::filesystem::temp_directory_path() /
            ("zel_read_bench_" + std::to_string(::getpid()) + suffixes[format]))
               .string();
    std::ofstream(path, std::ios::binary) << (format == 0   ? json
                                              : format == 1 ? gzip_bytes(json)
                                                            : zstd_bytes(json));
  }
  return path;
}

void read_stored_profile_file(benchmark::State& state) {
  const auto& path = stored_file(static_cast<int>(state.range(0)));
  const auto samples = stored_text(35, 68).second;
  for (auto _ : state) {
    auto read = zel_storage::read_packed_profile_file(path);
    benchmark::DoNotOptimize(read);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(samples));
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}

// Argument: 0 plain, 1 gzip, 2 zstd.
BENCHMARK(read_stored_profile_file)
    ->ArgName("format")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
