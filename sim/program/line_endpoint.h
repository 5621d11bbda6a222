// The simulator's end of the serial line: the master side of a new
// pseudo-terminal (the loader opens the slave), or an existing device.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace vexel::sim {

class LineEndpoint {
 public:
  LineEndpoint() = default;
  LineEndpoint(const LineEndpoint&) = delete;
  LineEndpoint& operator=(const LineEndpoint&) = delete;
  /// Closes the line and removes the link, if they are still there.
  ~LineEndpoint();

  /// Creates a pseudo-terminal whose slave is raw from the start. A slave
  /// descriptor stays open here, so the line neither hangs up nor loses its
  /// mode between two loaders.
  bool OpenPty(std::string& error);
  /// Opens an existing serial device, raw, 57600 baud, 8E2, exclusively.
  bool OpenDevice(const std::string& path, std::string& error);
  /// Makes @p linkPath a symbolic link to the line's path; an old symbolic
  /// link there is replaced, anything else is refused.
  bool MakeLink(const std::string& linkPath, std::string& error);
  /// Removes the link if it still points at this line.
  void RemoveLink();
  /// Who has the line. The pty outlives every loader's descriptor, and
  /// would keep what one loader leaves unread for the next. As on a serial
  /// port those bytes are lost instead: nothing is written while no loader
  /// has the line (LoaderPresent), and what is unread when the last one
  /// closes it is drained from our own slave descriptor (IdleFd, DropUnread).
  ///
  /// Whether a loader has the line is asked of the kernel each time, never
  /// counted from open and close events (those merge and race with the
  /// close itself); see CheckLoader.
  ///
  /// Takes the pending close signals and checks again; returns the change,
  /// if any: true when a loader now has the line, false when the last one
  /// left it.
  std::optional<bool> HandleCloseSignals();
  /// Checks again where the last answer may be stale: while no loader was
  /// found (an open is not signalled), or always without close signals.
  std::optional<bool> Confirm();
  /// Checks now; returns the change, if any.
  std::optional<bool> Recheck();
  /// False only on a pty on which no loader was found at the last check.
  bool LoaderPresent() const { return !m_isPty || m_present; }
  /// Descriptor that becomes readable when someone closes a descriptor on
  /// the slave that could write; -1 on a device or without inotify.
  int WatchFd() const { return m_watchFd; }
  /// Our slave descriptor while no loader has the line open, to be drained
  /// with DropUnread when readable (bytes still on their way through the pty
  /// when the loader closed it); otherwise -1.
  int IdleFd() const { return LoaderPresent() ? -1 : m_slaveFd; }
  /// Reads and drops the slave's unread input.
  void DropUnread();
  /// Closes every descriptor, so the loader's side sees the line go away.
  void HangUp();

  int Fd() const { return m_fd; }
  /// The descriptor to wait on for the loader's bytes: Fd(), or -1 while it
  /// could only report that nobody has the line (see Stranded).
  int ReadFd() const { return Stranded() && !m_present ? -1 : m_fd; }
  /// True when our own slave descriptor could not be taken back after a
  /// check (a loader set its exclusive flag in between). The master alone
  /// tells who has the line then, but cannot signal a loader's open, so the
  /// line is to be checked now and then until ours is back.
  bool Stranded() const { return m_isPty && m_slaveFd < 0 && m_fd >= 0; }
  bool IsPty() const { return m_isPty; }
  bool IsOpen() const { return m_fd >= 0; }
  /// The slave's path, or the device's.
  const std::string& Path() const { return m_path; }
  /// Bytes written that the loader has not taken yet: unread input of the
  /// slave, or the device's unsent output.
  size_t PendingForLoader() const;

 private:
  void WatchCloses();
  bool OthersHoldTheSlave();
  bool OpenOwnSlave();

  int m_fd = -1;       // master, or the device
  int m_slaveFd = -1;  // ours, read-only, held for the pty's whole life
  int m_watchFd = -1;  // inotify on the slave: others' closes
  bool m_isPty = false;
  bool m_present = false;  // a loader had the line at the last check
  std::string m_path;
  std::string m_link;
};

}  // namespace vexel::sim
