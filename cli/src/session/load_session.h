// A load: one image into the modules on every given port, in parallel, on
// one event loop.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "output/run_output.h"
#include "runner/port_line.h"
#include "runner/port_runner.h"
#include "session/session_core.h"

namespace vexel::cli {

class LoadSession final : public PortRunnerListener {
 public:
  LoadSession(SessionSettings settings, RunOutput& output,
              PortLineFactory lineFactory = MakeSerialPortLine);
  ~LoadSession();
  LoadSession(const LoadSession&) = delete;
  LoadSession& operator=(const LoadSession&) = delete;

  /// The image's one snapshot, which every port sends; taken by the caller
  /// before the session runs.
  void SetImageSnapshot(SnapshotImageFile::Bytes image) { m_core.SetImage(std::move(image)); }
  /// Runs every port to its end on the session's event loop, prints the
  /// summary and returns the exit status. When the user's interrupts cannot
  /// be caught, opens nothing, prints nothing and returns
  /// kExitInvalidResponse (an internal error; kInterruptsNotCaught says why).
  int Run();
  /// Run opened nothing: the user's interrupts could not be caught.
  bool Refused() const { return m_core.Refused(); }
  /// Closes every port and makes Run return 130: what Ctrl-C does.
  void Interrupt();

  /// The ports' figures after Run, in command-line order.
  const std::vector<PortSummary>& Results() const { return m_results; }

  void OnPortEvent(const PortEvent& event) override;
  void OnPortFrame(size_t port, bool sent, FrameName name, const uint8_t* frame,
                   size_t length) override;
  void OnPortFinished(size_t port) override;
  void OnPortWarning(size_t port, const std::string& text) override;

 private:
  bool AllFinished() const;

  SessionSettings m_settings;
  RunOutput& m_output;
  SessionCore m_core;  // before the runners, which leave its loop as they go
  std::vector<std::unique_ptr<PortRunner>> m_runners;
  std::vector<PortSummary> m_results;
  bool m_interrupted = false;
};

}  // namespace vexel::cli
