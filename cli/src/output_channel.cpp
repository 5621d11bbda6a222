#include "cli/output_channel.h"

#include "cli/console.h"

namespace vexel::cli {
namespace {

// Progress is dropped rather than queued behind this much unwritten output.
constexpr size_t kProgressBacklog = 64 * 1024;

}  // namespace

OutputChannel::OutputChannel(int fd) : m_fd(fd), m_direct(NeverBlocks(fd)) {
  if (!m_direct) m_writer = std::thread([this] { WriterLoop(); });
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
  if (!m_buffer.empty()) Put(std::move(m_buffer), m_nextIsProgress);
  m_buffer.clear();
  m_nextIsProgress = false;
  return 0;
}

void OutputChannel::Put(std::string text, bool progress) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_ended) return;
  if (m_direct) {
    m_ended = !WriteFully(m_fd, text);
    return;
  }
  const bool behind = m_writing || !m_queue.empty();
  if (progress && behind) {
    if (!m_queue.empty() && m_queue.back().progress) {
      m_queuedBytes += text.size() - m_queue.back().text.size();
      m_queue.back().text = std::move(text);
      return;
    }
    if (m_queuedBytes > kProgressBacklog) return;
  }
  m_queuedBytes += text.size();
  m_queue.push_back({std::move(text), progress});
  m_wake.notify_one();
}

void OutputChannel::WriterLoop() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
    if (m_queue.empty()) return;
    Chunk chunk = std::move(m_queue.front());
    m_queue.pop_front();
    m_queuedBytes -= chunk.text.size();
    m_writing = true;
    lock.unlock();
    const bool written = WriteFully(m_fd, chunk.text);
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

bool OutputChannel::Finish(std::optional<std::chrono::milliseconds> limit) {
  sync();
  if (!m_writer.joinable()) return true;
  std::unique_lock<std::mutex> lock(m_mutex);
  auto done = [this] { return m_ended || (m_queue.empty() && !m_writing); };
  const bool written = limit ? m_idle.wait_for(lock, *limit, done) : (m_idle.wait(lock, done), true);
  m_stopping = true;
  m_wake.notify_one();
  lock.unlock();
  // A writer still stuck in a write to a reader that never reads is left to
  // the end of the process.
  if (written) {
    m_writer.join();
  } else {
    m_writer.detach();
  }
  return written;
}

void MarkProgress(std::ostream& out) {
  if (auto* channel = dynamic_cast<OutputChannel*>(out.rdbuf())) channel->NextIsProgress();
}

}  // namespace vexel::cli
