// Who holds a serial device on Linux, read from a /proc tree: the part of
// the open diagnosis that only Linux has.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vexel::cli {

struct PortHolder {
  pid_t pid = 0;
  std::string name;  ///< the process's command name (/proc/PID/comm)
};

/// The processes other than @p self that have @p device open, found through
/// @p procRoot/PID/fd. Processes whose descriptors cannot be read are skipped.
std::vector<PortHolder> FindPortHolders(const std::string& device, const std::string& procRoot,
                                        pid_t self);

/// The processes holding a lock on @p device, from @p procRoot/locks.
std::vector<PortHolder> FindLockHolders(const std::string& device, const std::string& procRoot);

}  // namespace vexel::cli
