// The device-settings record the port's setters read, change and write back,
// laid out like the platform's DCB so that the flow-control modes are the
// documented flag words; and the read time-outs record behind the read modes.
#pragma once

#include <cstdint>

#include "serial/serial_types.h"

namespace vexel::comm {

// Bits of the flag word, in the platform's DCB order.
constexpr uint32_t kFBinary = 0x0001;
constexpr uint32_t kFParity = 0x0002;
constexpr uint32_t kFOutxCtsFlow = 0x0004;
constexpr uint32_t kFOutxDsrFlow = 0x0008;
constexpr uint32_t kDtrControlMask = 0x0030;
constexpr uint32_t kFDsrSensitivity = 0x0040;
constexpr uint32_t kFTXContinueOnXoff = 0x0080;
constexpr uint32_t kFOutX = 0x0100;
constexpr uint32_t kFInX = 0x0200;
constexpr uint32_t kFErrorChar = 0x0400;
constexpr uint32_t kFNull = 0x0800;
constexpr uint32_t kRtsControlMask = 0x3000;
constexpr uint32_t kFAbortOnError = 0x4000;
constexpr int kDtrControlShift = 4;
constexpr int kRtsControlShift = 12;

// The XON and XOFF characters Open sets: DC1 and DC3, as every XON/XOFF
// device expects them.
constexpr uint8_t kXonChar = 0x11;
constexpr uint8_t kXoffChar = 0x13;
// Flag bits Open clears whatever another program left behind: each loses or
// replaces received bytes (fNull drops the 0x00 that ends every reply,
// fDsrSensitivity drops all input while DSR is low, as on a three-wire cable).
constexpr uint32_t kUnsoundFlags = kFDsrSensitivity | kFErrorChar | kFNull | kFAbortOnError;

// The DTR and RTS control modes of the flag word (the DCB's DTR_CONTROL_ and
// RTS_CONTROL_ values; comm_win32.cpp checks them against <windows.h>).
constexpr uint32_t kDtrControlDisable = 0;
constexpr uint32_t kDtrControlEnable = 1;
constexpr uint32_t kDtrControlHandshake = 2;
constexpr uint32_t kRtsControlDisable = 0;
constexpr uint32_t kRtsControlEnable = 1;
constexpr uint32_t kRtsControlHandshake = 2;
constexpr uint32_t kRtsControlToggle = 3;

struct DeviceSettings {
  uint32_t BaudRate = 0;
  uint32_t flags = kFBinary;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = kParityNone;
  uint8_t StopBits = kOneStopBit;
  uint8_t XonChar = kXonChar;
  uint8_t XoffChar = kXoffChar;
  uint8_t ErrorChar = 0;
  uint8_t EofChar = 0;
  uint8_t EvtChar = 0;
};

inline uint32_t DtrControl(const DeviceSettings& s) {
  return (s.flags & kDtrControlMask) >> kDtrControlShift;
}
inline uint32_t RtsControl(const DeviceSettings& s) {
  return (s.flags & kRtsControlMask) >> kRtsControlShift;
}

// Sets the four line-format fields and fParity (set unless kParityNone).
void SetLineFormatFields(DeviceSettings& s, uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                         uint8_t stopBits);
// The parity code as the line uses it: kParityNone while fParity is clear.
uint8_t ParityOf(const DeviceSettings& s);

// Flag bits a flow-control mode clears and then sets.
struct FlowControlBits {
  uint32_t clear;
  uint32_t set;
};
// The bits of mode, or nullptr for a mode outside FlowNone..FlowXonXoff.
const FlowControlBits* FlowControlBitsOf(int32_t mode);
// Applies mode's bits; false (nothing changed) for a mode out of range.
bool ApplyFlowControl(DeviceSettings& s, int32_t mode);
// FlowHardware when DTR and RTS are both handshaking, else FlowXonXoff when
// XON/XOFF runs both ways, else FlowNone.
int32_t FlowControlOf(const DeviceSettings& s);

// Sets the fields a record left by another program or a driver can hold at
// values that lose data or make the platform refuse the whole record (equal
// XON and XOFF characters): clears kUnsoundFlags, sets fBinary and the XON
// and XOFF characters. Every other field stays as read. The Windows port
// writes every record through it, from Open's first setter on.
void ApplySoundFields(DeviceSettings& s);

// The platform's read and write time-outs of a line.
struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};
// Sets the three read time-outs of mode; false for a mode out of range.
bool ApplyReadMode(CommTimeouts& t, int32_t mode);
// True when reads return at once with what has arrived (ReadNonBlocking).
bool ReadsReturnAtOnce(const CommTimeouts& t);

// The defaults Open applies, in this order: event mask, line format, read
// mode, flow control.
constexpr uint32_t kDefaultEventMask = kEventRxChar | kEventBreak | kEventError;
constexpr uint32_t kDefaultBaudRate = 9600;
constexpr uint8_t kDefaultDataBits = 8;
constexpr uint8_t kDefaultParity = kParityNone;
constexpr uint8_t kDefaultStopBits = kOneStopBit;
constexpr ReadMode kDefaultReadMode = ReadNonBlocking;
constexpr FlowControl kDefaultFlowControl = FlowNone;

}  // namespace vexel::comm
