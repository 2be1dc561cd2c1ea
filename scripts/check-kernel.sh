#!/usr/bin/env bash
# Runs zarn-update and zarn-update-utility against real device nodes: a kernel
# module (kerneldev/) plays the ZARN driver in a virtual machine that boots a
# stock Debian kernel under QEMU. Builds the module against that kernel's
# headers, an initramfs with busybox, the module, the two programs and their
# libraries and two update files, boots it with a time limit and reads the
# checks' results from the serial console: one line per check, then
# "N passed, M failed". Exits non-zero on any failure, and when QEMU cannot
# start at all.
#
# BUILD_DIR (default build-kernel) is the build directory; the machine's files
# go to BUILD_DIR/vm. ZARN_VM_SECONDS bounds the machine's run (default 300).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
started=$(date +%s.%N)

# The kernel, the programs, the module, the update files and the machine's tree.
. scripts/kernel-vm.sh
# The chown runs inside the machine: this script need not be root to pack it.
initramfs=$vm/initramfs.cpio
(cd "$staging" && find . | cpio -o -H newc --quiet >"$initramfs")

log=$vm/console.log
booted=$(date +%s.%N)
set +e
timeout "${ZARN_VM_SECONDS:-300}" qemu-system-x86_64 -accel "$accel" -m 1024 -smp 2 -nodefaults -no-reboot \
  -display none -serial "file:$log" -kernel "/boot/vmlinuz-$version" -initrd "$initramfs" \
  -append "console=ttyS0 panic=-1 quiet" 2>"$vm/qemu.err"
qemu_status=$?
set -e
finished=$(date +%s.%N)

if [ ! -s "$log" ] && [ "$qemu_status" != 124 ]; then
  echo "check-kernel: QEMU could not start a machine (status $qemu_status): $(head -c 300 "$vm/qemu.err")"
  echo "0 passed, 1 failed"
  exit 1
fi
touch "$log"

tr -d '\r' <"$log" >"$vm/console.txt"
passed=0
failed=0
report() { # pass|FAIL NAME [WHY]
  if [ "$1" = pass ]; then
    passed=$((passed + 1))
    echo "PASS $2"
  else
    failed=$((failed + 1))
    echo "FAIL $2${3:+: $3}"
  fi
}
plan=$(sed -n 's/^@@ plan //p' "$vm/console.txt")
[ -n "$plan" ] || report FAIL machine "the machine ran no check (console: $vm/console.txt)"
for name in $plan; do
  line=$(grep -m 1 "^@@ check $name " "$vm/console.txt" || true)
  case $line in
  "@@ check $name pass") report pass "$name" ;;
  "@@ check $name FAIL "*)
    report FAIL "$name" "${line#"@@ check $name FAIL "}"
    # What the machine printed for that check: the console is gone with CI's.
    awk -v name="$name" '/^@@ check / { if ($3 == name) { for (i = 0; i < n; i++) print "  | " kept[i]; exit } n = 0; next }
      !/^@@ / { if (n == 15) { for (i = 1; i < n; i++) kept[i - 1] = kept[i]; n-- } kept[n++] = $0 }' "$vm/console.txt"
    ;;
  *) report FAIL "$name" "no result: the machine stopped before it" ;;
  esac
done
if [ "$failed" != 0 ] && ! grep -q '^@@ done' "$vm/console.txt"; then
  echo "  the machine's console ended with:"
  grep -v '^@@ ' "$vm/console.txt" | tail -n 15 | sed 's/^/  | /'
fi
sed -n 's/^@@ info /  /p' "$vm/console.txt"
[ "$qemu_status" = 124 ] && echo "  the machine was stopped at its time limit of ${ZARN_VM_SECONDS:-300} s"
echo "  kernel $version, $accel; machine $(awk -v a="$booted" -v b="$finished" 'BEGIN { printf "%.1f", b - a }') s," \
  "whole check $(awk -v a="$started" -v b="$finished" 'BEGIN { printf "%.1f", b - a }') s"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
