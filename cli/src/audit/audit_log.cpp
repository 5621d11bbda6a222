#include "audit/audit_log.h"

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ratio>
#include <utility>

#include "output/display_text.h"
#include "serial/serial_port.h"

namespace vexel::cli {
namespace {

struct CivilDate {
  int64_t year;
  unsigned month;
  unsigned day;
};

// The proleptic Gregorian date of a day counted from 1970-01-01, by whole
// 400-year eras (146097 days each) starting on 0000-03-01, so leap days fall
// at the end of an era's year and need no special case.
CivilDate DateOfDay(int64_t day) {
  day += 719468;  // 0000-03-01 to 1970-01-01
  const int64_t era = (day >= 0 ? day : day - 146096) / 146097;
  const auto ofEra = static_cast<unsigned>(day - era * 146097);
  const unsigned yearOfEra = (ofEra - ofEra / 1460 + ofEra / 36524 - ofEra / 146096) / 365;
  const unsigned ofYear = ofEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned fromMarch = (5 * ofYear + 2) / 153;
  const unsigned dayOfMonth = ofYear - (153 * fromMarch + 2) / 5 + 1;
  const unsigned month = fromMarch < 10 ? fromMarch + 3 : fromMarch - 9;
  return {static_cast<int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, dayOfMonth};
}

}  // namespace

std::string AuditLogError(const std::string& path, int osError) {
  return "audit log " + path + ": " + DescribeOsError(osError);
}

AuditLog::AuditLog(std::unique_ptr<AuditSink> sink, std::string path,
                   std::function<void(const std::string& error)> onFailure)
    : m_sink(std::move(sink)),
      m_path(std::move(path)),
      m_onFailure(std::move(onFailure)),
      m_writer([this] { WriteLines(); }) {}

AuditLog::~AuditLog() {
  Finish();
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_queued.notify_one();
  m_writer.join();
}

void AuditLog::Append(const nlohmann::json& record) {
  std::string line = JsonLine(record) + '\n';
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    // After a failure nothing more is written: the line waits for Finish,
    // behind the ones that failed before it.
    if (m_failed.load()) {
      m_unwritten.push_back(std::move(line));
      return;
    }
    m_queue.push_back(std::move(line));
  }
  m_queued.notify_one();
}

std::vector<std::string> AuditLog::Finish() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_idle.wait(lock, [this] { return m_queue.empty() && !m_writing; });
  return std::exchange(m_unwritten, {});
}

void AuditLog::WriteLines() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_queued.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
    if (m_queue.empty()) return;
    std::string line = std::move(m_queue.front());
    m_queue.pop_front();
    m_writing = true;
    lock.unlock();
    const int error = m_sink->Append(line);
    lock.lock();
    if (error != 0) {
      m_failed.store(true);
      m_unwritten.push_back(std::move(line));
      for (auto& later : m_queue) m_unwritten.push_back(std::move(later));
      m_queue.clear();
      // Reported without the lock, so the handler may append; Finish still
      // waits for it, as m_writing stays set until it returns.
      lock.unlock();
      if (m_onFailure) m_onFailure(AuditLogError(m_path, error));
      lock.lock();
    }
    m_writing = false;
    if (m_queue.empty()) m_idle.notify_all();
  }
}

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
  using std::chrono::floor;
  using Days = std::chrono::duration<int64_t, std::ratio<86400>>;
  // floor, not duration_cast: before 1970 a time still falls on its own day.
  const auto ms = floor<std::chrono::milliseconds>(when.time_since_epoch());
  const auto day = floor<Days>(ms);
  const int64_t ofDay = (ms - day).count();
  const CivilDate date = DateOfDay(day.count());
  char text[96];  // room for any year, so the format cannot be cut short
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<long long>(date.year), date.month, date.day,
                static_cast<int>(ofDay / 3600000), static_cast<int>(ofDay / 60000 % 60),
                static_cast<int>(ofDay / 1000 % 60), static_cast<int>(ofDay % 1000));
  return text;
}

}  // namespace vexel::cli
