#include "sim/module_simulator.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "protocol/link_frame.h"

namespace vexel::sim {
namespace {

constexpr uint32_t kDefaultNoise = 3;
constexpr size_t kOversizedLength = 253;  // one more than a loader can hold
// Noise never contains 0xB0, so it can never start a frame on the loader's side.
constexpr std::array<uint8_t, 3> kNoisePattern{0x00, 0xFF, 0x55};

const std::vector<uint8_t> kConnectReply(kConnectReplyFrame.begin(), kConnectReplyFrame.end());
const std::vector<uint8_t> kAck(kAckFrame.begin(), kAckFrame.end());
const std::vector<uint8_t> kWrongConnectReply{kSync1, kSync2, kCmdConnectReply, 0x02, 0x00, 0x00};
const std::vector<uint8_t> kWrongAck{kSync1, kSync2, kCmdAck, 0x01, 0x01};

std::string Format(const char* format, size_t a, size_t b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

std::vector<uint8_t> NoiseBytes(uint32_t count) {
  std::vector<uint8_t> bytes(count == 0 ? kDefaultNoise : count);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = kNoisePattern[i % kNoisePattern.size()];
  return bytes;
}

// A frame the loader cannot hold; its payload has no 0xB0, so a loader that
// drops it and hunts again finds the reply that follows and nothing else.
std::vector<uint8_t> OversizedFrameBytes() {
  std::vector<uint8_t> bytes{kSync1, kSync2, kCmdAck, static_cast<uint8_t>(kOversizedLength)};
  for (size_t i = 0; i < kOversizedLength; ++i) bytes.push_back(static_cast<uint8_t>(i % 0x80));
  return bytes;
}

bool Equals(const std::vector<uint8_t>& frame, const uint8_t* bytes, size_t length) {
  return frame.size() == length && std::equal(frame.begin(), frame.end(), bytes);
}

// How the faults of one step shape the reply.
struct ReplyPlan {
  bool none = false;
  bool wrong = false;
  bool hangUp = false;
  bool split = false;
  bool oversized = false;
  uint32_t delayMs = 0;
  uint32_t noise = 0;
};

void Apply(const Fault& fault, ReplyPlan& plan) {
  switch (fault.kind) {
    case FaultKind::NoReply: plan.none = true; break;
    case FaultKind::DelayedReply: plan.delayMs += fault.param; break;
    case FaultKind::WrongReply: plan.wrong = true; break;
    case FaultKind::Noise: plan.noise += fault.param == 0 ? kDefaultNoise : fault.param; break;
    case FaultKind::SplitReply: plan.split = true; break;
    case FaultKind::OversizedFrame: plan.oversized = true; break;
    case FaultKind::HangUp: plan.hangUp = true; break;
  }
}

std::vector<Delivery> SplitBytes(const std::vector<Delivery>& deliveries) {
  size_t count = 0;
  for (const Delivery& d : deliveries) count += d.hangUp ? 1 : d.bytes.size();
  std::vector<Delivery> out;
  out.reserve(count);
  for (const Delivery& d : deliveries) {
    if (d.hangUp) {
      out.push_back(d);
      continue;
    }
    for (size_t i = 0; i < d.bytes.size(); ++i)
      out.push_back({i == 0 ? d.delayMs : 0, {d.bytes[i]}, false});
  }
  return out;
}

std::vector<Delivery> Shape(const ReplyPlan& plan, const std::vector<uint8_t>& reply,
                            const std::vector<uint8_t>& wrong) {
  std::vector<Delivery> out;
  if (plan.oversized) out.push_back({0, OversizedFrameBytes(), false});
  Delivery main;
  if (plan.noise > 0) main.bytes = NoiseBytes(plan.noise);
  if (!plan.none && !plan.hangUp) {
    const std::vector<uint8_t>& bytes = plan.wrong ? wrong : reply;
    main.bytes.insert(main.bytes.end(), bytes.begin(), bytes.end());
  }
  if (!main.bytes.empty()) out.push_back(main);
  if (plan.hangUp) out.push_back({0, {}, true});
  if (!out.empty()) out.front().delayMs = plan.delayMs;
  return plan.split ? SplitBytes(out) : out;
}

}  // namespace

ModuleSimulator::ModuleSimulator(SimObserver* observer) : m_observer(observer) {}

void ModuleSimulator::AddFault(const Fault& fault) { m_faults.push_back({fault, false}); }

std::vector<Delivery> ModuleSimulator::Consume(const uint8_t* data, size_t length) {
  m_out.clear();
  for (size_t i = 0; i < length; ++i) ConsumeByte(data[i]);
  return std::move(m_out);
}

void ModuleSimulator::ResetLine() {
  m_rx.clear();
  m_inNoise = false;
  DropImage();
}

// A request is recognised only from B0 EF; unlike the loader, the module takes
// a 0xB0 that breaks a sync pair as a new first sync byte.
void ModuleSimulator::ConsumeByte(uint8_t byte) {
  if (m_rx.empty()) {
    if (byte == kSync1)
      m_rx.push_back(byte);
    else
      NoteNoise(byte);
    return;
  }
  if (m_rx.size() == 1 && byte != kSync2) {
    NoteNoise(kSync1);
    m_rx.clear();
    if (byte == kSync1) m_rx.push_back(byte);
    return;
  }
  m_rx.push_back(byte);
  if (m_rx.size() == 2) m_inNoise = false;
  if (m_rx.size() >= kHeaderSize && m_rx.size() == kHeaderSize + m_rx[kOffLength]) {
    HandleFrame();
    m_rx.clear();
  }
}

void ModuleSimulator::NoteNoise(uint8_t first) {
  if (m_inNoise) return;
  m_inNoise = true;
  Violate(ViolationKind::Noise,
          Format("noise between requests, starting with byte 0x%02zX", first));
}

ModuleSimulator::Request ModuleSimulator::Classify() const {
  // The requests the module knows, byte for byte; data chunks go by command.
  static const struct {
    const uint8_t* bytes;
    size_t length;
    Request request;
  } kFixed[] = {
      {kConnectFrame.data(), kConnectFrame.size(), Request::Connect},
      {kInitFrame.data(), kInitFrame.size(), Request::Init},
      {kFlashFrame.data(), kFlashFrame.size(), Request::Flash},
  };
  for (const auto& entry : kFixed) {
    if (Equals(m_rx, entry.bytes, entry.length)) return entry.request;
  }
  return m_rx[kOffCommand] == kCmdSend ? Request::Chunk : Request::Unknown;
}

void ModuleSimulator::HandleFrame() {
  switch (Classify()) {
    case Request::Connect: OnConnect(); break;
    case Request::Init: OnInit(); break;
    case Request::Chunk: OnChunk(); break;
    case Request::Flash: OnFlash(); break;
    case Request::Unknown:
      if (m_observer) m_observer->OnRequest("UNKNOWN", m_rx, -1);
      Violate(ViolationKind::UnknownRequest,
              Format("unknown request: command 0x%02zX with %zu payload bytes", m_rx[kOffCommand],
                     m_rx[kOffLength]));
      break;
  }
}

void ModuleSimulator::OnConnect() {
  m_step = 0;
  ++m_requests;
  DropImage();
  if (m_observer) m_observer->OnRequest("CONNECT", m_rx, m_step);
  Answer(kConnectReply, kWrongConnectReply);
}

void ModuleSimulator::OnInit() {
  m_step = 1;
  ++m_requests;
  if (m_observer) m_observer->OnRequest("INIT", m_rx, m_step);
  if (m_imageStarted && m_imageComplete) {
    Violate(
        ViolationKind::TwoImagesBeforeFlash,
        Format("INIT after a complete image of %zu bytes that was not flashed", m_image.size()));
  } else if (m_imageStarted && m_chunks > 0) {
    Violate(ViolationKind::InitMidImage,
            Format("INIT in the middle of an image (%zu bytes in %zu chunks received)",
                   m_image.size(), m_chunks));
  }
  DropImage();
  m_imageStarted = true;
  Answer(kAck, kWrongAck);
}

void ModuleSimulator::OnChunk() {
  const size_t length = m_rx[kOffLength];
  ++m_step;
  ++m_requests;
  if (m_observer) m_observer->OnRequest(length < kChunkSize ? "SENDLAST" : "SEND", m_rx, m_step);
  if (length > kChunkSize) {
    Violate(ViolationKind::OversizedChunk,
            Format("chunk of %zu bytes (limit %zu)", length, kChunkSize));
  }
  if (!m_imageStarted) {
    Violate(ViolationKind::SendBeforeInit, Format("chunk of %zu bytes before INIT", length));
  } else if (m_imageComplete) {
    Violate(ViolationKind::DataAfterLast,
            Format("chunk of %zu bytes after the last chunk of a %zu-byte image", length,
                   m_image.size()));
  } else {
    m_image.insert(m_image.end(), m_rx.begin() + kHeaderSize, m_rx.end());
    ++m_chunks;
    m_imageComplete = length < kChunkSize;
  }
  Answer(kAck, kWrongAck);
}

void ModuleSimulator::OnFlash() {
  ++m_step;
  ++m_requests;
  if (m_observer) m_observer->OnRequest("FLASH", m_rx, m_step);
  if (m_imageStarted && m_chunks > 0) {
    m_flashed.push_back(m_image);
    if (m_observer) m_observer->OnImageFlashed(m_flashed.back());
  } else {
    Violate(ViolationKind::FlashWithoutImage,
            m_imageStarted ? "FLASH after INIT with no data" : "FLASH with no image started");
  }
  DropImage();
  Answer(kAck, kWrongAck);
}

void ModuleSimulator::DropImage() {
  m_image.clear();
  m_imageStarted = false;
  m_imageComplete = false;
  m_chunks = 0;
}

void ModuleSimulator::Violate(ViolationKind kind, std::string text) {
  m_violations.push_back({kind, std::move(text)});
  if (m_observer) m_observer->OnViolation(m_violations.back());
}

void ModuleSimulator::Answer(const std::vector<uint8_t>& reply, const std::vector<uint8_t>& wrong) {
  ReplyPlan plan;
  for (const Fault* fault : TakeFaults(m_step)) Apply(*fault, plan);
  m_answered = !plan.none && !plan.hangUp;
  for (Delivery& delivery : Shape(plan, reply, wrong)) {
    if (m_observer && !delivery.hangUp) m_observer->OnReply(delivery.bytes);
    m_out.push_back(std::move(delivery));
  }
}

std::vector<const Fault*> ModuleSimulator::TakeFaults(int step) {
  std::vector<const Fault*> taken;
  for (ArmedFault& armed : m_faults) {
    if (armed.spent || armed.fault.step != step) continue;
    taken.push_back(&armed.fault);
    armed.spent = !armed.fault.everyRun;
  }
  return taken;
}

}  // namespace vexel::sim
