#!/bin/sh
# guest-load.sh NAME PORT IMAGE: one load by the command-line loader, its JSON
# lines on stdout, its stderr and exit status kept in /tmp/NAME.*. The end is
# marked in the kernel log at once, on the clock of the kernel's own messages,
# and this shell's stat then holds the loader's CPU time (cutime, cstime).
name=$1
timeout 60 /rig/duvozeviv-cli --json -p "$2" "$3" 2>"/tmp/$name.err"
rc=$?
echo "rig-ended $name" >/dev/kmsg
echo "$rc" >"/tmp/$name.rc"
read -r stat </proc/$$/stat
echo "$stat" >"/tmp/$name.stat"
