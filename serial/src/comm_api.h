// The platform's communications calls the port classes are written against,
// one function per call of the Win32 interface they stand for. A platform
// file (comm_posix.cpp, comm_win32.cpp) provides them. Every function
// returns kResultOk, kErrorIoPending for an operation that goes on, or the
// platform's code; after a failure LastOsError() holds the OS error.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <system_error>

#include "device_settings.h"
#include "serial/serial_port.h"

namespace vexel::comm {

// CreateFileW: opens path for reading and writing, exclusively.
int32_t OpenPort(const std::string& path, PortHandle*& port);
// CloseHandle: closes the line; operations still pending on it are abandoned.
void ClosePort(PortHandle* port);
// SetupComm.
int32_t SetupQueues(PortHandle* port, uint32_t rxQueue, uint32_t txQueue);

// GetCommState / SetCommState.
int32_t GetState(PortHandle* port, DeviceSettings& settings);
int32_t SetState(PortHandle* port, const DeviceSettings& settings);
// GetCommMask / SetCommMask. Changing the mask completes a pending event
// wait with event type 0.
int32_t GetMask(PortHandle* port, uint32_t& mask);
int32_t SetMask(PortHandle* port, uint32_t mask);
// GetCommTimeouts / SetCommTimeouts.
int32_t GetTimeouts(PortHandle* port, CommTimeouts& timeouts);
int32_t SetTimeouts(PortHandle* port, const CommTimeouts& timeouts);

// WaitCommEvent: on completion the event type goes to eventType.
int32_t StartWait(PortHandle* port, std::atomic<uint32_t>* eventType, SerialOverlapped& record);
// ReadFile / WriteFile: completed at once, count holds the bytes moved.
int32_t StartRead(PortHandle* port, void* buffer, uint32_t length, uint32_t* count,
                  SerialOverlapped& record);
int32_t StartWrite(PortHandle* port, const void* data, uint32_t length, uint32_t* count,
                   SerialOverlapped& record);
// WaitForSingleObject on the record's event while its operation is pending:
// kResultOk once it has completed, kErrorTimeout, or the platform's code.
int32_t WaitIo(PortHandle* port, SerialOverlapped& record, uint32_t timeoutMs);
// GetOverlappedResult.
int32_t GetResult(PortHandle* port, SerialOverlapped& record, uint32_t* count, bool wait);
// CancelIo for one record: once it returns, nothing more is written to the
// record, its buffer or a count.
void CancelIo(PortHandle* port, SerialOverlapped& record);
// Completes a pending event wait whose event is signalled, so that its type
// can be taken (the platform completes a wait on its own time).
void CollectEventWait(PortHandle* port);
// ClearCommError: the kLineError flags since the last call.
int32_t ClearErrors(PortHandle* port, uint32_t& errors);

// The OS error of this thread's latest failed call.
int LastOsError();
// Keeps osError as this thread's latest and returns its result code.
int32_t RecordOsError(int osError);
// The nearest result code for OS error osError.
int32_t MapOsError(int osError);

}  // namespace vexel::comm
