#!/usr/bin/env bash
# Builds the profile reader fuzzer with clang (libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer) in build/fuzz and runs it for SECONDS seconds over a copy of the seed
# corpus. Exits non-zero when the build fails or the fuzzer finds a crash; the crashing input is
# then left in build/fuzz/artifacts/.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 SECONDS" >&2
  exit 2
fi
seconds=$1
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build="$root/build/fuzz"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DZEL_PROFILE_BUILD_TESTS=OFF -DZEL_PROFILE_BUILD_TOOLS=OFF -DZEL_PROFILE_BUILD_BENCHMARKS=OFF \
  -DZEL_PROFILE_BUILD_FUZZERS=ON \
  "-DCMAKE_CXX_FLAGS=$flags" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined"
cmake --build "$build" -j2 --target profile_reader_fuzzer

corpus="$build/corpus"
rm -rf "$corpus"
mkdir -p "$corpus" "$build/artifacts"
cp "$here"/corpus/* "$corpus"/

"$build/zel-package/storage/fuzz/profile_reader_fuzzer" \
  -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
  -dict="$here/profile.dict" -artifact_prefix="$build/artifacts/" "$corpus"
