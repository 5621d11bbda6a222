#include "com_pair_win32.h"

#include <windows.h>

namespace vexel::test {

bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool EventWaitsPend() { return !UnderWine() || std::getenv("VEXEL_WINE_MODEM_LINES") != nullptr; }

bool FarEnd::Open() {
  if (m_port.Open(FarPort().c_str(), kQueue, kQueue) != kResultOk) return false;
  // Drops what an earlier test left on the line.
  char scratch[256];
  uint32_t count = 0;
  do {
    if (m_port.Read(scratch, sizeof scratch, &count, nullptr, 0) != kResultOk) return false;
  } while (count > 0);
  return m_port.SetReadMode(ReadBlocking) == kResultOk;
}

bool FarEnd::Send(const std::string& bytes) {
  uint32_t count = 0;
  return m_port.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &count, nullptr,
                      kDeadlineMs) == kResultOk &&
         count == bytes.size();
}

std::string FarEnd::Receive(uint32_t count, uint32_t deadlineMs) {
  std::string bytes(count, '\0');
  uint32_t done = 0;
  const int32_t result = m_port.Read(bytes.data(), count, &done, nullptr, deadlineMs);
  bytes.resize(result == kResultOk ? done : 0);
  return bytes;
}

}  // namespace vexel::test
