#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "output/display_text.h"
#include "console/output_channel.h"
#include "output/run_views.h"

namespace vexel::cli {

int Percent(const PortView& view) {
  if (view.kind == PortEventKind::Loaded) return 100;
  if (view.total == 0) return 0;
  return static_cast<int>(uint64_t{view.position} * 100 / view.total);
}

double Rate(const PortView& view, double now) {
  const double seconds = now - view.runStart;
  if (view.runStart < 0 || seconds <= 0) return 0;
  return view.position / seconds;
}

std::string FormatRate(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond < 1000) {
    std::snprintf(text, sizeof text, "%.0f B/s", bytesPerSecond);
  } else {
    std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1000);
  }
  return text;
}

std::string FormatDuration(double seconds) {
  const auto total = static_cast<long>(std::max(0.0, seconds) + 0.5);
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
  }
  return text;
}

std::string ProgressText(const PortView& view, double now, const char* separator) {
  char text[64];
  std::snprintf(text, sizeof text, "%3d%% %u/%u bytes", Percent(view), view.position, view.total);
  const double rate = Rate(view, now);
  if (rate <= 0) return text;
  const double left = (view.total - view.position) / rate;
  return text + (separator + FormatRate(rate)) + separator + FormatDuration(left) + " left";
}

double RoundMs(double seconds) { return std::round(seconds * 1000.0) / 1000.0; }

LiveBlock::LiveBlock(std::ostream& out, int width)
    : m_out(out), m_width(static_cast<size_t>(std::max(width, 20))) {}

void LiveBlock::Draw(std::vector<std::string> lines) {
  std::string text;
  if (m_drawn > 0) {
    text += "\x1b[" + std::to_string(m_drawn) + "A";
    MarkProgress(m_out);
  }
  for (auto& line : lines) {
    if (line.size() >= m_width) line.resize(m_width - 1);
    text += "\r\x1b[2K" + line + "\n";
  }
  m_out << text << std::flush;
  m_drawn = lines.size();
}

void LiveBlock::Erase() {
  if (m_drawn == 0) return;
  m_out << "\x1b[" << m_drawn << "A\r\x1b[J" << std::flush;
  m_drawn = 0;
}

TrackingOutput::TrackingOutput(const OutputSettings& settings, std::ostream& out,
                               std::ostream& err)
    : m_out(out), m_err(err) {
  for (const auto& name : settings.ports) {
    PortView view;
    view.name = name;
    view.shown = DisplayText(name);
    m_views.push_back(view);
  }
}

// One write per line: standard error is unbuffered, and a trace line is
// written for every frame.
void TrackingOutput::Trace(const std::string& line) { m_err << line + '\n' << std::flush; }

void TrackingOutput::Warn(size_t port, const std::string& text) {
  if (port >= m_views.size()) return;
  m_out << std::flush;
  m_err << m_views[port].shown << ": warning: " << DisplayText(text) << '\n' << std::flush;
}

void TrackingOutput::Track(const PortEvent& event) {
  if (event.port >= m_views.size()) m_views.resize(event.port + 1);
  PortView& view = m_views[event.port];
  view.kind = event.kind;
  view.status = event.status;
  view.position = event.position;
  view.total = event.total;
  if (event.kind == PortEventKind::Started) view.runStart = event.elapsed;
  m_now = std::max(m_now, event.elapsed);
}

void TrackingOutput::PrintFailure(const PortEvent& event) {
  m_out << std::flush;
  m_err << m_views[event.port].shown << ": " << DisplayText(event.message) << '\n' << std::flush;
}

}  // namespace vexel::cli
