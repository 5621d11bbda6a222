#include "cli/cli_program.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/exit_codes.h"
#include "console/console.h"
#include "console/output_channel.h"
#include "output/display_text.h"
#include "output/run_output.h"
#include "port_list/port_list.h"
#include "program/command_line.h"
#include "program/version.h"
#include "protocol/sha256.h"
#include "runner/open_diagnosis.h"
#include "session/load_session.h"
#include "session/station_session.h"

namespace vexel::cli {
namespace {

nlohmann::json OrNull(const std::string& text) {
  return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

// Two names for one device (COM1 and its path, a by-id link and its target)
// would end as a busy port half-way through; it is a usage error up front.
std::string SameDeviceTwice(const std::vector<std::string>& ports) {
  std::vector<std::string> devices;
  for (const auto& port : ports) {
    const std::string device = DeviceIdentity(port);
    for (size_t i = 0; i < devices.size(); ++i) {
      if (devices[i] == device) {
        return "--port: " + ports[i] + " and " + port + " are the same device " + device;
      }
    }
    devices.push_back(device);
  }
  return {};
}

// What keeps a listed port from a loader: a service that takes it, or the
// user's missing right to open it.
std::vector<std::string> PortNotes(const std::string& device) {
  std::vector<std::string> notes = FindPortTraps(device);
  const std::string access = DescribeAccess(device);
  if (!access.empty()) notes.push_back(access);
  return notes;
}

int ListPorts(const CliOptions& options, std::ostream& out) {
  const auto ports = FindSerialPorts();
  std::vector<std::vector<std::string>> traps;
  for (const auto& port : ports) traps.push_back(PortNotes(port.device));
  if (!options.json) {
    out << FormatPortTable(ports);
    for (size_t i = 0; i < ports.size(); ++i) {
      for (const auto& note : traps[i]) out << DisplayText(ports[i].device + ": " + note) << '\n';
    }
    return kExitOk;
  }
  for (size_t i = 0; i < ports.size(); ++i) {
    const SerialPortInfo& port = ports[i];
    out << JsonLine({{"device", port.device},
                     {"by_id", OrNull(port.byId)},
                     {"usb", OrNull(port.usbId)},
                     {"serial", OrNull(port.serial)},
                     {"product", OrNull(port.product)},
                     {"driver", OrNull(port.driver)},
                     {"latency_timer", OrNull(port.latency)},
                     {"notes", traps[i]}})
        << '\n';
  }
  return kExitOk;
}

// A failure before any port is opened: said on stderr, and as the one event
// of a --json run.
void EarlyFailure(const CliOptions& options, const std::string& text, std::ostream& out,
                  std::ostream& err) {
  err << kProgramName << ": " << DisplayText(text) << '\n';
  if (!options.json) return;
  PortEvent failed;
  failed.kind = PortEventKind::Failed;
  failed.status = text::kNotConnected;
  failed.message = text;
  nlohmann::json line = EventLine(nullptr, EventName(failed.kind), failed);
  line["elapsed"] = 0;  // before any port: a whole 0, as it was always written
  out << JsonLine(line) << '\n';
}

// The image's one snapshot is taken before any port is opened, so that a
// wrong path is a usage-level failure rather than one failure per port.
int TakeImage(const CliOptions& options, SnapshotImageFile& image, std::ostream& out,
              std::ostream& err) {
  if (!image.Open(options.image)) {
    std::string text = text::kUnableToOpenFile;
    text.replace(text.find("%s"), 2, options.image);
    EarlyFailure(options, text + ": " + image.LastError(), out, err);
    return kExitImageFile;
  }
  if (options.expectSha256.empty()) return kExitOk;
  // What is compared is the snapshot that would be sent, not the file.
  const SnapshotImageFile::Bytes bytes = image.Snapshot();
  const std::string actual = Sha256Hex(bytes->data(), bytes->size());
  std::string expected = options.expectSha256;
  std::transform(expected.begin(), expected.end(), expected.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (actual == expected) return kExitOk;
  EarlyFailure(options,
               options.image + " is not the expected image: its SHA-256 is " + actual +
                   ", --expect-sha256 is " + expected + "; nothing was sent",
               out, err);
  return kExitImageFile;
}

OutputSettings ChooseOutput(const CliOptions& options) {
  OutputSettings settings;
  settings.ports = options.ports;
  const ConsoleInfo console = InspectConsole();
  settings.mode = options.json            ? OutputMode::Json
                  : options.quiet         ? OutputMode::Quiet
                  : console.outIsTerminal ? OutputMode::Bars
                                          : OutputMode::Lines;
  if (console.width > 0) settings.width = console.width;
  settings.errOnTerminal = console.errIsTerminal;
  return settings;
}

// What a load and a station take from the command line alike.
SessionSettings SessionFrom(const CliOptions& options) {
  SessionSettings settings;
  settings.image = options.image;
  settings.ports = options.ports;
  settings.trace = options.trace;
  return settings;
}

PortLineFactory LineFactoryFor(const CliOptions& options) {
  return options.watcherThreads ? MakeThreadedSerialPortLine : MakeSerialPortLine;
}

// A session that could not catch Ctrl-C has opened nothing: it is said here.
int Ended(const CliOptions& options, int code, bool refused, std::ostream& out, std::ostream& err) {
  if (refused) EarlyFailure(options, kInterruptsNotCaught, out, err);
  return code;
}

int Load(const CliOptions& options, const SnapshotImageFile& image, std::ostream& out,
         std::ostream& err) {
  auto output = MakeRunOutput(ChooseOutput(options), out, err);
  LoadSession session(SessionFrom(options), *output, LineFactoryFor(options));
  session.SetImageSnapshot(image.Snapshot());
  const int code = session.Run();
  return Ended(options, code, session.Refused(), out, err);
}

// Module after module until Ctrl-C or --count. The log is opened first: a
// session whose records cannot be kept must not program anything.
int Station(const CliOptions& options, SnapshotImageFile& image, std::ostream& out,
            std::ostream& err) {
  std::unique_ptr<AuditSink> sink;
  if (!options.log.empty()) {
    if (const std::string refusal = AuditLogRefusal(options.log, options.image); !refusal.empty()) {
      err << "--log: " << DisplayText(refusal) << "\nRun with --help for more information.\n";
      return kExitUsage;
    }
    int osError = 0;
    sink = OpenAuditFile(options.log, osError);
    if (!sink) {
      err << kProgramName << ": " << DisplayText(AuditLogError(options.log, osError)) << '\n';
      return kExitAuditLog;
    }
  }
  auto output = MakeStationOutput(ChooseOutput(options), out, err);
  StationSettings settings;
  static_cast<SessionSettings&>(settings) = SessionFrom(options);
  settings.count = options.count;
  settings.program = kProgramName;
  StationSession session(settings, *output, std::move(sink), options.log, LineFactoryFor(options));
  session.SetImage(image.Snapshot());
  // A session lasts hours and sends its snapshot only: the file is let go,
  // so that it can be replaced meanwhile (Windows would keep it locked).
  image.Close();
  const int code = session.Run();
  return Ended(options, code, session.Refused(), out, err);
}

}  // namespace

int RunProgram(int argc, char** argv, std::ostream& out, std::ostream& err) {
  return RunProgram(argc, argv, out, err, nullptr);
}

int RunProgram(int argc, char** argv, std::ostream& out, std::ostream& err, bool* station) {
  const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
  if (!parsed.proceed) {
    out << parsed.out;
    err << parsed.err;
    return parsed.exitCode;
  }
  const CliOptions& options = parsed.options;
  if (options.listPorts) return ListPorts(options, out);
  if (const std::string twice = SameDeviceTwice(options.ports); !twice.empty()) {
    err << DisplayText(twice) << "\nRun with --help for more information.\n";
    return kExitUsage;
  }
  SnapshotImageFile image;
  if (const int code = TakeImage(options, image, out, err); code != kExitOk) return code;
  if (!options.station) return Load(options, image, out, err);
  // Ctrl-C is how a station session ends, with 0 when no module failed.
  if (station != nullptr) *station = true;
  return Station(options, image, out, err);
}

}  // namespace vexel::cli

namespace vexel::cli {

int RunProcess(int argc, char** argv) {
  // Before any descriptor of the loader's own exists.
  PrepareStandardStreams();
  OutputChannel outChannel(1);
  OutputChannel errChannel(2, outChannel);
  std::ostream out(&outChannel);
  std::ostream err(&errChannel);
  std::vector<std::string> args = Utf8Arguments(argc, argv);
  std::vector<char*> utf8Argv;
  for (auto& arg : args) utf8Argv.push_back(arg.data());
  utf8Argv.push_back(nullptr);
  bool station = false;
  const int code = RunProgram(static_cast<int>(args.size()), utf8Argv.data(), out, err, &station);
  out.flush();
  err.flush();
  std::optional<std::chrono::milliseconds> limit;
  if (code == kExitInterrupted || station) limit = std::chrono::seconds(1);
  const bool written = outChannel.Finish(limit) & errChannel.Finish(limit);
  // A writer still waiting for a reader that never reads must not hold up
  // the exit, nor see its channel destroyed.
  if (!written) std::_Exit(code);
  return code;
}

}  // namespace vexel::cli
