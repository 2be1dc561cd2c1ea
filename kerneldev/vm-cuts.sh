#!/bin/busybox sh
# The machine's steps in a round of scripts/check-power-cuts-vm.sh, run by
# vm-init.sh when the kernel's command line names them (zarn.steps=a,b,...).
# The flash is kept on the first virtio disk, written through by the module;
# the journal (/var/lib/zarn-update-utility) is an ext4 file system on the
# second, with the machine's own page cache: what was not flushed is lost when
# the host kills the machine. Says on the serial console, one "@@" line each:
#   @@ history NEWEST    the newest update in the history: unfinished, ended or none,
#                        and the file it was made from
#   @@ open COMMAND      a command the host may cut starts now
#   @@ unlocked          the flash was unlocked (by the command opened last)
#   @@ ran COMMAND N     a command ended with status N
#   @@ done              every step ended; the machine stops
# Steps: setup, install, history, time:COMMAND, cut:COMMAND, COMMAND, window,
# where COMMAND is update (b.zarnru), resume or restore.

. /etc/zarn-check.conf
. /etc/zarn-check.sh
journal=/var/lib/zarn-update-utility

say() { echo "@@ $*"; }
stop() {
    sync
    say done
    poweroff -f
}

# The disk drivers and ext4, in the order of their needs.
for module in $(cat /modules/order); do
    insmod "/modules/$module.ko" || say "info the module $module did not load"
done
tries=0
while [ ! -b /dev/vdb ] && [ $tries -lt 500 ]; do
    usleep 10000
    tries=$((tries + 1))
done
mkdir -p $journal
mount -t ext4 /dev/vdb $journal || { say "info the journal's disk cannot be mounted" && stop; }
load_module backing=/dev/vda || { say "info the module did not load" && stop; }

# The newest update of the history, as zarn-update tells it: unfinished
# (zarn-update resume can finish it), ended (verified) or other, and its file.
newest() {
    line=$(zarn-update --json history 2>/dev/null | grep '"event":"history"' | tail -n 1)
    file=$(echo "$line" | sed -n 's/.*"file":"\/[^"]*\/\([^"/]*\)".*/\1/p')
    result=$(echo "$line" | sed -n 's/.*"result":"\([a-z]*\)".*/\1/p')
    case $line in
    "") echo none ;;
    *'"resumable":true'*) echo "unfinished $file" ;;
    *) [ "$result" = succeeded ] && echo "ended $file" || echo "$result $file" ;;
    esac
}

# The command line of COMMAND.
command_of() {
    case $1 in
    update) echo "zarn-update update $data/b.zarnru --yes" ;;
    resume | restore) echo "zarn-update $1 --yes" ;;
    esac
}

run() { # COMMAND: runs it, says how it ended
    $(command_of "$1") >/tmp/out 2>&1 </dev/null
    status=$?
    show "$(command_of "$1")"
    say "ran $1 $status"
}

# The window, started after the power came back, offers to finish the update
# and is told to; it is asked to quit once the history says the update ended.
window() {
    QT_QPA_PLATFORM=offscreen LD_PRELOAD=/usr/lib/zarn-check/libzarn_programdriver.so \
        ZARNTEST_RECOVERY="Finish the update" zarn-update-utility >/tmp/out 2>&1 </dev/null &
    pid=$!
    tries=0
    while [ "$(newest)" != "ended b.zarnru" ] && kill -0 $pid 2>/dev/null && [ $tries -lt 1200 ]; do
        usleep 100000
        tries=$((tries + 1))
    done
    kill -TERM $pid
    wait $pid
    status=$?
    show "zarn-update-utility, offscreen, told to finish the update"
    grep -q '^programdriver: box QMessageBox|Update cut short|' /tmp/out || say "info the window made no offer"
    # Asked to quit once the run was over, the window ends as any quit window does.
    [ "$(newest)" = "ended b.zarnru" ] && [ $status = 143 ] && status=0
    say "ran window $status"
}

for step in $(sed -n 's/.*zarn\.steps=\([^ ]*\).*/\1/p' /proc/cmdline | tr ',' ' '); do
    case $step in
    setup)
        # What the package makes of the journal's folder.
        chgrp "$rule_group" $journal
        chmod 2770 $journal
        ;;
    install)
        as root zarn-update update $data/a.zarnru --yes
        say "ran install $status"
        ;;
    history) say "history $(newest)" ;;
    time:* | cut:*)
        # Says when the flash is unlocked; reads the counts without a process
        # of its own, so as not to slow the run it watches.
        (
            unlocks=0
            while [ "$unlocks" = 0 ]; do
                usleep 2000
                while read -r name value; do [ "$name" = unlocks ] && unlocks=$value && break; done <$zarn/stats
            done
            say unlocked
        ) &
        watcher=$!
        say "open ${step#*:}"
        run "${step#*:}"
        kill $watcher 2>/dev/null
        # The host cuts the power when it means to, even after the end.
        case $step in cut:*) sleep 600 ;; esac
        ;;
    window)
        # With nothing to finish the window offers nothing: resume says so.
        if [ "$(newest)" = "unfinished b.zarnru" ]; then window; else run resume; fi
        ;;
    restore)
        # Only the update of b.zarnru is undone: one cut before it began has
        # left the flash as it was, and the newest entry is the one before.
        case $(newest) in
        *" b.zarnru") run restore ;;
        *) run resume ;;
        esac
        ;;
    *) run "$step" ;;
    esac
done
umount $journal
stop
