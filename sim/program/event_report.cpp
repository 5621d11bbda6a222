#include "event_report.h"

#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>

namespace vexel::sim {
namespace {

using json = nlohmann::ordered_json;

constexpr size_t kTextHexLimit = 16;  // longer frames are abbreviated in text

// Paths are bytes and JSON text is UTF-8: a byte that is not UTF-8 (from a
// path given on the command line) is shown as U+FFFD instead of failing.
std::string Dump(const json& event) {
  return event.dump(-1, ' ', false, json::error_handler_t::replace);
}

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

std::string FaultList(const std::vector<ModuleFault>& faults) {
  std::string text;
  for (const ModuleFault& fault : faults)
    text += (text.empty() ? "" : " ") + FormatModuleFault(fault);
  return text;
}

}  // namespace

const char* ViolationName(ViolationKind kind) {
  static const char* const kNames[] = {
      "SendBeforeInit",       "OversizedChunk",    "DataAfterLast", "InitMidImage",
      "TwoImagesBeforeFlash", "FlashWithoutImage", "Noise",         "UnknownRequest"};
  return kNames[static_cast<size_t>(kind)];
}

const char* EndReasonName(EndReason reason) {
  static const char* const kNames[] = {"signal", "count", "hangup", "line-lost"};
  return kNames[static_cast<size_t>(reason)];
}

EventReport::EventReport(std::FILE* out, bool json, int64_t startNs)
    : m_out(out), m_fd(::fileno(out)), m_json(json), m_startNs(startNs) {
  std::fflush(m_out);  // what the stream holds goes first
  struct stat st {};
  m_toFile = m_fd >= 0 && ::fstat(m_fd, &st) == 0 && S_ISREG(st.st_mode);
}

void EventReport::Ready(const std::string& path, const std::string& link,
                        const std::vector<ModuleFault>& faults, const FixtureReport& fixture) {
  if (m_json) {
    json event{{"event", "ready"}, {"path", path}, {"faults", json::array()}};
    if (!link.empty()) event["link"] = link;
    if (fixture.modules > 0)
      event.update({{"modules", fixture.modules}, {"gap_ms", fixture.gapMs}});
    for (const ModuleFault& fault : faults) event["faults"].push_back(FormatModuleFault(fault));
    return Line(Dump(event), true);
  }
  std::string text = "module ready on " + path;
  if (!link.empty()) text += " (link " + link + ")";
  if (fixture.modules > 0) {
    text += ", " + std::to_string(fixture.modules) + " module(s) one after another, " +
            std::to_string(fixture.gapMs) + " ms apart";
  }
  if (!faults.empty()) text += ", faults: " + FaultList(faults);
  Line(text, true);
}

void EventReport::Request(int64_t nowNs, const char* name, const std::vector<uint8_t>& frame,
                          int step) {
  const size_t length = frame.size() >= 4 ? frame[3] : 0;
  if (m_json) {
    return Line(Dump(json{{"event", "request"},
                          {"t_ms", Ms(nowNs)},
                          {"name", name},
                          {"step", step},
                          {"length", length},
                          {"frame", Hex(frame, frame.size(), "")}}));
  }
  std::string text = std::string("request ") + name;
  if (step >= 0) text += " step " + std::to_string(step);
  Line(text + ": " + Hex(frame, kTextHexLimit, " "));
}

void EventReport::Reply(int64_t nowNs, const std::vector<uint8_t>& bytes, bool dropped) {
  if (m_json) {
    json event{{"event", "reply"}, {"t_ms", Ms(nowNs)}, {"bytes", Hex(bytes, bytes.size(), "")}};
    if (dropped) event["dropped"] = true;
    return Line(Dump(event));
  }
  const std::string text = "reply " + Hex(bytes, kTextHexLimit, " ");
  Line(dropped ? text + " (dropped: no loader has the line open)" : text);
}

void EventReport::Image(int64_t nowNs, const ImageReport& image) {
  if (m_json) {
    json event{{"event", "image"}, {"t_ms", Ms(nowNs)}, {"index", image.index}};
    if (image.module > 0) event["module"] = image.module;
    event.update({{"length", image.length}, {"sha256", image.sha256}});
    if (!image.file.empty()) event["file"] = image.file;
    if (!image.writeError.empty()) event["write_error"] = image.writeError;
    return Line(Dump(event));
  }
  std::string text = "image " + std::to_string(image.index) + " flashed";
  if (image.module > 0) text += " by module " + std::to_string(image.module);
  text += ": " + std::to_string(image.length) + " bytes, sha256 " + image.sha256;
  if (!image.file.empty()) text += ", written to " + image.file;
  Line(image.writeError.empty() ? text : text + ", not written: " + image.writeError);
}

void EventReport::LoaderViolation(int64_t nowNs, const Violation& violation) {
  if (m_json) {
    return Line(Dump(json{{"event", "violation"},
                          {"t_ms", Ms(nowNs)},
                          {"kind", ViolationName(violation.kind)},
                          {"text", violation.text}}));
  }
  Line("violation: " + violation.text);
}

void EventReport::LineState(int64_t nowNs, bool open) {
  const char* state = open ? "open" : "closed";
  if (m_json) return Line(Dump(json{{"event", "line"}, {"t_ms", Ms(nowNs)}, {"state", state}}));
  Line(open ? "line opened by a loader" : "line closed by the loader");
}

void EventReport::HangUp(int64_t nowNs, int step) {
  if (m_json) return Line(Dump(json{{"event", "hangup"}, {"t_ms", Ms(nowNs)}, {"step", step}}));
  Line("hang-up at step " + std::to_string(step));
}

void EventReport::Module(int64_t nowNs, size_t index, const char* reason) {
  if (m_json) {
    json event{{"event", "module"},
               {"t_ms", Ms(nowNs)},
               {"index", index},
               {"state", reason ? "removed" : "attached"}};
    if (reason) event["reason"] = reason;
    return Line(Dump(event));
  }
  const std::string text = "module " + std::to_string(index);
  Line(reason ? text + " removed (" + reason + ")" : text + " attached");
}

void EventReport::End(int64_t nowNs, EndReason reason, size_t images, size_t violations,
                      int status) {
  if (m_json) {
    return Line(Dump(json{{"event", "end"},
                          {"t_ms", Ms(nowNs)},
                          {"reason", EndReasonName(reason)},
                          {"images", images},
                          {"violations", violations},
                          {"exit_status", status}}),
                true);
  }
  Line(std::string("end (") + EndReasonName(reason) + "): " + std::to_string(images) +
           " image(s) flashed, " + std::to_string(violations) + " violation(s), exit status " +
           std::to_string(status),
       true);
}

// Every event goes out at once when the reader keeps up: scripts and tests
// wait on these lines.
void EventReport::Line(const std::string& text, bool keep) {
  if (m_fd < 0) {
    std::fputs(text.c_str(), m_out);
    std::fputc('\n', m_out);
    std::fflush(m_out);
    return;
  }
  if (m_readerGone) return;
  Flush();
  if (m_dropped > 0) NoteDropped(keep);
  if (!keep && (m_dropped > 0 || Queued() + text.size() + 1 > kQueueLimit)) {
    ++m_dropped;
    return;
  }
  m_queue += text;
  m_queue += '\n';
  Flush();
}

// One line for a run of dropped lines, once there is room for it (or at
// once, before a line that is kept).
void EventReport::NoteDropped(bool force) {
  const std::string note = m_json ? Dump(json{{"event", "dropped"}, {"count", m_dropped}})
                                  : std::to_string(m_dropped) +
                                        " event line(s) dropped: the output was not read";
  if (!force && Queued() + note.size() + 1 > kQueueLimit / 2)
    return;  // wait for the reader to catch up
  m_queue += note;
  m_queue += '\n';
  m_dropped = 0;
}

// A pipe that polls writable takes PIPE_BUF bytes without blocking, so the
// stream needs no O_NONBLOCK (which would change it for everyone sharing it).
void EventReport::Flush() {
  while (Queued() > 0 && !m_readerGone) {
    pollfd room{m_fd, POLLOUT, 0};
    if (!m_toFile && ::poll(&room, 1, 0) <= 0) break;
    if (!m_toFile && (room.revents & POLLOUT) == 0) {
      m_readerGone = true;  // POLLERR: nobody will ever read it
      break;
    }
    const ssize_t n = ::write(m_fd, m_queue.data() + m_sent, std::min<size_t>(Queued(), PIPE_BUF));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      m_readerGone = true;
      break;
    }
    m_sent += static_cast<size_t>(n);
  }
  if (m_readerGone || Queued() == 0) {
    m_queue.clear();
    m_sent = 0;
  } else if (m_sent >= kQueueLimit) {
    m_queue.erase(0, m_sent);
    m_sent = 0;
  }
}

void EventReport::Drain(int timeoutMs) {
  if (m_fd < 0) return;
  if (m_dropped > 0) NoteDropped(true);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (Flush(); Queued() > 0; Flush()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd room{m_fd, POLLOUT, 0};
    if (left.count() <= 0 || ::poll(&room, 1, static_cast<int>(left.count())) <= 0) return;
  }
}

double EventReport::Ms(int64_t nowNs) const {
  return std::round(static_cast<double>(nowNs - m_startNs) / 1e3) / 1e3;
}

}  // namespace vexel::sim
