// The audit log: the lines in the file, the writer thread against a slow and
// a failing disk, several appending threads, and the UTC time stamps. The
// AuditLog cases also run under ThreadSanitizer.
#include "audit/audit_log.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "serial/serial_port.h"
#include "support/temp_dir.h"

namespace vexel::cli::test {

using vexel::test::TempDir;

// The platform's own wording and code, from its test file.
std::string MissingDirectoryText();
int DiskFullError();

namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::system_clock;

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What the writer thread reports, read by the test thread.
class Failures {
 public:
  std::function<void(const std::string&)> Handler() {
    return [this](const std::string& error) {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_errors.push_back(error);
    };
  }
  std::vector<std::string> Errors() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errors;
  }

 private:
  std::mutex m_mutex;
  std::vector<std::string> m_errors;
};

// A disk in the test's hands: each Append waits until the test opens the
// gate, and the line at position failAt (0-based) fails with failError.
class TestSink final : public AuditSink {
 public:
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
    size_t entered = 0;  // Append calls begun
    std::vector<std::string> written;
    size_t failAt = SIZE_MAX;
    int failError = 0;

    void SetOpen(bool value) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        open = value;
      }
      changed.notify_all();
    }
    void WaitEntered(size_t count) {
      std::unique_lock<std::mutex> lock(mutex);
      ASSERT_TRUE(
          changed.wait_for(lock, std::chrono::seconds(30), [&] { return entered >= count; }));
    }
    std::vector<std::string> Written() {
      std::lock_guard<std::mutex> lock(mutex);
      return written;
    }
  };

  explicit TestSink(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}

  int Append(const std::string& line) override {
    std::unique_lock<std::mutex> lock(m_shared->mutex);
    const size_t index = m_shared->entered++;
    m_shared->changed.notify_all();
    m_shared->changed.wait(lock, [&] { return m_shared->open; });
    if (index == m_shared->failAt) return m_shared->failError;
    m_shared->written.push_back(line);
    return 0;
  }

 private:
  std::shared_ptr<Shared> m_shared;
};

std::string Line(int n) { return "{\"n\":" + std::to_string(n) + "}\n"; }

TEST(AuditFile, AppendsWholeLinesAfterWhatTheFileHeld) {
  TempDir dir;
  const auto path = dir.Write("station.jsonl", "{\"earlier\":true}\n");
  int error = -1;
  auto sink = OpenAuditFile(path.string(), error);
  ASSERT_NE(sink, nullptr);
  EXPECT_EQ(error, 0);
  Failures failures;
  {
    AuditLog log(std::move(sink), path.string(), failures.Handler());
    log.Append({{"event", "start"}, {"host", "st-1"}});
    // A name that is not UTF-8 still makes a valid line.
    log.Append({{"image", "fw\xff.mbf"}, {"size", 200}});
    EXPECT_TRUE(log.Finish().empty());
    EXPECT_FALSE(log.Failed());
  }
  EXPECT_EQ(ReadText(path),
            "{\"earlier\":true}\n"
            "{\"event\":\"start\",\"host\":\"st-1\"}\n"
            "{\"image\":\"fw\\\\xFF.mbf\",\"size\":200}\n");
  EXPECT_TRUE(failures.Errors().empty());
}

// A crash or a power cut mid-write left half a line: it keeps a line of its
// own, and the first record starts on a new one.
TEST(AuditFile, ARecordAfterAPartialLastLineStartsOnANewLine) {
  TempDir dir;
  const auto path = dir.Write("station.jsonl", "{\"record\":\"module\",\"port\":\"x\",\"mod");
  int error = -1;
  auto sink = OpenAuditFile(path.string(), error);
  ASSERT_NE(sink, nullptr) << error;
  EXPECT_EQ(sink->Append(Line(1)), 0);
  EXPECT_EQ(sink->Append(Line(2)), 0);
  sink.reset();
  EXPECT_EQ(ReadText(path), "{\"record\":\"module\",\"port\":\"x\",\"mod\n" + Line(1) + Line(2));
}

TEST(AuditFile, CreatesAMissingFile) {
  TempDir dir;
  const auto path = dir.Path() / "new.jsonl";
  int error = -1;
  auto sink = OpenAuditFile(path.string(), error);
  ASSERT_NE(sink, nullptr);
  EXPECT_EQ(sink->Append(Line(1)), 0);
  EXPECT_EQ(sink->Append(Line(2)), 0);
  sink.reset();
  EXPECT_EQ(ReadText(path), Line(1) + Line(2));
}

TEST(AuditFile, OpenFailureIsWordedByTheSystem) {
  TempDir dir;
  const std::string path = (dir.Path() / "missing" / "station.jsonl").string();
  int error = 0;
  EXPECT_EQ(OpenAuditFile(path, error), nullptr);
  EXPECT_EQ(AuditLogError(path, error), "audit log " + path + ": " + MissingDirectoryText());
}

