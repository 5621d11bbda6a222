// The misbehaviour the module simulator can be scripted with, and the
// compact syntax of the simulator's --fault option that names it.
#pragma once

#include <cstdint>
#include <string>

namespace vexel::sim {

/// Misbehaviour at a step. Steps count requests: 0 = CONNECT, 1 = INIT,
/// 2.. = the data chunks of the image, then FLASH. INIT starts the count at 1
/// again for each image; CONNECT sets it to 0. Requests the module does not
/// know are not steps.
///
/// Several faults at the same step combine, in this order: the reply is
/// chosen (right, wrong, none, or a hang-up), the oversized frame and the
/// noise go before it, the delay applies to the first delivery, and a split
/// turns every byte into a delivery of its own.
enum class FaultKind {
  NoReply,       ///< no reply at this step (at step 0: no connect reply)
  DelayedReply,  ///< the reply comes @c param ms late (at step 0: a late connect reply)
  WrongReply,    ///< B0 EF AA 01 01 for an ACK, B0 EF 00 02 00 00 for a connect reply
  Noise,       ///< @c param noise bytes (default 3, never 0xB0) in the reply's delivery, before it
  SplitReply,  ///< the reply is delivered one byte per delivery
  OversizedFrame,  ///< B0 EF AA FD + 253 bytes without 0xB0, as its own delivery before the reply
  HangUp,          ///< the line goes away instead of the reply
};

struct Fault {
  FaultKind kind = FaultKind::NoReply;
  int step = 0;
  uint32_t param = 0;
  bool everyRun = false;  ///< false: applies once, the first time the step comes
};

/// Parses a fault spec: KIND[:PARAM]@STEP[!], where KIND is one of
/// noreply, silence (the same as noreply), delay (PARAM ms, required),
/// wrong, noise (PARAM bytes, default 3), split, oversize, hangup; STEP is
/// 0 for CONNECT, 1 for INIT, 2.. for the data chunks and FLASH. A trailing
/// '!' (or '*') makes the fault apply on every run, otherwise it applies
/// once. Examples: "noreply@0", "delay:1500@0", "noise:4@3!", "hangup@5".
/// Returns false on a bad spec and sets @p error.
bool ParseFault(const std::string& spec, Fault& fault, std::string& error);

/// The spec of @p fault in the syntax ParseFault reads.
std::string FormatFault(const Fault& fault);

}  // namespace vexel::sim
