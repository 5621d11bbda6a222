// The OS error of each thread's latest failed platform call; the platform
// files map it to a result code (MapOsError) and word it.
#include "comm_api.h"

namespace vexel::comm {
namespace {

thread_local int t_lastOsError = 0;

}  // namespace

int LastOsError() { return t_lastOsError; }

int32_t RecordOsError(int osError) {
  t_lastOsError = osError;
  return MapOsError(osError);
}

}  // namespace vexel::comm
