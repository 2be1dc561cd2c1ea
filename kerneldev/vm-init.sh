#!/bin/busybox sh
# /init of the virtual machine that scripts/check-kernel.sh boots: loads the
# module that plays the ZARN driver, gives its nodes the owner and mode of the
# package's udev rule, runs zarn-update and zarn-update-utility against them
# and judges each check on the flash's bytes, read through the module's
# debugfs file. Reports on the serial console, one "@@" line each:
#   @@ plan NAME...   @@ check NAME pass   @@ check NAME FAIL why   @@ info ...   @@ done
# then powers the machine off.

export PATH=/bin:/usr/bin
/bin/busybox --install -s /bin
mkdir -p /proc /sys /dev /tmp /run /var/lib
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t debugfs debugfs /sys/kernel/debug
chmod 1777 /tmp
chown -R 1000:1000 /home/operator
chown -R 1001:1001 /home/guest
echo "@@ info booted in $(cut -d' ' -f1 /proc/uptime) s"

# Written by the host: rule_group, rule_mode, slow_us.
. /etc/zarn-check.conf
. /etc/zarn-check.sh

# Told to cut the power, the machine runs the steps of a round instead.
case " $(cat /proc/cmdline) " in
*" zarn.steps="*) exec /bin/sh /cuts.sh ;;
esac

checks="versions locked and-erase update verify only-changed backup-restore two-updates permissions
failing-erase sigterm stop-continue stuck-bit window-help window-update
kernel-log"
echo "@@ plan" $checks

if ! load_module; then
    echo "@@ info the module did not load"
    echo "@@ done"
    poweroff -f
fi

reset() { echo 1 >$zarn/reset; }

blank=$(head -c 2097152 /dev/zero | tr '\000' '\377' | sha256sum)

# --- versions: the mailbox's answers, and the flash left alone.
as root zarn-update versions
why=
[ $status = 0 ] || why="exit $status: $(output)"
said "Hardware timestamp: 1700000000" && said "Software version:   4.5.67" && said "PID version:        3.4.50" ||
    why="$why versions not the module's: $(output)"
[ "$(flash 0 2097152 | sha256sum)" = "$blank" ] || why="$why the flash is no longer erased"
check versions "$why"

# --- locked: no write or erase before the unlock, nor with another phrase.
why=
result=$(zarnpoke write 0x300000 00000000)
[ "$result" = "write: Operation not permitted" ] || why="write before unlock: $result;"
result=$(zarnpoke -u 'heedful!' write 0x300000 00000000)
[ "$result" = "unlock: Permission denied" ] || why="$why unlock with another phrase: $result;"
result=$(zarnpoke erase 0x0)
[ "$result" = "erase: Operation not permitted" ] || why="$why erase before unlock: $result;"
[ "$(flash 0 2097152 | sha256sum)" = "$blank" ] || why="$why the flash changed while locked"
check locked "$why"

# --- and-erase: a write clears bits only; an erase sets the 128 KiB from its address.
why=
zarnpoke -u 'heedful!!' write 0x300000 f0f00f0f >/dev/null
zarnpoke -u 'heedful!!' write 0x300000 3c3c3c3c >/dev/null
word=$(flash 0x300000 4 | xxd -p)
[ "$word" = 30300c0c ] || why="f0f00f0f then 3c3c3c3c left $word, not 30300c0c;"
zarnpoke -u 'heedful!!' write 0x31ffff 0000 >/dev/null
result=$(zarnpoke -u 'heedful!!' erase 0x300000)
word=$(flash 0x300000 4 | xxd -p)$(flash 0x31ffff 2 | xxd -p)
[ "$result $word" = "ok ffffffffff00" ] || why="$why erase at 0x300000: $result, then $word, not ffffffffff00;"
result=$(zarnpoke -u 'heedful!!' erase 0xfffff000)
[ "$result" = ok ] || why="$why erase at the last page: $result"
check and-erase "$why"

# --- update: the three images, then verify.
reset
as root zarn-update update $data/a.zarnru --yes
why=
[ $status = 0 ] || why="exit $status: $(output)"
said "Done updating." || why="$why no success line"
why="$why $(differs $data/a.zarnru)"
check update "$(echo $why)"

as root zarn-update verify $data/a.zarnru
why=
[ $status = 0 ] || why="exit $status: $(output)"
why="$why $(differs $data/a.zarnru)"
check verify "$(echo $why)"

