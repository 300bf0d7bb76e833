// Reading and writing the binary profile file, side by side with the text, on the generated
// profile of 1472 tiles, 35 epochs of 68 phases (about 10^7 samples):
// - read_binary_profile: from memory into the packed form (two threads, so by the wall clock);
//   counters: the file's bytes per sample and its size;
// - read_binary_profile_file / read_text_profile_file: from a file in the page cache (the binary
//   one read part by part with pread), into the packed form;
// - write_binary_profile: the packed profile to bytes (its blocks compressed twice).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include <zel_generator/generator.hpp>
#include <zel_storage/binary_profile.hpp>
#include <zel_storage/storage.hpp>

namespace {

const zel_package::PackedProfile& generated() {
  static const auto profile = zel_generator::generate_packed_profile(
      {.tiles = 1472, .epochs = 35, .phases = 68, .seed = 2026, .clock_hz = 1330000000});
  return profile;
}

const std::string& binary() {
  static const std::string bytes = zel_storage::write_binary_profile(generated());
  return bytes;
}

// The profile in a file of the temporary folder, binary or text; removed when the program ends.
const std::string& stored_file(bool binary_file) {
  struct File {
    std::string path;
    explicit File(bool binary_form) {
      path =
          (std::filesystem::temp_directory_path() /
           ("zel_binary_bench_" + std::to_string(::getpid()) + (binary_form ? ".zprof" : ".json")))
              .string();
      if (binary_form) {
        zel_storage::write_binary_profile_file(generated(), path);
      } else {
        zel_storage::write_profile_file(generated(), path);
      }
    }
    ~File() { std::filesystem::remove(path); }
  };
  static const File binary_one(true);
  static const File text_one(false);
  return binary_file ? binary_one.path : text_one.path;
}

void count(benchmark::State& state, std::uint64_t bytes) {
  const auto samples = zel_package::sample_count(generated());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(samples));
  state.counters["file_MB"] = static_cast<double>(bytes) / 1e6;
  state.counters["bytes_per_sample"] = static_cast<double>(bytes) / static_cast<double>(samples);
}

void read_binary_profile(benchmark::State& state) {
  const std::string& bytes = binary();  // made before the timing starts
  for (auto _ : state) {
    auto read = zel_storage::read_binary_profile(bytes);
    benchmark::DoNotOptimize(read);
  }
  count(state, binary().size());
}
BENCHMARK(read_binary_profile)->UseRealTime()->Unit(benchmark::kMillisecond);

void read_profile_file(benchmark::State& state, bool binary_file) {
  const std::string& path = stored_file(binary_file);
  for (auto _ : state) {
    auto read = zel_storage::read_packed_profile_file(path);
    benchmark::DoNotOptimize(read);
  }
  count(state, std::filesystem::file_size(path));
}
BENCHMARK_CAPTURE(read_profile_file, binary, true)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(read_profile_file, text, false)->UseRealTime()->Unit(benchmark::kMillisecond);

void write_binary_profile(benchmark::State& state) {
  const auto& profile = generated();
  for (auto _ : state) {
    auto bytes = zel_storage::write_binary_profile(profile);
    benchmark::DoNotOptimize(bytes);
  }
  count(state, binary().size());
}
BENCHMARK(write_binary_profile)->Unit(benchmark::kMillisecond);

}  // namespace
