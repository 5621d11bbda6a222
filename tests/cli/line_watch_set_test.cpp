// The loader's one wait for all lines, with eventfds standing in for the
// lines' wait handles: who is called, how often, and removal from inside a
// handler.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <sys/eventfd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/line_watch_set.h"

namespace vexel::cli {
namespace {

class Handle {
 public:
  Handle() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~Handle() { ::close(m_fd); }
  intptr_t Fd() const { return m_fd; }
  void Signal() const {
    const uint64_t one = 1;
    ASSERT_EQ(::write(m_fd, &one, sizeof one), static_cast<ssize_t>(sizeof one));
  }
  void Take() const {
    uint64_t value = 0;
    (void)::read(m_fd, &value, sizeof value);
  }

 private:
  int m_fd;
};

// Runs the event loop until done() or a generous deadline.
bool RunUntil(const std::function<bool()>& done) {
  QDeadlineTimer deadline(10000);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  }
  return done();
}

class LineWatchSetTest : public ::testing::TestWithParam<LineWatchSet::Mode> {};

TEST_P(LineWatchSetTest, EachSignalledHandleIsServedUntilItsOwnerTakesTheSignal) {
  LineWatchSet set(GetParam());
  Handle a, b;
  std::vector<std::string> calls;
  int aLeftSignalled = 2;  // a's owner takes the signal only on the third call
  ASSERT_EQ(set.Add(a.Fd(), [&] {
    calls.push_back("a");
    if (--aLeftSignalled < 0) a.Take();
  }), 0);
  ASSERT_EQ(set.Add(b.Fd(), [&] { calls.push_back("b"); b.Take(); }), 0);
  a.Signal();
  b.Signal();
  ASSERT_TRUE(RunUntil([&] { return calls.size() >= 4; }));
  QCoreApplication::processEvents();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "a"), 3) << "level-triggered: served until taken";
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "b"), 1);
}

TEST_P(LineWatchSetTest, AHandlerMayRemoveItselfAndOthersInTheSameBatch) {
  LineWatchSet set(GetParam());
  Handle a, b;
  std::vector<std::string> calls;
  ASSERT_EQ(set.Add(a.Fd(), [&] { calls.push_back("a"); set.Remove(a.Fd()); set.Remove(b.Fd()); }), 0);
  ASSERT_EQ(set.Add(b.Fd(), [&] { calls.push_back("b"); set.Remove(a.Fd()); set.Remove(b.Fd()); }), 0);
  a.Signal();
  b.Signal();
  ASSERT_TRUE(RunUntil([&] { return !calls.empty(); }));
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(calls.size(), 1u) << "the first handler removed both; the other is never called";
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // removed notifiers go
  set.Remove(a.Fd());  // removing twice is fine
}

TEST_P(LineWatchSetTest, AHandleThatCannotBeWatchedGivesItsErrno) {
  LineWatchSet set(GetParam());
  EXPECT_EQ(set.Add(-1, [] {}), EBADF);
  Handle a;
  ASSERT_EQ(set.Add(a.Fd(), [] {}), 0);
  EXPECT_EQ(set.Add(a.Fd(), [] {}), EEXIST);
}

INSTANTIATE_TEST_SUITE_P(BothModes, LineWatchSetTest,
                         ::testing::Values(LineWatchSet::Mode::Direct, LineWatchSet::Mode::Shared),
                         [](const ::testing::TestParamInfo<LineWatchSet::Mode>& mode) {
                           return mode.param == LineWatchSet::Mode::Direct ? "Direct" : "Shared";
                         });

}  // namespace
}  // namespace vexel::cli
