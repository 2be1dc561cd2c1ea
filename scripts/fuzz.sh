#!/usr/bin/env bash
# Fuzzes every reader of bytes that someone other than the operator may
# control, one target after the other, each for a bounded time:
#   fuzz_updatefile  the update-file reader and its pre-flight check
#   fuzz_checksums   the checksum file beside an update file
#   fuzz_trust       the certificates and revocation lists of the trusted folders
#   fuzz_history     an entry of the run history
#   FUZZ_SECONDS   how long to fuzz each target (default 30)
#   FUZZ_TARGETS   which targets (default all four, in that order)
#   FUZZ_BUILD_DIR build directory (default build-fuzz)
# Further arguments go to libFuzzer (for example -jobs=1). A crash, a broken
# invariant or a hang fails the script; the input that did it is kept in
# <build>/fuzz/artifacts/<target>/ and can be replayed with: <build>/fuzz/<target> <file>
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh clang libclang-rt-14-dev
build=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-30}
targets=${FUZZ_TARGETS:-fuzz_updatefile fuzz_checksums fuzz_trust fuzz_history}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DZARN_WERROR=ON \
  -DZARN_BUILD_TESTS=OFF -DZARN_BUILD_BENCH=OFF -DZARN_BUILD_FUZZ=ON
# shellcheck disable=SC2086 # the targets are words
cmake --build "$build" --target $targets fuzz_seeds --parallel "$(nproc)"

seeds=$build/fuzz/seeds
"$build/fuzz/fuzz_seeds" "$seeds"
# The trust store of the command line's tests, each file alone and all in one:
# together, a signer its authority's list revokes.
mkdir -p "$seeds/trust"
cp tests/cli/trusted/* "$seeds/trust/"
cat tests/cli/trusted/*.pem tests/cli/trusted/vendor.crl >"$seeds/trust/together.pem"

# Inputs stay small: the update-file reader only ever looks at headers, and a
# larger file only adds image bytes it never reads; a checksum line, a
# certificate, a list of a few revocations and a history entry are all well
# under 4 KiB.
for target in $targets; do
  name=${target#fuzz_}
  corpus=$build/fuzz/corpus/$name
  artifacts=$build/fuzz/artifacts/$name
  mkdir -p "$corpus" "$artifacts"
  echo "== $target for $seconds s"
  # A leak of a library's own that a target meets (see the file) is not the product's.
  if [ -f "fuzz/$name.supp" ]; then
    export LSAN_OPTIONS=suppressions=$PWD/fuzz/$name.supp
  else
    unset LSAN_OPTIONS
  fi
  # The words of a format whose parser libFuzzer cannot see into.
  dictionary=()
  [ ! -f "fuzz/$name.dict" ] || dictionary=(-dict="fuzz/$name.dict")
  # New inputs go to the first directory; the seeds are only read.
  "$build/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -timeout=30 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "${dictionary[@]}" "$@" "$corpus" "$seeds/$name"
done
