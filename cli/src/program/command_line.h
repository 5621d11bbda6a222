// The loader's arguments, parsed with CLI11.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace vexel::cli {

struct CliOptions {
  std::string image;               ///< the module binary file to program
  std::vector<std::string> ports;  ///< in command-line order; {"COM1"} when none given
  bool listPorts = false;
  bool quiet = false;
  bool json = false;
  bool trace = false;
  bool watcherThreads = false;  ///< a watcher thread per port instead of the event loop
  bool station = false;         ///< module after module on each port until Ctrl-C or count
  size_t count = 0;             ///< --station: modules per port; 0 = until Ctrl-C
  std::string log;              ///< --station: audit log to append to; empty = none
  std::string expectSha256;     ///< the image's SHA-256 (hex, any case); empty = not checked
};

/// The outcome of parsing: either options to run with, or an exit code and
/// the text to print (help and version on stdout, a usage error on stderr).
struct ParsedCommandLine {
  bool proceed = false;
  int exitCode = 0;
  std::string out;
  std::string err;
  CliOptions options;
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

}  // namespace vexel::cli
