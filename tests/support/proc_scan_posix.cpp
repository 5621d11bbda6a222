#include "support/proc_scan.h"

#include <dirent.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

namespace vexel::test {
namespace {

// @p listsItself: the directory's own descriptor shows up in /proc/self/fd.
int CountEntries(const char* directory, bool listsItself) {
  DIR* dir = ::opendir(directory);
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return listsItself ? count - 1 : count;
}

}  // namespace

int ThreadCount() {
  // A sanitizer runtime starts its helper thread with the first thread the
  // process creates; have that happen before anything is counted.
  static const bool warmedUp = [] {
    std::thread([] {}).join();
    return true;
  }();
  (void)warmedUp;
  return CountEntries("/proc/self/task", false);
}

int OpenFdCount() { return CountEntries("/proc/self/fd", true); }

bool ProcessHasOpen(pid_t pid, const std::string& path) {
  std::error_code error;
  const auto target = std::filesystem::canonical(path, error);
  if (error) return false;
  for (const auto& fd :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(fd.path(), linkError) == target) return true;
  }
  return false;
}

bool HoldsOpen(const std::string& path) { return ProcessHasOpen(::getpid(), path); }

}  // namespace vexel::test
