// The command line of vexel-module-sim.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/module_fixture.h"

namespace vexel::sim {

struct Options {
  std::string link;               ///< --link: symbolic link to the line
  std::string device;             ///< --device: serve this device instead of a new pty
  std::string out;                ///< --out: file, or directory ending in '/'
  size_t count = 0;               ///< --count: stop after N flashed images (0 = never)
  uint32_t lineRate = 0;          ///< --line-rate: pace at this baud rate (0 = off)
  uint32_t adapterLatencyMs = 0;  ///< --adapter-latency: a USB adapter's latency timer (0 = none)
  size_t modules = 0;  ///< --modules: modules put on one after another (0 = one, never taken off)
  uint32_t gapMs = 1000;  ///< --gap: from a module's removal to the next one's attach
  uint32_t dwellMs = 0;   ///< --dwell: how long a flashed module stays on before its removal
  std::vector<ModuleFault> faults;
  bool json = false;
};

enum class ParseResult { Run, Exit, Error };

/// Reads the command line. On Exit (--help, --version) the text to print is
/// in @p message; on Error it holds the error and a hint.
ParseResult ParseOptions(int argc, const char* const* argv, Options& options, std::string& message);

}  // namespace vexel::sim
