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

# Tests that run the worker on its own thread, through the engine, the window
# or the program in a child process.
threaded_targets=(tst_updaterun tst_changedpages tst_windowrun tst_runinhibitor tst_quitsignals tst_faultmatrix tst_cli
  tst_clirecords)
threaded="^($(IFS='|'; echo "${threaded_targets[*]}"))\$"

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
asan=(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
cmake -S . -B "$prefix-asan" "${common[@]}" \
  "-DCMAKE_C_FLAGS=${asan[*]}" "-DCMAKE_CXX_FLAGS=${asan[*]}" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
  "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined"
cmake --build "$prefix-asan" --parallel "$jobs"

# Test executables have libasan first and the simulated device right behind it.
# Tests that start a probe or the program with LD_PRELOAD=libzarnsim put the
# simulator in front of libasan, and ASan would refuse to start them ("ASan
# runtime does not come first in initial library list"). The order is harmless
# here: the simulator interposes no allocation function and passes every call
# it does not serve on to the next definition, libasan's interceptor.
# fast_unwind_on_malloc=0 gives the leak suppression the full stacks it needs;
# tests/sanitizers/asan.supp lets one X library's known overread pass.
export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:fast_unwind_on_malloc=0:abort_on_error=1:strict_string_checks=1:suppressions=$root/tests/sanitizers/asan.supp
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0
ctest --test-dir "$prefix-asan" --output-on-failure --parallel "$jobs"
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

echo "== ThreadSanitizer"
cmake -S . -B "$prefix-tsan" "${common[@]}" \
  -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread
cmake --build "$prefix-tsan" --parallel "$jobs" --target "${threaded_targets[@]}"
# Qt comes uninstrumented: its mutexes hand over on futexes that ThreadSanitizer
# cannot see, so every access Qt itself makes (a queued signal's arguments, an
# event, a thread's own wait condition) would look unordered. The option leaves
# those accesses unjudged and keeps every access our code makes under watch; no
# report is suppressed. A report fails the test through the exit code.
export TSAN_OPTIONS=ignore_noninstrumented_modules=1:halt_on_error=0:second_deadlock_stack=1
ctest --test-dir "$prefix-tsan" --output-on-failure --parallel "$jobs" -R "$threaded"
