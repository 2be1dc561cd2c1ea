#!/usr/bin/env bash
# Runs the Ansible playbook of contrib/ansible against a fleet of hosts on this
# machine (local connections), each with its own simulated flash file and
# history, four times: a rollout that goes through, one that a host with a
# failing flash stops, one that a host the controller cannot reach stops, and
# one that a host whose update runs past its time limit stops. Checks the
# waves from the report, the report itself and every host's flash.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/install-deps.sh ansible-core openssh-client
build=${BUILD_DIR:-build-ansible}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN_BUILD_TESTS=OFF -DZARN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target zarn-update zarnsim zarn_sample

tool=$root/$build/cli/zarn-update
simulator=$root/$build/simulator/libzarnsim.so
sample=$root/$build/samples/sample.zarnru
sample_sha256=$(sha256sum "$sample" | cut -d' ' -f1)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Nine hosts take the default waves through all their sizes, the last one
# repeated: 1, then 5, then a quarter of 9 (2), then the 1 left.
hosts=(station-1 station-2 station-3 station-4 station-5 station-6 station-7 station-8 station-9)

passed=0
failed=0
check() { # what is checked, then the command that checks it
  if "${@:2}"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "check-ansible: FAILED: $1" >&2
  fi
}

# rollout DIR [failing|lost|slow HOST [VARIABLES]]: the fleet under DIR, HOST
# with a flash whose third write fails, one that the controller cannot reach
# (an ssh that answers as for a host that is down), or one whose device takes
# 20 ms to program each KiB (half a minute for the sample); runs the playbook in
# DIR (where the report goes by default), with the extra variables (JSON) if
# any, and keeps its exit status in DIR/status.
rollout() {
  local dir=$1 fault=${2:-} faulty=${3:-} variables=${4:-"{}"} host
  mkdir -p "$dir"
  if [ "$fault" = lost ]; then
    printf '#!/bin/sh\necho "ssh: connect to host %s port 22: Connection refused" >&2\nexit 255\n' "$faulty" >"$dir/ssh"
    chmod +x "$dir/ssh"
  fi
  {
    echo "zarn_systems:"
    echo "  vars: {ansible_connection: local, ansible_python_interpreter: /usr/bin/python3}"
    echo "  hosts:"
    for host in "${hosts[@]}"; do
      echo "    $host:"
      echo "      zarn_update_destination: \"$dir/$host/incoming\""
      echo "      zarn_update_environment:"
      echo "        LD_PRELOAD: \"$simulator\""
      echo "        ZARNSIM_FLASH_FILE: \"$dir/$host/flash.bin\""
      echo "        XDG_STATE_HOME: \"$dir/$host/state\""
      # Each host's own journal, never this machine's.
      mkdir -p "$dir/$host/journal"
      echo "        ZARN_JOURNAL_DIR: \"$dir/$host/journal\""
      # An update that takes time, so that the report's durations are not all zero.
      [ "$host" = "$faulty" ] && [ "$fault" = slow ] || echo "        ZARNSIM_TIMING: fast"
      if [ "$host" = "$faulty" ] && [ "$fault" = failing ]; then echo "        ZARNSIM_FAIL_CALL: write:3:EIO"; fi
      if [ "$host" = "$faulty" ] && [ "$fault" = slow ]; then echo "        ZARNSIM_TIMING: \"0,20000,0,0\""; fi
      if [ "$host" = "$faulty" ] && [ "$fault" = lost ]; then
        echo "      ansible_connection: ssh"
        echo "      ansible_ssh_executable: \"$dir/ssh\""
      fi
    done
  } >"$dir/inventory.yml"
  local status=0
  (cd "$dir" && ANSIBLE_NOCOLOR=1 ansible-playbook -i inventory.yml "$root/contrib/ansible/update.yml" \
    -e "{\"zarn_update_file\": \"$sample\", \"zarn_update_command\": \"$tool\", \"zarn_update_become\": false}" \
    -e "$variables") >"$dir/play.log" 2>&1 || status=$?
  echo "$status" >"$dir/status"
  cat "$dir/play.log" "$dir/zarn-update-report.txt" 2>/dev/null || true
}

