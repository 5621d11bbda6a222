// The limit of this machine: the loader's exchange (CONNECT, INIT, the image
// in 64-byte chunks, FLASH) done by a plain loop of system calls, with no
// threads, no event loop and no controller. Prints one line of figures.
//
//   bench_raw_loop DEVICE IMAGE_BYTES
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool WriteAll(int fd, const std::vector<uint8_t>& frame) {
  size_t done = 0;
  while (done < frame.size()) {
    const ssize_t n = ::write(fd, frame.data() + done, frame.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Waits for one 5-byte reply frame (B0 EF cmd 01 xx), skipping anything before it.
bool ReadReply(int fd, uint8_t command) {
  uint8_t frame[5];
  size_t have = 0;
  while (have < 5) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return false;
    const ssize_t n = ::read(fd, frame + have, 5 - have);
    if (n <= 0) return false;
    have += static_cast<size_t>(n);
    while (have > 0 && frame[0] != 0xB0) {  // drop noise
      for (size_t i = 1; i < have; ++i) frame[i - 1] = frame[i];
      --have;
    }
  }
  return frame[1] == 0xEF && frame[2] == command && frame[3] == 0x01;
}

bool Exchange(int fd, const std::vector<uint8_t>& frame, uint8_t replyCommand) {
  return WriteAll(fd, frame) && ReadReply(fd, replyCommand);
}

int OpenLine(const char* device) {
  const int fd = ::open(device, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t{};
  ::tcgetattr(fd, &t);
  ::cfmakeraw(&t);
  ::cfsetspeed(&t, B57600);
  t.c_cflag |= PARENB | CSTOPB | CLOCAL | CREAD;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ::tcsetattr(fd, TCSANOW, &t);
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DEVICE IMAGE_BYTES\n", argv[0]);
    return 2;
  }
  const int fd = OpenLine(argv[1]);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  const size_t length = std::strtoul(argv[2], nullptr, 10);
  std::vector<uint8_t> image(length);
  for (size_t i = 0; i < length; ++i) image[i] = static_cast<uint8_t>(i * 13);

  if (!Exchange(fd, {0xB0, 0xEF, 0x01, 0x00}, 0x00) ||
      !Exchange(fd, {0xB0, 0xEF, 0x55, 0x02, 0xAA, 0x04}, 0xAA)) {
    std::fprintf(stderr, "no reply to CONNECT or INIT\n");
    return 1;
  }
  const auto start = Clock::now();
  size_t chunks = 0;
  for (size_t at = 0;; at += 64) {
    const size_t n = length - at > 64 ? 64 : length - at;
    std::vector<uint8_t> frame{0xB0, 0xEF, 0x66, static_cast<uint8_t>(n)};
    frame.insert(frame.end(), image.begin() + static_cast<long>(at),
                 image.begin() + static_cast<long>(at + n));
    if (!Exchange(fd, frame, 0xAA)) {
      std::fprintf(stderr, "no reply to chunk %zu\n", chunks);
      return 1;
    }
    ++chunks;
    if (at + n == length) break;
  }
  const auto elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  if (!Exchange(fd, {0xB0, 0xEF, 0x55, 0x09, 0x55, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x01},
                0xAA)) {
    std::fprintf(stderr, "no reply to FLASH\n");
    return 1;
  }
  ::close(fd);
  std::printf("chunks=%zu total_us=%.0f per_chunk_us=%.2f\n", chunks, elapsed,
              elapsed / static_cast<double>(chunks));
  return 0;
}
