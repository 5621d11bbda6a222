#include "options.h"

#include <CLI/CLI.hpp>

namespace vexel::sim {
namespace {

constexpr const char* kDescription =
    "vexel-module-sim: a software Vexel module on a pseudo-terminal.\n"
    "It answers the loader as a module does (connect reply to CONNECT, ACK to INIT,\n"
    "SEND, SENDLAST and FLASH), records every image it is sent, checks the loader's\n"
    "side of the protocol, and can be told to misbehave. It serves run after run\n"
    "until SIGINT/SIGTERM/SIGHUP or --count images.";

constexpr const char* kFooter = R"HELP(
FAULTS (--fault KIND[:N]@STEP[!][#M], repeatable)
  STEP counts the requests of a connection and a run: 0 = CONNECT, 1 = INIT,
  2.. = the data chunks (SEND, SENDLAST), then FLASH. INIT restarts the count
  at 1, CONNECT at 0. A 200-byte image: INIT 1, chunks 2-5, FLASH 6.
  KIND:
    noreply, silence  no reply (at step 0: no connect reply)
    delay:MS          the reply comes MS milliseconds late (at step 0: a late
                      connect reply)
    wrong             a wrong reply: B0 EF AA 01 01 for an ACK,
                      B0 EF 00 02 00 00 for the connect reply
    noise[:N]         N bytes of noise (default 3, never B0) before the reply,
                      in the same write
    split             the reply is written one byte at a time
    oversize          a frame B0 EF AA FD + 253 bytes, which no loader can hold,
                      written before the reply
    hangup            instead of the reply the line closes and the program ends
  A fault applies once, the first time its step comes; with a trailing '!'
  (or '*') it applies on every run. Faults at one step combine, e.g.
  --fault noise:4@2 --fault split@2. The writes of one reply (split bytes, the
  oversized frame before it) are at least 2 ms apart. With --modules, a
  trailing #M gives the fault to module M only (e.g. wrong@1#2); without it
  every module has it, and a fault that applies once applies once per module.

MODULES (--modules N [--gap MS] [--dwell MS])
  A production fixture on which an operator puts N modules one after another,
  for a loader that probes, programs, and waits for the module to go. Module 1
  is there from the start; each module is a fresh one, with its own faults and
  step count. A module is taken off:
    flashed   right after the FLASH that flashed its image (it still answers
              that FLASH), or --dwell MS after it, answering every CONNECT
              until then (an operator who takes it off later);
    reprobed  at a CONNECT that comes after it answered a CONNECT (the loader
              is done with it); that CONNECT finds the fixture empty and gets
              no reply. A CONNECT it did not answer (noreply@0) does not count,
              nor one while a flashed module dwells;
    hangup    at a hangup fault (the program ends).
  The next module is put on MS milliseconds (default 1000) after a removal;
  after module N the fixture stays empty. While it is empty, what the loader
  writes is dropped unreported: no request events, no replies, no checks (the
  line events still show each loader that opens and closes the line).
  --count counts the images of every module; violations and the exit status
  cover every module. Without --modules there is one module, always there.

CHECKS (each one is reported and makes the exit status 1)
  a data chunk before INIT; a chunk over 64 bytes; data after the last chunk;
  INIT in the middle of an image; INIT after a complete image that was not
  flashed; FLASH with no image; noise between requests (once per run of noise
  bytes); an unknown request (not answered). Other violating requests are
  answered as a module would (connect reply or ACK), so the run goes on. A
  CONNECT drops an unflashed image without complaint (the loader reconnected).

THE LINE
  The pty's slave starts in raw mode and stays open in the simulator, so the
  line survives from one loader to the next. Like a serial port, it keeps no
  bytes for a loader that is not there: a reply due while no loader has the
  line open is dropped (and reported so), and so is what a loader leaves
  unread when it closes the line.

OUTPUT
  The first line is the path of the line (the pty's slave, or the --device),
  printed at once. Then one line per event: module ready, line opened or
  closed by a loader (pty only), request received, reply written, image
  flashed (length and SHA-256, and the file with --out or why it could not be
  written), violation, hang-up,
  end. With --json every event line is one JSON object:
    {"event":"ready","path":...,"faults":[...],"link":...,"modules":N,"gap_ms":MS}
    {"event":"line","t_ms":...,"state":"open|closed"}
    {"event":"request","t_ms":...,"name":"SEND","step":2,"length":64,"frame":"b0ef6640..."}
    {"event":"reply","t_ms":...,"bytes":"b0efaa0100"}   (+ "dropped":true)
    {"event":"image","t_ms":...,"index":1,"module":1,"length":200,"sha256":"...","file":...}
                                     (or "write_error":"..." when --out failed)
    {"event":"module","t_ms":...,"index":3,"state":"attached"}
    {"event":"module","t_ms":...,"index":3,"state":"removed","reason":"flashed|reprobed|hangup"}
    {"event":"violation","t_ms":...,"kind":"OversizedChunk","text":"chunk of 65 bytes (limit 64)"}
    {"event":"hangup","t_ms":...,"step":5}
    {"event":"end","t_ms":...,"reason":"signal|count|hangup|line-lost","images":1,"violations":0,"exit_status":0}
    {"event":"dropped","count":12}   (lines not written: the reader fell behind)
  "link" comes with --link; "modules", "gap_ms", the image's "module" and the
  module events with --modules (as text: "module 3 attached", "module 3
  removed (flashed)"). t_ms counts from the start. A chunk of exactly 64 bytes is named SEND: only
  FLASH tells that it was the last. The module never waits for the reader of
  this output: lines it cannot take at once wait in a bounded queue, and
  beyond that are dropped and counted. Path bytes that are not UTF-8 show as
  U+FFFD in JSON. A loader is "opened" when its first bytes arrive.

LINE RATE
  --line-rate BAUD paces the line as an 8E2 UART would, 12 bits per byte: a
  request counts as received only after its wire time, and a reply reaches the
  loader only after its own.
  --adapter-latency MS holds the replies as a USB serial adapter (FTDI) with
  that latency timer does, on their way to the loader: they wait in the
  adapter until its timer runs out or 62 bytes are waiting. The timer runs
  all the time, restarting at every packet the adapter sends (an idle adapter
  sends a status packet each time it runs out), so a reply waits for its next
  run-out: up to MS. Use it with --line-rate to see what the timer costs a
  load; FTDI's default is 16, what the loader asks for is 1.

EXIT STATUS
  0  stopped by SIGINT/SIGTERM/SIGHUP or --count, no violations
  1  the loader broke the protocol (takes precedence over 3)
  2  bad options, the line could not be set up or was lost, an image could
     not be written
  3  a hangup fault ended the program

EXAMPLES
  vexel-module-sim --link /tmp/vexel-com1
  VEXEL_COM1=/tmp/vexel-com1 duvozeviv
  duvozeviv-cli -p /tmp/vexel-com1 image.mbf
  vexel-module-sim --json --count 1 --out /tmp/images/ --fault delay:1500@0
  vexel-module-sim --link /tmp/vexel-com1 --modules 20 --gap 3000 --fault wrong@1#5
)HELP";

std::string CheckFault(const std::string& spec) {
  ModuleFault fault;
  std::string error;
  return ParseModuleFault(spec, fault, error) ? std::string() : error;
}

// Known only once every option is read: whether #M names a module there is.
std::string CheckModule(const std::string& spec, const ModuleFault& fault, size_t modules) {
  if (fault.module == 0) return {};
  const std::string head = "--fault: bad fault '" + spec + "': ";
  if (modules == 0) return head + "#M needs --modules";
  if (fault.module > modules) {
    return head + "module " + std::to_string(fault.module) + " is beyond --modules " +
           std::to_string(modules);
  }
  return {};
}

void AddOptions(CLI::App& app, Options& options, std::vector<std::string>& faults) {
  app.add_option("--link", options.link,
                 "also make a symbolic link PATH to the line (removed at exit)")
      ->type_name("PATH");
  app.add_option("--device", options.device, "serve an existing serial device instead of a new pty")
      ->type_name("PATH");
  app.add_option(
         "--out", options.out,
         "write each flashed image to FILE (the latest overwrites), or, for a path ending in "
         "'/', one file per image into that directory (image-0001.mbf, ...)")
      ->type_name("FILE|DIR/");
  app.add_option("--count", options.count, "stop once N images have been flashed")
      ->type_name("N")
      ->check(CLI::Range(size_t{1}, size_t{1000000}));
  app.add_option("--line-rate", options.lineRate,
                 "pace the line at BAUD, 12 bits per byte (default: off)")
      ->type_name("BAUD")
      ->check(CLI::Range(50u, 4000000u));
  app.add_option("--adapter-latency", options.adapterLatencyMs,
                 "hold replies as a USB adapter with a latency timer of MS does (see LINE RATE)")
      ->type_name("MS")
      ->check(CLI::Range(1u, 255u));
  auto* modules =
      app.add_option("--modules", options.modules,
                     "play a fixture on which N modules are put one after another (see MODULES)")
          ->type_name("N")
          ->check(CLI::Range(size_t{1}, size_t{1000000}));
  app.add_option("--gap", options.gapMs,
                 "with --modules: MS from a module's removal to the next one (default 1000)")
      ->type_name("MS")
      ->check(CLI::Range(0u, 3600000u))
      ->needs(modules);
  app.add_option("--dwell", options.dwellMs,
                 "with --modules: MS a flashed module stays on (default 0)")
      ->type_name("MS")
      ->check(CLI::Range(0u, 3600000u))
      ->needs(modules);
  app.add_option("--fault", faults, "misbehave: KIND[:N]@STEP[!][#M] (see FAULTS); repeatable")
      ->type_name("SPEC")
      ->allow_extra_args(false)
      ->check(CheckFault);
  app.add_flag("--json", options.json, "one JSON object per event line");
}

}  // namespace

ParseResult ParseOptions(int argc, const char* const* argv, Options& options,
                         std::string& message) {
  CLI::App app(kDescription, "vexel-module-sim");
  app.footer(kFooter);
  app.set_version_flag("--version", "vexel-module-sim 1.0.0.1");
  std::vector<std::string> faults;
  AddOptions(app, options, faults);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    message = app.help();
    return ParseResult::Exit;
  } catch (const CLI::CallForVersion& version) {
    message = std::string(version.what()) + "\n";
    return ParseResult::Exit;
  } catch (const CLI::ParseError& error) {
    message = "vexel-module-sim: " + std::string(error.what()) +
              "\nRun with --help for more information.\n";
    return ParseResult::Error;
  }
  for (const std::string& spec : faults) {
    std::string error;
    options.faults.emplace_back();
    ParseModuleFault(spec, options.faults.back(), error);
    error = CheckModule(spec, options.faults.back(), options.modules);
    if (!error.empty()) {
      message = "vexel-module-sim: " + error + "\nRun with --help for more information.\n";
      return ParseResult::Error;
    }
  }
  return ParseResult::Run;
}

}  // namespace vexel::sim
