#include "sim_server.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <ctime>

#include "protocol/line_format.h"
#include "protocol/sha256.h"

namespace vexel::sim {
namespace {

constexpr int64_t kNsPerMs = 1000000;
constexpr int64_t kNsPerSecond = 1000000000;
constexpr int64_t kBitsPerByte = kLineBitsPerByte;
// Deliveries of one reply are kept apart, so each reaches the loader as a
// read of its own (a split reply really arrives split).
constexpr int64_t kDeliveryGapNs = 2 * kNsPerMs;
// After the last image of --count, how long the loader gets to read the ACK.
constexpr int64_t kDrainWaitNs = 2 * kNsPerSecond;
constexpr int64_t kDrainCheckNs = 10 * kNsPerMs;
// A pty moves written bytes to the slave's queue a little later, so its count
// of unread bytes means something only a moment after the last write.
constexpr int64_t kSettleNs = 20 * kNsPerMs;
// When the line is checked again after a loader closed it.
constexpr int64_t kLineRecheckMs[] = {5, 50, 500};
// How often the line is checked while our slave descriptor is not back.
constexpr int kStrandedCheckMs = 100;
// How long the end of the report may wait for a reader that is behind.
constexpr int kReportDrainMs = 2000;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

SimServer::SimServer(LineEndpoint& line, EventReport& report, ImageSink& sink,
                     const ServerConfig& config)
    : m_line(line), m_report(report), m_sink(sink), m_config(config) {
  if (m_config.lineRate > 0) m_pacing.emplace(kBitsPerByte * kNsPerSecond / m_config.lineRate);
  if (m_config.adapterLatencyMs > 0) m_adapter.emplace(m_config.adapterLatencyMs * kNsPerMs, Now());
}

SimServer::~SimServer() {
  CloseFd(m_timerFd);
  CloseFd(m_signalFd);
}

int64_t SimServer::Now() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * kNsPerSecond + ts.tv_nsec;
}

bool SimServer::Start(std::string& error) {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGHUP);  // a closed terminal: end cleanly and remove the link
  std::signal(SIGPIPE, SIG_IGN);
  if (::sigprocmask(SIG_BLOCK, &stops, nullptr) != 0 ||
      (m_signalFd = ::signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC)) < 0 ||
      (m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) < 0) {
    error = std::string("event setup: ") + std::strerror(errno);
    return false;
  }
  // The default 50 us of timer slack would make every paced reply late.
  if (m_pacing) ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  return true;
}

int SimServer::Run() {
  m_dueNs = Now();
  m_fixture.emplace(m_config.fixture, this, this);
  while (!m_ended) {
    RunDue();
    CheckCountReached();
    if (m_ended) break;
    ArmTimer();
    WaitForEvents();
  }
  const int status = ExitStatusNow();
  m_report.End(Now(), m_reason, m_images, m_fixture->Violations().size(), status);
  m_report.Drain(kReportDrainMs);
  return status;
}

void SimServer::WaitForEvents() {
  enum Slot { kSignal, kTimer, kLine, kCloses, kIdle, kReport, kSlots };
  pollfd fds[kSlots] = {};
  fds[kSignal] = {m_signalFd, POLLIN, 0};
  fds[kTimer] = {m_timerFd, POLLIN, 0};
  fds[kLine] = {m_line.ReadFd(), static_cast<short>(POLLIN | (m_tx.empty() ? 0 : POLLOUT)), 0};
  fds[kCloses] = {m_line.WatchFd(), POLLIN, 0};
  fds[kIdle] = {m_line.IdleFd(), POLLIN, 0};
  fds[kReport] = {m_report.WaitingFd(), POLLOUT, 0};
  const bool stranded = m_line.Stranded();
  if (::poll(fds, kSlots, stranded ? kStrandedCheckMs : -1) < 0) return;  // EINTR: go round again
  if (stranded) LineChange(m_line.Recheck());
  if (fds[kSignal].revents & POLLIN) return End(EndReason::Signal);
  if (fds[kReport].revents != 0) m_report.Flush();
  // Closes first: a loader's reply must not be written to a line it left.
  if (fds[kCloses].revents & POLLIN) {
    LineChange(m_line.HandleCloseSignals());
    // The close is signalled before the kernel has let go of the line, so
    // the check is made again a little later while the line seems held.
    for (int64_t delayMs : kLineRecheckMs) {
      m_queue.Schedule(Now() + delayMs * kNsPerMs, {ActionKind::CheckLine, {}});
    }
  }
  if (fds[kTimer].revents & POLLIN) DrainTimer();
  if (fds[kIdle].revents & POLLIN) m_line.DropUnread();
  if (fds[kLine].revents & POLLOUT) FlushTx();
  if (fds[kLine].revents & POLLIN)
    ReadLine();
  else if (fds[kLine].revents & (POLLHUP | POLLERR | POLLNVAL))
    LineGone();
}

