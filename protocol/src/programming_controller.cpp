// The connect probe, the programming run and their failure paths.
//
// Every failure ends settled before anything is shown: timers stopped, port
// closed, state reset. So nothing that arrives while a message box is open
// (a late reply, a stale timer) can start a second report or a new
// connection attempt of its own.
#include "protocol/programming_controller.h"

namespace vexel {
namespace {

std::string FormatText(const char* pattern, const std::string& arg) {
  std::string text(pattern);
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, arg);
  return text;
}

// How a complete frame is judged in each state of a run: the reply timer
// stopped first, and the text when the frame is not an ACK.
struct ReplyRule {
  ControllerState state;
  uint32_t timer;
  const char* invalidText;
};

constexpr ReplyRule kReplyRules[] = {
    {Ready, TIMER_INIT, text::kInvalidInit},
    {Sending, TIMER_SEND, text::kInvalidSend},
    {SendingLast, TIMER_SEND, text::kInvalidSendLast},
    {Flashing, TIMER_FLASH, text::kInvalidFlash},
};

const ReplyRule* FindRule(ControllerState state) {
  for (const auto& rule : kReplyRules) {
    if (rule.state == state) return &rule;
  }
  return nullptr;
}

}  // namespace

ProgrammingController::ProgrammingController(ISerialLine& serial, ImageFile& image,
                                             ControllerHost& host)
    : m_serial(serial), m_image(image), m_host(host) {}

void ProgrammingController::ToggleConnection() {
  m_state = Probing;
  m_initOutstanding = false;
  ResetAssembler();
  if (m_connected) {
    Settle();
    m_host.ShowDisconnected();
    EndRun();
    return;
  }
  Connect();
}

void ProgrammingController::Connect() {
  const std::string name = m_host.GetPortName();
  int32_t result = m_serial.Open(name.c_str(), m_host.NotificationTarget(), 0, 0, kQueueSize,
                                 kQueueSize);
  if (result != kResultOk) {
    // Also the second Connect during a probe window: the probe's own port is
    // still open, and the failure closes it.
    m_lastPortResult = result;
    AbandonRun(FormatText(text::kCannotOpen, name), Failure::PortOpen);
    return;
  }
  m_portOpen = true;
  result = m_serial.SetLineFormat(kLineBaudRate, 8, kParityEven, kTwoStopBits);
  if (result != kResultOk) {
    m_lastPortResult = result;
    AbandonRun(text::kCannotSwitch, Failure::LineFormat);
    return;
  }
  m_serial.SetFlowControl(FlowNone);
  m_serial.SetReadMode(ReadNonBlocking);
  m_lastFailure = Failure::None;
  SendConnect();
  m_host.StartTimer(TIMER_CONNECT, kConnectWindowMs);
}

void ProgrammingController::StartRun(const std::string& path) {
  if (m_running) {
    // The module must never see parts of two images before FLASH.
    m_lastFailure = Failure::RunInProgress;
    m_host.ShowMessage(text::kRunInProgress);
    return;
  }
  if (!m_connected) return;  // the hosts offer a run only while connected
  if (!m_image.Open(path)) {
    m_lastFailure = Failure::ImageFile;
    m_host.ShowMessage(FormatText(text::kUnableToOpenFile, path));
    return;
  }
  // Start from a settled line: a partial frame or a drop to Probing left by
  // noise or a break while idle would hide the module's INIT reply.
  ResetAssembler();
  m_state = Ready;
  m_running = true;
  m_initOutstanding = true;
  m_progressOpen = true;
  m_lastFailure = Failure::None;
  m_host.OpenProgress(m_image.GetLength());
  SendInit();
  m_host.StartTimer(TIMER_INIT, kInitReplyMs);
}

