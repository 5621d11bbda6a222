// A notification target for tests: the watcher's posts go into a queue that
// the test thread takes from, waiting on a condition variable.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

#include "serial/serial_types.h"

namespace vexel::test {

struct ComMessage {
  uint32_t message;
  uint32_t wParam;
  intptr_t lParam;
};

class NotifyQueue final : public ComNotifyTarget {
 public:
  virtual ~NotifyQueue() = default;

  void PostComMessage(uint32_t message, uint32_t wParam, intptr_t lParam) override {
    // Notified under the lock: a test may destroy the queue as soon as it
    // has taken the message.
    std::lock_guard<std::mutex> guard(m_lock);
    m_messages.push_back({message, wParam, lParam});
    m_arrived.notify_all();
  }

  // The next message, or none when deadline passes first.
  std::optional<ComMessage> Next(std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_arrived.wait_for(lock, deadline, [this] { return !m_messages.empty(); })) {
      return std::nullopt;
    }
    ComMessage message = m_messages.front();
    m_messages.pop_front();
    return message;
  }

  size_t Size() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_messages.size();
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_arrived;
  std::deque<ComMessage> m_messages;
};

}  // namespace vexel::test
