#include "line_pacing.h"

#include <algorithm>

namespace vexel::sim {

int64_t LinePacing::Received(int64_t readNs, size_t count) {
  m_rxFreeAt = std::max(readNs - m_lateNs, m_rxFreeAt) + WireNs(count);
  return m_rxFreeAt;
}

int64_t LinePacing::Transmitted(int64_t startNs, size_t count) {
  m_txFreeAt = std::max(startNs, m_txFreeAt) + WireNs(count);
  return m_txFreeAt;
}

void LinePacing::Written(int64_t dueNs, int64_t writtenNs) {
  m_lateNs = std::max<int64_t>(0, writtenNs - dueNs);
}

int64_t AdapterLatency::NextExpiry(int64_t atNs) const {
  const int64_t periods = std::max<int64_t>(1, (atNs - m_restartNs + m_timerNs - 1) / m_timerNs);
  return m_restartNs + periods * m_timerNs;
}

int64_t AdapterLatency::Arrive(int64_t atNs, size_t count) {
  m_waiting += count;
  if (m_waiting >= kPacketBytes) {
    m_dueNs = atNs;
  } else if (!m_dueNs) {
    m_dueNs = NextExpiry(atNs);
  }
  return *m_dueNs;
}

size_t AdapterLatency::Release(int64_t atNs, std::optional<int64_t>& next) {
  if (m_dueNs != atNs || m_waiting == 0) {
    next = m_dueNs;
    return 0;
  }
  const size_t sent = std::min(m_waiting, kPacketBytes);
  m_waiting -= sent;
  m_restartNs = atNs;
  if (m_waiting == 0) {
    m_dueNs.reset();
  } else {
    m_dueNs = m_waiting >= kPacketBytes ? atNs : atNs + m_timerNs;
  }
  next = m_dueNs;
  return sent;
}

}  // namespace vexel::sim
