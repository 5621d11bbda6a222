// The loader's protocol engine: connect probe, programming run, reply timers.
// It runs on one thread (the host's event loop) and reaches the outside only
// through the serial line, the image file and its host.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/controller_host.h"
#include "protocol/image_file.h"
#include "protocol/line_format.h"
#include "protocol/link_frame.h"
#include "serial/serial_line.h"

namespace vexel {

/// The state number alone decides how a complete frame is judged.
enum ControllerState : int32_t {
  Probing = 0,      ///< no run; a connect reply is awaited (also while disconnected)
  Ready = 1,        ///< connected and idle (frames dropped), or awaiting the reply to INIT
  Sending = 2,      ///< a SEND is outstanding
  SendingLast = 3,  ///< the SENDLAST is outstanding
  Flashing = 4,     ///< FLASH is outstanding
};

/// Host timer ids and their lengths.
enum TimerId : uint32_t {
  TIMER_CONNECT = 101,
  TIMER_INIT = 102,
  TIMER_SEND = 103,
  TIMER_FLASH = 104,
};
constexpr uint32_t kConnectWindowMs = 1000;
constexpr uint32_t kInitReplyMs = 1000;
constexpr uint32_t kChunkReplyMs = 5000;
constexpr uint32_t kFlashReplyMs = 5000;

// The serial driver's queues, each way.
constexpr uint32_t kQueueSize = 2048;

/// The class of the latest failure, for hosts that act on it (exit codes).
enum class Failure {
  None,
  PortOpen,         ///< "Cannot open open %s"
  LineFormat,       ///< "Cannot switch to 57600, E, 8 2"
  NoConnectReply,   ///< "Unable to connect to module"
  NotResponding,    ///< "Module not responding"
  InvalidResponse,  ///< "Invalid response from module for ..."
  InternalError,    ///< "Internal error: Unknown state"
  ImageFile,        ///< "Unable to open file %s"
  RunInProgress,    ///< a run was requested while one is under way
  LineLost,         ///< the serial line went away (adapter unplugged, driver stopped)
};

/// Sees every request written and every complete frame assembled (traces).
class FrameObserver {
 public:
  virtual ~FrameObserver() = default;
  virtual void OnFrameSent(const uint8_t* frame, size_t length) = 0;
  virtual void OnFrameReceived(const uint8_t* frame, size_t length) = 0;
};

/// Failures are reported once: the controller first settles (timers
/// stopped, port closed, state Probing), then calls ShowMessage, then
/// ShowDisconnected, and last releases the run's image and progress display.
/// It never starts a connection attempt by itself.
class ProgrammingController {
 public:
  ProgrammingController(ISerialLine& serial, ImageFile& image, ControllerHost& host);
  ProgrammingController(const ProgrammingController&) = delete;
  ProgrammingController& operator=(const ProgrammingController&) = delete;

  // Inputs, all on the host's thread.
  /// The Connect/Disconnect button.
  void ToggleConnection();
  /// A programming run of the image at @p path (connected and idle only).
  void StartRun(const std::string& path);
  /// A watcher notification; @p eventType is the low 16 bits of its wParam.
  /// kEventLineLost on an open port fails at once with Failure::LineLost,
  /// whatever the state, instead of waiting for a reply timer.
  void HandleLineEvent(uint32_t eventType);
  /// Expiry of host timer @p id.
  void HandleTimer(uint32_t id);

  // Observers.
  ControllerState State() const { return m_state; }
  bool IsConnected() const { return m_connected; }
  /// True from StartRun until the FLASH ACK or the run's failure.
  bool IsRunning() const { return m_running; }
  Failure LastFailure() const { return m_lastFailure; }
  /// The port's result code of the latest failed Open or SetLineFormat.
  int32_t LastPortResult() const { return m_lastPortResult; }
  void SetFrameObserver(FrameObserver* observer) { m_observer = observer; }

  // Frame-level state, exposed for tests of the builders and the assembler.
  const uint8_t* Frame() const { return m_frame; }
  int32_t SendLength() const { return m_sendLength; }
  int32_t RxCount() const { return m_rxCount; }
  bool RxDone() const { return m_rxDone != 0; }

 private:
  // Request builders: each fills m_frame from offset 0 and writes it.
  void SendFrame();
  void SendConnect();
  void SendInit();
  void SendFlash();
  void SendChunk();
  void SendFixed(const uint8_t* bytes, size_t length);

  // Receive side.
  void ResetAssembler();
  void ReadFrame();
  uint32_t ReadPort(size_t offset, uint32_t count);

  void Connect();
  void JudgeFrame();
  void AcceptAck();
  /// The one failure path: settles (timers stopped, port closed, Probing),
  /// then shows @p message once, the not-connected view, and ends the run.
  void AbandonRun(const std::string& message, Failure failure);
  void Settle();
  void EndRun();
  void StopAllTimers();

  ISerialLine& m_serial;
  ImageFile& m_image;
  ControllerHost& m_host;
  FrameObserver* m_observer = nullptr;

  ControllerState m_state = Probing;
  bool m_connected = false;
  bool m_portOpen = false;
  bool m_running = false;
  bool m_initOutstanding = false;  // INIT written, its reply not judged yet
  bool m_progressOpen = false;
  Failure m_lastFailure = Failure::None;
  int32_t m_lastPortResult = 0;

  uint8_t m_frame[kFrameBufferSize] = {};
  int32_t m_sendLength = 0;
  int32_t m_rxCount = 0;
  uint32_t m_rxDone = 1;
};

/// The message texts, exactly as the user sees them.
namespace text {
constexpr const char* kCannotOpen = "Cannot open open %s";
constexpr const char* kCannotSwitch = "Cannot switch to 57600, E, 8 2";
constexpr const char* kUnableToConnect = "Unable to connect to module";
constexpr const char* kNotResponding = "Module not responding";
constexpr const char* kInvalidInit = "Invalid response from module for INIT";
constexpr const char* kInvalidSend = "Invalid response from module for SEND";
constexpr const char* kInvalidSendLast = "Invalid response from module for SENDLAST";
constexpr const char* kInvalidFlash = "Invalid response from module for FLASH";
constexpr const char* kUnknownState = "Internal error: Unknown state";
constexpr const char* kUnableToOpenFile = "Unable to open file %s";
constexpr const char* kLineLost =
    "Connection lost: the serial port went away (adapter unplugged or driver stopped)";
constexpr const char* kRunInProgress = "A module is being programmed: wait until it is loaded";
constexpr const char* kConnected = "CONNECTED";
constexpr const char* kNotConnected = "NOT CONNECTED";
constexpr const char* kProgramming = "PROGRAMMING";
constexpr const char* kModuleLoaded = "MODULE LOADED";
}  // namespace text

}  // namespace vexel
