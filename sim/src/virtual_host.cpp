#include "sim/virtual_host.h"

namespace vexel::sim {

void VirtualHost::Record(const std::string& line) {
  m_events.push_back(line);
  if (m_sink) m_sink(line);
}

void VirtualHost::ShowConnected() {
  m_connectedLook = true;
  m_green = true;
  m_status = text::kConnected;
  Record("connected");
}

void VirtualHost::ShowDisconnected() {
  m_connectedLook = false;
  m_green = false;
  m_status = text::kNotConnected;
  Record("disconnected");
}

void VirtualHost::ShowStatus(const std::string& text) {
  m_status = text;
  Record("status " + text);
}

void VirtualHost::ShowMessage(const std::string& text) {
  m_messages.push_back(text);
  Record("message " + text);
  if (m_whileOpen) {
    auto whileOpen = std::move(m_whileOpen);
    m_whileOpen = nullptr;
    whileOpen();
  }
}

void VirtualHost::StartTimer(uint32_t id, uint32_t ms) {
  StopTimer(id);
  m_timers[id] = m_clock.Schedule(ms, [this, id, ms] { Expire(id, ms); });
}

void VirtualHost::Expire(uint32_t id, uint32_t ms) {
  // Host timers repeat until stopped, like window timers.
  m_timers[id] = m_clock.Schedule(ms, [this, id, ms] { Expire(id, ms); });
  if (m_controller != nullptr) m_controller->HandleTimer(id);
}

void VirtualHost::StopTimer(uint32_t id) {
  const auto timer = m_timers.find(id);
  if (timer == m_timers.end()) return;
  m_clock.Cancel(timer->second);
  m_timers.erase(timer);
}

void VirtualHost::OpenProgress(uint32_t range) {
  ++m_openDisplays;
  m_range = range;
  m_position = 0;
  Record("progress open " + std::to_string(range));
}

void VirtualHost::SetProgress(uint32_t position) {
  if (m_openDisplays == 0) return;
  m_position = position;
  Record("progress " + std::to_string(position));
}

void VirtualHost::CloseProgress() {
  if (m_openDisplays > 0) --m_openDisplays;
  Record("progress close");
}

void VirtualHost::PostComMessage(uint32_t, uint32_t wParam, intptr_t) {
  // Posted, not sent: handled when the clock next runs what is due.
  m_clock.Schedule(0, [this, wParam] {
    if (m_controller != nullptr) m_controller->HandleLineEvent(wParam & 0xFFFF);
  });
}

}  // namespace vexel::sim
