// The platform layer's way into a completion record's private storage: each
// platform keeps its own status there (an OVERLAPPED on Windows), built when
// the record is constructed.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>

#include "serial/serial_port.h"

namespace vexel::comm {

class RecordAccess {
 public:
  template <typename Status>
  static constexpr bool Fits() {
    return sizeof(Status) <= SerialOverlapped::kPlatformSize &&
           alignof(Status) <= alignof(std::max_align_t) && std::is_trivially_destructible_v<Status>;
  }
  template <typename Status>
  static void Construct(SerialOverlapped& record) {
    static_assert(Fits<Status>(), "the platform status must fit the record's storage");
    new (record.m_platform) Status();
  }
  template <typename Status>
  static Status& As(SerialOverlapped& record) {
    return *std::launder(reinterpret_cast<Status*>(record.m_platform));
  }
};

}  // namespace vexel::comm
