// The tty calls of the Linux port layer that a test may stand in for: a
// driver's answers to the serial-info requests, and a read, write or request
// that fails with EIO or ENODEV, cannot be had from a pseudo-terminal.
#pragma once

#include <sys/types.h>

namespace vexel::comm {

struct TtyCalls {
  ssize_t (*read)(int fd, void* buffer, size_t length);
  ssize_t (*write)(int fd, const void* data, size_t length);
  // ioctl with one pointer argument: TIOCGSERIAL, TIOCSSERIAL, TIOCGICOUNT.
  int (*ioctl)(int fd, unsigned long request, void* argument);
};

// The calls in use: the system's own unless a test replaced them.
TtyCalls& Tty();
// The system's own calls, for a test to restore or to pass calls through.
TtyCalls SystemTtyCalls();

}  // namespace vexel::comm
