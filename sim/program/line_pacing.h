// The wire of a paced line, kept on the simulator's own timeline: bytes take
// their wire time one after the other in each direction, and the simulator's
// own lateness in writing a reply is not charged to the loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

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

/// The way from the module to the loader through a USB serial adapter with a
/// latency timer (FTDI): bytes from the module's UART wait in the adapter
/// until a packet of 62 is full or the timer runs out. The timer runs all
/// the time: it restarts whenever the adapter sends the host a packet, and
/// with nothing to send it sends a status-only one, so the timer of an idle
/// adapter runs out every period and a reply waits for the next time it does.
class AdapterLatency {
 public:
  /// Data bytes in one packet to the host (64 less 2 status bytes).
  static constexpr size_t kPacketBytes = 62;

  /// @p timerNs: the latency timer (more than 0); @p startNs: when it started.
  AdapterLatency(int64_t timerNs, int64_t startNs) : m_timerNs(timerNs), m_restartNs(startNs) {}

  /// @p count bytes reached the adapter at @p atNs. Returns when the bytes
  /// waiting in it leave next.
  int64_t Arrive(int64_t atNs, size_t count);
  /// At @p atNs, a time Arrive or an earlier Release gave: how many of the
  /// waiting bytes leave now (0 for a time that is no longer due). @p next
  /// gets when the rest leave, if any wait.
  size_t Release(int64_t atNs, std::optional<int64_t>& next);

 private:
  int64_t NextExpiry(int64_t atNs) const;

  int64_t m_timerNs;
  int64_t m_restartNs;  // the timer's last restart: a packet was sent then
  size_t m_waiting = 0;
  std::optional<int64_t> m_dueNs;  // when the waiting bytes leave
};

}  // namespace vexel::sim