TEST(AuditLog, SlowDiskHoldsUpNeitherAppendNorTheOrder) {
  auto disk = std::make_shared<TestSink::Shared>();
  disk->SetOpen(false);
  Failures failures;
  AuditLog log(std::make_unique<TestSink>(disk), "slow.jsonl", failures.Handler());
  log.Append({{"n", 1}});
  disk->WaitEntered(1);
  // The writer is stuck in the disk; these only queue (a blocking Append
  // would hang the test here).
  for (int n = 2; n <= 5; ++n) log.Append({{"n", n}});
  auto finished = std::async(std::launch::async, [&log] { return log.Finish(); });
  EXPECT_EQ(finished.wait_for(milliseconds(0)), std::future_status::timeout);
  disk->SetOpen(true);
  EXPECT_TRUE(finished.get().empty());
  EXPECT_EQ(disk->Written(),
            (std::vector<std::string>{Line(1), Line(2), Line(3), Line(4), Line(5)}));
  EXPECT_FALSE(log.Failed());
  EXPECT_TRUE(failures.Errors().empty());
}

TEST(AuditLog, FailureIsReportedOnceAndHandsBackTheLinesNotWritten) {
  auto disk = std::make_shared<TestSink::Shared>();
  disk->failAt = 1;
  disk->failError = DiskFullError();
  Failures failures;
  AuditLog log(std::make_unique<TestSink>(disk), "/var/log/x.jsonl", failures.Handler());
  disk->SetOpen(false);
  for (int n = 1; n <= 4; ++n) log.Append({{"n", n}});
  disk->SetOpen(true);
  const std::vector<std::string> unwritten = log.Finish();
  EXPECT_EQ(unwritten, (std::vector<std::string>{Line(2), Line(3), Line(4)}));
  EXPECT_EQ(failures.Errors(), (std::vector<std::string>{"audit log /var/log/x.jsonl: " +
                                                         DescribeOsError(DiskFullError())}));
  EXPECT_TRUE(log.Failed());
  // Nothing more reaches the disk, and later records come back in order too.
  log.Append({{"n", 5}});
  log.Append({{"n", 6}});
  EXPECT_EQ(log.Finish(), (std::vector<std::string>{Line(5), Line(6)}));
  EXPECT_EQ(disk->Written(), std::vector<std::string>{Line(1)});
  EXPECT_EQ(failures.Errors().size(), 1u);
}

TEST(AuditLog, RecordsFromTwoThreadsArriveWholeAndInTheirOrder) {
  TempDir dir;
  const auto path = dir.Path() / "station.jsonl";
  int error = 0;
  auto sink = OpenAuditFile(path.string(), error);
  ASSERT_NE(sink, nullptr);
  constexpr int kPerThread = 100;
  Failures failures;
  {
    AuditLog log(std::move(sink), path.string(), failures.Handler());
    auto appendAll = [&log](const std::string& thread) {
      for (int n = 0; n < kPerThread; ++n) {
        log.Append({{"thread", thread}, {"n", n}, {"pad", std::string(200, 'x')}});
      }
    };
    std::thread a(appendAll, "a");
    std::thread b(appendAll, "b");
    a.join();
    b.join();
  }  // the destructor waits for every line
  std::istringstream lines(ReadText(path));
  std::map<std::string, int> next{{"a", 0}, {"b", 0}};
  std::string line;
  while (std::getline(lines, line)) {
    const json record = json::parse(line);
    EXPECT_EQ(record["n"], next[record["thread"]]++) << line;
    EXPECT_EQ(record["pad"], std::string(200, 'x'));
  }
  EXPECT_EQ(next, (std::map<std::string, int>{{"a", kPerThread}, {"b", kPerThread}}));
  EXPECT_TRUE(failures.Errors().empty());
}

TEST(UtcTimestamp, WritesTheUtcDateAndTimeToTheMillisecond) {
  const struct {
    int64_t microseconds;
    const char* text;
  } kCases[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {1709164800000000, "2024-02-29T00:00:00.000Z"},  // a leap day
      {1709251199999999, "2024-02-29T23:59:59.999Z"},  // its last microsecond
      {1767225599999000, "2025-12-31T23:59:59.999Z"},  // the end of a year
      {1767225600000000, "2026-01-01T00:00:00.000Z"},
      {1796751012345999, "2026-12-08T17:30:12.345Z"},  // rounds down
      {951782400000000, "2000-02-29T00:00:00.000Z"},   // a leap year by 400
      {4107542399999000, "2100-02-28T23:59:59.999Z"},  // 2100 is no leap year
      {4107542400000000, "2100-03-01T00:00:00.000Z"},
      {-1, "1969-12-31T23:59:59.999Z"},  // down, also before 1970
  };
  for (const auto& c : kCases) {
    const system_clock::time_point when{std::chrono::duration_cast<system_clock::duration>(
        std::chrono::microseconds(c.microseconds))};
    EXPECT_EQ(UtcTimestamp(when), c.text) << c.microseconds;
  }
}

TEST(HostName, IsTheMachinesNonEmptyName) {
  const std::string name = HostName();
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(name.find('\0'), std::string::npos);
}

}  // namespace
}  // namespace vexel::cli::test
