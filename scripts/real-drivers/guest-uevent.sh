#!/bin/sh
# Run by busybox `uevent` for each kernel uevent in the guest: passes on the
# comings and goings of the serial ports as "add ttyUSB0" lines to the fifo the
# guest's init reads, so that it waits on the kernel's own events.
case "$SUBSYSTEM:$DEVNAME" in
  tty:ttyUSB* | tty:ttyS1) echo "$ACTION $DEVNAME" >/tmp/tty-events ;;
esac
