// What the Linux port layer does with a SerialEvent beyond Set and Reset:
// register the line in the event's epoll set, and take the line's
// readiness edges out of it.
#pragma once

#include <cstdint>

#include "serial/serial_port.h"

namespace vexel::comm {

class EventAccess {
 public:
  // Registers descriptor fd of the line numbered lineSerial in the
  // event's set, edge-triggered for events (EPOLLIN or EPOLLOUT). A
  // registration that is already in place is kept as it is, so edges that
  // came since the last Consume are not lost. 0 or errno.
  static int Arm(SerialEvent& event, int fd, uint64_t lineSerial, uint32_t events);
  // Set among Consume's bits when the event had been Set.
  static constexpr uint32_t kSignalBit = 1u << 31;
  // Resets the event and takes the line's pending edges: the epoll bits seen
  // (EPOLLIN, EPOLLOUT, EPOLLHUP, EPOLLERR) plus kSignalBit, 0 when neither
  // a Set nor an edge came.
  static uint32_t Consume(SerialEvent& event);
  // Resets the event; true when it had been Set.
  static bool TakeSignal(SerialEvent& event);
  static bool IsSignalled(SerialEvent& event);
  // Waits up to timeoutMs (kInfinite: no limit): 1 when the event is
  // signalled, 0 when the time ran out, -1 with errno when the wait failed.
  static int WaitFor(SerialEvent& event, uint32_t timeoutMs);
};

}  // namespace vexel::comm
