// OutputChannel on a pipe whose reader the test controls: the chunks
// arrive whole and in flush order (also from two channels on one file),
// progress gives way while the writer is behind, the end waits for the
// writer, and a reader that has gone ends the output without holding
// anything up.
#include "console/output_channel.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace vexel::cli {
namespace {

// A pipe that holds 4 KiB, so that a larger chunk keeps the writer in its
// write until the test starts reading.
class SmallPipe {
 public:
  SmallPipe() {
    EXPECT_EQ(::pipe(m_fds), 0);
    EXPECT_EQ(::fcntl(m_fds[1], F_SETPIPE_SZ, kCapacity), kCapacity);
  }
  ~SmallPipe() {
    CloseWriteEnd();
    StopReading();
    CloseReadEnd();
  }
  SmallPipe(const SmallPipe&) = delete;
  SmallPipe& operator=(const SmallPipe&) = delete;

  static constexpr int kCapacity = 4096;

  int WriteEnd() const { return m_fds[1]; }

  // Reads on a thread of its own until every write end is closed.
  void StartReading() {
    m_reader = std::thread([this] {
      char buffer[4096];
      for (ssize_t n; (n = ::read(m_fds[0], buffer, sizeof buffer)) > 0;) m_read.append(buffer, n);
    });
  }
  // Reads exactly @p count bytes on this thread.
  std::string ReadExactly(size_t count) {
    std::string text(count, '\0');
    for (size_t done = 0; done < count;) {
      const ssize_t n = ::read(m_fds[0], text.data() + done, count - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    return text;
  }
  // All that was read, once the writers' ends are closed.
  std::string Read() {
    CloseWriteEnd();
    StopReading();
    return m_read;
  }
  void CloseWriteEnd() { Close(m_fds[1]); }
  void CloseReadEnd() { Close(m_fds[0]); }

 private:
  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  void StopReading() {
    if (m_reader.joinable()) m_reader.join();
  }

  int m_fds[2] = {-1, -1};
  std::thread m_reader;
  std::string m_read;
};

struct Chunk {
  std::string text;
  bool progress;
};

void Flush(OutputChannel& channel, const Chunk& chunk) {
  std::ostream out(&channel);
  if (chunk.progress) MarkProgress(out);
  out << chunk.text << std::flush;
}

// Each case starts with a chunk four times the pipe's size, which keeps the
// writer behind until everything is flushed, so that what waits is known.
TEST(OutputChannel, ProgressGivesWayWhileTheWriterIsBehindAndNothingElseIsLost) {
  const std::string blocker(4 * SmallPipe::kCapacity, 'A');
  const std::string backlog(70 * 1024, 'B');
  struct Case {
    const char* name;
    std::vector<Chunk> chunks;  // after the blocker
    std::string expected;       // after the blocker
  };
  const Case cases[] = {
      {"a waiting progress chunk is replaced by the next",
       {{"p1\n", true}, {"p2\n", true}, {"done\n", false}},
       "p2\ndone\n"},
      {"other chunks are never replaced",
       {{"r1\n", false}, {"r2\n", false}, {"p\n", true}, {"r3\n", false}},
       "r1\nr2\np\nr3\n"},
      {"progress behind a backlog is dropped",
       {{backlog, false}, {"p\n", true}, {"exit\n", false}},
       backlog + "exit\n"},
      {"a progress chunk after another kind waits behind it",
       {{"p1\n", true}, {"r\n", false}, {"p2\n", true}},
       "p1\nr\np2\n"},
  };
  for (const Case& c : cases) {
    SmallPipe pipe;
    {
      OutputChannel channel(pipe.WriteEnd());
      Flush(channel, {blocker, false});
      for (const Chunk& chunk : c.chunks) Flush(channel, chunk);
      pipe.StartReading();
      EXPECT_TRUE(channel.Finish()) << c.name;
    }
    EXPECT_EQ(pipe.Read(), blocker + c.expected) << c.name;
  }
}

// Standard output and error on one file share one writer: their chunks
// reach the file in the order they were flushed, whole.
TEST(OutputChannel, TwoChannelsOnOneFileKeepTheOrderOfTheirFlushes) {
  SmallPipe pipe;
  const int other = ::dup(pipe.WriteEnd());
  ASSERT_GE(other, 0);
  const std::string blocker(4 * SmallPipe::kCapacity, 'A');
  std::string expected = blocker;
  {
    OutputChannel out(pipe.WriteEnd());
    OutputChannel err(other, out);
    Flush(out, {blocker, false});
    for (int i = 0; i < 50; ++i) {
      const std::string line = std::to_string(i) + '\n';
      Flush(i % 2 == 0 ? out : err, {(i % 2 == 0 ? "out " : "err ") + line, false});
      expected += (i % 2 == 0 ? "out " : "err ") + line;
    }
    pipe.StartReading();
    EXPECT_TRUE(err.Finish());
    EXPECT_TRUE(out.Finish());
  }
  ::close(other);
  EXPECT_EQ(pipe.Read(), expected);
}

// Output only reaches the writer when flushed, and Finish writes what is
// left unflushed too.
TEST(OutputChannel, FinishWritesWhatWasNotFlushedAndWaitsForTheWriter) {
  SmallPipe pipe;
  std::string expected;
  {
    OutputChannel channel(pipe.WriteEnd());
    std::ostream out(&channel);
    for (int i = 0; i < 2000; ++i) {
      out << "line " << i << '\n';
      expected += "line " + std::to_string(i) + '\n';
      if (i % 7 == 0) out << std::flush;
    }
    out << "unflushed";
    expected += "unflushed";
    pipe.StartReading();
    EXPECT_TRUE(channel.Finish());
  }
  EXPECT_EQ(pipe.Read(), expected);
}

// A reader that never reads: Finish gives up at its limit, with the writer
// still in its write, and the channel must then outlive the writer (the
// loader ends its process). Reading afterwards lets that write complete.
TEST(OutputChannel, FinishGivesUpAtItsLimitWhileTheReaderDoesNotRead) {
  SmallPipe pipe;
  const std::string blocker(4 * SmallPipe::kCapacity, 'A');
  // Never destroyed, as the loader leaves it; a plain static pointer keeps it
  // reachable for the leak check at exit.
  static OutputChannel* channel = nullptr;
  channel = new OutputChannel(pipe.WriteEnd());
  Flush(*channel, {blocker, false});
  EXPECT_FALSE(channel->Finish(std::chrono::milliseconds(50)));
  EXPECT_EQ(pipe.ReadExactly(blocker.size()), blocker);
}

// The reader goes away while the writer is in a write (`| head -1`): the
// output has ended, what follows is dropped, and nothing waits for it. The
// limit is only a deadline: the end comes as soon as the write fails.
TEST(OutputChannel, AReaderThatHasGoneEndsTheOutput) {
  ::signal(SIGPIPE, SIG_IGN);  // as the loader sets it up
  SmallPipe pipe;
  OutputChannel channel(pipe.WriteEnd());
  std::ostream out(&channel);
  out << std::string(4 * SmallPipe::kCapacity, 'A') << std::flush;
  EXPECT_EQ(pipe.ReadExactly(1), "A");
  pipe.CloseReadEnd();
  for (int i = 0; i < 100; ++i) out << "line " << i << '\n' << std::flush;
  EXPECT_TRUE(channel.Finish(std::chrono::seconds(10)));
}

// A file never waits for a reader: each flush is written at once.
TEST(OutputChannel, AFileIsWrittenAtEachFlush) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  const int fd = ::fileno(file);
  OutputChannel channel(fd);
  std::ostream out(&channel);
  out << "first\n";
  EXPECT_EQ(::lseek(fd, 0, SEEK_END), 0);
  out << std::flush;
  EXPECT_EQ(::lseek(fd, 0, SEEK_END), 6);
  out << "second\n" << std::flush;
  char text[32] = {};
  EXPECT_EQ(::pread(fd, text, sizeof text, 0), 13);
  EXPECT_EQ(std::string(text), "first\nsecond\n");
  EXPECT_TRUE(channel.Finish());
  std::fclose(file);
}

}  // namespace
}  // namespace vexel::cli
