#include "com_pair_win32.h"

#include <windows.h>

namespace vexel::test {

bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool EventWaitsPend() { return !UnderWine() || std::getenv("VEXEL_WINE_MODEM_LINES") != nullptr; }

namespace {

// Drops what an earlier test left queued on @p port.
bool Drop(CSerialPort& port) {
  char scratch[256];
  uint32_t count = 0;
  do {
    if (port.Read(scratch, sizeof scratch, &count, nullptr, 0) != kResultOk) return false;
  } while (count > 0);
  return true;
}

}  // namespace

bool FarEnd::Open() {
  CSerialPort nearEnd;
  if (nearEnd.Open(NearPort().c_str(), kQueue, kQueue) != kResultOk || !Drop(nearEnd)) return false;
  nearEnd.Close();
  if (m_port.Open(FarPort().c_str(), kQueue, kQueue) != kResultOk || !Drop(m_port)) return false;
  return m_port.SetReadMode(ReadBlocking) == kResultOk;
}

bool FarEnd::Send(const std::string& bytes) {
  uint32_t count = 0;
  return m_port.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &count, nullptr,
                      kDeadlineMs) == kResultOk &&
         count == bytes.size();
}

// CSerialPort has no break operation (the loader never sends one), so the
// far port is opened by hand for it.
bool FarEnd::SendBreak() {
  m_port.Close();
  const std::string path = "\\\\.\\" + FarPort();
  HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return false;
  const bool sent = ::SetCommBreak(port) && ::ClearCommBreak(port);
  ::CloseHandle(port);
  return m_port.Open(FarPort().c_str(), kQueue, kQueue) == kResultOk &&
         m_port.SetReadMode(ReadBlocking) == kResultOk && sent;
}

std::string FarEnd::Receive(uint32_t count, uint32_t deadlineMs) {
  std::string bytes(count, '\0');
  uint32_t done = 0;
  const int32_t result = m_port.Read(bytes.data(), count, &done, nullptr, deadlineMs);
  bytes.resize(result == kResultOk ? done : 0);
  return bytes;
}

}  // namespace vexel::test
