// Linux's reasons for a port that cannot be opened: the device's group for
// permission denied, the holder of its lock (or the processes that have it
// open) for a busy port; and the services that take serial ports away.
#include "runner/open_diagnosis_posix.h"
#include "runner/open_diagnosis.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "port_list/port_list.h"
#include "runner/adapter_latency.h"
#include "serial/serial_port.h"

namespace vexel::cli {
namespace {

namespace fs = std::filesystem;

std::string GroupName(gid_t gid) {
  const struct group* entry = ::getgrgid(gid);
  return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

std::string UserName(uid_t uid) {
  const struct passwd* entry = ::getpwuid(uid);
  return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

// Joining the device's group helps only when the group may read and write
// it and is not root's own.
std::string AccessAdvice(const std::string& device) {
  struct stat info {};
  std::string text = DescribeOsError(EACCES);
  if (::stat(device.c_str(), &info) != 0) return text;
  const std::string group = GroupName(info.st_gid);
  const bool groupMayUse = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (groupMayUse && info.st_gid != 0) {
    return text + "; " + device + " belongs to group " + group +
           "; add yourself with: " + "sudo usermod -aG " + group + " $USER, then log in again";
  }
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
  return text + "; " + device + " is mode " + mode + ", owner " + UserName(info.st_uid) +
         ", group " + group + ": ask the administrator for access (e.g. a udev rule)";
}

std::string HolderList(const std::vector<PortHolder>& holders) {
  std::string list;
  for (const auto& holder : holders) {
    if (!list.empty()) list += ", ";
    list += holder.name + " (pid " + std::to_string(holder.pid) + ")";
  }
  return list;
}

// The lock's owner names the holder exactly; a program that only set
// TIOCEXCL is found among those with the device open.
std::string BusyAdvice(const std::string& device, const std::string& procRoot) {
  auto holders = FindLockHolders(device, procRoot);
  for (const auto& holder : holders) {
    if (holder.pid == ::getpid()) return "the port is busy: it is given more than once";
  }
  if (holders.empty()) holders = FindPortHolders(device, procRoot, ::getpid());
  std::string text = "the port is busy: another program holds it";
  if (!holders.empty()) text += ": " + HolderList(holders);
  return text;
}

std::string CommandName(const fs::path& processDir) {
  std::string name;
  std::getline(std::ifstream(processDir / "comm"), name);
  return name;
}

// One line of /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 00:19:3 0 EOF";
// waiters carry a "->" after the number and hold nothing.
bool ParseLockLine(const std::string& line, pid_t& pid, unsigned& devMajor, unsigned& devMinor,
                   unsigned long long& inode) {
  std::istringstream in(line);
  std::string number, kind, mode, access, id;
  if (!(in >> number >> kind >> mode >> access >> pid >> id) || kind == "->") return false;
  return std::sscanf(id.c_str(), "%x:%x:%llu", &devMajor, &devMinor, &inode) == 3;
}

bool HasOpen(const fs::path& fdDir, const fs::path& device) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(fdDir, error)) {
    std::error_code linkError;
    if (fs::read_symlink(entry.path(), linkError) == device) return true;
  }
  return false;
}

bool IsPid(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// The first process named @p name (its comm) under @p procRoot, pid 0 if none.
pid_t FindProcess(const fs::path& procRoot, const std::string& name) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(procRoot, error)) {
    const std::string pid = entry.path().filename().string();
    if (IsPid(pid) && CommandName(entry.path()) == name) return static_cast<pid_t>(std::stol(pid));
  }
  return 0;
}

std::string FirstLine(const fs::path& file) {
  std::string line;
  std::getline(std::ifstream(file), line);
  return line;
}

// The udev database keeps a device's properties as "E:KEY=VALUE" lines in
// a file named after its device number ("c188:0" for a character device).
bool MarkedForModemManagerToIgnore(const fs::path& root, const std::string& tty) {
  const std::string number = FirstLine(root / "sys/class/tty" / tty / "dev");
  std::ifstream database(root / "run/udev/data" / ("c" + number));
  for (std::string line; std::getline(database, line);) {
    if (line == "E:ID_MM_DEVICE_IGNORE=1") return true;
  }
  return false;
}

std::string ModemManagerTrap(const fs::path& root, const std::string& device) {
  const pid_t pid = FindProcess(root / "proc", "ModemManager");
  if (pid == 0) return {};
  const std::string tty = TtyNameOf(device, root.string());
  for (const auto& port : FindSerialPorts(root.string())) {
    if (port.device != "/dev/" + tty) continue;
    const size_t colon = port.usbId.find(':');
    if (colon == std::string::npos || MarkedForModemManagerToIgnore(root, tty)) return {};
    return "ModemManager (pid " + std::to_string(pid) +
           ") probes new serial ports with AT commands and holds them meanwhile; keep it "
           "away from this one with the udev rule line ATTRS{idVendor}==\"" +
           port.usbId.substr(0, colon) + "\", ATTRS{idProduct}==\"" + port.usbId.substr(colon + 1) +
           "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\" in /etc/udev/rules.d/99-vexel.rules, then: sudo "
           "udevadm control --reload-rules && sudo udevadm trigger (or stop it: sudo systemctl "
           "stop ModemManager)";
  }
  return {};
}

// brltty's udev rules claim the CH340/CH341's USB identity (1a86:7523) for a
// Braille display: the tty appears and is gone a moment later, whether or
// not a display is there, so any such adapter plugged in is named.
std::string BrailleTrap(const fs::path& root) {
  const pid_t pid = FindProcess(root / "proc", "brltty");
  if (pid == 0) return {};
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(root / "sys/bus/usb/devices", error)) {
    if (FirstLine(entry.path() / "idVendor") != "1a86") continue;
    return "brltty (pid " + std::to_string(pid) +
           ") claims CH340/CH341 adapters (USB 1a86:" + FirstLine(entry.path() / "idProduct") +
           ") as Braille displays, so their port vanishes; without a Braille display: sudo "
           "systemctl mask brltty-udev.service && sudo systemctl stop brltty-udev.service "
           "brltty.service (or: sudo apt remove brltty), then plug the adapter in again";
  }
  return {};
}

}  // namespace

