#include "termios_mapping_posix.h"

#include <sys/ioctl.h>

namespace vexel::comm {
namespace {

struct BaudEntry {
  uint32_t rate;
  speed_t speed;
};
constexpr BaudEntry kBaudTable[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
// Indexed by the parity code.
constexpr tcflag_t kParityTable[] = {
    0,                         // kParityNone
    PARENB | PARODD,           // kParityOdd
    PARENB,                    // kParityEven
    PARENB | PARODD | CMSPAR,  // kParityMark: the parity bit is always 1
    PARENB | CMSPAR,           // kParitySpace: the parity bit is always 0
};
constexpr tcflag_t kSizeTable[] = {CS5, CS6, CS7, CS8};  // 5..8 data bits

tcflag_t With(tcflag_t flags, tcflag_t bits, bool on) {
  return on ? (flags | bits) : (flags & ~bits);
}

bool Refused(const DeviceSettings& s) {
  return SpeedOfBaudRate(s.BaudRate) == B0 || s.ByteSize < 5 || s.ByteSize > 8 ||
         ParityOf(s) > kParitySpace || (s.StopBits != kOneStopBit && s.StopBits != kTwoStopBits);
}

bool WantsDsrHandshake(const DeviceSettings& s) {
  return (s.flags & kFOutxDsrFlow) != 0 || DtrControl(s) == kDtrControlHandshake;
}

bool WantsRtsCts(const DeviceSettings& s) {
  return (s.flags & kFOutxCtsFlow) != 0 || RtsControl(s) == kRtsControlHandshake;
}

uint8_t ParityOfBits(tcflag_t bits) {
  for (uint8_t code = kParityOdd; code <= kParitySpace; ++code) {
    if (kParityTable[code] == bits) return code;
  }
  return kParityEven;  // PARENB with an unusual companion bit: the nearest
}

uint8_t DataBitsOf(tcflag_t cflag) {
  for (uint8_t i = 0; i < 4; ++i) {
    if (kSizeTable[i] == (cflag & CSIZE)) return static_cast<uint8_t>(5 + i);
  }
  return 8;
}

uint32_t Increase(int before, int after) {
  return after > before ? static_cast<uint32_t>(after - before) : 0;
}

}  // namespace

speed_t SpeedOfBaudRate(uint32_t baudRate) {
  for (const BaudEntry& e : kBaudTable) {
    if (e.rate == baudRate) return e.speed;
  }
  return B0;
}

uint32_t BaudRateOfSpeed(speed_t speed) {
  for (const BaudEntry& e : kBaudTable) {
    if (e.speed == speed) return e.rate;
  }
  return 0;
}

void MakeRaw(termios& t) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | ISTRIP | INLCR | IGNCR |
                                      ICRNL | IXANY | IMAXBEL);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

int32_t ToTermios(const DeviceSettings& s, termios& t) {
  if (Refused(s)) return kErrorInvalidParameter;
  cfsetispeed(&t, SpeedOfBaudRate(s.BaudRate));
  cfsetospeed(&t, SpeedOfBaudRate(s.BaudRate));
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | kSizeTable[s.ByteSize - 5];
  t.c_cflag = (t.c_cflag & ~kParityBits) | kParityTable[ParityOf(s)];
  t.c_cflag = With(t.c_cflag, CSTOPB, s.StopBits == kTwoStopBits);
  t.c_cflag = With(t.c_cflag, CRTSCTS, WantsRtsCts(s));
  t.c_iflag = With(t.c_iflag, INPCK, ParityOf(s) != kParityNone);
  t.c_iflag = With(t.c_iflag, IXON, (s.flags & kFOutX) != 0);
  t.c_iflag = With(t.c_iflag, IXOFF, (s.flags & kFInX) != 0);
  t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
  return WantsDsrHandshake(s) ? kErrorNotSupported : kResultOk;
}

void FromTermios(const termios& t, DeviceSettings& s) {
  s.BaudRate = BaudRateOfSpeed(cfgetospeed(&t));
  s.ByteSize = DataBitsOf(t.c_cflag);
  const tcflag_t parity = t.c_cflag & kParityBits;
  s.flags = (parity & PARENB) != 0 ? s.flags | kFParity : s.flags & ~kFParity;
  if ((parity & PARENB) != 0) s.Parity = ParityOfBits(parity);
  s.StopBits = (t.c_cflag & CSTOPB) != 0 ? kTwoStopBits : kOneStopBit;
  const bool rtsCts = (t.c_cflag & CRTSCTS) != 0;
  s.flags = rtsCts ? s.flags | kFOutxCtsFlow : s.flags & ~kFOutxCtsFlow;
  if (rtsCts) {
    s.flags = (s.flags & ~kRtsControlMask) | (kRtsControlHandshake << kRtsControlShift);
  } else if (RtsControl(s) == kRtsControlHandshake) {
    s.flags = (s.flags & ~kRtsControlMask) | (kRtsControlEnable << kRtsControlShift);
  }
  s.flags = (t.c_iflag & IXON) != 0 ? s.flags | kFOutX : s.flags & ~kFOutX;
  s.flags = (t.c_iflag & IXOFF) != 0 ? s.flags | kFInX : s.flags & ~kFInX;
  s.XonChar = t.c_cc[VSTART];
  s.XoffChar = t.c_cc[VSTOP];
}

ModemLines ModemLinesOf(const DeviceSettings& s) {
  ModemLines lines;
  if (DtrControl(s) == kDtrControlEnable) lines.raise |= TIOCM_DTR;
  if (DtrControl(s) == kDtrControlDisable) lines.drop |= TIOCM_DTR;
  if (RtsControl(s) == kRtsControlEnable) lines.raise |= TIOCM_RTS;
  if (RtsControl(s) == kRtsControlDisable) lines.drop |= TIOCM_RTS;
  return lines;
}

uint32_t ErrorFlagsBetween(const serial_icounter_struct& before,
                           const serial_icounter_struct& after) {
  uint32_t flags = 0;
  if (Increase(before.frame, after.frame) != 0) flags |= kLineErrorFrame;
  if (Increase(before.parity, after.parity) != 0) flags |= kLineErrorRxParity;
  if (Increase(before.overrun, after.overrun) != 0) flags |= kLineErrorOverrun;
  if (Increase(before.buf_overrun, after.buf_overrun) != 0) flags |= kLineErrorRxOver;
  if (Increase(before.brk, after.brk) != 0) flags |= kLineErrorBreak;
  return flags;
}

uint32_t EventsOfErrors(uint32_t errorFlags) {
  uint32_t events = 0;
  if ((errorFlags &
       (kLineErrorFrame | kLineErrorRxParity | kLineErrorOverrun | kLineErrorRxOver)) != 0)
    events |= kEventError;
  if ((errorFlags & kLineErrorBreak) != 0) events |= kEventBreak;
  return events;
}

}  // namespace vexel::comm
