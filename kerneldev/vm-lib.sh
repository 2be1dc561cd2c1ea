# Sourced by the virtual machine's scripts (vm-init.sh, vm-cuts.sh): where
# the module's files are, and how a check runs a program and judges the flash.

zarn=/sys/kernel/debug/zarn
parameters=/sys/module/zarnkdev/parameters
data=/data
export HOME=/root LANG=C.UTF-8

# Loads the module with the answers that no default matches, so that the
# versions can only be the module's, and any further parameters; gives the
# nodes what the package's udev rule gives them.
load_module() {
    insmod /zarnkdev.ko sw_version=0x07060504 hw_timestamp=1700000000 pid_version=0x00050403 "$@" || return 1
    chgrp "$rule_group" /dev/zarn_flash /dev/zarn_mailbox
    chmod "$rule_mode" /dev/zarn_flash /dev/zarn_mailbox
}

check() { # NAME WHY: pass when WHY is empty
    if [ -z "$2" ]; then echo "@@ check $1 pass"; else echo "@@ check $1 FAIL $2"; fi
}

count() { sed -n "s/^$1 //p" $zarn/stats; }

# LENGTH bytes of flash from ADDRESS, as the part holds them.
flash() { dd if=$zarn/flash bs=65536 iflag=skip_bytes,count_bytes,fullblock skip=$(($1)) count=$2 status=none; }

# Prints why the flash does not hold FILE's images (all, or those numbered);
# nothing when it does. FILE.map lists them: number, address, offset of the
# data in FILE, length.
differs() {
    file=$1
    shift
    while read -r number address offset length; do
        [ $# -gt 0 ] && ! echo " $* " | grep -q " $number " && continue
        flash "$address" "$length" >/tmp/flash.part
        dd if="$file" bs=65536 iflag=skip_bytes,count_bytes,fullblock skip="$offset" count="$length" \
            status=none >/tmp/file.part
        if ! cmp -s /tmp/flash.part /tmp/file.part; then
            byte=$(cmp /tmp/flash.part /tmp/file.part 2>&1 | sed -n 's/.* char \([0-9]*\).*/\1/p')
            printf 'image %s of %s is not on the flash: it first differs at 0x%x\n' "$number" \
                "$(basename "$file")" $((address + ${byte:-1} - 1))
            return
        fi
    done <"$file.map"
}

# Puts a run's output on the console, for whoever reads a failure there.
show() {
    echo "\$ $1 (exit $status)"
    sed 's/^/  | /' /tmp/out
}

# Runs a program as USER (root: directly); status in $status, output in /tmp/out.
as() {
    user=$1
    shift
    if [ "$user" = root ]; then
        "$@" >/tmp/out 2>&1 </dev/null
    else
        su -s /bin/sh "$user" -c "$*" >/tmp/out 2>&1 </dev/null
    fi
    status=$?
    show "$user: $*"
}

said() { grep -qF -- "$1" /tmp/out; }
output() { tail -n 3 /tmp/out | tr '\n' '|' | cut -c1-400; }

# Waits until a write call is inside the device (the caller holds the flash).
# The answer is the look that saw the write: a second look may fall between two
# write calls and see none. With a process id, gives up once that process has
# ended.
wait_writing() {
    tries=0
    while [ $tries -lt 1500 ]; do
        [ "$(count writing)" != 0 ] && return 0
        if [ -n "$1" ]; then
            grep -qs '^State:[[:space:]]*[^Z]' /proc/$1/status || return 1
        fi
        usleep 20000
        tries=$((tries + 1))
    done
    return 1
}