# --- only-changed: nothing erased or written where the flash holds the file;
# one page whose bits were cleared behind its back is mended.
erases=$(count erases)
programmed=$(count programmed)
as root zarn-update update $data/a.zarnru --yes --only-changed
why=
[ $status = 0 ] || why="exit $status: $(output)"
[ "$(count erases) $(count programmed)" = "$erases $programmed" ] ||
    why="$why the flash was erased or written over its own bytes"
zarnpoke -u 'heedful!!' write 0x41000 00000000 >/dev/null
erases=$(count erases)
as root zarn-update update $data/a.zarnru --yes --only-changed
[ $status = 0 ] || why="$why after a cleared word: exit $status: $(output)"
[ "$(count erases)" -gt "$erases" ] || why="$why the changed page was not erased"
why="$why $(differs $data/a.zarnru)"
check only-changed "$(echo $why)"

# --- backup-restore: save A, update with B, update with the backup.
rm -f $data/old.zarnru
why=
as root zarn-update backup $data/a.zarnru $data/old.zarnru
[ $status = 0 ] || why="backup: exit $status: $(output)"
as root zarn-update update $data/b.zarnru --yes
[ $status = 0 ] || why="$why update with b: exit $status: $(output)"
why="$why $(differs $data/b.zarnru)"
as root zarn-update update $data/old.zarnru --yes
[ $status = 0 ] || why="$why update with the backup: exit $status: $(output)"
why="$why $(differs $data/a.zarnru)"
check backup-restore "$(echo $why)"

# --- two-updates: the second is refused and told who holds the flash.
reset
echo "$slow_us" >$parameters/program_delay_us
zarn-update update $data/a.zarnru --yes >/tmp/first 2>&1 </dev/null &
first=$!
why=
if wait_writing; then
    as root zarn-update update $data/b.zarnru --yes
    [ $status = 6 ] || why="second: exit $status, not 6;"
    said "(process $first)" || why="$why the holder $first not named: $(output);"
else
    why="the first update never wrote;"
fi
wait $first
status=$?
echo 0 >$parameters/program_delay_us
cp /tmp/first /tmp/out
show "zarn-update update a.zarnru --yes, the first of two"
[ $status = 0 ] || why="$why first: exit $status: $(output)"
why="$why $(differs $data/a.zarnru)"
check two-updates "$(echo $why)"

# --- permissions: the nodes as the rule makes them; a user outside the group
# is told the cause and changes nothing, a user inside it updates.
why=
for node in /dev/zarn_flash /dev/zarn_mailbox; do
    set -- $(ls -l $node)
    [ "$1 $3 $4" = "crw-rw---- root zarn" ] || why="$why $node is $1 $3 $4;"
done
as guest zarn-update versions
[ $status = 5 ] || why="$why guest versions: exit $status;"
said "Permission denied" && said "group zarn" || why="$why guest not told the cause: $(output);"
as guest zarn-update update $data/b.zarnru --yes
[ $status = 5 ] || why="$why guest update: exit $status;"
said "Permission denied" || why="$why guest update not told the cause: $(output);"
why="$why $(differs $data/a.zarnru)"
as operator zarn-update update $data/b.zarnru --yes
[ $status = 0 ] || why="$why operator: exit $status: $(output)"
why="$why $(differs $data/b.zarnru)"
check permissions "$(echo $why)"

# --- failing-erase: the third erase request fails; nothing is programmed,
# the images not reached keep the earlier file's bytes.
programmed=$(count programmed)
echo 3 >$parameters/fail_erase
as root zarn-update update $data/a.zarnru --yes
echo 0 >$parameters/fail_erase
why=
[ $status = 1 ] || why="exit $status, not 1;"
said "Error erasing page at 0x" && said "Input/output error" || why="$why the cause not named: $(output);"
said "Done updating" && why="$why success said;"
[ "$(count programmed)" = "$programmed" ] || why="$why programmed after the failure;"
[ -n "$(differs $data/a.zarnru 1)" ] || why="$why image 1 holds the update;"
why="$why $(differs $data/b.zarnru 2 3)"
check failing-erase "$(echo $why)"

