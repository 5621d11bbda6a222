#include "output/run_summary.h"

#include <cstdio>

#include "output/run_views.h"
#include "output/text_table.h"
#include "protocol/line_format.h"

namespace vexel::cli {
namespace {

std::string Format(const char* pattern, double value) {
  char text[32];
  std::snprintf(text, sizeof text, pattern, value);
  return text;
}

constexpr const char* kUnpaced = "unpaced";

bool Rated(const PortSummary& row) { return row.loaded && row.seconds > 0; }

// A paced line cannot beat its ceiling; an exchange that does ran on a line
// without a line rate (a pseudo-terminal, a virtual port), where the share
// says nothing.
bool Unpaced(const PortSummary& row) { return Rated(row) && CeilingShare(row) > 1.0; }

// Rates mean something only for a complete exchange.
std::vector<std::string> Cells(const PortSummary& row) {
  const bool rated = Rated(row);
  return {row.port,
          row.outcome,
          std::to_string(row.bytes),
          row.started ? Format("%.2f", row.seconds) : "",
          rated ? Format("%.0f", BytesPerSecond(row)) : "",
          Unpaced(row) ? kUnpaced
          : rated      ? Format("%.1f%%", CeilingShare(row) * 100.0)
                       : ""};
}

}  // namespace

void LineTally::OnSent(FrameName name, size_t length, double now) {
  if (name == FrameName::Init) {
    m_started = m_counting = true;
    m_flashSent = m_complete = false;
    m_lineBytes = 0;
    m_start = now;
  }
  if (!m_counting) return;
  m_lineBytes += length;
  if (name == FrameName::Flash) m_flashSent = true;
}

void LineTally::OnReceived(FrameName name, size_t length, double now) {
  if (!m_counting) return;
  m_lineBytes += length;
  if (m_flashSent && name == FrameName::Ack) {
    m_counting = false;
    m_complete = true;
    m_end = now;
  }
}

double LineTally::Seconds(double now) const {
  if (!m_started) return 0;
  return (m_complete ? m_end : now) - m_start;
}

double BytesPerSecond(const PortSummary& row) {
  return row.seconds > 0 ? row.bytes / row.seconds : 0;
}

double CeilingShare(const PortSummary& row) {
  if (row.seconds <= 0) return 0;
  return static_cast<double>(row.lineBytes) * kLineBitsPerByte / kLineBaudRate / row.seconds;
}

std::string FormatSummary(const std::vector<PortSummary>& rows, int exitCode) {
  using A = TextTable::Align;
  TextTable table({"PORT", "RESULT", "BYTES", "SECONDS", "BYTES/S", "OF CEILING"},
                  {A::Left, A::Left, A::Right, A::Right, A::Right, A::Right});
  size_t loaded = 0;
  bool unpaced = false;
  for (const auto& row : rows) {
    table.AddRow(Cells(row));
    if (row.loaded) ++loaded;
    unpaced = unpaced || Unpaced(row);
  }
  const std::string note = unpaced ? std::string(kUnpaced) + ": faster than " +
                                         std::to_string(kLineBaudRate) +
                                         " baud 8E2 allows: the line is not paced like a UART\n"
                                   : "";
  return table.Render() + note + std::to_string(loaded) + " of " + std::to_string(rows.size()) +
         " modules loaded; exit status " + std::to_string(exitCode) + "\n";
}

std::string FormatStationSummary(const std::vector<std::string>& ports,
                                 const std::vector<StationCounts>& counts, int exitCode,
                                 double elapsed) {
  using A = TextTable::Align;
  TextTable table({"PORT", "MODULES", "LOADED", "FAILED", "LAST RESULT"},
                  {A::Left, A::Right, A::Right, A::Right, A::Left});
  StationCounts total;
  for (size_t i = 0; i < ports.size() && i < counts.size(); ++i) {
    const StationCounts& row = counts[i];
    table.AddRow({ports[i], std::to_string(row.modules), std::to_string(row.loaded),
                  std::to_string(row.failed), row.last});
    total.modules += row.modules;
    total.loaded += row.loaded;
    total.failed += row.failed;
  }
  table.AddRow({"total", std::to_string(total.modules), std::to_string(total.loaded),
                std::to_string(total.failed), ""});
  return table.Render() + std::to_string(total.loaded) + " of " + std::to_string(total.modules) +
         " modules loaded in " + FormatDuration(elapsed) + "; exit status " +
         std::to_string(exitCode) + "\n";
}

}  // namespace vexel::cli
