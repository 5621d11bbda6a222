/* Test-only line that hangs up on request, for the Windows tests under Wine:
 * a pseudo-terminal that echoes every byte it receives, and whose master is
 * closed when the byte EOT (0x04) arrives, as when a cable is pulled. Before
 * closing it, a fresh pty takes over the link, so the next test that opens
 * the port finds a working line and never a dangling link.
 *
 *   vexel-hangup-line LINK      (prints the slave's path once LINK exists;
 *                                SIGTERM or SIGINT removes LINK and ends it)
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

enum { kHangUpRequest = 0x04 };

struct line {
  int master;
  int keeper; /* our own slave descriptor: a port closing is no hang-up */
};

static int fail(const char* what) {
  fprintf(stderr, "vexel-hangup-line: %s: %s\n", what, strerror(errno));
  return 0;
}

/* A new raw pty, linked at @p link in place of the earlier one. */
static int open_line(struct line* line, const char* link) {
  line->master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line->master < 0) return fail("posix_openpt");
  const char* slave = NULL;
  if (grantpt(line->master) != 0 || unlockpt(line->master) != 0 ||
      (slave = ptsname(line->master)) == NULL) {
    return fail("pty setup");
  }
  line->keeper = open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line->keeper < 0) return fail(slave);
  struct termios tio;
  if (tcgetattr(line->keeper, &tio) != 0) return fail("tcgetattr");
  cfmakeraw(&tio);
  if (tcsetattr(line->keeper, TCSANOW, &tio) != 0) return fail("tcsetattr");
  char temp[4096];
  snprintf(temp, sizeof temp, "%s.new", link);
  unlink(temp);
  if (symlink(slave, temp) != 0 || rename(temp, link) != 0) return fail(link);
  printf("%s\n", slave);
  fflush(stdout);
  return 1;
}

static void close_line(struct line* line) {
  close(line->keeper);
  close(line->master);
}

static int write_all(int fd, const unsigned char* bytes, size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 0;
    bytes += n;
    length -= (size_t)n;
  }
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: vexel-hangup-line LINK\n");
    return 2;
  }
  const char* link = argv[1];
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  sigprocmask(SIG_BLOCK, &stop, NULL);
  const int stopFd = signalfd(-1, &stop, SFD_CLOEXEC);
  struct line line;
  if (stopFd < 0 || !open_line(&line, link)) return 2;
  int status = 0;
  for (;;) {
    struct pollfd fds[2] = {{stopFd, POLLIN, 0}, {line.master, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      status = fail("poll") ? 0 : 2;
      break;
    }
    if (fds[0].revents != 0) break;
    unsigned char bytes[512];
    const ssize_t n = read(line.master, bytes, sizeof bytes);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      status = fail("read") ? 0 : 2;
      break;
    }
    const unsigned char* request = memchr(bytes, kHangUpRequest, (size_t)n);
    const size_t echoed = request != NULL ? (size_t)(request - bytes) : (size_t)n;
    if (!write_all(line.master, bytes, echoed)) {
      status = fail("write") ? 0 : 2;
      break;
    }
    if (request == NULL) continue;
    struct line next;
    if (!open_line(&next, link)) {
      status = 2;
      break;
    }
    close_line(&line); /* the old slave's holders now see a hang-up */
    line = next;
  }
  unlink(link);
  close_line(&line);
  return status;
}
