#!/usr/bin/env bash
# Builds the explorer's parameter fuzzer with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs it for SECONDS over a copy of its seed corpus, held to
# 2048 MB and 10 s per input. Exits non-zero when the build fails or the fuzzer finds a fault; the
# input is then left in BUILD/artifacts/. BUILD is build/fuzz-server, or ZEL_FUZZ_SERVER_BUILD_DIR.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 SECONDS" >&2
  exit 2
fi
seconds=$1
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build="${ZEL_FUZZ_SERVER_BUILD_DIR:-$root/build/fuzz-server}"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DZEL_PROFILE_BUILD_TESTS=OFF -DZEL_PROFILE_BUILD_TOOLS=ON -DZEL_PROFILE_BUILD_BENCHMARKS=OFF \
  -DZEL_PROFILE_BUILD_FUZZERS=ON -DZEL_PROFILE_INSTALL=OFF \
  "-DCMAKE_CXX_FLAGS=$flags" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined"
cmake --build "$build" -j2 --target server_parameters_fuzzer

mkdir -p "$build/artifacts"
corpus="$build/corpus-server_parameters_fuzzer"
rm -rf "$corpus"
mkdir -p "$corpus"
cp "$here"/corpus/* "$corpus"/
"$build/server/fuzz/server_parameters_fuzzer" \
  -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$build/artifacts/server_parameters_fuzzer-" "$corpus"
