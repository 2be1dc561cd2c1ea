#!/usr/bin/env bash
# Cuts the power of the simulated device in every call on the flash of an
# update, each time tearing the call in progress (ZARNSIM_CUT), and checks that
# the recovery brings the flash back to the very bytes it must hold:
#
#   update    zarn-update update cut at call N, then resume: the full update's flash
#   resume    a resume (of an update cut in the image that shares a page) cut at N,
#             then resume again: the full update's flash
#   restore   a restore after a full update cut at N, then restore again: the flash
#             as it was before the update
#   restore of a cut update
#             the same after an update cut as for resume
#
# The update file has three images: BOOT, APP in BOOT's first page, and CONF
# over two pages; the update before it left bytes where the new one leaves
# none. The cut points are the calls of an uncut run, read from the simulator's
# record. Prints one line per kind and the sum; exits 1 unless every cut point
# was recovered.
#
# ZARN_CUTS_EVERY=k sweeps only every k-th call and the calls at each image's
# first and last block (the test suite's subset). ZARN_CUTS_SEED sets the
# seed of the tears (default 1). With ZARN_UPDATE, ZARNSIM_LIBRARY and
# ZARNRU_BUILD all set (by CTest) nothing is built.
set -euo pipefail
cd "$(dirname "$0")/.."

every=${ZARN_CUTS_EVERY:-1}
seed=${ZARN_CUTS_SEED:-1}
if [ -n "${ZARN_UPDATE:-}" ] && [ -n "${ZARNSIM_LIBRARY:-}" ] && [ -n "${ZARNRU_BUILD:-}" ]; then
  tool=$ZARN_UPDATE simulator=$ZARNSIM_LIBRARY builder=$ZARNRU_BUILD
else
  build=${BUILD_DIR:-build-cuts}
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZARN_BUILD_TESTS=OFF -DZARN_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" --parallel "$(nproc)" --target zarn-update zarnsim zarnru-build >/dev/null
  tool=$PWD/$build/cli/zarn-update simulator=$PWD/$build/simulator/libzarnsim.so builder=$PWD/$build/tools/zarnru-build
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "check-power-cuts: $*" >&2
  exit 1
}

# The images of the update: name, address, size. Their first and last blocks
# are cut points of the subset: the last that the update writes (the size and
# the next 32 bytes of the file) and the last of the data, which the final
# read-back reads.
images=("BOOT 0x40000 5000" "APP 0x50000 4000" "CONF 0x80000 $((0x20000 + 1000))")
image_args=() blocks=()
for image in "${images[@]}"; do
  read -r name address size <<<"$image"
  image_args+=(-i "name=$name,version=2.0.0.0,address=$address,pattern=$size,seed=$((address >> 16))")
  blocks+=("$address" "$((address + (size + 31) / 1024 * 1024))" "$((address + (size - 1) / 1024 * 1024))")
done
"$builder" --quiet "${image_args[@]}" "$work/new.zarnru"
# The update before it: a longer BOOT and CONF, whose ends only a restore brings back.
"$builder" --quiet -i name=BOOT,version=1.0.0.0,address=0x40000,pattern=$((0x9000)),seed=101 \
  -i name=APP,version=1.0.0.0,address=0x50000,pattern=4000,seed=102 \
  -i name=CONF,version=1.0.0.0,address=0x80000,pattern=$((0x24000)),seed=103 "$work/old.zarnru"

# Every run is on one state, in one place, so that whatever the journal notes
# of its own paths holds: the flash file and the journal (history, recovery
# copies) in $live, saved as a base and loaded again.
live=$work/live
mkdir -p "$live"
save() { rm -rf "${work:?}/$1" && cp -a --sparse=always "$live" "$work/$1"; }
load() { rm -rf "$live" && cp -a --sparse=always "$work/$1" "$live"; }
# run [VARIABLE=value...] -- ARGUMENTS: zarn-update on the live state, bounded,
# its output in $work/log; its status on standard output.
run() {
  local settings=() status=0
  while [ "$1" != -- ]; do settings+=("$1") && shift; done
  shift
  # The simulator in zarn-update alone: timeout would write its own, empty, record at its exit.
  timeout 300 env LD_PRELOAD="$simulator" ZARNSIM_FLASH_FILE="$live/flash" XDG_STATE_HOME="$live/xdg" \
    ZARN_JOURNAL_DIR="$live/journal" DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent "${settings[@]}" \
    "$tool" "$@" >"$work/log" 2>&1 </dev/null || status=$?
  echo "$status"
}
# A command that zarn-update does not know stops the sweep, said so.
known() { # STATUS COMMAND
  if [ "$1" = 2 ] && grep -q '^Usage:' "$work/log"; then
    fail "zarn-update has no command '$2' (it answered with its usage, status 2): the sweep cannot go on"
  fi
}
# must WHAT [VARIABLE=value...] -- ARGUMENTS: the run must end with status 0, or the sweep stops.
must() {
  local what=$1 status
  shift
  status=$(run "$@")
  while [ "$1" != -- ]; do shift; done
  known "$status" "$2"
  [ "$status" = 0 ] || { cat "$work/log" >&2; fail "$what: zarn-update ${*:2} ended with status $status"; }
}
# Whether two flash files hold the same 4 GiB, looking only where either has
# data; one Python for the whole sweep, asked a pair of paths a line.
coproc compare { python3 -u scripts/flash-diff.py --skip 4096; }
same_flash() {
  printf '%s\t%s\n' "$1" "$2" >&"${compare[1]}"
  read -r difference <&"${compare[0]}" || fail "the comparison of flash files stopped"
  [ "$difference" = same ]
}
# The cut points of a record: its counted calls, or the first, every k-th and
# those at an image's first or last block.
# With "before", only the calls before the first unlock (the recovery copy's
# reads of the flash); otherwise only those from it on.
cut_points() {
  grep -E '^flash (ioctl|lseek|read|write) ' "$1" | awk -v every="$every" -v blocks="${blocks[*]}" -v part="${2:-}" '
    BEGIN { n = split(blocks, list, " "); for (i = 1; i <= n; ++i) at[sprintf("0x%x", list[i])] = 1 }
    /request=0x40084232/ && !unlocked { unlocked = NR }
    { match($0, /(address|argument)=0x[0-9a-f]+/); where = substr($0, RSTART, RLENGTH); sub(/.*=/, "", where)
      if ((part == "before") != (unlocked == 0 || unlocked > NR)) next
      if (NR % every == 0 || NR == unlocked || NR == 1 || (where in at)) print NR }'
}

