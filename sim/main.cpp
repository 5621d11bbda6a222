// vexel-module-sim: a software module on a pseudo-terminal (or a device),
// for trying the loader, watching what it sends, and end-to-end tests.
#include <cstdio>
#include <exception>
#include <string>

#include "event_report.h"
#include "image_sink.h"
#include "line_endpoint.h"
#include "options.h"
#include "sim_server.h"

namespace {

using namespace vexel::sim;

int Fail(const std::string& error) {
  std::fprintf(stderr, "vexel-module-sim: %s\n", error.c_str());
  return kExitError;
}

bool OpenLine(const Options& options, LineEndpoint& line, std::string& error) {
  if (!(options.device.empty() ? line.OpenPty(error) : line.OpenDevice(options.device, error)))
    return false;
  return options.link.empty() || line.MakeLink(options.link, error);
}

int Serve(int argc, char** argv) {
  Options options;
  std::string message;
  switch (ParseOptions(argc, argv, options, message)) {
    case ParseResult::Exit: std::fputs(message.c_str(), stdout); return kExitOk;
    case ParseResult::Error: std::fputs(message.c_str(), stderr); return kExitError;
    case ParseResult::Run: break;
  }
  ImageSink sink(options.out);
  LineEndpoint line;
  EventReport report(stdout, options.json, SimServer::Now());
  SimServer server(line, report, sink,
                   {options.lineRate,
                    options.count,
                    {options.modules, options.gapMs, options.faults, options.dwellMs},
                    options.adapterLatencyMs});
  std::string error;
  if (!sink.Prepare(error) || !server.Start(error) || !OpenLine(options, line, error))
    return Fail(error);
  // The path comes first and alone, so a script can read it with one line read.
  std::printf("%s\n", line.Path().c_str());
  std::fflush(stdout);
  report.Ready(line.Path(), options.link, options.faults, {options.modules, options.gapMs});
  return server.Run();
}

}  // namespace

// Whatever goes wrong, the stack is unwound, so the link is removed.
int main(int argc, char** argv) {
  try {
    return Serve(argc, argv);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
