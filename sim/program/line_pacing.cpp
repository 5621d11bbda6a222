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

}  // namespace vexel::sim
