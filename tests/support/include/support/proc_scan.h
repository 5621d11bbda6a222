// What /proc says about a process: its threads and its open files.
#pragma once

#include <sys/types.h>

#include <string>

namespace vexel::test {

/// Threads of this process (a sanitizer's helper thread is started first,
/// so that it is counted from the start).
int ThreadCount();
/// Open descriptors of this process.
int OpenFdCount();
/// Whether process @p pid holds a descriptor on the file at @p path (both
/// sides compared with symbolic links resolved).
bool ProcessHasOpen(pid_t pid, const std::string& path);
/// The same for this process.
bool HoldsOpen(const std::string& path);

}  // namespace vexel::test
