// A load: one image into the modules on every given port, in parallel, on
// one event loop.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "loop/event_loop.h"
#include "runner/port_line.h"
#include "runner/port_runner.h"
#include "loop/run_clock.h"
#include "output/run_output.h"

namespace vexel::cli {

struct SessionSettings {
  std::string image;
  std::vector<std::string> ports;  ///< in command-line order
  bool trace = false;
  bool handleSignals = true;  ///< SIGINT, SIGTERM and SIGHUP interrupt the load while it runs
};

class LoadSession final : public PortRunnerListener {
 public:
  LoadSession(SessionSettings settings, RunOutput& output,
              PortLineFactory lineFactory = MakeSerialPortLine);
  ~LoadSession();
  LoadSession(const LoadSession&) = delete;
  LoadSession& operator=(const LoadSession&) = delete;

  /// Runs every port to its end on the session's event loop, prints the
  /// summary and returns the exit status.
  int Run();
  /// The image's snapshot, taken already; without one Run takes it, once,
  /// before any port starts. Every port sends it.
  void SetImageSnapshot(SnapshotImageFile::Bytes image) { m_image = std::move(image); }
  /// Closes every port and makes Run return 130: what Ctrl-C does.
  void Interrupt();

  /// The ports' figures after Run, in command-line order.
  const std::vector<PortSummary>& Results() const { return m_results; }

  void OnPortEvent(const PortEvent& event) override;
  void OnPortFrame(size_t port, bool sent, const char* name, const uint8_t* frame,
                   size_t length) override;
  void OnPortFinished(size_t port) override;
  void OnPortWarning(size_t port, const std::string& text) override;

 private:
  bool AllFinished() const;
  void TakeSnapshot();
  void Tick();

  SessionSettings m_settings;
  RunOutput& m_output;
  PortLineFactory m_lineFactory;
  RunClock m_clock;
  SnapshotImageFile::Bytes m_image;
  std::string m_imageError;  // why the snapshot could not be taken
  std::unique_ptr<EventLoop> m_loop;  // before the runners, which leave it as they go
  EventLoop::TimerId m_tick = 0;
  std::vector<std::unique_ptr<PortRunner>> m_runners;
  std::vector<PortSummary> m_results;
  bool m_interrupted = false;
};

}  // namespace vexel::cli
