#!/usr/bin/env python3
"""The exchange as a user would script it with pyserial: CONNECT, INIT, the
image in 64-byte chunks, FLASH, each answered before the next is sent.
Prints the same one line of figures as bench_raw_loop.

    pyserial_peer.py DEVICE IMAGE_BYTES
"""
import sys
import time

import serial


def reply(port, command):
    frame = b""
    while len(frame) < 5:
        got = port.read(5 - len(frame))
        if not got:
            return False
        frame += got
        while frame and frame[0] != 0xB0:
            frame = frame[1:]
    return frame[1] == 0xEF and frame[2] == command and frame[3] == 1


def exchange(port, frame, command):
    port.write(frame)
    return reply(port, command)


def main():
    device, length = sys.argv[1], int(sys.argv[2])
    image = bytes((i * 13) & 0xFF for i in range(length))
    port = serial.Serial(device, 57600, bytesize=8, parity=serial.PARITY_EVEN,
                         stopbits=serial.STOPBITS_TWO, timeout=5)
    if not exchange(port, b"\xB0\xEF\x01\x00", 0x00) or \
            not exchange(port, b"\xB0\xEF\x55\x02\xAA\x04", 0xAA):
        sys.exit("no reply to CONNECT or INIT")
    start = time.monotonic()
    chunks = 0
    at = 0
    while True:
        chunk = image[at:at + 64]
        if not exchange(port, b"\xB0\xEF\x66" + bytes([len(chunk)]) + chunk, 0xAA):
            sys.exit("no reply to chunk %d" % chunks)
        chunks += 1
        at += len(chunk)
        if at == length:
            break
    elapsed = (time.monotonic() - start) * 1e6
    if not exchange(port, b"\xB0\xEF\x55\x09\x55\x02\x03\x04\x05\x06\x07\x08\x01", 0xAA):
        sys.exit("no reply to FLASH")
    port.close()
    print("chunks=%d total_us=%.0f per_chunk_us=%.2f" % (chunks, elapsed, elapsed / chunks))


if __name__ == "__main__":
    main()