void ProgrammingController::HandleLineEvent(uint32_t eventType) {
  if ((eventType & kEventLineLost) != 0) {
    // Nothing more can come from a line that is gone: say so now rather than
    // let a reply timer blame the module seconds later.
    if (m_portOpen) AbandonRun(text::kLineLost, Failure::LineLost);
    return;
  }
  if (eventType != kEventRxChar) {
    // A break or line error: the outstanding reply, if any, will time out.
    m_state = Probing;
    ResetAssembler();
    return;
  }
  ReadFrame();
  if (m_rxCount == 0 || m_rxDone == 0) return;
  if (m_observer != nullptr) m_observer->OnFrameReceived(m_frame, static_cast<size_t>(m_rxCount));
  JudgeFrame();
}

void ProgrammingController::JudgeFrame() {
  if (m_state == Probing) {
    if (IsConnectReply(m_frame, m_rxCount)) {
      m_state = Ready;
    } else {
      ResetAssembler();
    }
    return;
  }
  if (m_state == Ready && !m_initOutstanding) {
    // Ready with no INIT sent: connected and idle, or the rest of a probe
    // window. A frame here answers nothing we asked, most often the module's
    // late reply to an earlier probe, so it is dropped, not judged.
    ResetAssembler();
    return;
  }
  const ReplyRule* rule = FindRule(m_state);
  if (rule == nullptr) {
    AbandonRun(text::kUnknownState, Failure::InternalError);
    return;
  }
  m_host.StopTimer(rule->timer);
  if (m_state == Ready) m_initOutstanding = false;  // this frame is its reply
  if (!IsAckReply(m_frame, m_rxCount)) {
    AbandonRun(rule->invalidText, Failure::InvalidResponse);
    return;
  }
  ResetAssembler();
  AcceptAck();
}

void ProgrammingController::AcceptAck() {
  switch (m_state) {
    case Ready:
      m_host.ShowStatus(text::kProgramming);
      m_state = Sending;
      m_host.StartTimer(TIMER_SEND, kChunkReplyMs);
      SendChunk();
      break;
    case Sending:
      m_host.SetProgress(m_image.GetPosition());
      m_host.StartTimer(TIMER_SEND, kChunkReplyMs);
      SendChunk();
      break;
    case SendingLast:
      m_host.StartTimer(TIMER_FLASH, kFlashReplyMs);
      SendFlash();
      m_state = Flashing;
      break;
    default:  // Flashing
      m_progressOpen = false;
      m_host.CloseProgress();
      m_host.ShowStatus(text::kModuleLoaded);
      m_state = Ready;
      EndRun();
      break;
  }
}

void ProgrammingController::HandleTimer(uint32_t id) {
  m_host.StopTimer(id);
  if (id == TIMER_CONNECT) {
    if (!m_portOpen || m_connected) return;  // a stale expiry after a failure
    if (m_state == Ready) {
      m_connected = true;
      m_host.ShowConnected();
    } else {
      AbandonRun(text::kUnableToConnect, Failure::NoConnectReply);
    }
    return;
  }
  if ((id == TIMER_INIT || id == TIMER_SEND || id == TIMER_FLASH) && m_running) {
    AbandonRun(text::kNotResponding, Failure::NotResponding);
  }
}

void ProgrammingController::AbandonRun(const std::string& message, Failure failure) {
  m_lastFailure = failure;
  Settle();
  m_host.ShowMessage(message);
  m_host.ShowDisconnected();
  // The frozen progress display stays up while the message is read.
  EndRun();
}

void ProgrammingController::Settle() {
  m_state = Probing;
  m_initOutstanding = false;
  ResetAssembler();
  StopAllTimers();
  m_serial.Close();
  m_portOpen = false;
  m_connected = false;
}

void ProgrammingController::EndRun() {
  m_running = false;
  if (m_progressOpen) {
    m_progressOpen = false;
    m_host.CloseProgress();
  }
  m_image.Close();
}

void ProgrammingController::StopAllTimers() {
  for (uint32_t id : {TIMER_CONNECT, TIMER_INIT, TIMER_SEND, TIMER_FLASH}) m_host.StopTimer(id);
}

}  // namespace vexel
