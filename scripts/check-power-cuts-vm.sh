#!/usr/bin/env bash
# Cuts the power of a real machine in the middle of an update and checks that
# the next boot finishes or undoes it. The machine is the kernel check's
# (check-kernel.sh): a stock Debian kernel under QEMU, the module that plays
# the ZARN driver, the unchanged programs. Here the module keeps the flash on a
# virtio disk, written through on every erase and program (a request under
# way when the power goes may be left half done), and the journal
# (/var/lib/zarn-update-utility) is ext4 on a second virtio disk, behind the
# machine's own page cache: what the programs did not flush is lost, as on
# real hardware. The power cut is QEMU killed outright (SIGKILL).
#
# Each round starts from the flash and journal of a.zarnru installed and
# settled, starts zarn-update update b.zarnru, kills the machine at a random
# moment, boots it again on the same disks and recovers; then compares the
# whole flash disk with the one an uncut update leaves (or, after a restore,
# the one before it). The kinds of round, in turn:
#   resume         cut from the unlock to the final read-back; resume
#   restore        the same; restore
#   copy           cut before the unlock: as the program starts, checks the
#                  file and makes the recovery copies; resume
#   cut resume     cut after the unlock, then the resume cut after its own; resume again
#   window         cut after the unlock; the window, offered to finish, finishes
# One line a round, then "N cuts, N recovered, N stranded"; exits 1 unless
# every round recovered. A flash that changed while the history does not say
# the update never ended is stranded too.
#
# ZARN_CUTS_VM_ROUNDS sets the rounds (default 12), ZARN_CUTS_VM_SEED the seed
# of the moments (default: from the clock, printed). BUILD_DIR as for
# check-kernel.sh; the machine's files go to BUILD_DIR/vm-cuts.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$(date +%s.%N)
rounds=${ZARN_CUTS_VM_ROUNDS:-12}
seed=${ZARN_CUTS_VM_SEED:-$(($(date +%s%N) / 1000 % 1000000))}
build=${BUILD_DIR:-build-kernel}
VM_DIR=$root/$build/vm-cuts

. scripts/kernel-vm.sh

fail() {
  echo "check-power-cuts-vm: $*" >&2
  exit 1
}

# The disk drivers and ext4 for the machine, with what they need first.
mkdir -p "$staging/modules"
order="virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci virtio_blk crc16 mbcache jbd2
crc32c_generic ext4"
for module in $order; do
  file=$(find "/lib/modules/$version/kernel" -name "$module.ko" -o -name "$module.ko.xz" | head -n 1)
  [ -n "$file" ] || fail "the kernel $version has no module $module"
  case $file in
  *.xz) xz -dc "$file" >"$staging/modules/$module.ko" ;;
  *) cp "$file" "$staging/modules/$module.ko" ;;
  esac
done
echo $order >"$staging/modules/order"
install -m 0755 kerneldev/vm-cuts.sh "$staging/cuts.sh"
initramfs=$vm/initramfs.cpio
(cd "$staging" && find . | cpio -o -H newc --quiet >"$initramfs")

# The disks: the flash (4 GiB, sparse: never written reads as erased) and the journal.
disks=$vm/disks
mkdir -p "$disks"
copy_disks() { # FROM TO
  cp --sparse=always "$disks/$1.flash" "$disks/$2.flash"
  cp --sparse=always "$disks/$1.journal" "$disks/$2.journal"
}
coproc compare { python3 -u scripts/flash-diff.py; }
same_flash() { # FIRST SECOND; the difference in $difference
  printf '%s\t%s\n' "$1" "$2" >&"${compare[1]}"
  read -r difference <&"${compare[0]}" || fail "the comparison of flash disks stopped"
  [ "$difference" = same ]
}

