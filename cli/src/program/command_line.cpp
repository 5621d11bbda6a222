#include "program/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>

#include "cli/exit_codes.h"
#include "output/display_text.h"
#include "program/version.h"

namespace vexel::cli {
namespace {

// How port names resolve differs by system: Windows has its COM ports by
// name, Linux maps COM1 and COM2 to devices.
#ifdef _WIN32
constexpr const char* kPortsHelp =
    "\nPorts: any COM port by its name, such as COM3 or COM12; --list-ports lists them.\n";
#else
constexpr const char* kPortsHelp =
    "\nPorts: COM1 and COM2 resolve as in the dialog program (VEXEL_COM1, VEXEL_COM2);\n"
    "any other NAME is a device path such as /dev/ttyUSB0 or a /dev/serial/by-id link.\n";
#endif

std::string Footer() {
  return std::string(kPortsHelp) +
         "Several -p options program the same image into several modules at once.\n"
         "\nExit status:\n" +
         ExitCodeTable() +
         "With several ports the first failing port in command-line order sets the status.\n"
         "A --station session ends with 0 after Ctrl-C or --count when no module failed,\n"
         "else with the class of its first failure. It probes each port five times a\n"
         "second: a swap (one module off, the next on) of 0.3 s or more is always seen;\n"
         "a quicker one may be taken for the module that was there.\n";
}

// CLI11 would take 0x10 or 1e3 for a number; a count is written in decimal.
std::string DecimalOnly(const std::string& text) {
  if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) return {};
  return "a decimal number is needed, not " + text;
}

// An empty name would turn the audit log off without a word.
std::string NotEmpty(const std::string& text) {
  return text.empty() ? "a file name is needed" : std::string();
}

std::string Sha256Hex(const std::string& text) {
  if (text.size() == 64 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
    return {};
  }
  return "64 hexadecimal digits are needed, not " + text;
}

void Describe(CLI::App& app, CliOptions& options) {
  app.add_option("IMAGE", options.image, "Module binary file (*.mbf) to program");
  app.add_option("-p,--port", options.ports,
                 "Port to program through: COM1, COM2 or a device path; repeat for several "
                 "modules in parallel (default COM1)")
      ->type_name("NAME")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  auto* listPorts = app.add_flag("--list-ports", options.listPorts,
                                 "List this machine's serial ports without opening them, then exit")
                        ->excludes("IMAGE")
                        ->excludes("--port");
  auto* quiet = app.add_flag("-q,--quiet", options.quiet, "Show only the result of each port");
  app.add_flag("--json", options.json,
               "Write JSON Lines events (port, event, position, total, status, message, "
               "elapsed) instead of text")
      ->excludes(quiet);
  app.add_flag("--trace", options.trace,
               "Write every frame sent and received to stderr with a microsecond timestamp");
  app.add_flag("--watcher-threads", options.watcherThreads,
               "Watch each port from a thread of its own, as the dialog program does, instead "
               "of from the one event loop (costs a thread wake-up more per reply)");
  auto* station = app.add_flag(
      "--station", options.station,
      "Production station: on each port, wait for a module, program it, wait until it is "
      "taken off, and again, until Ctrl-C or --count");
  app.add_option("--count", options.count, "--station: stop each port after N modules")
      ->type_name("N")
      ->check(CLI::Validator(DecimalOnly, "N"))
      ->check(CLI::Range(size_t{1}, size_t{1000000000}))
      ->needs(station);
  app.add_option("--log", options.log,
                 "--station: append an audit record per module to FILE (JSON Lines); a "
                 "regular file or a new one, never the image, a port or a terminal")
      ->type_name("FILE")
      ->check(CLI::Validator(NotEmpty, "FILE"))
      ->needs(station);
  app.add_option("--expect-sha256", options.expectSha256,
                 "Refuse to start unless the image's SHA-256 is HEX (64 hex digits, any case); "
                 "no port is opened otherwise")
      ->type_name("HEX")
      ->check(CLI::Validator(Sha256Hex, "HEX"));
  listPorts->excludes(station);
  app.set_version_flag("--version", std::string(kProgramName) + " " + kProgramVersion);
  app.footer(Footer());
  // The error may repeat an argument, which may hold anything.
  app.failure_message([](const CLI::App* failed, const CLI::Error& error) {
    const std::string what = error.what();
    return DisplayText(what) + CLI::FailureMessage::simple(failed, error).substr(what.size());
  });
}

void Validate(const CliOptions& options) {
  if (options.listPorts) return;
  if (options.image.empty()) throw CLI::RequiredError("IMAGE");
  for (auto it = options.ports.begin(); it != options.ports.end(); ++it) {
    if (std::find(options.ports.begin(), it, *it) != it) {
      throw CLI::ValidationError("--port", *it + " is given more than once");
    }
  }
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
  ParsedCommandLine parsed;
  CLI::App app{"Programs a firmware image into Vexel modules over serial lines.", kProgramName};
  Describe(app, parsed.options);
  try {
    app.parse(argc, argv);
    Validate(parsed.options);
  } catch (const CLI::ParseError& error) {
    std::ostringstream out;
    std::ostringstream err;
    const int code = app.exit(error, out, err);
    parsed.exitCode = code == 0 ? kExitOk : kExitUsage;
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
  }
  if (parsed.options.ports.empty()) parsed.options.ports.push_back("COM1");
  parsed.proceed = true;
  return parsed;
}

}  // namespace vexel::cli