std::string DescribeAccess(const std::string& device) {
  if (::access(device.c_str(), R_OK | W_OK) == 0 || errno != EACCES) return {};
  return AccessAdvice(device);
}

std::vector<std::string> FindPortTraps(const std::string& device, const std::string& root) {
  std::vector<std::string> traps;
  for (std::string trap : {ModemManagerTrap(root, device), BrailleTrap(root)}) {
    if (!trap.empty()) traps.push_back(std::move(trap));
  }
  return traps;
}

std::vector<PortHolder> FindLockHolders(const std::string& device, const std::string& procRoot) {
  struct stat info {};
  std::vector<PortHolder> holders;
  if (::stat(device.c_str(), &info) != 0) return holders;
  std::ifstream locks(fs::path(procRoot) / "locks");
  for (std::string line; std::getline(locks, line);) {
    pid_t pid = 0;
    unsigned devMajor = 0, devMinor = 0;
    unsigned long long inode = 0;
    if (!ParseLockLine(line, pid, devMajor, devMinor, inode) || pid <= 0) continue;
    if (devMajor != major(info.st_dev) || devMinor != minor(info.st_dev) || inode != info.st_ino)
      continue;
    holders.push_back({pid, CommandName(fs::path(procRoot) / std::to_string(pid))});
  }
  return holders;
}

std::vector<PortHolder> FindPortHolders(const std::string& device, const std::string& procRoot,
                                        pid_t self) {
  std::error_code error;
  const fs::path target = fs::weakly_canonical(device, error);
  std::vector<PortHolder> holders;
  for (const auto& entry : fs::directory_iterator(procRoot, error)) {
    const std::string name = entry.path().filename().string();
    if (!IsPid(name) || std::stol(name) == self || !HasOpen(entry.path() / "fd", target)) continue;
    holders.push_back({static_cast<pid_t>(std::stol(name)), CommandName(entry.path())});
  }
  return holders;
}

std::string DescribeOpenFailure(const std::string& device, int osError,
                                const std::string& procRoot) {
  switch (osError) {
    case 0: return {};
    case EACCES:
    case EPERM: return AccessAdvice(device);
    case EBUSY:
    case EWOULDBLOCK: return BusyAdvice(device, procRoot);
    case ENOENT: return DescribeOsError(ENOENT) + "; --list-ports shows the serial ports";
    default: return DescribeOsError(osError);
  }
}

}  // namespace vexel::cli