void SimServer::LineChange(std::optional<bool> change) {
  if (change) m_report.LineState(Now(), *change);
}

void SimServer::DrainTimer() {
  uint64_t expirations = 0;
  while (::read(m_timerFd, &expirations, sizeof expirations) > 0) {
  }
}

void SimServer::ReadLine() {
  uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = ::read(m_line.Fd(), buffer, sizeof buffer);
    if (n > 0) {
      LineChange(m_line.Confirm());  // an open is not signalled: the first bytes tell
      Received(std::vector<uint8_t>(buffer, buffer + n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
    return LineGone();
  }
}

// A pty master reports a hang-up only while no slave descriptor is open:
// that is nobody on the line, not a lost line.
void SimServer::LineGone() {
  if (!m_line.IsPty()) return End(EndReason::LineLost);
  LineChange(m_line.Recheck());
}

// With pacing, bytes count as received only once they would have crossed the
// wire, one after the other at the line rate.
void SimServer::Received(std::vector<uint8_t> bytes) {
  const int64_t at = m_pacing ? m_pacing->Received(Now(), bytes.size()) : Now();
  m_queue.Schedule(at, {ActionKind::Consume, std::move(bytes)});
}

void SimServer::RunDue() {
  Action action{ActionKind::Wake, {}};
  while (!m_ended && m_queue.TakeDue(Now(), action, m_dueNs)) Execute(action);
}

void SimServer::Execute(Action& action) {
  switch (action.kind) {
    case ActionKind::Consume: return Consume(action.bytes);
    case ActionKind::Transmit: return Transmit(action);
    case ActionKind::Write:
      if (m_pacing) m_pacing->Written(m_dueNs, Now());
      return Write(action.bytes);
    case ActionKind::Release:
      if (m_pacing) m_pacing->Written(m_dueNs, Now());
      return ReleaseFromAdapter();
    case ActionKind::HangUp: return HangUpLine();
    case ActionKind::CheckLine:
      if (m_line.LoaderPresent()) LineChange(m_line.Recheck());
      return;
    case ActionKind::Wake: return;
    case ActionKind::Attach: return m_fixture->Advance(m_dueNs / kNsPerMs);
  }
}

// The core's delays count from the previous delivery; replies to requests
// that came in one read go out in order, as a module would send them.
void SimServer::Consume(const std::vector<uint8_t>& bytes) {
  const std::vector<Delivery> deliveries = m_fixture->Consume(bytes.data(), bytes.size(),
                                                              m_dueNs / kNsPerMs);
  ScheduleAttach();
  const int64_t gap = m_pacing ? 0 : kDeliveryGapNs;
  // Times count from when the request was due, not from when the loop woke
  // up for it, so wake-up latency does not add up over a run.
  int64_t due = m_dueNs;
  for (size_t i = 0; i < deliveries.size(); ++i) {
    const int64_t delay = int64_t{deliveries[i].delayMs} * kNsPerMs;
    due += i == 0 ? delay : std::max(delay, gap);
    m_queue.Schedule(due, {ActionKind::Transmit, deliveries[i].bytes, deliveries[i].hangUp});
  }
}

// The next module comes on the timer, whether or not the loader writes.
void SimServer::ScheduleAttach() {
  const std::optional<int64_t> at = m_fixture->NextChangeMs();
  if (!at || at == m_attachMs) return;
  m_attachMs = at;
  m_queue.Schedule(*at * kNsPerMs, {ActionKind::Attach, {}});
}

// A reply reaches the loader only after its own wire time, behind whatever
// is still on the wire before it.
void SimServer::Transmit(Action& action) {
  if (action.hangUp) {
    const int64_t at = m_pacing ? m_pacing->Transmitted(m_dueNs, 0) : m_dueNs;
    return m_queue.Schedule(at, {ActionKind::HangUp, {}});
  }
  if (!m_pacing) return Write(action.bytes);
  const int64_t done = m_pacing->Transmitted(m_dueNs, action.bytes.size());
  m_queue.Schedule(done, {ActionKind::Write, std::move(action.bytes)});
}

void SimServer::Write(const std::vector<uint8_t>& bytes) {
  if (m_adapter) return HoldInAdapter(bytes);
  Send(bytes);
}

// A reply that has crossed the module's wire waits in the adapter, with any
// still there, until its timer runs out or a packet is full.
void SimServer::HoldInAdapter(const std::vector<uint8_t>& bytes) {
  m_held.insert(m_held.end(), bytes.begin(), bytes.end());
  ScheduleRelease(m_adapter->Arrive(m_dueNs, bytes.size()));
}

void SimServer::ReleaseFromAdapter() {
  std::optional<int64_t> next;
  const size_t count = m_adapter->Release(m_dueNs, next);
  if (m_releaseAt == m_dueNs) m_releaseAt.reset();
  if (count > 0) {
    const std::vector<uint8_t> packet(m_held.begin(),
                                      m_held.begin() + static_cast<ptrdiff_t>(count));
    m_held.erase(m_held.begin(), m_held.begin() + static_cast<ptrdiff_t>(count));
    Send(packet);
  }
  ScheduleRelease(next);
}

void SimServer::ScheduleRelease(std::optional<int64_t> atNs) {
  if (!atNs || atNs == m_releaseAt) return;
  m_releaseAt = atNs;
  m_queue.Schedule(*atNs, {ActionKind::Release, {}});
}

void SimServer::Send(const std::vector<uint8_t>& bytes) {
  LineChange(m_line.Confirm());
  const bool heard = m_line.LoaderPresent();
  m_report.Reply(Now(), bytes, !heard);
  if (!heard) return;  // nobody there to read it
  m_tx.insert(m_tx.end(), bytes.begin(), bytes.end());
  m_lastWriteNs = Now();
  FlushTx();
}

void SimServer::FlushTx() {
  while (!m_tx.empty()) {
    const ssize_t n = ::write(m_line.Fd(), m_tx.data(), m_tx.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return;  // the rest goes on POLLOUT
    if (n < 0) return End(EndReason::LineLost);
    m_tx.erase(m_tx.begin(), m_tx.begin() + n);
  }
}

void SimServer::HangUpLine() {
  m_report.HangUp(Now(), m_fixture->Step());
  m_line.HangUp();
  End(EndReason::HangUp);
}

// --count ends the program only once the last ACK is out and read, or after
// a grace time when no loader reads it.
void SimServer::CheckCountReached() {
  if (m_ended || m_config.count == 0 || m_images < m_config.count) return;
  // A module still to come is no reason to stay.
  if (m_queue.HoldsOtherThan(ActionKind::Attach) || !m_tx.empty()) return;
  const bool settled = Now() - m_lastWriteNs >= kSettleNs && m_line.PendingForLoader() == 0;
  if (settled || Now() >= m_drainUntil) return End(EndReason::Count);
  m_queue.Schedule(Now() + kDrainCheckNs, {ActionKind::Wake, {}});
}

void SimServer::ArmTimer() {
  itimerspec spec{};
  if (const std::optional<int64_t> due = m_queue.NextDue()) {
    const int64_t at = std::max<int64_t>(*due, 1);
    spec.it_value.tv_sec = at / kNsPerSecond;
    spec.it_value.tv_nsec = at % kNsPerSecond;
  }
  ::timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &spec, nullptr);
}

void SimServer::End(EndReason reason) {
  if (m_ended) return;
  m_ended = true;
  m_reason = reason;
}

int SimServer::ExitStatusNow() const {
  if (m_writeFailed || m_reason == EndReason::LineLost) return kExitError;
  if (!m_fixture->Violations().empty()) return kExitViolations;
  return m_reason == EndReason::HangUp ? kExitHangUp : kExitOk;
}

// Stamped when the request was due (read, or with pacing: off the wire), as
// its reply's times are counted, so a late wake-up of the loop shows in
// neither.
void SimServer::OnRequest(const char* name, const std::vector<uint8_t>& frame, int step) {
  m_report.Request(m_dueNs, name, frame, step);
}

// Replies are reported when they are written, not when the core makes them.
void SimServer::OnReply(const std::vector<uint8_t>&) {}

void SimServer::OnImageFlashed(const std::vector<uint8_t>& image) {
  ImageReport report{++m_images, image.size(), Sha256Hex(image.data(), image.size()), "",
                     m_config.fixture.modules > 0 ? m_fixture->Present() : 0};
  report.file = m_sink.Save(report.index, image, report.writeError);
  if (!report.writeError.empty()) m_writeFailed = true;
  m_report.Image(Now(), report);
  if (m_images == m_config.count) m_drainUntil = Now() + kDrainWaitNs;
}

void SimServer::OnViolation(const Violation& violation) {
  m_report.LoaderViolation(Now(), violation);
}

// Stamped when the bytes or the timer that brought the change were due.
void SimServer::OnModuleAttached(size_t module) { m_report.Module(m_dueNs, module); }

void SimServer::OnModuleRemoved(size_t module, const char* reason) {
  m_report.Module(m_dueNs, module, reason);
}

}  // namespace vexel::sim
