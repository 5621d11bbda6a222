// Receive side: assembles one reply frame at a time in m_frame from the
// bytes the port holds, keeping a partial frame across notifications.
#include "protocol/programming_controller.h"

namespace vexel {

void ProgrammingController::ResetAssembler() {
  m_rxCount = 0;
  m_rxDone = 1;
}

uint32_t ProgrammingController::ReadPort(size_t offset, uint32_t count) {
  uint32_t got = 0;
  // A failed read counts as nothing read; the reply timers catch silence.
  m_serial.Read(m_frame + offset, count, &got, nullptr, kInfinite);
  return got > count ? count : got;
}

void ProgrammingController::ReadFrame() {
  if (m_rxDone != 0) ResetAssembler();
  bool keepGoing = true;
  for (;;) {
    const uint8_t length = m_frame[kOffLength];
    if (m_rxCount == 0) {
      if (ReadPort(0, 1) == 0) return;
      if (m_frame[0] == kSync1) {
        m_rxDone = 0;
        m_rxCount = 1;
      }
    } else if (m_rxCount == 1) {
      if (ReadPort(1, 1) == 0) return;
      if (m_frame[1] == kSync2) {
        m_rxCount = 2;
      } else {
        ResetAssembler();  // not re-examined as a new sync 1
      }
    } else if (m_rxCount < static_cast<int32_t>(kHeaderSize)) {
      const uint32_t want = static_cast<uint32_t>(kHeaderSize) - static_cast<uint32_t>(m_rxCount);
      const uint32_t got = ReadPort(static_cast<size_t>(m_rxCount), want);
      keepGoing = got == want;
      m_rxCount += static_cast<int32_t>(got);
      if (m_rxCount == static_cast<int32_t>(kHeaderSize)) {
        if (m_frame[kOffLength] == 0) {
          m_rxDone = 1;
          return;
        }
        // A payload that cannot fit the 256-byte buffer: drop the header and
        // hunt for the next sync pair in what follows.
        if (m_frame[kOffLength] > kMaxHeldPayload) ResetAssembler();
      }
      if (!keepGoing) return;
    } else {
      if (m_rxCount == static_cast<int32_t>(kHeaderSize) && length == 0) {
        m_rxDone = 1;
        return;
      }
      const uint32_t want = length + static_cast<uint32_t>(kHeaderSize) -
                            static_cast<uint32_t>(m_rxCount);
      const uint32_t got = ReadPort(static_cast<size_t>(m_rxCount), want);
      if (got >= want) m_rxDone = 1;
      m_rxCount += static_cast<int32_t>(got);
      return;
    }
  }
}

}  // namespace vexel
