// The audit log of a station: JSON Lines appended to a file, one record per
// line, each line on the disk before the next is written. A production line
// relies on it to trace every module, so a record is never lost: not on a
// slow disk (a thread of its own writes), not on a full one (the records not
// written are handed back to be shown), not on Ctrl-C (each line is synced).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <thread>
#include <vector>

namespace vexel::cli {

/// Where the records go. Append writes one whole line and pushes it to the
/// disk before it returns (POSIX: write loop + fdatasync; Windows: WriteFile +
/// FlushFileBuffers). On failure it returns the OS error and leaves the file
/// as it was before the call (a partly written line is cut off again), so the
/// file always holds whole lines only.
class AuditSink {
 public:
  virtual ~AuditSink() = default;
  /// @p line ends with '\n'; returns 0, or the OS error (errno or GetLastError).
  virtual int Append(const std::string& line) = 0;
};

/// Opens @p path for appending, creating it (0644 on POSIX); null and
/// @p osError set on failure. When the file's last line was cut short by a
/// crash, the first record starts a line of its own.
std::unique_ptr<AuditSink> OpenAuditFile(const std::string& path, int& osError);

/// Empty, or why @p path must not be the audit log: it exists and is not a
/// regular file (a port, a terminal, a pipe, a directory), or it is the
/// image file @p imagePath itself. Asked before the log is opened, so that
/// nothing is opened, let alone written, on the wrong file.
std::string AuditLogRefusal(const std::string& path, const std::string& imagePath);

/// "audit log PATH: TEXT", TEXT the system's wording of @p osError: how a
/// failure to open or to write the log is reported.
std::string AuditLogError(const std::string& path, int osError);

/// Records are written by a thread of their own, so a slow disk never holds
/// up the event loop (and so the modules being programmed); Append only
/// queues (no limit: records are small and must not be lost).
class AuditLog {
 public:
  /// @p onFailure is called once, on the writer thread, with e.g.
  /// "audit log /tmp/x.jsonl: No space left on device" when a record cannot
  /// be written; from then on nothing more is written. It must not call
  /// Finish (Finish waits for it to return).
  AuditLog(std::unique_ptr<AuditSink> sink, std::string path,
           std::function<void(const std::string& error)> onFailure);
  /// As Finish, then stops the writer thread.
  ~AuditLog();
  AuditLog(const AuditLog&) = delete;
  AuditLog& operator=(const AuditLog&) = delete;

  /// Queues @p record as one line; any thread; never blocks on the disk.
  void Append(const nlohmann::json& record);
  /// Waits until every record appended so far is written or has failed;
  /// returns the lines not written yet returned, in order (after a failure:
  /// the failed one and every later one), so the caller can show them.
  std::vector<std::string> Finish();
  bool Failed() const { return m_failed.load(); }

 private:
  void WriteLines();

  std::unique_ptr<AuditSink> m_sink;
  std::string m_path;
  std::function<void(const std::string&)> m_onFailure;
  std::atomic<bool> m_failed{false};

  std::mutex m_mutex;
  std::condition_variable m_queued;  // a line to write, or the end
  std::condition_variable m_idle;    // the queue is empty and nothing is being written
  std::deque<std::string> m_queue;
  std::vector<std::string> m_unwritten;
  bool m_writing = false;
  bool m_stopping = false;
  std::thread m_writer;  // last: started once everything it uses is ready
};

/// "2026-12-08T17:30:12.345Z": @p when in UTC, milliseconds rounded down.
std::string UtcTimestamp(std::chrono::system_clock::time_point when);

/// This machine's host name as UTF-8 (gethostname; the DNS host name on
/// Windows).
std::string HostName();

/// This process's id (getpid; GetCurrentProcessId on Windows): with the
/// start time and the host it tells apart sessions started at one moment.
uint64_t ProcessId();

}  // namespace vexel::cli