# One line a host from the JSON report: host, wave, result, exit status, and
# whether signer, SHA-256 and duration are those of the sample's update.
report() {
  python3 - "$1/zarn-update-report.json" "$sample_sha256" <<'PY'
import json, sys
for row in json.load(open(sys.argv[1]))["hosts"]:
    ran = row["sha256"] == sys.argv[2] and row["signer"] == "" and isinstance(row["durationMs"], int)
    print(row["host"], row["wave"], row["result"].replace(" ", "-"), row["exitCode"], "recorded" if ran else "unrecorded")
PY
}

last_line() { # DIR HOST: the last line the report gives for HOST
  python3 -c 'import json, sys; print(*[r["lastLine"] for r in json.load(open(sys.argv[1]))["hosts"] if r["host"] == sys.argv[2]])' \
    "$1/zarn-update-report.json" "$2"
}

verify() { # DIR HOST: zarn-update verify's exit status against HOST's flash
  local status=0
  LD_PRELOAD=$simulator ZARNSIM_FLASH_FILE=$1/$2/flash.bin XDG_STATE_HOME=$1/$2/state \
    ZARN_JOURNAL_DIR=$1/$2/journal \
    "$tool" verify "$sample" >/dev/null 2>&1 || status=$?
  echo "$status"
}

untouched() { # DIR HOST: nothing reached HOST: no file copied, no flash, no history
  [ ! -e "$1/$2/incoming" ] && [ ! -e "$1/$2/flash.bin" ] && [ ! -e "$1/$2/state" ] &&
    [ -z "$(ls -A "$1/$2/journal")" ]
}

# A rollout that goes through: every host in its wave, every flash updated.
all=$work/all
rollout "$all"
check "the rollout ends with status 0" test "$(cat "$all/status")" = 0
check "the report: four waves, every host verified, with the update's history" test "$(report "$all")" = "station-1 1 verified 0 recorded
station-2 2 verified 0 recorded
station-3 2 verified 0 recorded
station-4 2 verified 0 recorded
station-5 2 verified 0 recorded
station-6 2 verified 0 recorded
station-7 3 verified 0 recorded
station-8 3 verified 0 recorded
station-9 4 verified 0 recorded"
check "the table counts 9 verified" grep -q ': 9 verified, 0 failed, 0 still running, 0 started, 0 not attempted$' \
  "$all/zarn-update-report.txt"
for host in "${hosts[@]}"; do
  check "$host's flash holds the update" test "$(verify "$all" "$host")" = 0
done
limit=$(python3 -c 'import math, os, sys; print(math.ceil(120 + 3 * 4 * os.path.getsize(sys.argv[1]) / 2**20))' "$sample")
check "each host's time limit: the file's size at the device's speed three times over, and two minutes" test \
  "$(python3 -c 'import json, sys; print(*{r["timeLimit"] for r in json.load(open(sys.argv[1]))["hosts"]})' \
    "$all/zarn-update-report.json")" = "$limit"

# station-4, in the second wave, fails: its wave ends, the third never starts.
stopped=$work/stopped
rollout "$stopped" failing station-4
check "the stopped rollout ends with status 2 (failed hosts)" test "$(cat "$stopped/status")" = 2
check "the report: the first two waves attempted, station-4 failed, the rest not attempted" \
  test "$(report "$stopped")" = "station-1 1 verified 0 recorded
station-2 2 verified 0 recorded
station-3 2 verified 0 recorded
station-4 2 failed 1 recorded
station-5 2 verified 0 recorded
station-6 2 verified 0 recorded
station-7 None not-attempted None unrecorded
station-8 None not-attempted None unrecorded
station-9 None not-attempted None unrecorded"
check "the report gives station-4's status line" test "$(last_line "$stopped" station-4)" = \
  "Error writing Flash memory at 0x800: Input/output error"
