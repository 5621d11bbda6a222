// The Linux platform's status of a completion record: what a pending
// operation works on and how it ended.
#pragma once

#include <atomic>
#include <cstdint>

#include "record_access.h"

namespace vexel {
namespace comm {

struct IoStatus {
  PortHandle* port = nullptr;  // the line while the operation is pending
  uint32_t kind = 0;           // which operation is pending; 0 when none
  void* buffer = nullptr;
  uint32_t length = 0;
  uint32_t done = 0;   // bytes moved so far
  int32_t result = 0;  // outcome once completed
  std::atomic<uint32_t>* eventType = nullptr;
};
static_assert(RecordAccess::Fits<IoStatus>(), "IoStatus must fit a completion record");

}  // namespace comm

inline comm::IoStatus& StatusOf(SerialOverlapped& record) {
  return comm::RecordAccess::As<comm::IoStatus>(record);
}

}  // namespace vexel
