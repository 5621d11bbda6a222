// The Win32 calls through which a device that goes away shows first, as the
// table the Windows port makes them through. Tests put their own functions in
// it to give the codes of drivers Wine lacks (an unplugged USB adapter's 22,
// 31 or 1167).
#pragma once

#include <windows.h>

namespace vexel::comm {

struct CommCalls {
  BOOL(WINAPI* waitCommEvent)(HANDLE, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* readFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  // Collects a completed operation (a cancelled one is waited for directly).
  BOOL(WINAPI* getOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
  BOOL(WINAPI* clearCommError)(HANDLE, LPDWORD, LPCOMSTAT);
};

// The Win32 calls themselves.
CommCalls SystemCommCalls();
// The table in use: SystemCommCalls() unless a test changed it, which it does
// only while no port is open.
CommCalls& Calls();

}  // namespace vexel::comm
