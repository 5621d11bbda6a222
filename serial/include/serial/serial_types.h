// Platform-independent types of the serial line: result codes, line-format
// codes, modes, event bits and the notification target.
#pragma once

#include <cstdint>

namespace vexel {

/// @name Return codes and error handling
/// Every serial operation returns a 32-bit signed result code and keeps it as
/// the object's last error. Callers test for non-zero and word their own
/// messages; the serial classes never throw and never print.
///  - 0 `kResultOk`: success.
///  - 6 `kErrorInvalidHandle`: any operation but Open, Close and
///    TakeEventType on a closed port.
///  - 1247 `kErrorAlreadyInitialized`: Open on an open port; it is untouched.
///  - 1460 `kErrorTimeout`: a synchronous wait, read or write did not complete
///    in time; it has been cancelled and writes nothing more. A wait that
///    fails instead reports the platform's code.
///  - 0x80070057 `kErrorInvalidArg`: a flow-control or read mode out of range.
///  - any other: the platform's code (on Linux errno mapped to the nearest
///    Win32 code; the OS text stays available from the port object).
///
/// The platform codes the Linux line produces:
///  - 1 `kErrorInvalidFunction`: the device is not a serial line (ENOTTY).
///  - 2 `kErrorFileNotFound`: no such device (ENOENT, ENODEV, ENXIO).
///  - 5 `kErrorAccessDenied`: not permitted, or the port is held by another
///    object or program (EACCES, EPERM, EBUSY, EWOULDBLOCK from the lock).
///  - 50 `kErrorNotSupported`: termios has no such setting: DTR/DSR
///    handshaking. FlowHardware still switches RTS/CTS on, then reports this;
///    only the call that switches it on does, later setters report 0.
///  - 87 `kErrorInvalidParameter`: a setting the line refuses (a baud rate
///    outside the standard table, data bits outside 5..8, parity above 4,
///    1.5 stop bits); nothing has been written.
///  - 995 `kErrorOperationAborted`: the outcome of an operation that was
///    pending on a caller's record when the port was closed.
///  - 996 `kErrorIoIncomplete`: GetOverlappedResult without waiting on an
///    operation that is still pending.
///  - 1117 `kErrorIoDevice`: the line hung up (EIO; a pulled USB adapter, a
///    closed pseudo-terminal master).
///  - 31 `kErrorGenFailure`: any other OS failure; see LastOsError().
/// @{
constexpr int32_t kResultOk = 0;
constexpr int32_t kErrorInvalidFunction = 1;
constexpr int32_t kErrorFileNotFound = 2;
constexpr int32_t kErrorPathNotFound = 3;
constexpr int32_t kErrorTooManyOpenFiles = 4;
constexpr int32_t kErrorAccessDenied = 5;
constexpr int32_t kErrorInvalidHandle = 6;
constexpr int32_t kErrorNotEnoughMemory = 8;
constexpr int32_t kErrorGenFailure = 31;
constexpr int32_t kErrorNotSupported = 50;
constexpr int32_t kErrorInvalidParameter = 87;
constexpr int32_t kErrorBrokenPipe = 109;
constexpr int32_t kErrorFilenameTooLong = 206;
constexpr int32_t kErrorOperationAborted = 995;
constexpr int32_t kErrorIoIncomplete = 996;
constexpr int32_t kErrorIoPending = 997;
constexpr int32_t kErrorIoDevice = 1117;
constexpr int32_t kErrorAlreadyInitialized = 1247;
constexpr int32_t kErrorTimeout = 1460;
constexpr int32_t kErrorInvalidArg = static_cast<int32_t>(0x80070057u);
/// @}

constexpr uint32_t kInfinite = 0xFFFFFFFFu;

/// @name Line-format codes, event bits and line error flags
/// The values of the platform's DCB, WaitCommEvent and ClearCommError, under
/// names of their own: <windows.h> has the same ones as macros, so these mean
/// the same whichever header comes first. The Windows port checks them
/// against it (comm_win32.cpp).
/// @{
constexpr uint8_t kParityNone = 0;
constexpr uint8_t kParityOdd = 1;
constexpr uint8_t kParityEven = 2;
constexpr uint8_t kParityMark = 3;
constexpr uint8_t kParitySpace = 4;

constexpr uint8_t kOneStopBit = 0;
constexpr uint8_t kOne5StopBits = 1;
constexpr uint8_t kTwoStopBits = 2;

constexpr uint32_t kEventRxChar = 0x0001;
constexpr uint32_t kEventRxFlag = 0x0002;
constexpr uint32_t kEventBreak = 0x0040;
constexpr uint32_t kEventError = 0x0080;
/// Not a comm event of the system's: the line itself is gone (an adapter
/// unplugged, a driver stopped, a hang-up). A watcher reports it once, as its
/// last event, when its next event wait fails for any reason but a Close.
constexpr uint32_t kEventLineLost = 0x8000;

/// Carried in the high word of a notification's wParam.
constexpr uint32_t kLineErrorRxOver = 0x0001;
constexpr uint32_t kLineErrorOverrun = 0x0002;
constexpr uint32_t kLineErrorRxParity = 0x0004;
constexpr uint32_t kLineErrorFrame = 0x0008;
constexpr uint32_t kLineErrorBreak = 0x0010;
/// @}

enum FlowControl : int32_t { FlowNone = 0, FlowHardware = 1, FlowXonXoff = 2 };
enum ReadMode : int32_t { ReadNonBlocking = 0, ReadBlocking = 1 };

/// Completion record of the asynchronous forms; defined by the serial library.
struct SerialOverlapped;

/// Receiver of the watcher's notifications. PostComMessage is called on the
/// watcher thread and must only queue the message for the owner's thread:
/// it never blocks and never calls back into the port.
class ComNotifyTarget {
 public:
  virtual ~ComNotifyTarget() = default;
  virtual void PostComMessage(uint32_t message, uint32_t wParam, intptr_t lParam) = 0;
};

}  // namespace vexel
