// Per-port state shared by the ways of showing a run.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "output/run_output.h"

namespace vexel::cli {

struct PortView {
  std::string name;
  std::string shown;  // the name as text lines print it
  PortEventKind kind = PortEventKind::Connecting;
  std::string status;
  uint32_t position = 0;
  uint32_t total = 0;
  double runStart = -1;  // when INIT went out; -1 before
  int printedTenth = -1;  // plain lines: the last tenth printed
  double printedAt = 0;
};

/// 0..100; an empty image counts as done once loaded.
int Percent(const PortView& view);
/// Bytes per second since the run started; 0 before.
double Rate(const PortView& view, double now);
/// "850 B/s", "4.6 kB/s".
std::string FormatRate(double bytesPerSecond);
/// "0:07", "12:30", "1:02:03".
std::string FormatDuration(double seconds);
/// " 40% 4992/12345 bytes<sep>4.6 kB/s<sep>0:02 left".
std::string ProgressText(const PortView& view, double now, const char* separator);

/// Seconds to whole milliseconds, as JSON lines and records carry them.
double RoundMs(double seconds);

/// Lines kept at the bottom of a terminal and redrawn in place: the cursor
/// goes back up over them and each is cleared and written again. Anything
/// else printed on the terminal must first Erase them, so that it stays on
/// screen above them.
class LiveBlock {
 public:
  LiveBlock(std::ostream& out, int width);
  /// Shows @p lines in place of those on screen, each cut to fit one row: a
  /// wrapped line would throw off the cursor movement of the next redraw. A
  /// redraw may give way to a later one when the terminal is slow, as each
  /// shows the whole state.
  void Draw(std::vector<std::string> lines);
  void Erase();

 private:
  std::ostream& m_out;
  size_t m_width;
  size_t m_drawn = 0;  // lines on screen above the cursor
};

class TrackingOutput : public RunOutput {
 public:
  TrackingOutput(const OutputSettings& settings, std::ostream& out, std::ostream& err);
  void Tick(double elapsed) override { m_now = elapsed; }
  void Trace(const std::string& line) override;
  void Warn(size_t port, const std::string& text) override;

 protected:
  void Track(const PortEvent& event);
  void PrintFailure(const PortEvent& event);

  std::vector<PortView> m_views;
  std::ostream& m_out;
  std::ostream& m_err;
  double m_now = 0;
};

std::unique_ptr<RunOutput> MakeBarsOutput(const OutputSettings& settings, std::ostream& out,
                                          std::ostream& err);

}  // namespace vexel::cli