# Updates a.zarnru on a slow device and, once a write is inside the driver,
# does to the update what the named function does to process $pid; status in
# $status, "why" set when no write was seen. A machine starved by its host may
# let a whole run pass between two looks at the counts: the run is then made
# again, up to three times.
interrupt_slow_update() {
    for attempt in 1 2 3; do
        reset
        echo "$slow_us" >$parameters/program_delay_us
        interrupted=$(count interrupted_writes)
        zarn-update update $data/a.zarnru --yes >/tmp/out 2>&1 </dev/null &
        pid=$!
        why=
        wait_writing && "$1" || why="no write to interrupt;"
        wait $pid
        status=$?
        [ -z "$why" ] && break
    done
    echo 0 >$parameters/program_delay_us
}

# --- sigterm: during a slow write; the update completes and says so.
terminate() { kill -TERM $pid; }
interrupt_slow_update terminate
show "zarn-update update a.zarnru --yes, sent SIGTERM"
[ $status = 8 ] || why="$why exit $status, not 8: $(output)"
why="$why $(differs $data/a.zarnru)"
echo "@@ info sigterm: writes the signal interrupted in the driver: $(($(count interrupted_writes) - interrupted))"
check sigterm "$(echo $why)"

# --- stop-continue: a stop and continue (Ctrl+Z, then fg) during a slow write
# wakes every thread, the one waiting in the driver too: the driver gives up
# its wait, and the kernel makes the call again (or the write comes back short
# or with EINTR). The run must carry on as if nothing happened.
# The stop may land between two write calls, with no write to cut short (the
# look that saw the write and the signal are far apart on an emulated machine):
# the update is then stopped again at its next write, up to five times.
stop_and_continue() {
    for stop in 1 2 3 4 5; do
        [ $stop = 1 ] || wait_writing $pid || return 1
        kill -STOP $pid
        usleep 200000
        kill -CONT $pid
        [ "$(count interrupted_writes)" -gt "$interrupted" ] && return 0
    done
}
interrupt_slow_update stop_and_continue
show "zarn-update update a.zarnru --yes, stopped and continued"
[ $status = 0 ] || why="$why exit $status, not 0: $(output);"
[ "$(count interrupted_writes)" -gt "$interrupted" ] || why="$why no write was cut short;"
echo "@@ info stop-continue: stops sent until a write was cut short: $stop"
why="$why $(differs $data/a.zarnru)"
check stop-continue "$(echo $why)"

# --- stuck-bit: bits of image 3 that read 0 whatever is written; the update
# ends with the flash not holding it, and never says it succeeded.
address=$((0x100000 + 4096))
while [ "$(flash $address 1 | xxd -p)" = 00 ]; do address=$((address + 1)); done
echo $address >$parameters/stuck_address
echo 0xff >$parameters/stuck_mask
as root zarn-update update $data/a.zarnru --yes
echo 0 >$parameters/stuck_mask
why=
[ $status = 7 ] || why="exit $status, not 7;"
said "Error verifying Flash memory at 0x" || why="$why no verify error: $(output);"
said "Done updating" && why="$why success said;"
why="$why $(differs $data/a.zarnru 1 2)"
check stuck-bit "$(echo $why)"

# --- the window program.
as root zarn-update-utility --help
why=
[ $status = 0 ] || why="exit $status"
said "Usage: zarn-update-utility" || why="$why $(output)"
check window-help "$(echo $why)"

reset
QT_QPA_PLATFORM=offscreen LD_PRELOAD=/usr/lib/zarn-check/libzarn_programdriver.so \
    ZARNTEST_UPDATE_FILE=$data/b.zarnru zarn-update-utility >/tmp/out 2>&1 </dev/null &
pid=$!
why=
tries=0
while ! said "programdriver: running" && ! said "programdriver: no run" && kill -0 $pid 2>/dev/null &&
    [ $tries -lt 1500 ]; do
    usleep 20000
    tries=$((tries + 1))
done
said "programdriver: running" || why="no run started: $(output);"
# Asked to quit during the run, the window waits for it and then leaves.
kill -TERM $pid
wait $pid
status=$?
show "zarn-update-utility, offscreen, driven to update with b.zarnru, sent SIGTERM"
[ $status = 143 ] || why="$why exit $status, not 143: $(output);"
why="$why $(differs $data/b.zarnru)"
check window-update "$(echo $why)"

# --- kernel-log: the module never made the kernel complain.
check kernel-log "$(dmesg | grep -E 'BUG|WARNING|Oops|Call Trace|general protection' | head -n 3 | tr '\n' '|')"

echo "@@ info checks ended at $(cut -d' ' -f1 /proc/uptime) s"
echo "@@ done"
poweroff -f
