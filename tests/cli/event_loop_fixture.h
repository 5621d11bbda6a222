// The event loop's tests run a fresh loop until a condition holds.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "loop/event_loop.h"

namespace vexel::cli::test {

class EventLoopTest : public ::testing::Test {
 public:
  using Clock = EventLoop::Clock;

  // Runs the loop until done() holds after a callback, or a generous deadline.
  bool RunUntil(const std::function<bool()>& done) {
    using namespace std::chrono_literals;
    const auto deadline = m_loop->StartTimer(m_loop->Now() + 10s, [this] { m_loop->Quit(); });
    std::function<void()> check = [&] {
      if (done()) return m_loop->Quit();
      m_loop->StartTimer(m_loop->Now() + 1ms, check);
    };
    m_loop->Post(check);
    m_loop->Run();
    m_loop->StopTimer(deadline);
    return done();
  }

 protected:
  std::unique_ptr<EventLoop> m_loop = EventLoop::Create();
};

}  // namespace vexel::cli::test
