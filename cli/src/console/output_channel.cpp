#include "console/output_channel.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "console/console.h"

namespace vexel::cli {
namespace {

// Progress is dropped rather than queued behind this much unwritten output.
constexpr size_t kProgressBacklog = 64 * 1024;

}  // namespace

// The thread that writes the chunks of one or two channels, in order.
class OutputChannel::Writer {
 public:
  Writer() : m_thread([this] { Loop(); }) {}
  ~Writer() { Finish(std::nullopt); }

  void Put(int fd, std::string text, bool progress) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended) return;
    if (progress && (m_writing || !m_queue.empty())) {
      if (!m_queue.empty() && m_queue.back().progress && m_queue.back().fd == fd) {
        m_queuedBytes += text.size() - m_queue.back().text.size();
        m_queue.back().text = std::move(text);
        return;
      }
      if (m_queuedBytes > kProgressBacklog) return;
    }
    m_queuedBytes += text.size();
    m_queue.push_back({fd, std::move(text), progress});
    m_wake.notify_one();
  }

  bool Finish(std::optional<std::chrono::milliseconds> limit) {
    if (!m_thread.joinable()) return true;
    std::unique_lock<std::mutex> lock(m_mutex);
    auto done = [this] { return m_ended || (m_queue.empty() && !m_writing); };
    const bool written = limit ? m_idle.wait_for(lock, *limit, done)
                               : (m_idle.wait(lock, done), true);
    m_stopping = true;
    m_wake.notify_one();
    lock.unlock();
    // A writer still stuck in a write to a reader that never reads is left
    // to the end of the process.
    if (written) {
      m_thread.join();
    } else {
      m_thread.detach();
    }
    return written;
  }

 private:
  struct Chunk {
    int fd;
    std::string text;
    bool progress;
  };

  void Loop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
      m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
      if (m_queue.empty()) return;
      Chunk chunk = std::move(m_queue.front());
      m_queue.pop_front();
      m_queuedBytes -= chunk.text.size();
      m_writing = true;
      lock.unlock();
      const bool written = WriteFully(chunk.fd, chunk.text);
      lock.lock();
      m_writing = false;
      if (!written) {
        m_ended = true;
        m_queue.clear();
        m_queuedBytes = 0;
      }
      if (m_queue.empty()) m_idle.notify_all();
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_wake;  // the thread: something to write, or stop
  std::condition_variable m_idle;  // Finish: all written, or ended
  std::deque<Chunk> m_queue;
  size_t m_queuedBytes = 0;
  bool m_writing = false;
  bool m_ended = false;
  bool m_stopping = false;
  std::thread m_thread;  // last: starts once the rest exists
};

OutputChannel::OutputChannel(int fd) : m_fd(fd) {
  if (!NeverBlocks(fd)) m_writer = std::make_shared<Writer>();
}

OutputChannel::OutputChannel(int fd, OutputChannel& other) : m_fd(fd) {
  if (NeverBlocks(fd)) return;
  m_writer = SameFile(fd, other.m_fd) && other.m_writer ? other.m_writer
                                                        : std::make_shared<Writer>();
}

OutputChannel::~OutputChannel() { Finish(); }

int OutputChannel::overflow(int c) {
  if (c != traits_type::eof()) m_buffer += static_cast<char>(c);
  return traits_type::not_eof(c);
}

std::streamsize OutputChannel::xsputn(const char* text, std::streamsize count) {
  m_buffer.append(text, static_cast<size_t>(count));
  return count;
}

int OutputChannel::sync() {
  if (!m_buffer.empty()) {
    if (m_writer) {
      m_writer->Put(m_fd, std::move(m_buffer), m_nextIsProgress);
    } else if (!m_ended) {
      m_ended = !WriteFully(m_fd, m_buffer);
    }
  }
  m_buffer.clear();
  m_nextIsProgress = false;
  return 0;
}

bool OutputChannel::Finish(std::optional<std::chrono::milliseconds> limit) {
  sync();
  return !m_writer || m_writer->Finish(limit);
}

void MarkProgress(std::ostream& out) {
  if (auto* channel = dynamic_cast<OutputChannel*>(out.rdbuf())) channel->NextIsProgress();
}

}  // namespace vexel::cli
