// Pure functions between the device-settings record and a termios record,
// and from the driver's error counters to the kLineError flags. No I/O: the port's
// platform file reads and writes the line around them.
#pragma once

#include <linux/serial.h>
#include <termios.h>

#include <cstdint>

#include "device_settings.h"

namespace vexel::comm {

// Raw line discipline: no echo, no canonical input, no signals, no output
// processing, no PARMRK escaping, breaks read as a 0 byte; a non-blocking
// read of nothing gives EAGAIN (VMIN 1, VTIME 0), not the 0 of a hang-up.
void MakeRaw(termios& t);

// Writes the fields of s that termios holds into t and returns 0.
// kErrorInvalidParameter (87), with t untouched: a baud rate outside the
// standard table, data bits outside 5..8, parity above kParitySpace, or 1.5
// stop bits, which Linux does not offer. kErrorNotSupported (50) with t
// fully written: DTR/DSR handshaking was asked for, which termios lacks;
// RTS/CTS handshaking (CRTSCTS) is set when either of its halves is asked for.
int32_t ToTermios(const DeviceSettings& s, termios& t);

// Overwrites the fields of s that termios holds with those of t: baud
// rate (0 when not in the table), data bits, parity (fParity follows
// PARENB; the Parity field is kept while parity is off), stop bits, RTS/CTS,
// XON/XOFF and their characters. The other fields are left as they are.
void FromTermios(const termios& t, DeviceSettings& s);

// Modem-control lines (TIOCM_ bits) to raise and to drop for the DTR and RTS
// control fields; lines under handshaking are left to the driver.
struct ModemLines {
  int raise = 0;
  int drop = 0;
};
ModemLines ModemLinesOf(const DeviceSettings& s);

// The kLineError flags for the counter increases from before to after.
uint32_t ErrorFlagsBetween(const serial_icounter_struct& before,
                           const serial_icounter_struct& after);
// kEventError and kEventBreak for a set of kLineError flags.
uint32_t EventsOfErrors(uint32_t errorFlags);

// The speed_t of a baud rate, B0 when not in the table; and back (0).
speed_t SpeedOfBaudRate(uint32_t baudRate);
uint32_t BaudRateOfSpeed(speed_t speed);

}  // namespace vexel::comm
