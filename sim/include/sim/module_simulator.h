// The module's side of the line protocol, as a library: consumes the bytes
// the loader writes and produces the module's replies, records each image it
// receives, checks the loader's behaviour, and can be scripted to misbehave.
// It does no I/O and keeps no time of its own: the in-memory port and the
// simulator program deliver its replies after the delays it asks for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/fault_spec.h"

namespace vexel::sim {

/// Bytes the module sends, @c delayMs after the previous delivery of the same
/// request (the first: after the request was received). Each delivery is one
/// write on the line, so one receive notification in memory.
struct Delivery {
  uint32_t delayMs = 0;
  std::vector<uint8_t> bytes;
  bool hangUp = false;  ///< the line goes away at this point; bytes is empty
};

/// What the module holds against the loader. Every violating request still
/// gets the reply a module gives to its kind (the connect reply or an ACK),
/// so the loader's run goes on and the report shows everything it did wrong:
/// - SendBeforeInit, DataAfterLast: the chunk is acknowledged and dropped.
/// - OversizedChunk: acknowledged and kept in the image (it is what was sent).
/// - InitMidImage, TwoImagesBeforeFlash: the earlier image is dropped and a
///   new one starts.
/// - FlashWithoutImage: acknowledged; nothing is recorded.
/// - UnknownRequest: no reply at all; it is not a step.
/// A CONNECT drops any unflashed image without a violation: the loader has
/// reconnected, which is how it recovers from a failed run.
enum class ViolationKind {
  SendBeforeInit,        ///< a data chunk with no image started
  OversizedChunk,        ///< a chunk of more than 64 bytes
  DataAfterLast,         ///< a chunk after the last one of the image
  InitMidImage,          ///< INIT while an image is partly received
  TwoImagesBeforeFlash,  ///< INIT after a complete image that was not flashed
  FlashWithoutImage,     ///< FLASH with no complete image
  Noise,                 ///< bytes between requests that are not a request (once per run of them)
  UnknownRequest,        ///< a well-formed frame the module does not know
};

struct Violation {
  ViolationKind kind;
  std::string text;  ///< one line for people, e.g. "chunk of 65 bytes (limit 64)"
};

/// Receives what the simulator sees and does, for reports and JSON events.
class SimObserver {
 public:
  virtual ~SimObserver() = default;
  /// @p name is "CONNECT", "INIT", "SEND", "SENDLAST", "FLASH" or "UNKNOWN";
  /// @p step is -1 for an unknown request. A chunk of exactly 64 bytes is
  /// named "SEND": only FLASH tells that it was the last one.
  virtual void OnRequest(const char* name, const std::vector<uint8_t>& frame, int step) = 0;
  /// Called once per delivery that carries bytes, when it is produced.
  virtual void OnReply(const std::vector<uint8_t>& bytes) = 0;
  virtual void OnImageFlashed(const std::vector<uint8_t>& image) = 0;
  virtual void OnViolation(const Violation& violation) = 0;
};

class ModuleSimulator {
 public:
  explicit ModuleSimulator(SimObserver* observer = nullptr);

  void AddFault(const Fault& fault);
  /// Feeds bytes the loader wrote, in any split; returns the deliveries the
  /// module makes in answer to the requests completed by them, in order.
  std::vector<Delivery> Consume(const uint8_t* data, size_t length);
  /// Forgets any partial request and image (the line was reopened).
  void ResetLine();

  const std::vector<std::vector<uint8_t>>& FlashedImages() const { return m_flashed; }
  const std::vector<Violation>& Violations() const { return m_violations; }
  /// Requests of each kind seen so far (CONNECT, INIT, SEND, SENDLAST, FLASH).
  size_t RequestCount() const { return m_requests; }
  /// The step of the latest known request; -1 before the first.
  int Step() const { return m_step; }
  /// Whether the latest known request got its reply (right or wrong, late or
  /// not); false when a fault kept it back or hung up instead.
  bool LastAnswered() const { return m_answered; }
  /// The bytes of a request not yet complete (empty between requests).
  const std::vector<uint8_t>& PartialRequest() const { return m_rx; }

 private:
  struct ArmedFault {
    Fault fault;
    bool spent = false;
  };
  enum class Request { Connect, Init, Chunk, Flash, Unknown };

  void ConsumeByte(uint8_t byte);
  void NoteNoise(uint8_t first);
  void HandleFrame();
  Request Classify() const;
  void OnConnect();
  void OnInit();
  void OnChunk();
  void OnFlash();
  void DropImage();
  void Violate(ViolationKind kind, std::string text);
  void Answer(const std::vector<uint8_t>& reply, const std::vector<uint8_t>& wrong);
  std::vector<const Fault*> TakeFaults(int step);

  SimObserver* m_observer;
  std::vector<ArmedFault> m_faults;
  std::vector<std::vector<uint8_t>> m_flashed;
  std::vector<Violation> m_violations;
  size_t m_requests = 0;
  std::vector<uint8_t> m_rx;     // bytes of an incomplete request
  bool m_inNoise = false;        // inside a run of noise bytes (already reported)
  std::vector<uint8_t> m_image;  // image being received
  bool m_imageStarted = false;   // INIT seen, not yet flashed or dropped
  bool m_imageComplete = false;  // a chunk of under 64 bytes ended it
  size_t m_chunks = 0;           // chunks of the current image
  int m_step = -1;
  bool m_answered = false;
  std::vector<Delivery> m_out;  // deliveries of the current Consume
};

}  // namespace vexel::sim
