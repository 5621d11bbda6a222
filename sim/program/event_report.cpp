#include "event_report.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace vexel::sim {
namespace {

using json = nlohmann::ordered_json;

constexpr size_t kTextHexLimit = 16;  // longer frames are abbreviated in text

std::string Hex(const std::vector<uint8_t>& bytes, size_t limit, const char* separator) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    if (i > 0) text += separator;
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  if (bytes.size() > limit) text += " ... (" + std::to_string(bytes.size()) + " bytes)";
  return text;
}

std::string FaultList(const std::vector<Fault>& faults) {
  std::string text;
  for (const Fault& fault : faults) text += (text.empty() ? "" : " ") + FormatFault(fault);
  return text;
}

}  // namespace

const char* ViolationName(ViolationKind kind) {
  static const char* const kNames[] = {"SendBeforeInit", "OversizedChunk", "DataAfterLast",
                                       "InitMidImage", "TwoImagesBeforeFlash", "FlashWithoutImage",
                                       "Noise", "UnknownRequest"};
  return kNames[static_cast<size_t>(kind)];
}

const char* EndReasonName(EndReason reason) {
  static const char* const kNames[] = {"signal", "count", "hangup", "line-lost"};
  return kNames[static_cast<size_t>(reason)];
}

EventReport::EventReport(std::FILE* out, bool json, int64_t startNs)
    : m_out(out), m_json(json), m_startNs(startNs) {}

void EventReport::Ready(const std::string& path, const std::string& link,
                        const std::vector<Fault>& faults) {
  if (m_json) {
    json event{{"event", "ready"}, {"path", path}, {"faults", json::array()}};
    if (!link.empty()) event["link"] = link;
    for (const Fault& fault : faults) event["faults"].push_back(FormatFault(fault));
    return Line(event.dump());
  }
  std::string text = "module ready on " + path;
  if (!link.empty()) text += " (link " + link + ")";
  if (!faults.empty()) text += ", faults: " + FaultList(faults);
  Line(text);
}

void EventReport::Request(int64_t nowNs, const char* name, const std::vector<uint8_t>& frame, int step) {
  const size_t length = frame.size() >= 4 ? frame[3] : 0;
  if (m_json) {
    return Line(json{{"event", "request"}, {"t_ms", Ms(nowNs)}, {"name", name}, {"step", step},
                     {"length", length}, {"frame", Hex(frame, frame.size(), "")}}
                    .dump());
  }
  std::string text = std::string("request ") + name;
  if (step >= 0) text += " step " + std::to_string(step);
  Line(text + ": " + Hex(frame, kTextHexLimit, " "));
}

void EventReport::Reply(int64_t nowNs, const std::vector<uint8_t>& bytes, bool dropped) {
  if (m_json) {
    json event{{"event", "reply"}, {"t_ms", Ms(nowNs)}, {"bytes", Hex(bytes, bytes.size(), "")}};
    if (dropped) event["dropped"] = true;
    return Line(event.dump());
  }
  const std::string text = "reply " + Hex(bytes, kTextHexLimit, " ");
  Line(dropped ? text + " (dropped: no loader has the line open)" : text);
}

void EventReport::Image(int64_t nowNs, const ImageReport& image) {
  if (m_json) {
    json event{{"event", "image"}, {"t_ms", Ms(nowNs)},   {"index", image.index},
               {"length", image.length}, {"sha256", image.sha256}};
    if (!image.file.empty()) event["file"] = image.file;
    return Line(event.dump());
  }
  std::string text = "image " + std::to_string(image.index) + " flashed: " +
                     std::to_string(image.length) + " bytes, sha256 " + image.sha256;
  Line(image.file.empty() ? text : text + ", written to " + image.file);
}

void EventReport::LoaderViolation(int64_t nowNs, const Violation& violation) {
  if (m_json) {
    return Line(json{{"event", "violation"}, {"t_ms", Ms(nowNs)}, {"kind", ViolationName(violation.kind)},
                     {"text", violation.text}}
                    .dump());
  }
  Line("violation: " + violation.text);
}

void EventReport::LineState(int64_t nowNs, bool open) {
  const char* state = open ? "open" : "closed";
  if (m_json) return Line(json{{"event", "line"}, {"t_ms", Ms(nowNs)}, {"state", state}}.dump());
  Line(open ? "line opened by a loader" : "line closed by the loader");
}

void EventReport::HangUp(int64_t nowNs, int step) {
  if (m_json) return Line(json{{"event", "hangup"}, {"t_ms", Ms(nowNs)}, {"step", step}}.dump());
  Line("hang-up at step " + std::to_string(step));
}

void EventReport::End(int64_t nowNs, EndReason reason, size_t images, size_t violations, int status) {
  if (m_json) {
    return Line(json{{"event", "end"}, {"t_ms", Ms(nowNs)}, {"reason", EndReasonName(reason)},
                     {"images", images}, {"violations", violations}, {"exit_status", status}}
                    .dump());
  }
  Line(std::string("end (") + EndReasonName(reason) + "): " + std::to_string(images) +
       " image(s) flashed, " + std::to_string(violations) + " violation(s), exit status " +
       std::to_string(status));
}

// Every event is flushed at once: scripts and tests wait on these lines.
void EventReport::Line(const std::string& text) {
  std::fputs(text.c_str(), m_out);
  std::fputc('\n', m_out);
  std::fflush(m_out);
}

double EventReport::Ms(int64_t nowNs) const {
  return std::round(static_cast<double>(nowNs - m_startNs) / 1e3) / 1e3;
}

}  // namespace vexel::sim
