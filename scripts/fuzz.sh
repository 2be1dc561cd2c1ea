#!/usr/bin/env bash
# Fuzzes the update-file reader and its pre-flight check for a bounded time.
#   FUZZ_SECONDS   how long to fuzz (default 60)
#   FUZZ_BUILD_DIR build directory (default build-fuzz)
# Further arguments go to libFuzzer (for example -jobs=1). A crash, a broken
# invariant or a hang fails the script; the input that did it is kept in
# <build>/fuzz/artifacts and can be replayed with: <build>/fuzz/fuzz_updatefile <file>
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh clang libclang-rt-14-dev
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZARN_WERROR=ON \
  -DZARN_BUILD_TESTS=OFF -DZARN_BUILD_BENCH=OFF -DZARN_BUILD_FUZZ=ON
cmake --build "$build" --target fuzz_updatefile fuzz_seeds --parallel "$(nproc)"

seeds=$build/fuzz/seeds
corpus=$build/fuzz/corpus
artifacts=$build/fuzz/artifacts
mkdir -p "$corpus" "$artifacts"
"$build/fuzz/fuzz_seeds" "$seeds"

# New inputs go to the first directory; the seeds are only read. Inputs stay
# small: the reader only ever looks at headers, and a larger file only adds
# image bytes it never reads.
"$build/fuzz/fuzz_updatefile" -max_total_time="$seconds" -max_len=4096 -timeout=30 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "$@" "$corpus" "$seeds"
