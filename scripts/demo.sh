#!/usr/bin/env bash
# Installs what is missing, builds, and opens the utility on the simulated ZARN
# device: versions from the simulated mailbox, a sample update file ready to
# pick, a flash that keeps its content between runs, and timing slow enough to
# watch the bars move.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --parallel "$(nproc)" --target zarn-update-utility zarnsim zarn_sample

state=${XDG_STATE_HOME:-$HOME/.local/state}/zarn-update-utility
mkdir -p "$state"
root=$(pwd)
echo "Sample update file: $root/$build/samples/sample.zarnru"
# The flash file is shared by every instance started here; it has been a sparse
# file of 4 GiB since the simulator maps it, and the earlier demo-flash.bin,
# of the format before, is left alone.
flash=$state/demo-flash-2.bin
echo "Simulated flash kept in: $flash"

# The file dialog opens in the working directory, where the sample lies.
cd "$build/samples"
exec env LD_PRELOAD="$root/$build/simulator/libzarnsim.so${LD_PRELOAD:+:$LD_PRELOAD}" \
  ZARNSIM_TIMING=demo ZARNSIM_FLASH_FILE="$flash" \
  "$root/$build/app/zarn-update-utility" "$@"
