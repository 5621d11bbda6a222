// The compact fault syntax of the simulator's --fault option:
// KIND[:PARAM]@STEP[!][#MODULE].
#include <cerrno>
#include <cstdlib>

#include "sim/fault_spec.h"

#include "sim/module_fixture.h"

namespace vexel::sim {
namespace {

enum class Param { None, Optional, Required };

// One row per spelling; the first row of a kind is how FormatFault writes it.
struct FaultName {
  const char* name;
  FaultKind kind;
  Param param;
  uint32_t maxParam;
};
constexpr FaultName kFaultNames[] = {
    {"noreply", FaultKind::NoReply, Param::None, 0},
    {"silence", FaultKind::NoReply, Param::None, 0},
    {"delay", FaultKind::DelayedReply, Param::Required, 3600000},
    {"wrong", FaultKind::WrongReply, Param::None, 0},
    {"noise", FaultKind::Noise, Param::Optional, 4096},
    {"split", FaultKind::SplitReply, Param::None, 0},
    {"oversize", FaultKind::OversizedFrame, Param::None, 0},
    {"hangup", FaultKind::HangUp, Param::None, 0},
};
constexpr uint32_t kDefaultNoise = 3;
constexpr long kMaxStep = 1000000;
constexpr long kMaxModule = 1000000;

const FaultName* FindName(const std::string& name) {
  for (const FaultName& entry : kFaultNames) {
    if (name == entry.name) return &entry;
  }
  return nullptr;
}

// Plain decimal digits only: no sign, no spaces, no hex.
bool ParseNumber(const std::string& text, long max, long& value) {
  if (text.empty() || text.size() > 10 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  errno = 0;
  value = std::strtol(text.c_str(), nullptr, 10);
  return errno == 0 && value <= max;
}

bool Fail(std::string& error, const std::string& spec, const char* why) {
  error = "bad fault '" + spec + "': " + why;
  return false;
}

bool ParseParam(const FaultName& name, const std::string& text, bool present, Fault& fault,
                std::string& error, const std::string& spec) {
  if (!present) {
    if (name.param == Param::Required) return Fail(error, spec, "this kind needs ':N'");
    fault.param = name.kind == FaultKind::Noise ? kDefaultNoise : 0;
    return true;
  }
  if (name.param == Param::None) return Fail(error, spec, "this kind takes no ':N'");
  long value = 0;
  if (!ParseNumber(text, name.maxParam, value) || value == 0) {
    return Fail(error, spec, "N must be a number from 1 to the kind's limit");
  }
  fault.param = static_cast<uint32_t>(value);
  return true;
}

// @p spec is what the user wrote, for the error; @p body is the part to read.
bool ParseBody(const std::string& spec, std::string body, Fault& fault, std::string& error) {
  fault = Fault{};
  if (!body.empty() && (body.back() == '!' || body.back() == '*')) {
    fault.everyRun = true;
    body.pop_back();
  }
  const size_t at = body.rfind('@');
  if (at == std::string::npos) return Fail(error, spec, "expected KIND[:N]@STEP[!]");
  long step = 0;
  if (!ParseNumber(body.substr(at + 1), kMaxStep, step))
    return Fail(error, spec, "STEP must be a number");
  fault.step = static_cast<int>(step);
  const std::string head = body.substr(0, at);
  const size_t colon = head.find(':');
  const FaultName* name = FindName(head.substr(0, colon));
  if (name == nullptr) return Fail(error, spec, "unknown kind");
  fault.kind = name->kind;
  const bool present = colon != std::string::npos;
  return ParseParam(*name, present ? head.substr(colon + 1) : "", present, fault, error, spec);
}

}  // namespace

bool ParseFault(const std::string& spec, Fault& fault, std::string& error) {
  return ParseBody(spec, spec, fault, error);
}

bool ParseModuleFault(const std::string& spec, ModuleFault& fault, std::string& error) {
  fault = ModuleFault{};
  const size_t hash = spec.rfind('#');
  if (hash == std::string::npos) return ParseBody(spec, spec, fault.fault, error);
  long module = 0;
  if (!ParseNumber(spec.substr(hash + 1), kMaxModule, module) || module == 0) {
    return Fail(error, spec, "#M must be a module number from 1 to 1000000");
  }
  fault.module = static_cast<size_t>(module);
  return ParseBody(spec, spec.substr(0, hash), fault.fault, error);
}

std::string FormatFault(const Fault& fault) {
  for (const FaultName& entry : kFaultNames) {
    if (entry.kind != fault.kind) continue;
    std::string text = entry.name;
    if (entry.param != Param::None && fault.param != 0) text += ":" + std::to_string(fault.param);
    text += "@" + std::to_string(fault.step);
    return fault.everyRun ? text + "!" : text;
  }
  return "?";
}

std::string FormatModuleFault(const ModuleFault& fault) {
  const std::string text = FormatFault(fault.fault);
  return fault.module == 0 ? text : text + "#" + std::to_string(fault.module);
}

}  // namespace vexel::sim
