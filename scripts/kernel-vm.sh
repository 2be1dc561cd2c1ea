# Sourced by the scripts that boot the kernel module in a virtual machine
# (check-kernel.sh, check-power-cuts-vm.sh): picks the kernel, builds the
# programs and the module, makes the update files and stages the machine's
# root in $staging. Expects $root (the source tree) as the current folder.
# Sets version, build, vm, staging, accel; defines carry and carry_libraries.

scripts/install-deps.sh linux-image-amd64 linux-headers-amd64 qemu-system-x86 busybox-static cpio make e2fsprogs \
  gcc libc6-dev

# One kernel version for the image that boots and the headers the module is
# built against: the newest that has both installed. Never this machine's own
# kernel, which may be anything.
version=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' 'linux-image-[0-9]*' 2>/dev/null |
  awk '$1 == "ii" { sub(/^linux-image-/, "", $2); print $2 }' | sort -rV |
  while read -r candidate; do
    if [ -r "/boot/vmlinuz-$candidate" ] && [ -f "/usr/src/linux-headers-$candidate/Makefile" ] &&
      dpkg-query -W -f='${db:Status-Abbrev}\n' "linux-headers-$candidate" 2>/dev/null | grep -q '^ii'; then
      echo "$candidate"
      break
    fi
  done)
if [ -z "$version" ]; then
  echo "${0##*/}: no Debian kernel image is installed together with its headers" >&2
  exit 1
fi

build=${BUILD_DIR:-build-kernel}
cmake -S . -B "$build" -G Ninja -DZARN_WERROR=ON -DZARN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target zarn-update zarn-update-utility zarnru-build zarn_programdriver

vm=${VM_DIR:-$root/$build/vm}
rm -rf "$vm"
mkdir -p "$vm/module" "$vm/root"
staging=$vm/root

# The module, built out of the source tree so that kerneldev/ stays clean.
cp kerneldev/*.c kerneldev/*.h kerneldev/Kbuild "$vm/module/"
make -s -C "/usr/src/linux-headers-$version" M="$vm/module" modules 2>&1 | grep -v '^Skipping BTF' || true
[ -f "$vm/module/zarnkdev.ko" ] || { echo "${0##*/}: the module did not build against $version" >&2; exit 1; }

# Two update files with different bytes, each with a map of its images for the
# checks: number, flash address, offset of the data in the file, length. The
# second puts its last image in the top pages of the 4 GiB address space.
make_update() { # FILE SEED ADDRESS...
  local file=$1 seed=$2 lengths=(200000 300000 250000) names=(BOOT KERN APP)
  local arguments=() offset=0 i
  shift 2
  : >"$file.map"
  for i in 0 1 2; do
    # One version for every file: the checks go back and forth between them,
    # which the check of older images would refuse as going back.
    arguments+=(-i "name=${names[i]},version=1.0.0.1,address=$1,pattern=${lengths[i]},seed=$((seed * 10 + i))")
    echo "$((i + 1)) $1 $((offset + 32)) ${lengths[i]}" >>"$file.map"
    offset=$((offset + 32 + lengths[i]))
    shift
  done
  "$build/tools/zarnru-build" -q "${arguments[@]}" "$file"
}
mkdir -p "$staging/data"
make_update "$staging/data/a.zarnru" 1 0x0 0x40000 0x100000
make_update "$staging/data/b.zarnru" 2 0x0 0x40000 0xfffc0000

# Copies into the staging tree, at their own paths, the libraries that the
# given files load, as ldd lists them; carry also copies the files themselves.
carry_libraries() {
  local library
  for library in $(ldd "$@" | awk '/=> \// { print $3 } /^\t\// { print $1 }' | sort -u); do
    [ -e "$staging$library" ] && continue
    mkdir -p "$staging$(dirname "$library")"
    cp -L "$library" "$staging$library"
  done
}
carry() {
  local file
  for file in "$@"; do
    mkdir -p "$staging$(dirname "$file")"
    cp -L "$file" "$staging$file"
  done
  carry_libraries "$@"
}

# The machine's tree follows the host's merged /usr, so that ldd's paths hold.
mkdir -p "$staging/usr/lib" "$staging/usr/lib64" "$staging/usr/bin" "$staging/bin" "$staging/etc"
ln -s usr/lib "$staging/lib"
ln -s usr/lib64 "$staging/lib64"
cp /bin/busybox "$staging/bin/busybox"
install -m 0755 kerneldev/vm-init.sh "$staging/init"
install -m 0644 kerneldev/vm-lib.sh "$staging/etc/zarn-check.sh"
cp "$vm/module/zarnkdev.ko" "$staging/zarnkdev.ko"
gcc -static -O2 -Wall -Werror -o "$staging/usr/bin/zarnpoke" kerneldev/zarnpoke.c
install -m 0755 "$build/cli/zarn-update" "$build/app/zarn-update-utility" "$staging/usr/bin/"
# The offscreen platform and the tests' operator, who drives the window.
driver=$(find "$build/testkit" -name libzarn_programdriver.so | head -n 1)
install -D -m 0644 "$driver" "$staging/usr/lib/zarn-check/libzarn_programdriver.so"
carry_libraries "$build/cli/zarn-update" "$build/app/zarn-update-utility" "$driver"
carry "$("$(pkg-config --variable=host_bins Qt5Core)/qmake" -query QT_INSTALL_PLUGINS)/platforms/libqoffscreen.so"

# Users: an operator in the group of the package's udev rule, a guest outside it.
rules=packaging/60-zarn.rules
rule_group=$(sed -n 's/.*GROUP="\([^"]*\)".*/\1/p' "$rules")
rule_mode=$(sed -n 's/.*MODE="\([^"]*\)".*/\1/p' "$rules")
cat >"$staging/etc/passwd" <<EOF
root:x:0:0:root:/root:/bin/sh
operator:x:1000:1000:operator:/home/operator:/bin/sh
guest:x:1001:1001:guest:/home/guest:/bin/sh
EOF
cat >"$staging/etc/group" <<EOF
root:x:0:
$rule_group:x:990:operator
operator:x:1000:
guest:x:1001:
EOF
mkdir -p "$staging/root" "$staging/home/operator" "$staging/home/guest"
cat >"$staging/etc/zarn-check.conf" <<EOF
rule_group='$rule_group'
rule_mode='$rule_mode'
slow_us=4000
EOF

accel=tcg
if grep -qwE 'vmx|svm' /proc/cpuinfo && [ -w /dev/kvm ]; then
  accel=kvm
fi
