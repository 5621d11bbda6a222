// What the programming controller needs from the program that hosts it:
// the views, message boxes, timers by id and the progress display.
#pragma once

#include <cstdint>
#include <string>

#include "serial/serial_types.h"

namespace vexel {

class ControllerHost {
 public:
  virtual ~ControllerHost() = default;
  /// The port choice: 1 means COM1, 2 means COM2.
  virtual int GetPortChoice() = 0;
  /// The name handed to the port's Open: "COM2" for choice 2, else "COM1".
  /// Hosts that address devices directly (the command-line loader) override it.
  virtual std::string GetPortName();

  /// Connect button "Disconnect", Program enabled, Settings disabled,
  /// green "CONNECTED".
  virtual void ShowConnected() = 0;
  /// Connect button "Connect", Program disabled, Settings enabled,
  /// red "NOT CONNECTED".
  virtual void ShowDisconnected() = 0;
  /// Status text set and shown; colour unchanged.
  virtual void ShowStatus(const std::string& text) = 0;
  /// Reports a failure to the user; a GUI host returns when it is dismissed.
  virtual void ShowMessage(const std::string& text) = 0;

  /// Starts or restarts timer @p id: it expires after @p ms and, until
  /// stopped, again every @p ms; each expiry calls HandleTimer(id).
  virtual void StartTimer(uint32_t id, uint32_t ms) = 0;
  /// Stops timer @p id; a timer that is not running is left alone.
  virtual void StopTimer(uint32_t id) = 0;

  /// Shows a progress display with range 0..@p range and holds it.
  virtual void OpenProgress(uint32_t range) = 0;
  /// Moves the held display's bar; nothing when none is held.
  virtual void SetProgress(uint32_t position) = 0;
  /// Closes and deletes the held display; holds none afterwards.
  virtual void CloseProgress() = 0;

  /// Where the serial watcher posts its line notifications.
  virtual ComNotifyTarget* NotificationTarget() = 0;
};

inline std::string ControllerHost::GetPortName() { return GetPortChoice() == 2 ? "COM2" : "COM1"; }

}  // namespace vexel
