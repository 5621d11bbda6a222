#!/usr/bin/env bash
# The command-line loader on the kernel's own serial drivers: Debian's kernel
# boots under QEMU (TCG) with a busybox initramfs holding the loader; the guest
# has an emulated 16550 UART (ttyS1, the 8250 driver) and two emulated FTDI
# adapters on an xHCI controller (ttyUSB0 and ttyUSB1, ftdi_sio). Each line is
# a unix-socket chardev, bridged by socat to a vexel-module-sim on the host.
# One boot runs every case (scripts/real-drivers/guest-init.sh):
#   a  byte-exact loads on ttyS1 and ttyUSB0
#   b  ttyUSB0's latency_timer reads 1 while the loader holds the line, 16 after
#   c  the adapter removed mid-load (monitor device_del): the load ends within
#      a second, lost-line exit class, no CPU spin
#   d  the adapter added back (device_add): the next load succeeds
#   e  a --station session on ttyUSB1 across a removal and a re-plug resumes
# This script unplugs and re-plugs at the moments the simulators' events and
# the guest's console show, then prints a table of the cases and figures and
# exits 1 if one failed. Every wait is on an event (a line in a log, a process
# ending) with a deadline; no host serial device is ever opened.
#
#   scripts/test-real-drivers.sh [BUILD_DIR]     (default build)
#
# Needs qemu-system-x86, linux-image-amd64, busybox-static and socat
# (scripts/deps.sh test). VEXEL_RIG_TIMEOUT bounds the guest's run (default 240 s).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cli=$build/cli/duvozeviv-cli
sim=$build/sim/vexel-module-sim
guest=$root/scripts/real-drivers
run_timeout=${VEXEL_RIG_TIMEOUT:-240}
started=$EPOCHREALTIME

say() { echo "test-real-drivers: $*"; }
fail() {
  echo "test-real-drivers: FAIL: $*" >&2
  exit 1
}

