// The wire of a paced line, kept on the simulator's own timeline: bytes take
// their wire time one after the other in each direction, and the simulator's
// own lateness in writing a reply is not charged to the loader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel::sim {

class LinePacing {
 public:
  /// @p byteNs: wire time of one byte (more than 0).
  explicit LinePacing(int64_t byteNs) : m_byteNs(byteNs) {}

  /// When @p count bytes read at @p readNs have fully arrived: after their wire
  /// time, behind what is still arriving before them. A loader cannot answer a
  /// reply before it has it, so the time the last reply went out late is taken
  /// off: the loader is charged its own turnaround, not the simulator's
  /// wake-up latency (a module's UART sends on time).
  int64_t Received(int64_t readNs, size_t count);
  /// When a reply of @p count bytes that may start at @p startNs has fully
  /// left, behind what is still being sent.
  int64_t Transmitted(int64_t startNs, size_t count);
  /// The reply due at @p dueNs was written at @p writtenNs.
  void Written(int64_t dueNs, int64_t writtenNs);

 private:
  int64_t WireNs(size_t count) const { return static_cast<int64_t>(count) * m_byteNs; }

  int64_t m_byteNs;
  int64_t m_rxFreeAt = 0;  // when the last byte read has fully arrived
  int64_t m_txFreeAt = 0;  // when the last reply byte has left
  int64_t m_lateNs = 0;    // how late the last reply went out
};

}  // namespace vexel::sim
