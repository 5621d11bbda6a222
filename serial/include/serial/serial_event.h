// The completion signal of the serial line's asynchronous forms and the
// caller's completion record that carries it (serial_event_posix.cpp,
// serial_event_win32.cpp; the record's platform part lives with each port).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel {

namespace comm {
class EventAccess;
class RecordAccess;
}  // namespace comm

/// A manual-reset event: created non-signalled, stays signalled until Reset.
/// It is the completion signal of the asynchronous forms. On Linux
/// NativeHandle() is a descriptor that polls readable while the event is
/// signalled, so an event loop can watch it; while an operation is pending on
/// a record that uses the event, the line's readiness also signals it. On
/// Windows it is a manual-reset event object and NativeHandle() its HANDLE.
class SerialEvent {
 public:
  SerialEvent();
  ~SerialEvent();
  SerialEvent(const SerialEvent&) = delete;
  SerialEvent& operator=(const SerialEvent&) = delete;

  /// False when the platform could not create the event; see CreateResult().
  bool IsValid() const;
  /// The result code of the creation: 0, or the platform's code.
  int32_t CreateResult() const { return m_createResult; }

  void Set();
  void Reset();
  /// Waits up to @p timeoutMs (kInfinite: no limit); true when signalled.
  bool Wait(uint32_t timeoutMs);
  /// Waits for any of @p events and returns the index of the first signalled
  /// one in list order (so an earlier entry wins a tie), -1 when the time-out
  /// elapsed, -2 when the wait itself failed.
  static int WaitAny(SerialEvent* const* events, int count, uint32_t timeoutMs);

  /// The descriptor (Linux) or handle to watch for the signalled state.
  intptr_t NativeHandle() const;

 private:
  friend class comm::EventAccess;
  struct Impl;
  Impl* m_impl = nullptr;
  int32_t m_createResult = 0;
};

/// Completion record of the asynchronous forms: the caller's event, signalled
/// when the operation completes, plus the platform's private status (on
/// Windows its OVERLAPPED). A caller that passes one owns it and its event; a
/// record destroyed while an operation is pending on it cancels that operation
/// and waits until the platform has let go of it.
struct SerialOverlapped {
  SerialOverlapped();
  ~SerialOverlapped();
  SerialOverlapped(const SerialOverlapped&) = delete;
  SerialOverlapped& operator=(const SerialOverlapped&) = delete;

  /// Signalled when the operation completes; owned by the caller.
  SerialEvent* hEvent = nullptr;

  /// Room for the platform's status; each platform asserts that it fits.
  static constexpr size_t kPlatformSize = 16 * sizeof(void*);

 private:
  friend class comm::RecordAccess;
  alignas(std::max_align_t) unsigned char m_platform[kPlatformSize];
};

}  // namespace vexel
