#!/bin/busybox sh
# The guest's first process (/init of the rig's initramfs): loads the USB
# serial drivers, runs the loader on the kernel's own 8250 and ftdi_sio
# drivers and reports each case as a "rig: ..." line on the console, which the
# host reads (scripts/test-real-drivers.sh). The host unplugs and re-plugs the
# emulated adapters through QEMU's monitor when this script or the simulators
# show the moment. Every wait here is on an event (a uevent, a line of the
# loader's output, the loader's end) with a deadline.
/bin/busybox mkdir -p /proc /sys /dev /tmp
/bin/busybox mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys

CLI=/rig/duvozeviv-cli
LATENCY=/sys/bus/usb-serial/devices/ttyUSB0/latency_timer

say() { echo "rig: $*" >/dev/console; }
uptime_ms() { awk '{ printf "%d", $1 * 1000 }' /proc/uptime; }

# The uevent helper writes "ACTION NAME" lines into this fifo; opened for
# reading and writing so that neither side ever blocks on the open.
mkfifo /tmp/tty-events
exec 3<>/tmp/tty-events
uevent /rig/guest-uevent.sh &

await_tty() {  # ACTION NAME SECONDS: waits for that uevent of the tty
  local deadline=$(($(uptime_ms) / 1000 + $3)) left event
  while :; do
    left=$((deadline - $(uptime_ms) / 1000))
    [ "$left" -gt 0 ] || return 1
    read -r -t "$left" event <&3 || return 1
    [ "$event" = "$1 $2" ] && return 0
  done
}
await_present() {  # NAME SECONDS
  [ -e "/dev/$1" ] || await_tty add "$1" "$2"
}
cpu_ms() {  # FIELD FIELD < stat: the sum of two clock-tick fields, in ms
  awk -v a="$1" -v b="$2" '{ printf "%d", ($a + $b) * 10 }'
}
copy_until() {  # TEXT: copies lines from stdin to stdout up to one holding TEXT
  local line
  while read -r line; do
    echo "$line"
    case "$line" in *"$1"*) return 0 ;; esac
  done
  return 1
}
ms_between() {  # T1 T2 (s): T2 - T1 in ms, or "none"
  awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "") print "none"; else printf "%d", (b - a) * 1000 }'
}
kernel_time() {  # ERE: the kernel log time (s) of the last line matching it
  dmesg | awk -v re="$1" '$0 ~ re { t = $0; sub(/^\[ */, "", t); sub(/\].*/, "", t) } END { print t }'
}

for module in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio; do
  insmod "/rig/modules/$module.ko" || say "error: insmod $module failed"
done
await_present ttyUSB0 60 || say "error: no ttyUSB0"
await_present ttyUSB1 60 || say "error: no ttyUSB1"
say "ready uptime_ms=$(uptime_ms)"

# a. A load on the 8250 UART.
/rig/guest-load.sh a-8250 /dev/ttyS1 /rig/a-8250.mbf >/tmp/a-8250.json
say "case a-8250 rc=$(cat /tmp/a-8250.rc)"
say "result a-8250 $(grep '"event":"result"' /tmp/a-8250.json)"

# a, b. A load on the emulated FTDI adapter; its latency timer is read once the
# loader holds the line (its "connected" event) and again after it closed it.
echo 16 >"$LATENCY"
before=$(cat "$LATENCY")
/rig/guest-load.sh a-ftdi /dev/ttyUSB0 /rig/a-ftdi.mbf | {
  copy_until '"event":"connected"' && cat "$LATENCY" >/tmp/b.during
  cat
} >/tmp/a-ftdi.json
say "case a-ftdi rc=$(cat /tmp/a-ftdi.rc)"
say "result a-ftdi $(grep '"event":"result"' /tmp/a-ftdi.json)"
say "case b before=$before during=$(cat /tmp/b.during 2>/dev/null || echo none) after=$(cat "$LATENCY")"

# c. The adapter is removed mid-load. The simulator leaves the 200th request
# unanswered, so the loader waits with 198 chunks (12672 bytes) acknowledged;
# then its CPU time is read, the kernel log marked, and the host is told to
# unplug (device_del).
say "c-start"
/rig/guest-load.sh c /dev/ttyUSB0 /rig/c.mbf | {
  if copy_until '"position":12672,'; then
    echo "rig-waiting c" >/dev/kmsg
    cpu_ms 14 15 </proc/"$(pidof duvozeviv-cli)"/stat >/tmp/c.cpu-waiting
    say "c-waiting"
  fi
  cat
} >/tmp/c.json
cpu_total=$(cpu_ms 16 17 </tmp/c.stat) cpu_after=none
[ -s /tmp/c.cpu-waiting ] && cpu_after=$((cpu_total - $(cat /tmp/c.cpu-waiting)))
waiting=$(kernel_time 'rig-waiting c$') disconnect=$(kernel_time 'USB disconnect') ended=$(kernel_time 'rig-ended c$')
say "case c rc=$(cat /tmp/c.rc) disconnect_to_end_ms=$(ms_between "$disconnect" "$ended")" \
  "cpu_after_waiting_ms=$cpu_after wall_after_waiting_ms=$(ms_between "$waiting" "$ended")" \
  "cpu_total_ms=$cpu_total"
say "result c $(grep '"event":"result"' /tmp/c.json)"
grep -q . /tmp/c.err && sed 's/^/rig: c-stderr /' /tmp/c.err

# d. The adapter comes back (the host's device_add); the next load succeeds.
say "replug ttyUSB0"
if await_present ttyUSB0 60; then
  say "ttyUSB0 back uptime_ms=$(uptime_ms)"
  /rig/guest-load.sh d /dev/ttyUSB0 /rig/d.mbf >/tmp/d.json
  say "case d rc=$(cat /tmp/d.rc)"
  say "result d $(grep '"event":"result"' /tmp/d.json)"
else
  say "case d rc=none (ttyUSB0 not back)"
fi

# e. A station session on the second adapter, removed and re-plugged while it
# programs module 2; its lines (one per module with -q) are passed on for the
# host to act on.
say "e-start"
{ timeout 90 "$CLI" --station --count 3 -q --log /tmp/e-audit.jsonl -p /dev/ttyUSB1 /rig/e.mbf 2>&1
  echo "rc $?"; } |
  while read -r line; do
    case "$line" in
      'rc '*) say "case e rc=${line#rc }" ;;
      *) say "e-line $line" ;;
    esac
  done
[ -f /tmp/e-audit.jsonl ] && sed 's/^/rig: e-audit /' /tmp/e-audit.jsonl

say "done uptime_ms=$(uptime_ms)"
poweroff -f
