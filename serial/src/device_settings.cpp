#include "device_settings.h"

namespace vexel::comm {
namespace {

constexpr uint32_t kDtrHandshake = kDtrControlHandshake << kDtrControlShift;
constexpr uint32_t kRtsHandshake = kRtsControlHandshake << kRtsControlShift;
constexpr uint32_t kAllFlowBits = kFOutxCtsFlow | kFOutxDsrFlow | kDtrControlMask |
                                  kRtsControlMask | kFOutX | kFInX;

// Indexed by FlowControl. Every other field (fDsrSensitivity,
// fTXContinueOnXoff, the XON/XOFF characters and limits) stays as read.
// clang-format off
constexpr FlowControlBits kFlowControlTable[] = {
    // clear                                   set
    {kAllFlowBits,                             0},                                      // FlowNone
    {kAllFlowBits & ~(kFOutxCtsFlow | kFOutxDsrFlow | kDtrHandshake | kRtsHandshake),
     kFOutxCtsFlow | kFOutxDsrFlow | kDtrHandshake | kRtsHandshake},                   // FlowHardware
    {kAllFlowBits & ~(kFOutX | kFInX),         kFOutX | kFInX},                         // FlowXonXoff
};
// clang-format on

// Indexed by ReadMode: ReadIntervalTimeout, multiplier, constant.
constexpr uint32_t kReadModeTable[][3] = {
    {0xFFFFFFFFu, 0, 0},  // ReadNonBlocking: return at once with what has arrived
    {0, 0, 0},            // ReadBlocking: wait for every requested byte
};

}  // namespace

void SetLineFormatFields(DeviceSettings& s, uint32_t baudRate, uint8_t dataBits, uint8_t parity,
                         uint8_t stopBits) {
  s.BaudRate = baudRate;
  s.ByteSize = dataBits;
  s.Parity = parity;
  s.StopBits = stopBits;
  s.flags = parity == kParityNone ? s.flags & ~kFParity : s.flags | kFParity;
}

uint8_t ParityOf(const DeviceSettings& s) {
  return (s.flags & kFParity) != 0 ? s.Parity : kParityNone;
}

const FlowControlBits* FlowControlBitsOf(int32_t mode) {
  if (mode < FlowNone || mode > FlowXonXoff) return nullptr;
  return &kFlowControlTable[mode];
}

bool ApplyFlowControl(DeviceSettings& s, int32_t mode) {
  const FlowControlBits* bits = FlowControlBitsOf(mode);
  if (bits == nullptr) return false;
  s.flags = (s.flags & ~bits->clear) | bits->set;
  return true;
}

int32_t FlowControlOf(const DeviceSettings& s) {
  if (DtrControl(s) == kDtrControlHandshake && RtsControl(s) == kRtsControlHandshake) {
    return FlowHardware;
  }
  if ((s.flags & kFOutX) != 0 && (s.flags & kFInX) != 0) return FlowXonXoff;
  return FlowNone;
}

void ApplySoundFields(DeviceSettings& s) {
  s.flags = (s.flags & ~kUnsoundFlags) | kFBinary;
  s.XonChar = kXonChar;
  s.XoffChar = kXoffChar;
}

bool ApplyReadMode(CommTimeouts& t, int32_t mode) {
  if (mode < ReadNonBlocking || mode > ReadBlocking) return false;
  t.ReadIntervalTimeout = kReadModeTable[mode][0];
  t.ReadTotalTimeoutMultiplier = kReadModeTable[mode][1];
  t.ReadTotalTimeoutConstant = kReadModeTable[mode][2];
  return true;
}

bool ReadsReturnAtOnce(const CommTimeouts& t) {
  return t.ReadIntervalTimeout == 0xFFFFFFFFu && t.ReadTotalTimeoutMultiplier == 0 &&
         t.ReadTotalTimeoutConstant == 0;
}

}  // namespace vexel::comm