# The flash before the update (old.zarnru over an erased flash), and after it.
must "the update before" -- update --yes "$work/old.zarnru"
save before
must "the update" ZARNSIM_RECORD_FILE="$work/update.record" -- update --yes "$work/new.zarnru"
save after
# A base for the resume: the update cut in its first erase of APP, the image in BOOT's page.
load before
in_app=$(grep -E '^flash (ioctl|lseek|read|write) ' "$work/update.record" | grep -n 'argument=0x50000' | head -1 | cut -d: -f1)
[ -n "$in_app" ] || fail "the update erased no page at 0x50000"
status=$(run ZARNSIM_CUT="$in_app:$seed" -- update --yes "$work/new.zarnru")
[ "$status" = 137 ] || fail "the update cut in call $in_app ended with status $status, not by the cut"
save cut

total=0 recovered=0 stranded=0
# sweep KIND BASE EXPECTED PART ARGUMENTS... -- RECOVERY...: from the state
# BASE, the command cut in each of its calls (PART: "before" its unlock, or
# "from" it), then the recovery; the flash must then be EXPECTED's.
sweep() {
  local kind=$1 base=$2 expected=$3 part=$4 command=() recovery=() n status cuts=0 good=0 bad=0 last
  shift 4
  while [ "$1" != -- ]; do command+=("$1") && shift; done
  recovery=("${@:2}")
  load "$base"
  must "the $kind uncut" ZARNSIM_RECORD_FILE="$work/uncut.record" -- "${command[@]}"
  # Uncut, an update leaves the update whatever a cut before its unlock leaves.
  local whole=$expected
  [ "$part" = before ] && whole=after
  same_flash "$live/flash" "$work/$whole/flash" || fail "$kind: the uncut run leaves another flash: $difference"
  for n in $(cut_points "$work/uncut.record" "$part"); do
    cuts=$((cuts + 1))
    load "$base"
    rm -f "$work/cut.record"
    status=$(run ZARNSIM_CUT="$n:$seed" ZARNSIM_RECORD_FILE="$work/cut.record" -- "${command[@]}")
    last=$(tail -1 "$work/cut.record" 2>/dev/null || true)
    if [ "$status" != 137 ] || [ "${last% result=cut}" = "$last" ]; then
      bad=$((bad + 1))
      echo "check-power-cuts: $kind: the cut in call $n did not happen (status $status, last call: $last)" >&2
      continue
    fi
    status=$(run -- "${recovery[@]}")
    known "$status" "${recovery[0]}"
    if [ "$status" = 0 ] && same_flash "$live/flash" "$work/$expected/flash"; then
      good=$((good + 1))
      continue
    fi
    bad=$((bad + 1))
    [ "$status" = 0 ] || difference="${recovery[*]} ended with status $status: $(tail -1 "$work/log")"
    echo "check-power-cuts: stranded: $kind cut in call $n ($last, ZARNSIM_CUT=$n:$seed): $difference" >&2
  done
  [ "$cuts" != 0 ] || fail "$kind: the uncut run made no call on the flash"
  echo "$kind: $cuts cut points, $good recovered, $bad stranded"
  total=$((total + cuts)) recovered=$((recovered + good)) stranded=$((stranded + bad))
}

# A cut before the flash is unlocked changes nothing: there is nothing to finish.
sweep "update before its unlock" before before before update --yes "$work/new.zarnru" -- resume --yes
sweep update before after from update --yes "$work/new.zarnru" -- resume --yes
sweep resume cut after from resume --yes -- resume --yes
sweep restore after before from restore --yes -- restore --yes
sweep "restore of a cut update" cut before from restore --yes -- restore --yes
echo "$total cut points, $recovered recovered, $stranded stranded"
[ "$stranded" = 0 ]
