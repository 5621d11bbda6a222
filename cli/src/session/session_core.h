// What a load and a station session share: the event loop and the clock
// they run on, the output's tick, the user's interrupts, the frame trace,
// the image snapshot every port sends and the way a port's runner is made.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "loop/event_loop.h"
#include "loop/run_clock.h"
#include "protocol/image_file.h"
#include "runner/port_line.h"
#include "runner/port_runner.h"

namespace vexel::cli {

struct SessionSettings {
  std::string image;
  std::vector<std::string> ports;  ///< in command-line order
  bool trace = false;
  bool handleSignals = true;  ///< SIGINT, SIGTERM and SIGHUP interrupt the session while it runs
  /// The loop the session runs on: the platform's on the monotonic clock,
  /// or one a test gives (on a clock it moves, or one that misbehaves).
  std::function<std::unique_ptr<EventLoop>()> makeLoop = [] { return EventLoop::Create(); };
};

/// Why a session did not start when the user's interrupts cannot be caught.
/// Names no program: the caller puts its name in front.
constexpr const char* kInterruptsNotCaught =
    "Ctrl-C cannot be caught, so it could not end the session in order; nothing was opened";

class SessionCore final {
 public:
  /// What the owning session is told.
  struct Hooks {
    std::function<void()> onInterrupt;                // on the loop's thread
    std::function<void(double)> onTick;               // every 100 ms: seconds since the start
    std::function<void(const std::string&)> onTrace;  // a trace line, with --trace only
  };

  SessionCore(const SessionSettings& settings, PortLineFactory lineFactory, Hooks hooks);
  ~SessionCore();
  SessionCore(const SessionCore&) = delete;
  SessionCore& operator=(const SessionCore&) = delete;

  EventLoop& Loop() { return *m_loop; }
  /// Seconds since the session was made, on the loop's clock.
  double Seconds() const { return m_clock.Seconds(); }

  /// The one snapshot of the image every port is sent; set before any
  /// runner is made.
  void SetImage(SnapshotImageFile::Bytes image) { m_image = std::move(image); }
  const SnapshotImageFile::Bytes& Image() const { return m_image; }

  /// Catches the user's interrupts (when the settings ask for it) and starts
  /// the tick. False, with nothing started, when the interrupts cannot be
  /// caught (kInterruptsNotCaught): the session must not open anything then.
  bool Begin();
  /// Begin failed.
  bool Refused() const { return m_refused; }
  /// Stops the tick and gives the interrupts back.
  void End();

  /// A runner for port @p index, on the session's loop and clock, sending
  /// the snapshot; it reports to @p listener.
  std::unique_ptr<PortRunner> MakeRunner(size_t index, PortRunnerListener& listener);
  /// Passes a frame of port @p index on as a trace line, with --trace.
  void TraceFrame(size_t index, bool sent, FrameName name, const uint8_t* frame, size_t length);

 private:
  void Tick();

  const SessionSettings& m_settings;
  PortLineFactory m_lineFactory;
  Hooks m_hooks;
  std::unique_ptr<EventLoop> m_loop;  // before the clock, which reads it
  RunClock m_clock;
  SnapshotImageFile::Bytes m_image;
  EventLoop::TimerId m_tick = 0;
  bool m_refused = false;
};

}  // namespace vexel::cli
