#include "cli/exit_codes.h"

#include <cstdio>

namespace vexel::cli {
namespace {

// Which exit class each controller failure belongs to.
struct FailureClass {
  Failure failure;
  int code;
};

constexpr FailureClass kFailureClasses[] = {
    {Failure::None, kExitOk},
    {Failure::PortOpen, kExitPortOpen},
    {Failure::LineFormat, kExitPortOpen},
    {Failure::NoConnectReply, kExitNoConnectReply},
    {Failure::NotResponding, kExitNotResponding},
    {Failure::InvalidResponse, kExitInvalidResponse},
    {Failure::InternalError, kExitInvalidResponse},
    {Failure::ImageFile, kExitImageFile},
    {Failure::RunInProgress, kExitInvalidResponse},
    {Failure::LineLost, kExitLineLost},
};

// What interrupts a load is the system's own.
#ifdef _WIN32
constexpr const char* kInterruptedMeaning =
    "interrupted by Ctrl-C, Ctrl-Break or a closed console; every port closed";
#else
constexpr const char* kInterruptedMeaning =
    "interrupted by Ctrl-C, SIGTERM or SIGHUP; every port closed";
#endif

}  // namespace

const std::vector<ExitClass>& ExitClasses() {
  static const std::vector<ExitClass> classes = {
      {kExitOk, "loaded", "every port ended with MODULE LOADED"},
      {kExitUsage, "usage", "bad or missing arguments"},
      {kExitImageFile, "image-file",
       "the image file cannot be opened or read, or is not the one --expect-sha256 names"},
      {kExitPortOpen, "port",
       "a port cannot be opened or set to 57600 8E2, or is the loader's own terminal"},
      {kExitNoConnectReply, "no-connect-reply", "no connect reply within the 1 s probe window"},
      {kExitNotResponding, "not-responding", "the module stopped replying in time"},
      {kExitInvalidResponse, "invalid-response", "invalid response from the module"},
      {kExitAuditLog, "audit-log", "the --station audit log cannot be opened or written"},
      {kExitLineLost, "line-lost", "a port went away: adapter unplugged or driver stopped"},
      {kExitInterrupted, "interrupted", kInterruptedMeaning},
  };
  return classes;
}

const char* ExitClassName(int code) {
  for (const auto& entry : ExitClasses()) {
    if (entry.code == code) return entry.name;
  }
  return "failed";
}

int ExitCodeFor(Failure failure) {
  for (const auto& entry : kFailureClasses) {
    if (entry.failure == failure) return entry.code;
  }
  return kExitInvalidResponse;
}

int CombinedExitCode(const std::vector<int>& portCodes, bool interrupted) {
  if (interrupted) return kExitInterrupted;
  for (int code : portCodes) {
    if (code != kExitOk) return code;
  }
  return kExitOk;
}

std::string ExitCodeTable() {
  std::string table;
  char line[160];
  for (const auto& entry : ExitClasses()) {
    std::snprintf(line, sizeof line, "  %3d  %s\n", entry.code, entry.meaning);
    table += line;
  }
  return table;
}

}  // namespace vexel::cli
