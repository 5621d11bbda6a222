/* Test-only LD_PRELOAD library for Wine on pseudo-terminals. Wine's event
 * waits poll the modem lines with TIOCMGET, which a Linux pty refuses with
 * ENOTTY, so every wait ends at once with no event. Answering the modem-line
 * ioctls on pty slaves (character majors 136-143) as a null-modem cable would
 * lets the waits stay pending until bytes arrive, as on Windows. A slave whose
 * master has gone answers EIO, as a pulled adapter does.
 *
 * VEXEL_WINE_LATE_WAIT_RETURN=1 plays a race instead: the modem-line ioctls
 * are left to the pty to refuse (so an idle wait ends empty after about 1 ms,
 * as under plain Wine), and a thread's creator goes on only 20 ms after the
 * new thread started. Wine's wait thread then ends the wait before the
 * WaitCommEvent call that started it has returned, which leaves the wait's
 * event signalled and the wait pending for good: what plain Wine does now and
 * then on a busy machine, on demand. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>

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

static int late_wait_return(void) {
  static int mode = -1;
  if (mode < 0) {
    const char* value = getenv("VEXEL_WINE_LATE_WAIT_RETURN");
    mode = value != NULL && value[0] == '1';
  }
  return mode;
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* arg) {
  static int (*real_create)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  if (real_create == NULL) {
    real_create = (int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*))dlsym(
        RTLD_NEXT, "pthread_create");
  }
  const int result = real_create(thread, attr, start, arg);
  if (result == 0 && late_wait_return()) {
    const struct timespec late = {0, 20 * 1000 * 1000};
    nanosleep(&late, NULL);
  }
  return result;
}

int ioctl(int fd, unsigned long request, ...) {
  static int (*real_ioctl)(int, unsigned long, ...);
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC) &&
      !late_wait_return() && is_pty_slave(fd)) {
    return modem_ioctl(fd, request, (int*)arg);
  }
  if (real_ioctl == NULL) real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  return real_ioctl(fd, request, arg);
}
