// Pseudo-terminals for the tests: a pair whose slave side the code under test
// opens by path while the test plays the far end on the master side, and a
// client that opens a line someone else made (the simulator's).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vexel::test {

/// One end of a terminal line, non-blocking; every wait has a deadline.
class TtyEnd {
 public:
  static constexpr std::chrono::milliseconds kDeadline{10000};

  TtyEnd() = default;
  ~TtyEnd() { Close(); }
  TtyEnd(const TtyEnd&) = delete;
  TtyEnd& operator=(const TtyEnd&) = delete;

  bool IsOpen() const { return m_fd >= 0; }
  int Fd() const { return m_fd; }
  void Close();

  /// Writes all of @p bytes; false on failure.
  bool Send(const std::string& bytes);
  bool Send(const std::vector<uint8_t>& bytes) {
    return Send(std::string(bytes.begin(), bytes.end()));
  }
  /// Reads until @p count bytes came, the far end went or @p deadline
  /// passed; returns what came.
  std::string Receive(size_t count, std::chrono::milliseconds deadline = kDeadline);
  /// Waits until the far end has gone (hang-up or EIO).
  bool WaitHangUp(std::chrono::milliseconds deadline = kDeadline);

 protected:
  int m_fd = -1;
};

/// A new pseudo-terminal; this object holds the master side.
class PtyPair : public TtyEnd {
 public:
  /// Raw: the slave is left raw, as the simulator leaves its own (a port
  /// that closes gives the line back its settings, and a cooked one would
  /// echo the far end's bytes). Cooked: as a terminal starts, for programs
  /// that write to a terminal.
  enum class Mode { Raw, Cooked };

  explicit PtyPair(Mode mode = Mode::Raw, unsigned short columns = 0);

  const std::string& SlavePath() const { return m_slavePath; }
  int MasterFd() const { return Fd(); }
  /// Closes the master side: the slave side hangs up.
  void HangUp() { Close(); }

 private:
  std::string m_slavePath;
};

/// The loader's side of a line made by someone else.
class TtyClient : public TtyEnd {
 public:
  bool Open(const std::string& path);
};

}  // namespace vexel::test
