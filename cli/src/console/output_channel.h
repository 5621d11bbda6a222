// Standard output or error as the loader writes it. Flushed chunks go to a
// writer thread, so that a reader that is slow, or stops reading, never
// holds up the event loop: the lines, the timers and the signals go on.
// While the writer is behind, a progress chunk replaces the progress chunk
// still waiting before it, and is dropped when much else is waiting; every
// other chunk (results, failures, the exit line, traces) is kept. Once the
// reader has gone (EPIPE), the output has ended and is dropped. Standard
// output and error on one terminal share one writer, so that their chunks
// reach it in the order they were flushed (the bars are erased before a
// failure or trace line is shown).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>

namespace vexel::cli {

class OutputChannel final : public std::streambuf {
 public:
  /// Writes to @p fd, standard output (1) or error (2). Outputs that never
  /// wait for a reader (files, the null device) are written at once.
  explicit OutputChannel(int fd);
  /// The same, through @p other's writer (and in one order with it) when
  /// @p fd and @p other's descriptor are the same file.
  OutputChannel(int fd, OutputChannel& other);
  /// Finish without a limit.
  ~OutputChannel() override;
  OutputChannel(const OutputChannel&) = delete;
  OutputChannel& operator=(const OutputChannel&) = delete;

  /// The next chunk flushed is a progress report.
  void NextIsProgress() { m_nextIsProgress = true; }
  /// Waits until everything is written or the output has ended, at most
  /// @p limit when given. False when the limit passed first: the writer is
  /// still in a write, and the process must end without destroying this.
  bool Finish(std::optional<std::chrono::milliseconds> limit = std::nullopt);

 protected:
  int overflow(int c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  class Writer;

  int m_fd;
  std::shared_ptr<Writer> m_writer;  // null: written at once, on the caller's thread
  bool m_ended = false;              // direct writes only
  std::string m_buffer;              // since the last flush
  bool m_nextIsProgress = false;
};

/// Marks the next chunk flushed to @p out as a progress report, when @p out
/// writes through an OutputChannel (otherwise nothing).
void MarkProgress(std::ostream& out);

}  // namespace vexel::cli
