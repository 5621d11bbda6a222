// Request builders: each puts one request into m_frame from offset 0 and
// writes it to the port in one synchronous call.
#include <cstring>

#include "protocol/programming_controller.h"

namespace vexel {

void ProgrammingController::SendFrame() {
  if (m_observer != nullptr) m_observer->OnFrameSent(m_frame, static_cast<size_t>(m_sendLength));
  // A lost request is not examined here: it surfaces as a reply time-out.
  m_serial.Write(m_frame, static_cast<uint32_t>(m_sendLength), nullptr, nullptr, kInfinite);
}

void ProgrammingController::SendFixed(const uint8_t* bytes, size_t length) {
  std::memcpy(m_frame, bytes, length);
  m_sendLength = static_cast<int32_t>(length);
  SendFrame();
}

void ProgrammingController::SendConnect() { SendFixed(kConnectFrame.data(), kConnectFrame.size()); }

void ProgrammingController::SendInit() { SendFixed(kInitFrame.data(), kInitFrame.size()); }

void ProgrammingController::SendFlash() { SendFixed(kFlashFrame.data(), kFlashFrame.size()); }

void ProgrammingController::SendChunk() {
  m_frame[0] = kSync1;
  m_frame[1] = kSync2;
  m_frame[kOffCommand] = kCmdSend;
  const uint32_t remaining = m_image.GetLength() - m_image.GetPosition();
  if (remaining > kChunkSize) {
    m_frame[kOffLength] = static_cast<uint8_t>(kChunkSize);
  } else {
    // The last chunk, possibly empty: its length comes from the remainder,
    // never from what Read returns.
    m_frame[kOffLength] = static_cast<uint8_t>(remaining);
    m_state = SendingLast;
  }
  m_image.Read(m_frame + kOffPayload, m_frame[kOffLength]);
  m_sendLength = m_frame[kOffLength] + static_cast<int32_t>(kHeaderSize);
  SendFrame();
}

}  // namespace vexel
