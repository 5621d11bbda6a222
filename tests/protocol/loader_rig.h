// A controller wired to a simulated module on virtual time, with helpers to
// write image files and run the exchange.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "protocol/programming_controller.h"
#include "sim/memory_port.h"
#include "sim/module_simulator.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_host.h"
#include "support/temp_dir.h"

namespace vexel::testing {

using Bytes = std::vector<uint8_t>;

using test::TempDir;

/// Image bytes that differ from chunk to chunk.
inline Bytes Pattern(size_t length) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  return bytes;
}

struct LoaderRig {
  sim::VirtualClock clock;
  sim::ModuleSimulator module;
  sim::MemoryPort port{module, clock};
  SnapshotImageFile image;
  sim::VirtualHost host{clock};
  ProgrammingController controller{port, image, host};
  TempDir dir;

  LoaderRig() { host.Attach(&controller); }

  void Fault(sim::FaultKind kind, int step, uint32_t param = 0) {
    module.AddFault({kind, step, param, false});
  }
  /// Connect and let the probe window end.
  void Connect() {
    controller.ToggleConnection();
    clock.AdvanceBy(kConnectWindowMs);
  }
  /// Starts a run of @p contents and lets up to @p ms of virtual time pass.
  void Run(const Bytes& contents, uint64_t ms = 60000) {
    controller.StartRun(dir.File("image.mbf", contents));
    clock.AdvanceBy(ms);
  }
  /// Every request written, as one vector per Write.
  const std::vector<Bytes>& Writes() const { return port.Writes(); }
  /// True when nothing is left running: port closed, timers stopped, no run.
  bool Settled() const {
    return !port.IsOpen() && host.RunningTimers() == 0 && !controller.IsRunning() &&
           !controller.IsConnected() && host.Status() == text::kNotConnected &&
           host.OpenDisplays() == 0 && !image.IsOpen();
  }
};

}  // namespace vexel::testing
