// SerialEvent on Windows: a manual-reset event object. NativeHandle() is the
// HANDLE, which is also the hEvent of the OVERLAPPED records that use it.
#include <windows.h>

#include "comm_api.h"
#include "winsupport/unique_handle.h"

namespace vexel {

struct SerialEvent::Impl {
  UniqueHandle event;
};

SerialEvent::SerialEvent() : m_impl(new Impl) {
  m_impl->event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (m_impl->event.get() == nullptr)
    m_createResult = comm::RecordOsError(static_cast<int>(::GetLastError()));
}

SerialEvent::~SerialEvent() { delete m_impl; }

bool SerialEvent::IsValid() const { return m_impl->event.get() != nullptr; }

void SerialEvent::Set() { ::SetEvent(m_impl->event.get()); }

void SerialEvent::Reset() { ::ResetEvent(m_impl->event.get()); }

bool SerialEvent::Wait(uint32_t timeoutMs) {
  return ::WaitForSingleObject(m_impl->event.get(), timeoutMs) == WAIT_OBJECT_0;
}

// WaitForMultipleObjects reports the lowest signalled index, so an earlier
// entry of the list wins a tie.
int SerialEvent::WaitAny(SerialEvent* const* events, int count, uint32_t timeoutMs) {
  constexpr int kMaxEvents = 8;
  if (count <= 0 || count > kMaxEvents) return -2;
  HANDLE handles[kMaxEvents] = {};
  for (int i = 0; i < count; ++i) handles[i] = events[i]->m_impl->event.get();
  const DWORD outcome = ::WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE,
                                                 timeoutMs);
  if (outcome < WAIT_OBJECT_0 + static_cast<DWORD>(count))
    return static_cast<int>(outcome - WAIT_OBJECT_0);
  return outcome == WAIT_TIMEOUT ? -1 : -2;
}

intptr_t SerialEvent::NativeHandle() const {
  return reinterpret_cast<intptr_t>(m_impl->event.get());
}

}  // namespace vexel