check "the table counts them" grep -q ': 5 verified, 1 failed, 0 still running, 0 started, 3 not attempted$' \
  "$stopped/zarn-update-report.txt"
check "the table's line for station-4" grep -qE "^station-4 +2 +failed +1 +- +$sample_sha256 +[0-9.]+ s +Error writing Flash memory at 0x800: Input/output error$" \
  "$stopped/zarn-update-report.txt"
check "the table's line for station-7" grep -qE '^station-7 +- +not attempted +- +- +- +-$' \
  "$stopped/zarn-update-report.txt"
for host in station-1 station-2 station-3 station-5 station-6; do
  check "$host's flash holds the update" test "$(verify "$stopped" "$host")" = 0
done
check "station-4's flash does not hold the update" test "$(verify "$stopped" station-4)" = 7
for host in station-7 station-8 station-9; do
  check "nothing reached $host" untouched "$stopped" "$host"
done

# station-2, in the second wave, cannot be reached: whether its update began is
# unknown, so the rollout stops after its wave as for a failure.
lost=$work/lost
rollout "$lost" lost station-2
check "the rollout with a lost host ends with status 2 (failed hosts)" test "$(cat "$lost/status")" = 2
check "the report: station-2 started, no result; the rest of its wave verified; the later waves not attempted" \
  test "$(report "$lost")" = "station-1 1 verified 0 recorded
station-2 2 started None unrecorded
station-3 2 verified 0 recorded
station-4 2 verified 0 recorded
station-5 2 verified 0 recorded
station-6 2 verified 0 recorded
station-7 None not-attempted None unrecorded
station-8 None not-attempted None unrecorded
station-9 None not-attempted None unrecorded"
check "the play names the lost host" grep -q 'Lost during this wave, the flash in an unknown state: station-2"' "$lost/play.log"
for host in station-2 station-7 station-8 station-9; do
  check "nothing reached $host" untouched "$lost" "$host"
done

# station-3, in the second wave, takes half a minute where the site allows 8 s:
# the play stops waiting for it, counts it as failed and stops the rollout after
# its wave, and leaves its update to run to its end.
slow=$work/slow
rollout "$slow" slow station-3 '{"zarn_update_timeout": 8, "zarn_update_poll": 1}'
holder=$(last_line "$slow" station-3 | sed -n 's/.*Another update of the ZARN flash is under way (process \([0-9]*\))\.$/\1/p')
running=no
if [ -n "$holder" ] && kill -0 "$holder" 2>/dev/null; then running=yes; fi
check "the rollout with a host past its time limit ends with status 2 (failed hosts)" test "$(cat "$slow/status")" = 2
check "the report: station-3 still running, the rest of its wave verified, the later waves not attempted" \
  test "$(report "$slow")" = "station-1 1 verified 0 recorded
station-2 2 verified 0 recorded
station-3 2 still-running None unrecorded
station-4 2 verified 0 recorded
station-5 2 verified 0 recorded
station-6 2 verified 0 recorded
station-7 None not-attempted None unrecorded
station-8 None not-attempted None unrecorded
station-9 None not-attempted None unrecorded"
check "the report names the process that holds station-3's flash, still updating it when the play ended" \
  test "$running" = yes
check "the table counts it" grep -q ': 5 verified, 0 failed, 1 still running, 0 started, 3 not attempted$' \
  "$slow/zarn-update-report.txt"
for _ in $(seq 120); do
  if [ -z "$holder" ] || ! kill -0 "$holder" 2>/dev/null; then break; fi
  sleep 1
done
check "station-3's update ended of itself, and its flash holds the update" test "$(verify "$slow" station-3)" = 0

echo "check-ansible: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
