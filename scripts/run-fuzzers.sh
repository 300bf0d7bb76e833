#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer) and
# runs each for a fifth of SECONDS over a copy of its seed corpus, all from one build:
# - profile_reader_fuzzer: the readers against each other, and writing against reading;
# - binary_reader_fuzzer: the binary reader, whose every accepted input writes back to bytes that
#   read as the same profile (seeds in binary_corpus/);
# - profile_query_fuzzer: reads a profile and runs queries on it, the engine against a plain
#   reference on one and two threads, so that slow or memory-hungry inputs are caught as well as
#   crashes;
# - partial_bytes_fuzzer (profile/fuzz): decodes partial results, which may come from another
#   machine, and merges and finishes what decodes;
# - server_parameters_fuzzer (server/fuzz): reads the explorer's request parameters into a query.
# Every run is held to 2048 MB of memory and 10 s per input. Exits non-zero when the build fails
# or a fuzzer finds a fault; the input is then left in BUILD/artifacts/. BUILD is build/fuzz, or
# ZEL_FUZZ_BUILD_DIR when set.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 SECONDS" >&2
  exit 2
fi
seconds=$1
each=$(( seconds / 5 > 0 ? seconds / 5 : 1 ))
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build="${ZEL_FUZZ_BUILD_DIR:-$root/build/fuzz}"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DZEL_PROFILE_BUILD_TESTS=OFF -DZEL_PROFILE_BUILD_TOOLS=ON -DZEL_PROFILE_BUILD_BENCHMARKS=OFF \
  -DZEL_PROFILE_BUILD_FUZZERS=ON -DZEL_PROFILE_INSTALL=OFF \
  "-DCMAKE_CXX_FLAGS=$flags" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined"
cmake --build "$build" -j2 --target profile_reader_fuzzer binary_reader_fuzzer profile_query_fuzzer \
  partial_bytes_fuzzer server_parameters_fuzzer

mkdir -p "$build/artifacts"
# Each fuzzer: its folder under the source and build trees, its dictionary, if any, its seed corpus
# folder (default: corpus) in the source folder and its longest input (default: 8192 bytes).
run_fuzzer() {
  local fuzzer=$1 folder=$2 dictionary=$3 seeds=${4:-corpus} max_len=${5:-8192}
  local corpus="$build/corpus-$fuzzer"
  rm -rf "$corpus"
  mkdir -p "$corpus"
  cp "$root/$folder/$seeds"/* "$corpus"/
  echo "== $fuzzer ($each s)"
  "$build/$folder/$fuzzer" \
    -max_total_time="$each" -max_len="$max_len" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    ${dictionary:+-dict="$dictionary"} -artifact_prefix="$build/artifacts/$fuzzer-" "$corpus"
}
run_fuzzer profile_reader_fuzzer storage/fuzz "$root/storage/fuzz/profile.dict"
run_fuzzer binary_reader_fuzzer storage/fuzz "" binary_corpus
run_fuzzer profile_query_fuzzer storage/fuzz "$root/storage/fuzz/profile.dict"
run_fuzzer partial_bytes_fuzzer profile/fuzz ""
run_fuzzer server_parameters_fuzzer server/fuzz "" corpus 4096
