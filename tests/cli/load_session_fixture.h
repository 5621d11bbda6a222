// A load session over in-process modules (test::ModuleLine), its quiet
// output kept in strings, on a clock that jumps instead of waiting.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "module_line.h"
#include "session/load_session.h"
#include "support/temp_dir.h"

namespace vexel::cli::test {

using vexel::test::TempDir;

inline std::string ImageOf(size_t length) {
  std::string image(length, '\0');
  for (size_t i = 0; i < length; ++i) image[i] = static_cast<char>(i * 7 + 3);
  return image;
}

// The platform's loop, except that it cannot catch the user's interrupts,
// as when the signal handlers cannot be installed.
inline std::unique_ptr<EventLoop> MakeLoopWithoutInterrupts(
    LoopClock& clock = LoopClock::Steady()) {
  class Loop final : public EventLoop {
   public:
    explicit Loop(LoopClock& clock) : m_inner(EventLoop::Create(clock)) {}
    Clock::time_point Now() const override { return m_inner->Now(); }
    int Watch(WaitHandle handle, Callback onSignalled) override {
      return m_inner->Watch(handle, std::move(onSignalled));
    }
    void Unwatch(WaitHandle handle) override { m_inner->Unwatch(handle); }
    TimerId StartTimer(Clock::time_point due, Callback onDue) override {
      return m_inner->StartTimer(due, std::move(onDue));
    }
    void StopTimer(TimerId id) override { m_inner->StopTimer(id); }
    void Post(Callback call) override { m_inner->Post(std::move(call)); }
    void Run() override { m_inner->Run(); }
    void Quit() override { m_inner->Quit(); }
    bool CatchInterrupts(std::function<void(int)>) override { return false; }
    void ReleaseInterrupts() override {}

   private:
    std::unique_ptr<EventLoop> m_inner;
  };
  return std::make_unique<Loop>(clock);
}

// The loop a session test runs on: on a clock that jumps to the next timer
// unless the case needs real time (a signal, another thread that must keep
// up), and with interrupts that cannot be caught when the case asks.
struct SessionLoopChoice {
  std::function<std::unique_ptr<EventLoop>()> Maker() {
    return [this] {
      LoopClock& clock = realTime ? LoopClock::Steady() : jumping;
      return refuseInterrupts ? MakeLoopWithoutInterrupts(clock) : EventLoop::Create(clock);
    };
  }

  JumpingClock jumping;
  bool realTime = false;
  bool refuseInterrupts = false;
};

// Passes events on to another output and lets a test act on them.
class HookOutput final : public RunOutput {
 public:
  HookOutput(RunOutput& inner, std::function<void(const PortEvent&)> hook)
      : m_inner(inner), m_hook(std::move(hook)) {}
  void OnEvent(const PortEvent& event) override {
    m_inner.OnEvent(event);
    m_hook(event);
  }
  void Trace(const std::string& line) override { m_inner.Trace(line); }
  void Warn(size_t port, const std::string& text) override { m_inner.Warn(port, text); }
  void Finish(const std::vector<PortSummary>& rows, int code) override {
    m_inner.Finish(rows, code);
  }

 private:
  RunOutput& m_inner;
  std::function<void(const PortEvent&)> m_hook;
};

class LoadSessionTest : public ::testing::Test {
 protected:
  std::shared_ptr<ModuleLineState> AddPort(const std::string& fault = {}) {
    auto state = std::make_shared<ModuleLineState>();
    if (!fault.empty()) {
      sim::Fault parsed;
      std::string error;
      EXPECT_TRUE(sim::ParseFault(fault, parsed, error)) << error;
      state->module.AddFault(parsed);
    }
    m_states.push_back(state);
    return state;
  }

  int Run(
      std::vector<std::string> ports, const std::string& imagePath, bool trace = false,
      std::function<void(const PortEvent&)> hook = [](const PortEvent&) {}) {
    OutputSettings settings;
    settings.mode = OutputMode::Quiet;
    settings.ports = ports;
    auto quiet = MakeRunOutput(settings, m_out, m_err);
    HookOutput output(*quiet, std::move(hook));
    size_t next = 0;
    SessionSettings session{imagePath, ports, trace, true};
    session.makeLoop = m_loopChoice.Maker();
    LoadSession load(session, output,
                     [&] { return std::make_unique<ModuleLine>(m_states.at(next++)); });
    // The snapshot is taken before the session runs, and the file let go:
    // a case may replace it meanwhile (Windows would keep it locked).
    {
      SnapshotImageFile image;
      EXPECT_TRUE(image.Open(imagePath)) << imagePath;
      load.SetImageSnapshot(image.Snapshot());
    }
    const int code = load.Run();
    m_refused = load.Refused();
    m_results = load.Results();
    return code;
  }

  struct OpenFailure {
    int32_t result;
    int osError;
    std::string reason;
  };
  // Each case: @p port's open fails with the result and OS error, and the
  // load ends with status 4 and "PORT: Cannot open open PORT: reason".
  void ExpectOpenFailures(const std::string& port, const std::vector<OpenFailure>& cases) {
    const std::string path = WriteImage(ImageOf(10));
    for (const auto& c : cases) {
      m_states.clear();
      m_err.str("");
      auto module = AddPort();
      module->openResult = c.result;
      module->osError = c.osError;
      EXPECT_EQ(Run({port}, path), 4) << c.reason;
      EXPECT_EQ(m_err.str(), port + ": Cannot open open " + port + ": " + c.reason + "\n");
      EXPECT_EQ(m_results[0].outcome, "Cannot open open " + port);
      EXPECT_FALSE(m_results[0].started);
    }
  }

  // Two ports, the first held up at its first chunk; @p interrupt is called
  // while the first one's port is open, and is handled on the event loop,
  // not at once. The load ends with 130 and every port closed.
  void ExpectInterruptClosesEveryPort(const std::function<void()>& interrupt) {
    m_loopChoice.realTime = true;  // the interrupt comes through the OS
    auto a = AddPort("delay:60000@2");
    auto b = AddPort();
    bool raised = false;
    const int code = Run({"A", "B"}, WriteImage(ImageOf(300)), false, [&](const PortEvent& event) {
      if (event.port == 0 && event.kind == PortEventKind::Status && !raised) {
        raised = true;
        EXPECT_TRUE(a->open);
        interrupt();
        EXPECT_TRUE(a->open);
      }
    });
    EXPECT_EQ(code, 130);
    EXPECT_FALSE(a->open);
    EXPECT_FALSE(b->open);
    EXPECT_EQ(m_results[0].outcome, "interrupted");
    EXPECT_EQ(m_results[0].exitCode, 130);
  }

  std::string WriteImage(const std::string& image) {
    return m_dir.Write("image.mbf", image).string();
  }

  TempDir m_dir;
  SessionLoopChoice m_loopChoice;
  bool m_refused = false;
  std::vector<std::shared_ptr<ModuleLineState>> m_states;
  std::vector<PortSummary> m_results;
  std::ostringstream m_out;
  std::ostringstream m_err;
};

}  // namespace vexel::cli::test
