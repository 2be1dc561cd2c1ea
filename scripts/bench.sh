#!/usr/bin/env bash
# Builds the benchmarks and prints their one table (Markdown) on stdout, with
# the machine it ran on; progress goes to stderr. Never fails on a figure.
#   ZARN_BENCH_QUICK=1 scripts/bench.sh   leaves out the 8 MiB update at NOR speed (about 30 s)
set -euo pipefail
cd "$(dirname "$0")/.."

# valgrind: the instruction counts of part 9.
scripts/install-deps.sh valgrind
build=${BUILD_DIR:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target zarn-bench >&2
exec env QT_QPA_PLATFORM=offscreen "$build/bench/zarn-bench" "$@"