for tool in qemu-system-x86_64 socat; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh test installs it)"
done
[ -x "$cli" ] || fail "build $cli first"
[ -x "$sim" ] || fail "build $sim first"
kernel=$(find /boot -maxdepth 1 -name 'vmlinuz-*' | sort -V | tail -n 1)
[ -r "$kernel" ] || fail "no readable /boot/vmlinuz-* (install linux-image-amd64)"
modules=/lib/modules/${kernel#/boot/vmlinuz-}
busybox=/bin/busybox
! ldd "$busybox" >/dev/null 2>&1 || fail "$busybox is not static (install busybox-static)"

work=$(mktemp -d /tmp/vexel-rig.XXXXXX)
[[ $work != *,* ]] || fail "$work: QEMU's options cannot hold a comma"
children=()
passed=0
cleanup() {
  local pid
  for pid in "${children[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ "$passed" = 1 ]; then rm -rf "$work"; else say "logs kept in $work"; fi
}
trap cleanup EXIT

# wait_line FILE FIRST ERE SECONDS: waits until a line at or after line FIRST
# of FILE matches ERE and prints its number; gives up at the deadline or when
# QEMU has ended (tail follows the file through inotify).
wait_line() {
  local file=$1 n=$2 ere=$3 deadline=$((SECONDS + $4)) line found="" fd tail_pid
  exec {fd}< <(exec tail -n "+$n" -F ${qemu_pid:+--pid="$qemu_pid"} "$file" 2>/dev/null)
  tail_pid=$!
  while ((SECONDS < deadline)) && IFS= read -r -t $((deadline - SECONDS)) -u "$fd" line; do
    if [[ $line =~ $ere ]]; then
      found=$n
      break
    fi
    n=$((n + 1))
  done
  kill "$tail_pid" 2>/dev/null || true
  exec {fd}<&-
  [ -n "$found" ] && echo "$found"
}
seconds_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'; }

# --- the images and the initramfs ---------------------------------------------
declare -A size=([a-8250]=4096 [a-ftdi]=8192 [c]=32768 [d]=4096 [e]=8192)
rootfs=$work/root
mkdir -p "$rootfs/bin" "$rootfs/rig/modules"
for name in "${!size[@]}"; do head -c "${size[$name]}" /dev/urandom >"$work/$name.mbf"; done
cp "$work"/*.mbf "$rootfs/rig/"
cp "$busybox" "$rootfs/bin/busybox"
cp "$cli" "$rootfs/rig/"
for lib in $(ldd "$cli" | grep -o '/[^ ]*'); do
  mkdir -p "$rootfs$(dirname "$lib")"
  cp -L "$lib" "$rootfs$lib"
done
for module in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio; do
  file=$(find "$modules" -name "$module.ko*" | head -n 1)
  [ -n "$file" ] || fail "$module.ko is not in $modules"
  case $file in
    *.xz) xz -dc "$file" ;;
    *.zst) zstd -qdc "$file" ;;
    *.gz) gzip -dc "$file" ;;
    *) cat "$file" ;;
  esac >"$rootfs/rig/modules/$module.ko"
done
install -m 755 "$guest/guest-init.sh" "$rootfs/init"
install -m 755 "$guest/guest-uevent.sh" "$guest/guest-load.sh" "$rootfs/rig/"
(cd "$rootfs" && find . | "$busybox" cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initrd.gz"

# --- the simulators and their bridges -----------------------------------------
# ttyS1 and ttyUSB0 each talk to one module; ttyUSB1 to a fixture of three.
# The adapters go while the loader waits for a reply that does not come (to
# the 200th request of case c's load, to the 10th of module 2): the loader is
# mid-load however fast the guest runs, and only the lost line can end it
# within a second.
declare -A sim_pid
start_sim() {  # NAME [OPTIONS]
  local name=$1
  shift
  "$sim" --json --link "$work/$name.link" --out "$work/$name/" "$@" >"$work/$name.events" 2>"$work/$name.err" &
  children+=($!) sim_pid[$name]=$!
  wait_line "$work/$name.events" 1 '"event":"ready"' 30 >/dev/null || fail "$name: the simulator did not start"
}
start_bridge() {  # NAME: socat listens on NAME.sock; QEMU connects at its start
  socat -d -d "UNIX-LISTEN:$work/$1.sock" "FILE:$work/$1.link,raw,echo=0" 2>"$work/$1.socat" &
  children+=($!)
  wait_line "$work/$1.socat" 1 'listening on' 30 >/dev/null || fail "$1: socat did not listen"
}
start_sim s1
start_sim u0 --fault silence@200
start_sim u1 --modules 3 --gap 300 --fault 'silence@10#2'
for name in s1 u0 u1; do start_bridge "$name"; done

# --- the guest ----------------------------------------------------------------
usb_serial() { echo "usb-serial,id=ftdi$1,chardev=u$1,bus=xhci.0,port=$(($1 + 1))"; }
qmp_usb_serial() { echo "{\"driver\":\"usb-serial\",\"id\":\"ftdi$1\",\"chardev\":\"u$1\",\"bus\":\"xhci.0\",\"port\":\"$(($1 + 1))\"}"; }
boot_started=$EPOCHREALTIME
timeout --signal=KILL "$run_timeout" qemu-system-x86_64 -accel tcg -cpu max -m 256 -smp 1 \
  -nodefaults -display none -no-reboot \
  -kernel "$kernel" -initrd "$work/initrd.gz" \
  -append "console=ttyS0,115200 rdinit=/init panic=-1 loglevel=4" \
  -chardev "file,id=con,path=$work/console.log" -serial chardev:con \
  -chardev "socket,id=s1,path=$work/s1.sock" -serial chardev:s1 \
  -device qemu-xhci,id=xhci \
  -chardev "socket,id=u0,path=$work/u0.sock" -device "$(usb_serial 0)" \
  -chardev "socket,id=u1,path=$work/u1.sock" -device "$(usb_serial 1)" \
  -qmp "unix:$work/qmp.sock,server=on,wait=off" >"$work/qemu.log" 2>&1 &
qemu_pid=$!
children+=("$qemu_pid")

problems=$work/problems
touch "$problems"
await() {  # FILE FIRST ERE SECONDS WHAT: wait_line, a missed deadline noted
  local n
  n=$(wait_line "$1" "$2" "$3" "$4") && echo "$n" && return 0
  echo "no $5 (deadline $4 s, or QEMU ended)" >>"$problems"
  echo 1
  return 1
}
console=$work/console.log
touch "$console"
boot_s=none
await "$console" 1 '^rig: ready' 120 "ready guest" >/dev/null && boot_s=$(seconds_since "$boot_started")

# One QMP session for the whole run (its socket is there once the guest runs):
# commands in through a fifo, answers and events out to qmp.log.
qmp_log=$work/qmp.log
mkfifo "$work/qmp.in"
: >"$qmp_log"
exec {qmp_in}<>"$work/qmp.in"
socat - "UNIX-CONNECT:$work/qmp.sock" <&"$qmp_in" >"$qmp_log" 2>&1 &
children+=($!)
qmp_id=0
qmp() {  # COMMAND ARGUMENTS-JSON: sends a command, waits for its answer
  local id=$((++qmp_id)) from
  from=$(($(wc -l <"$qmp_log") + 1))
  echo "{\"execute\":\"$1\",\"arguments\":$2,\"id\":$id}" >&"$qmp_in"
  from=$(await "$qmp_log" "$from" "\"id\": ${id}[,}]" 10 "QMP answer to $1") &&
    sed -n "${from}p" "$qmp_log" | grep -q '"return"' || echo "QMP: $1 $2 failed" >>"$problems"
}
unplug() {  # N: device_del of adapter N, waits until QEMU has let go of it
  local from
  from=$(($(wc -l <"$qmp_log") + 1))
  qmp device_del "{\"id\":\"ftdi$1\"}"
  await "$qmp_log" "$from" "DEVICE_DELETED.*\"ftdi$1\"" 10 "deletion of ftdi$1" >/dev/null || true
}
replug() { qmp device_add "$(qmp_usb_serial "$1")"; }  # N
qmp qmp_capabilities '{}'

# c: the guest says when the loader waits mid-load.
await "$console" 1 '^rig: c-waiting' 90 "mid-load wait on ttyUSB0" >/dev/null && unplug 0
# d: the guest asks for the adapter once it has read c's results.
if await "$console" 1 '^rig: replug ttyUSB0' 90 "re-plug request" >/dev/null; then
  replug 0
  added=$EPOCHREALTIME
  if await "$console" 1 '^rig: ttyUSB0 back' 60 "ttyUSB0 back" >/dev/null; then
    replug_s=$(seconds_since "$added")
  fi
fi
# e: at module 2's 10th request the station's adapter goes; it comes back
# once the station has ended that module.
n=$(await "$work/u1.events" 1 '"event":"module".*"index":2,"state":"attached"' 120 "module 2 on ttyUSB1") || true
await "$work/u1.events" "$n" '"event":"request".*"step":10,' 60 "transfer to module 2" >/dev/null &&
  unplug 1
await "$console" 1 '^rig: e-line .*module 2:' 60 "station's end of module 2" >/dev/null || true
replug 1

qemu_status=0
wait "$qemu_pid" || qemu_status=$?
grep -q '^rig: done' "$console" || echo "the guest did not finish (QEMU status $qemu_status)" >>"$problems"
for name in s1 u0 u1; do
  kill "${sim_pid[$name]}" 2>/dev/null || true
  wait "${sim_pid[$name]}" 2>/dev/null || true
done

# --- results ------------------------------------------------------------------
rig() { sed -n "s/^rig: $1//p" "$console" | tr -d '\r' | head -n 1; }
field() { { grep -o "$1=[^ ]*" <<<"$2" || true; } | head -n 1 | cut -d= -f2; }  # NAME TEXT
json_field() { { grep -o "\"$1\":\(\"[^\"]*\"\|[^,}]*\)" <<<"$2" || true; } | head -n 1 | cut -d: -f2- | tr -d '"'; }
exact() { [ -f "$work/$1" ] && cmp -s "$work/$1" "$work/$2.mbf"; }  # RECEIVED SENT
exact_word() { exact "$@" && echo equal || echo "not equal"; }
load_seconds() {  # NAME: INIT to the FLASH acknowledgement, as the loader measured it
  local seconds
  seconds=$(json_field seconds "$(rig "result $1 ")")
  if [ -n "$seconds" ]; then printf '%.1f' "$seconds"; else echo "?"; fi
}
rows=()
failed=0
row() {  # CASE WHAT CHECK FIGURES: CHECK is a function that passes or fails
  local verdict=pass
  "$3" || verdict=FAIL failed=1
  rows+=("$(printf '%-4s %-46s %-6s %s' "$1" "$2" "$verdict" "$4")")
}

a_8250=$(field rc "$(rig 'case a-8250 ')") a_ftdi=$(field rc "$(rig 'case a-ftdi ')")
a_8250_ok() { [ "$a_8250" = 0 ] && exact s1/image-0001.mbf a-8250; }
a_ftdi_ok() { [ "$a_ftdi" = 0 ] && exact u0/image-0001.mbf a-ftdi; }
row a "byte-exact load on ttyS1 (8250)" a_8250_ok \
  "exit ${a_8250:-?}, ${size[a-8250]} bytes in $(load_seconds a-8250) s, image $(exact_word s1/image-0001.mbf a-8250)"
row a "byte-exact load on ttyUSB0 (ftdi_sio)" a_ftdi_ok \
  "exit ${a_ftdi:-?}, ${size[a-ftdi]} bytes in $(load_seconds a-ftdi) s, image $(exact_word u0/image-0001.mbf a-ftdi)"

b=$(rig 'case b ')
before=$(field before "$b") during=$(field during "$b") after=$(field after "$b")
b_ok() { [ "$before" = 16 ] && [ "$during" = 1 ] && [ "$after" = 16 ]; }
row b "latency_timer 1 while held, 16 after" b_ok \
  "before ${before:-?} ms, during ${during:-?} ms, after ${after:-?} ms"

c=$(rig 'case c ') c_result=$(rig 'result c ')
c_rc=$(field rc "$c") gap=$(field disconnect_to_end_ms "$c")
cpu_after=$(field cpu_after_waiting_ms "$c") wall_after=$(field wall_after_waiting_ms "$c")
number() { [[ $1 =~ ^[0-9]+$ ]]; }
c_message=$(json_field message "$c_result") c_position=$(json_field position "$c_result")
c_cpu_total=$(field cpu_total_ms "$c")
c_ok() {  # a lost line within a second; from the wait to the end, the CPU mostly idle
  [ "$c_rc" = 9 ] && number "$gap" && ((gap <= 1000)) &&
    [ "$c_message" = "Connection lost: /dev/ttyUSB0 went away (adapter unplugged or driver stopped)" ] &&
    number "$cpu_after" && number "$wall_after" && ((cpu_after <= wall_after / 2 + 30))
}
row c "adapter removed mid-load: lost line in <= 1 s" c_ok \
  "exit ${c_rc:-?} at byte ${c_position:-?} of ${size[c]}, USB disconnect to end ${gap:-?} ms; from the loader's wait to its end ${wall_after:-?} ms, CPU ${cpu_after:-?} ms (whole load ${c_cpu_total:-?} ms); \"$c_message\""

d_rc=$(field rc "$(rig 'case d ')")
d_ok() { [ "$d_rc" = 0 ] && exact u0/image-0002.mbf d; }
row d "re-plugged adapter: the next load" d_ok \
  "exit ${d_rc:-?}, ttyUSB0 back ${replug_s:-?} s after device_add, image $(exact_word u0/image-0002.mbf d)"

e_rc=$(field rc "$(rig 'case e ')")
modules=$(sed -n 's/^rig: e-audit \(.*"record":"module".*\)/\1/p' "$console" |
  while read -r record; do echo -n "$(json_field module "$record"):$(json_field exit_class "$record") "; done)
modules=${modules% }
e_ok() {  # module 2 lost with the line, module 3 programmed after the re-plug
  [ "$e_rc" = 9 ] && [ "$modules" = "1:loaded 2:line-lost 3:loaded" ] &&
    exact u1/image-0001.mbf e && exact u1/image-0002.mbf e
}
row e "station across a removal and a re-plug" e_ok \
  "exit ${e_rc:-?}, modules ${modules:-none}, images $(exact_word u1/image-0001.mbf e) and $(exact_word u1/image-0002.mbf e)"

echo
printf '%-4s %-46s %-6s %s\n' case what result figures
printf '%s\n' "${rows[@]}"
echo "     boot to drivers loaded: ${boot_s} s; whole rig: $(seconds_since "$started") s"
sed 's/^/test-real-drivers: note: /' "$problems"
if [ "$failed" = 0 ] && ! [ -s "$problems" ]; then
  passed=1
  say "all cases passed"
else
  say "console: $console"
  exit 1
fi