# boot DISKS STEPS: starts the machine on DISKS with STEPS in the background;
# its console in $log, its process in $qemu.
log=
qemu=
boot() {
  log=$vm/$1.$(date +%s%N).log
  : >"$log"
  qemu-system-x86_64 -accel "$accel" -m 1024 -smp 2 -nodefaults -no-reboot -display none \
    -serial "file:$log" -kernel "/boot/vmlinuz-$version" -initrd "$initramfs" \
    -append "console=ttyS0 panic=-1 quiet zarn.steps=$2" \
    -drive "file=$disks/$1.flash,format=raw,if=virtio,cache=unsafe" \
    -drive "file=$disks/$1.journal,format=raw,if=virtio,cache=unsafe" 2>>"$vm/qemu.err" &
  qemu=$!
}
# Waits until the console says LINE (a prefix of a line) and prints the host's
# clock then; fails when the machine stops first or SECONDS pass.
seen() { # LINE SECONDS
  local deadline=$(($(date +%s) + $2))
  while ! grep -qE "^@@ $1" "$log" 2>/dev/null; do
    kill -0 "$qemu" 2>/dev/null || return 1
    [ "$(date +%s)" -lt "$deadline" ] || return 1
    sleep 0.01
  done
  date +%s.%N
}
# Waits for the machine to stop by itself, within SECONDS.
ends() {
  local deadline=$(($(date +%s) + $1))
  while kill -0 "$qemu" 2>/dev/null; do
    if [ "$(date +%s)" -ge "$deadline" ]; then
      kill -KILL "$qemu" 2>/dev/null || true
      wait "$qemu" 2>/dev/null || true
      return 1
    fi
    sleep 0.05
  done
  wait "$qemu" 2>/dev/null || true
}
cut_power() {
  kill -KILL "$qemu" 2>/dev/null || true
  wait "$qemu" 2>/dev/null || true
}
said() { tr -d '\r' <"$log" | sed -n "s/^@@ $1 //p" | head -n 1; }
console_end() { tr -d '\r' <"$log" | grep -v '^@@ ' | tail -n 12 | sed 's/^/  | /' >&2; }

# The flash and journal with a.zarnru installed and settled.
truncate -s 4G "$disks/base.flash"
truncate -s 64M "$disks/base.journal"
mkfs.ext4 -q -F "$disks/base.journal"
boot base setup,install
ends 300 || { console_end && fail "the machine that installs a.zarnru did not stop"; }
[ "$(said 'ran install')" = 0 ] || { console_end && fail "a.zarnru was not installed"; }
cp --sparse=always "$disks/base.flash" "$disks/before.flash"

# An uncut update, timed: when it starts, unlocks the flash and ends, on the host's clock.
copy_disks base timed
boot timed time:update
opened=$(seen 'open update' 300) || { console_end && fail "the timed update did not start"; }
unlocked=$(seen unlocked 300) || { console_end && fail "the timed update never unlocked the flash"; }
ended=$(seen 'ran update' 300) || { console_end && fail "the timed update did not end"; }
ends 60 || true
[ "$(said 'ran update')" = 0 ] || { console_end && fail "the timed update failed: $(said 'ran update')"; }
cp --sparse=always "$disks/timed.flash" "$disks/after.flash"
same_flash "$disks/before.flash" "$disks/after.flash" && fail "the update left the flash as it was"
unlock_at=$(awk -v a="$opened" -v b="$unlocked" 'BEGIN { printf "%.3f", b - a }')
end_at=$(awk -v a="$opened" -v b="$ended" 'BEGIN { printf "%.3f", b - a }')
echo "seed $seed; an uncut update: unlocks at $unlock_at s, ends at $end_at s (host's clock, $accel)"

