// A production fixture on which an operator puts modules one after another:
// one ModuleSimulator core per module, fresh for each, so that a station
// loader (probe, program, wait for the module to go, probe again) can be
// tried end to end. Like the core it does no I/O and keeps no clock: the
// caller passes the time in milliseconds from any monotonic origin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/module_simulator.h"

namespace vexel::sim {

/// A fault for one module of the fixture.
struct ModuleFault {
  Fault fault;
  size_t module = 0;  ///< 1..N; 0 = every module
};

struct FixtureConfig {
  /// Modules the operator puts on the fixture, one after another. 0 is the
  /// classic single module: always there, never taken off.
  size_t modules = 0;
  uint32_t gapMs = 1000;  ///< from a module's removal to the next one's attach
  std::vector<ModuleFault> faults;
  /// How long a flashed module stays on the fixture, answering probes,
  /// before it is taken off; 0 = at once, right after its FLASH.
  uint32_t dwellMs = 0;
};

/// Receives the fixture's changes. Not called in the classic mode.
class FixtureObserver {
 public:
  virtual ~FixtureObserver() = default;
  /// @p module is 1-based; module 1 is reported from the constructor.
  virtual void OnModuleAttached(size_t module) = 0;
  /// @p reason: "flashed" (its image was flashed), "reprobed" (a CONNECT
  /// after it had answered one: the loader is done with it), "hangup".
  virtual void OnModuleRemoved(size_t module, const char* reason) = 0;
};

/// With N modules: module 1 is on the fixture from the start. A module is
/// taken off right after the FLASH that flashed its image (it still
/// answers that FLASH; with a dwell, that long after it, and it answers
/// every CONNECT until then), at a CONNECT that comes after it answered a CONNECT
/// (that CONNECT finds the fixture empty and is not answered), or when a
/// hangup fault hangs up instead of a reply (no module follows then). While
/// the fixture is empty, bytes from the loader are dropped without a trace;
/// the next module is attached gapMs after the removal, and after module N
/// the fixture stays empty. Each module has its own faults (those for it
/// and those for every module) and its own step count.
class ModuleFixture {
 public:
  explicit ModuleFixture(FixtureConfig config, SimObserver* observer = nullptr,
                         FixtureObserver* fixtureObserver = nullptr);
  ModuleFixture(const ModuleFixture&) = delete;
  ModuleFixture& operator=(const ModuleFixture&) = delete;
  ~ModuleFixture();

  /// Feeds bytes the loader wrote at @p nowMs (after attaching a module
  /// that is due); returns the deliveries of the module present, in order.
  std::vector<Delivery> Consume(const uint8_t* data, size_t length, int64_t nowMs);
  /// Takes a flashed module off once its dwell is over; attaches the next
  /// module once its gap is over.
  void Advance(int64_t nowMs);
  /// When Advance has something to do; nothing while a module is present
  /// (and not flashed and dwelling) or when no module is left.
  std::optional<int64_t> NextChangeMs() const;
  /// As ModuleSimulator::ResetLine, for the module present.
  void ResetLine();

  /// The 1-based number of the module on the fixture; 0 = none.
  size_t Present() const { return m_present; }
  /// Modules attached so far.
  size_t Attached() const { return m_attached; }
  /// The step of the latest request of the latest module; -1 before any.
  int Step() const;

  /// Images flashed by every module, in order.
  const std::vector<std::vector<uint8_t>>& FlashedImages() const { return m_flashed; }
  /// The module number of each image of FlashedImages.
  const std::vector<size_t>& FlashedBy() const { return m_flashedBy; }
  /// Violations against every module, in order.
  const std::vector<Violation>& Violations() const { return m_violations; }

 private:
  class Recorder;

  bool Station() const { return m_config.modules > 0; }
  void Attach();
  void Remove(int64_t nowMs, const char* reason, bool last);
  bool IsReprobe(uint8_t byte) const;
  void FeedByte(uint8_t byte, int64_t nowMs, std::vector<Delivery>& out);

  FixtureConfig m_config;
  SimObserver* m_observer;
  FixtureObserver* m_fixtureObserver;
  std::unique_ptr<Recorder> m_recorder;
  std::unique_ptr<ModuleSimulator> m_module;  // the latest module, kept after removal for Step()
  size_t m_present = 0;
  size_t m_attached = 0;
  std::optional<int64_t> m_attachAtMs;  // when the next module comes, while the fixture is empty
  std::optional<int64_t> m_removeAtMs;  // when the flashed module present is taken off
  bool m_answeredConnect = false;       // the module present answered a CONNECT
  bool m_flashedNow = false;            // its latest request flashed an image

  std::vector<std::vector<uint8_t>> m_flashed;
  std::vector<size_t> m_flashedBy;
  std::vector<Violation> m_violations;
};

/// Parses KIND[:N]@STEP[!][#M] (see ParseFault); "#M" names module M
/// (1 or more), without it the fault is for every module. Whether M is
/// within the fixture is for the caller to check. False on a bad spec,
/// with @p error set.
bool ParseModuleFault(const std::string& spec, ModuleFault& fault, std::string& error);

/// The spec of @p fault in the syntax ParseModuleFault reads.
std::string FormatModuleFault(const ModuleFault& fault);

}  // namespace vexel::sim
