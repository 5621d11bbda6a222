/* Test-only LD_PRELOAD library for Wine on pseudo-terminals. Wine's event
 * waits poll the modem lines with TIOCMGET, which a Linux pty refuses with
 * ENOTTY, so every wait ends at once with no event. Answering the modem-line
 * ioctls on pty slaves (character majors 136-143) as a null-modem cable would
 * lets the waits stay pending until bytes arrive, as on Windows. A slave whose
 * master has gone answers EIO, as a pulled adapter does. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <stddef.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

static int is_pty_slave(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
  unsigned int m = major(st.st_rdev);
  return m >= 136 && m <= 143;
}

static int hung_up(int fd) {
  struct pollfd p = {fd, 0, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0;
}

/* DTR and RTS as last set per descriptor; CTS, DSR and CD always on. */
#define MAX_FDS 4096
static int output_lines[MAX_FDS];
static const int input_lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD;

static int modem_ioctl(int fd, unsigned long request, int* bits) {
  if (fd < 0 || fd >= MAX_FDS) {
    errno = EINVAL;
    return -1;
  }
  if (hung_up(fd)) {
    errno = EIO;
    return -1;
  }
  const int out = TIOCM_DTR | TIOCM_RTS;
  switch (request) {
    case TIOCMGET: *bits = (output_lines[fd] & out) | input_lines; break;
    case TIOCMSET: output_lines[fd] = *bits & out; break;
    case TIOCMBIS: output_lines[fd] |= *bits & out; break;
    default: output_lines[fd] &= ~(*bits & out); break; /* TIOCMBIC */
  }
  return 0;
}

int ioctl(int fd, unsigned long request, ...) {
  static int (*real_ioctl)(int, unsigned long, ...);
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC) &&
      is_pty_slave(fd)) {
    return modem_ioctl(fd, request, (int*)arg);
  }
  if (real_ioctl == NULL) real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  return real_ioctl(fd, request, arg);
}
