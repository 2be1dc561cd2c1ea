#!/usr/bin/env bash
# Runs the Ansible playbook of contrib/ansible against this machine (connection
# local) on the simulated device, and checks that the flash then holds the
# sample update and that the play reported it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh ansible-core
build=${BUILD_DIR:-build-ansible}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN_BUILD_TESTS=OFF -DZARN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target zarn-update zarnsim zarn_sample

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '[zarn_systems]\nlocalhost ansible_connection=local ansible_python_interpreter=/usr/bin/python3\n' >"$work/inventory"
cat >"$work/vars.json" <<JSON
{
  "zarn_update_file": "$root/$build/samples/sample.zarnru",
  "zarn_update_destination": "$work/host",
  "zarn_update_command": "$root/$build/cli/zarn-update",
  "zarn_update_become": false,
  "zarn_update_environment": {
    "LD_PRELOAD": "$root/$build/simulator/libzarnsim.so",
    "ZARNSIM_FLASH_FILE": "$work/flash.bin",
    "XDG_STATE_HOME": "$work/state"
  }
}
JSON
ANSIBLE_NOCOLOR=1 ansible-playbook -i "$work/inventory" contrib/ansible/update.yml -e "@$work/vars.json" | tee "$work/play.log"
grep -q 'localhost: succeeded (Done updating. It is now safe to restart the computer.)' "$work/play.log"
LD_PRELOAD="$root/$build/simulator/libzarnsim.so" ZARNSIM_FLASH_FILE="$work/flash.bin" XDG_STATE_HOME="$work/state" \
  "$build/cli/zarn-update" verify "$build/samples/sample.zarnru"
echo "check-ansible: the playbook updated and verified the simulated flash"
