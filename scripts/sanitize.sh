#!/usr/bin/env bash
# Builds the whole suite with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test, then builds the threaded tests (worker runs, end to end)
# with ThreadSanitizer and runs those. Any report fails the script.
#   SANITIZE_BUILD_PREFIX  build directories <prefix>-asan and <prefix>-tsan (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh
prefix=${SANITIZE_BUILD_PREFIX:-build}
jobs=$(nproc)
# -O1 keeps the sanitized tests fast enough for CI; -g1 is all a report's file and line need.
common=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN_WERROR=ON -DZARN_BUILD_BENCH=OFF
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1")

# Tests that run the worker on its own thread, through the engine or the window.
threaded='^(tst_updaterun|tst_updatecontrol|tst_windowrun|tst_faultmatrix|tst_soak|tst_badinput)$'
threaded_targets=(tst_updaterun tst_updatecontrol tst_windowrun tst_faultmatrix tst_soak tst_badinput)

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
asan=(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
cmake -S . -B "$prefix-asan" "${common[@]}" \
  "-DCMAKE_C_FLAGS=${asan[*]}" "-DCMAKE_CXX_FLAGS=${asan[*]}" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
  "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined"
cmake --build "$prefix-asan" --parallel "$jobs"

# Tests link the simulated device as their first library, and some start
# programs with it preloaded: either way it stands in front of libasan, which
# then need not be first, since the simulator interposes no allocation function.
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:fast_unwind_on_malloc=0:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0
ctest --test-dir "$prefix-asan" --output-on-failure --parallel "$jobs"
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

echo "== ThreadSanitizer"
cmake -S . -B "$prefix-tsan" "${common[@]}" \
  -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
cmake --build "$prefix-tsan" --parallel "$jobs" --target "${threaded_targets[@]}"
export TSAN_OPTIONS="halt_on_error=1:abort_on_error=1:suppressions=$root/tests/sanitizers/tsan.supp"
ctest --test-dir "$prefix-tsan" --output-on-failure --parallel "$jobs" -R "$threaded"