# A moment from FROM to TO seconds, the round's own.
moment() { awk -v s="$seed" -v r="$1" -v a="$2" -v b="$3" 'BEGIN { srand(s * 1000 + r); printf "%.3f", a + rand() * (b - a) }'; }
# Cuts the power in COMMAND, started by STEPS on the round's disks made from
# the disks FROM, AT seconds after the console says FROM_LINE (the command's
# start, or the unlock: so that the slow start of a program does not decide
# where the cut comes). A cut that came after the part of the run it was meant
# for (the console says BEYOND: the unlock, or the command's end) is made again
# at half the moment, up to four times. The moment is left in $cut_at, where it
# came in $cut_where.
cut_in() { # FROM STEPS COMMAND FROM_LINE AT BEYOND
  local try
  cut_at=$5
  for try in 1 2 3 4; do
    copy_disks "$1" round
    boot round "$2"
    seen "($4|ran $3)" 300 >/dev/null || { console_end && return 1; }
    sleep "$cut_at"
    cut_power
    cut_where="before the unlock"
    grep -q '^@@ unlocked' "$log" && cut_where="after the unlock"
    grep -q "^@@ ran $3" "$log" && cut_where="after the end"
    grep -qE "^@@ $6" "$log" || return 0
    [ "$try" = 4 ] || cut_at=$(awk -v a="$cut_at" 'BEGIN { printf "%.3f", a / 2 }')
  done
}

kinds=(resume restore copy "cut resume" window)
recovered=0 stranded=0
for round in $(seq 1 "$rounds"); do
  kind=${kinds[$(((round - 1) % ${#kinds[@]}))]}
  round_started=$(date +%s.%N)
  writing=$(awk -v u="$unlock_at" -v e="$end_at" 'BEGIN { print e - u }')
  why=
  case $kind in
  copy) cut_in base cut:update update "open update" "$(moment "$round" 0 "$unlock_at")" unlocked ;;
  *) cut_in base cut:update update unlocked "$(moment "$round" 0 "$writing")" "ran update" ;;
  esac || why="the update did not start"
  how="update cut at $cut_at s $([ "$kind" = copy ] && echo "from its start" || echo "from the unlock"), $cut_where"
  if [ -z "$why" ] && [ "$kind" = "cut resume" ]; then
    copy_disks round cut
    cut_in cut cut:resume resume unlocked "$(moment "$((round + 500))" 0 "$writing")" "ran resume" ||
      why="the resume did not start"
    how="$how; the resume at $cut_at s from its unlock, $cut_where"
  fi
  same_flash "$disks/round.flash" "$disks/before.flash" && touched=no || touched=yes
  case $kind in
  restore) steps=history,restore expected=before ;;
  window) steps=history,window expected=after ;;
  *) steps=history,resume expected=after ;;
  esac
  [ -z "$why" ] && boot round "$steps" && { ends 300 || why="the machine did not stop"; }
  history=$(said history)
  ran=$(tr -d '\r' <"$log" | sed -n 's/^@@ ran //p' | tail -n 1)
  # Cut before the history had the update, the flash must be as it was.
  [ "$history" = "ended a.zarnru" ] && expected=before
  if [ -z "$why" ]; then
    if [ "$touched" = yes ] && [ "$history" != "unfinished b.zarnru" ] && [ "$history" != "ended b.zarnru" ]; then
      why="the flash was changed, but the history's newest update is: $history"
    elif [ "${ran##* }" != 0 ]; then
      why="the recovery ended with status ${ran##* }"
    elif ! same_flash "$disks/round.flash" "$disks/$expected.flash"; then
      why="not the flash $expected the update: $difference"
    fi
  fi
  seconds=$(awk -v a="$round_started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  if [ -z "$why" ]; then
    recovered=$((recovered + 1))
    echo "round $round ($kind; $how): history $history, then ${ran:-nothing}: the flash as $expected the update," \
      "${seconds} s"
  else
    stranded=$((stranded + 1))
    echo "round $round ($kind; $how): STRANDED: $why (history: ${history:-none said}, console: $log)"
    console_end
  fi
done
whole=$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }')
echo "seed $seed; $accel; whole check $whole s"
echo "$rounds cuts, $recovered recovered, $stranded stranded"
[ "$stranded" = 0 ]
