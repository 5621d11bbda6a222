#include "sim/module_fixture.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "protocol/link_frame.h"

namespace vexel::sim {

// Stands between each module's core and the caller's observer: keeps what
// every module did, and tells the fixture what the latest request did.
class ModuleFixture::Recorder final : public SimObserver {
 public:
  explicit Recorder(ModuleFixture& fixture) : m_fixture(fixture) {}

  /// Forgets the latest request before a byte goes to the module.
  void Clear() { m_request = nullptr; }
  bool Completed(const char* name) const {
    return m_request != nullptr && std::strcmp(m_request, name) == 0;
  }

  void OnRequest(const char* name, const std::vector<uint8_t>& frame, int step) override {
    m_request = name;
    if (m_fixture.m_observer) m_fixture.m_observer->OnRequest(name, frame, step);
  }
  void OnReply(const std::vector<uint8_t>& bytes) override {
    if (m_fixture.m_observer) m_fixture.m_observer->OnReply(bytes);
  }
  void OnImageFlashed(const std::vector<uint8_t>& image) override {
    m_fixture.m_flashed.push_back(image);
    m_fixture.m_flashedBy.push_back(m_fixture.m_present);
    m_fixture.m_flashedNow = true;
    if (m_fixture.m_observer) m_fixture.m_observer->OnImageFlashed(image);
  }
  void OnViolation(const Violation& violation) override {
    m_fixture.m_violations.push_back(violation);
    if (m_fixture.m_observer) m_fixture.m_observer->OnViolation(violation);
  }

 private:
  ModuleFixture& m_fixture;
  const char* m_request = nullptr;
};

ModuleFixture::ModuleFixture(FixtureConfig config, SimObserver* observer,
                             FixtureObserver* fixtureObserver)
    : m_config(std::move(config)),
      m_observer(observer),
      m_fixtureObserver(fixtureObserver),
      m_recorder(std::make_unique<Recorder>(*this)) {
  Attach();
}

ModuleFixture::~ModuleFixture() = default;

std::vector<Delivery> ModuleFixture::Consume(const uint8_t* data, size_t length, int64_t nowMs) {
  Advance(nowMs);
  if (!Station()) return m_module->Consume(data, length);
  std::vector<Delivery> out;
  for (size_t i = 0; i < length && m_present != 0; ++i) FeedByte(data[i], nowMs, out);
  return out;
}

void ModuleFixture::Advance(int64_t nowMs) {
  if (m_removeAtMs && nowMs >= *m_removeAtMs) Remove(*m_removeAtMs, "flashed", false);
  if (m_attachAtMs && nowMs >= *m_attachAtMs) Attach();
}

std::optional<int64_t> ModuleFixture::NextChangeMs() const {
  return m_removeAtMs ? m_removeAtMs : m_attachAtMs;
}

void ModuleFixture::ResetLine() {
  if (m_present != 0) m_module->ResetLine();
}

int ModuleFixture::Step() const { return m_module->Step(); }

void ModuleFixture::Attach() {
  ++m_attached;
  m_module = std::make_unique<ModuleSimulator>(m_recorder.get());
  // In the classic mode the one module is module 1.
  for (const ModuleFault& fault : m_config.faults) {
    if (fault.module == 0 || fault.module == m_attached) m_module->AddFault(fault.fault);
  }
  m_present = m_attached;
  m_attachAtMs.reset();
  m_answeredConnect = false;
  if (Station() && m_fixtureObserver) m_fixtureObserver->OnModuleAttached(m_present);
}

void ModuleFixture::Remove(int64_t nowMs, const char* reason, bool last) {
  const size_t module = m_present;
  m_present = 0;
  m_removeAtMs.reset();
  if (!last && m_attached < m_config.modules) m_attachAtMs = nowMs + m_config.gapMs;
  if (m_fixtureObserver) m_fixtureObserver->OnModuleRemoved(module, reason);
}

// Checked before the byte reaches the module: the CONNECT that finds the
// fixture empty must not be seen, let alone answered, by the module.
bool ModuleFixture::IsReprobe(uint8_t byte) const {
  const std::vector<uint8_t>& partial = m_module->PartialRequest();
  return partial.size() + 1 == kConnectFrame.size() &&
         std::equal(partial.begin(), partial.end(), kConnectFrame.begin()) &&
         byte == kConnectFrame.back();
}

// One byte at a time, so that a removal takes effect between two requests
// that came in one read.
void ModuleFixture::FeedByte(uint8_t byte, int64_t nowMs, std::vector<Delivery>& out) {
  // A module left to dwell after its flash stays whatever the loader asks.
  if (m_answeredConnect && !m_removeAtMs && IsReprobe(byte))
    return Remove(nowMs, "reprobed", false);
  m_recorder->Clear();
  m_flashedNow = false;
  std::vector<Delivery> replies = m_module->Consume(&byte, 1);
  const bool hungUp = std::any_of(replies.begin(), replies.end(),
                                  [](const Delivery& d) { return d.hangUp; });
  std::move(replies.begin(), replies.end(), std::back_inserter(out));
  if (m_recorder->Completed("CONNECT") && m_module->LastAnswered()) m_answeredConnect = true;
  if (hungUp) return Remove(nowMs, "hangup", true);
  if (m_flashedNow && m_config.dwellMs > 0) {
    m_removeAtMs = nowMs + m_config.dwellMs;
  } else if (m_flashedNow) {
    Remove(nowMs, "flashed", false);
  }
}

}  // namespace vexel::sim
