// What the simulator program tells its user, one line per event on stdout:
// plain text for people, or one JSON object per line for scripts.
//
// The report never holds up the module: lines wait in a bounded queue for a
// reader that is behind, and are written only as far as the reader takes
// them without waiting. When the queue is full, lines are dropped and then
// counted in one "dropped" line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/module_fixture.h"
#include "sim/module_simulator.h"

namespace vexel::sim {

/// Why the program ended, as reported in the end event.
enum class EndReason { Signal, Count, HangUp, LineLost };

struct ImageReport {
  size_t index = 0;  ///< 1 for the first image flashed
  size_t length = 0;
  std::string sha256;
  std::string file;          ///< where --out wrote it; empty without --out
  size_t module = 0;         ///< the module that flashed it; 0 = not shown (no --modules)
  std::string writeError{};  ///< why --out could not write it; empty when it did or without --out
};

/// The fixture of --modules, as the ready event shows it.
struct FixtureReport {
  size_t modules = 0;  ///< 0: the classic single module, not shown
  uint32_t gapMs = 0;
};

class EventReport {
 public:
  /// @p startNs: the monotonic time the event times count from. A stream
  /// without a descriptor (a memory stream) is written directly.
  EventReport(std::FILE* out, bool json, int64_t startNs);

  void Ready(const std::string& path, const std::string& link,
             const std::vector<ModuleFault>& faults, const FixtureReport& fixture = {});
  void Request(int64_t nowNs, const char* name, const std::vector<uint8_t>& frame, int step);
  /// A reply written, or @p dropped because no loader had the line open.
  void Reply(int64_t nowNs, const std::vector<uint8_t>& bytes, bool dropped = false);
  void Image(int64_t nowNs, const ImageReport& image);
  void LoaderViolation(int64_t nowNs, const Violation& violation);
  /// A loader opened the line (@p open), or the last one closed it.
  void LineState(int64_t nowNs, bool open);
  void HangUp(int64_t nowNs, int step);
  /// Module @p index was put on the fixture, or taken off (@p reason set).
  void Module(int64_t nowNs, size_t index, const char* reason = nullptr);
  void End(int64_t nowNs, EndReason reason, size_t images, size_t violations, int status);

  /// The descriptor to wait on for room while lines are queued; else -1.
  int WaitingFd() const { return Queued() > 0 ? m_fd : -1; }
  /// Writes what the reader takes now, without waiting.
  void Flush();
  /// Waits at most @p timeoutMs for the reader to take every queued line.
  void Drain(int timeoutMs);

  /// The bound of the queue, in bytes; the first and the last line of the
  /// report are kept beyond it.
  static constexpr size_t kQueueLimit = 64 * 1024;

 private:
  void Line(const std::string& text, bool keep = false);
  void NoteDropped(bool force);
  size_t Queued() const { return m_queue.size() - m_sent; }
  double Ms(int64_t nowNs) const;

  std::FILE* m_out;
  int m_fd;               // -1: written through m_out
  bool m_toFile = false;  // a regular file takes every write at once
  bool m_json;
  int64_t m_startNs;
  std::string m_queue;
  size_t m_sent = 0;     // bytes of m_queue already written
  size_t m_dropped = 0;  // lines dropped since the last note
  bool m_readerGone = false;
};

/// The name of a violation kind as written in reports, e.g. "OversizedChunk".
const char* ViolationName(ViolationKind kind);
/// The name of an end reason as written in reports, e.g. "signal".
const char* EndReasonName(EndReason reason);

}  // namespace vexel::sim
