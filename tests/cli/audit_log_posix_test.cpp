// The audit file on Linux: a full disk (/dev/full), a line cut short by the
// file size limit, and the mode of a new file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "audit/audit_log.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace vexel::cli::test {

using vexel::test::TempDir;

std::string MissingDirectoryText() { return "No such file or directory"; }
int DiskFullError() { return ENOSPC; }

namespace {

TEST(AuditLog, FullDiskStopsTheLogAndHandsBackEveryLine) {
  int error = 0;
  auto sink = OpenAuditFile("/dev/full", error);
  ASSERT_NE(sink, nullptr) << error;
  std::mutex mutex;
  std::vector<std::string> errors;
  AuditLog log(std::move(sink), "/dev/full", [&](const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    errors.push_back(text);
  });
  log.Append({{"event", "start"}});
  log.Append({{"event", "end"}});
  EXPECT_EQ(log.Finish(),
            (std::vector<std::string>{"{\"event\":\"start\"}\n", "{\"event\":\"end\"}\n"}));
  EXPECT_TRUE(log.Failed());
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(errors, std::vector<std::string>{"audit log /dev/full: No space left on device"});
}

// The file size limit stops a write part way through a line, as a disk that
// fills up does; the sink must cut the part that was written off again. A
// child takes the limit, so the test process keeps its own.
TEST(AuditFile, LineCutShortIsRemovedAgain) {
  TempDir dir;
  const std::string earlier = "{\"n\":1}\n";
  const auto path = dir.Write("station.jsonl", earlier);
  const std::string line = "{\"n\":2,\"text\":\"" + std::string(100, 'x') + "\"}\n";
  const int status = vexel::test::RunInChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{earlier.size() + 10, earlier.size() + 10};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
    int error = 0;
    auto sink = OpenAuditFile(path.string(), error);
    if (!sink) return 101;
    return sink->Append(line) == EFBIG ? 0 : 102;
  });
  EXPECT_EQ(status, 0);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), earlier);
}

TEST(AuditFile, NewFileIsReadableByAll) {
  TempDir dir;
  const auto path = dir.Path() / "new.jsonl";
  const mode_t mask = ::umask(0);
  int error = 0;
  auto sink = OpenAuditFile(path.string(), error);
  ::umask(mask);
  ASSERT_NE(sink, nullptr);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

}  // namespace
}  // namespace vexel::cli::test
