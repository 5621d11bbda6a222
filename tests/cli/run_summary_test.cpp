#include "output/run_summary.h"

#include <gtest/gtest.h>

namespace vexel::cli {
namespace {

// A 100-byte image: INIT, SEND 64, SENDLAST 36, FLASH, each acknowledged.
void FeedRun(LineTally& tally) {
  tally.OnSent(FrameName::Connect, 4, 0.0);  // before INIT: not counted
  tally.OnReceived(FrameName::ConnectReply, 5, 0.1);
  tally.OnSent(FrameName::Init, 6, 1.0);
  tally.OnReceived(FrameName::Ack, 5, 1.1);
  tally.OnSent(FrameName::Send, 68, 1.2);
  tally.OnReceived(FrameName::Ack, 5, 1.3);
  tally.OnSent(FrameName::SendLast, 40, 1.4);
  tally.OnReceived(FrameName::Ack, 5, 1.5);
  tally.OnSent(FrameName::Flash, 13, 1.6);
  tally.OnReceived(FrameName::Ack, 5, 1.75);
}

TEST(LineTally, CountsRequestsAndRepliesFromInitToTheFlashAck) {
  LineTally tally;
  EXPECT_FALSE(tally.Started());
  EXPECT_EQ(tally.Seconds(5.0), 0.0);
  FeedRun(tally);
  EXPECT_TRUE(tally.Complete());
  EXPECT_EQ(tally.LineBytes(), 6u + 5 + 68 + 5 + 40 + 5 + 13 + 5);
  EXPECT_DOUBLE_EQ(tally.Seconds(99.0), 0.75);
  tally.OnReceived(FrameName::Ack, 5, 2.0);  // after the FLASH ACK: not counted
  EXPECT_EQ(tally.LineBytes(), 147u);
}

TEST(LineTally, UnfinishedRunCountsUpToNow) {
  LineTally tally;
  tally.OnSent(FrameName::Init, 6, 1.0);
  tally.OnReceived(FrameName::Ack, 5, 1.1);
  tally.OnSent(FrameName::Send, 68, 1.2);
  EXPECT_TRUE(tally.Started());
  EXPECT_FALSE(tally.Complete());
  EXPECT_EQ(tally.LineBytes(), 79u);
  EXPECT_DOUBLE_EQ(tally.Seconds(6.0), 5.0);
}

TEST(RunSummary, CeilingIsTwelveBitsPerByteAt57600) {
  PortSummary row;
  row.loaded = true;
  row.bytes = 4000;
  row.lineBytes = 4800;  // one second of line time at 4800 bytes/s
  row.seconds = 2.0;
  EXPECT_DOUBLE_EQ(BytesPerSecond(row), 2000.0);
  EXPECT_DOUBLE_EQ(CeilingShare(row), 0.5);
  row.seconds = 0;
  EXPECT_EQ(BytesPerSecond(row), 0.0);
  EXPECT_EQ(CeilingShare(row), 0.0);
}

TEST(RunSummary, TableShowsRatesOnlyForLoadedPorts) {
  PortSummary loaded{"/dev/pts/3", "MODULE LOADED", 0, true, true, 12345, 2.93, 13334};
  PortSummary failed{"/dev/pts/14", "Module not responding", 6, false, true, 640, 5.1, 800};
  PortSummary closed{"COM2", "Cannot open open COM2", 4, false, false, 0, 0, 0};
  EXPECT_EQ(FormatSummary({loaded, failed, closed}, 6),
            "PORT         RESULT                 BYTES  SECONDS  BYTES/S  OF CEILING\n"
            "/dev/pts/3   MODULE LOADED          12345     2.93     4213       94.8%\n"
            "/dev/pts/14  Module not responding    640     5.10        -           -\n"
            "COM2         Cannot open open COM2      0        -        -           -\n"
            "1 of 3 modules loaded; exit status 6\n");
}

// An exchange faster than the line rate allows (a pseudo-terminal) has no
// meaningful share: the cell says so and a note under the table says why.
TEST(RunSummary, ShareAboveTheCeilingShowsAsUnpaced) {
  PortSummary paced{"COM3", "MODULE LOADED", 0, true, true, 3000, 1.0, 4800};       // 100.0%
  PortSummary pty{"/dev/pts/4", "MODULE LOADED", 0, true, true, 3000, 0.06, 3618};  // 1256.3%
  EXPECT_EQ(FormatSummary({paced, pty}, 0),
            "PORT        RESULT         BYTES  SECONDS  BYTES/S  OF CEILING\n"
            "COM3        MODULE LOADED   3000     1.00     3000      100.0%\n"
            "/dev/pts/4  MODULE LOADED   3000     0.06    50000     unpaced\n"
            "unpaced: faster than 57600 baud 8E2 allows: the line is not paced like a UART\n"
            "2 of 2 modules loaded; exit status 0\n");
}

// A port name or failure text with a newline must not add a row of its own.
TEST(RunSummary, ControlCharactersInCellsAreEscaped) {
  PortSummary forged{"/x/a\n1 of 1", "MODULE LOADED", 0, true, true, 10, 1.0, 100};
  PortSummary failed{"COM\x1b[2J", "Cannot open open COM\x1b[2J\t\x9b", 4, false, false, 0, 0, 0};
  EXPECT_EQ(FormatSummary({forged, failed}, 4),
            "PORT            RESULT                               BYTES  SECONDS  BYTES/S  "
            "OF CEILING\n"
            "/x/a\\x0A1 of 1  MODULE LOADED                           10     1.00       10"
            "        2.1%\n"
            "COM\\x1B[2J      Cannot open open COM\\x1B[2J\\x09\\x9B      0        -        -"
            "           -\n"
            "1 of 2 modules loaded; exit status 4\n");
}

}  // namespace
}  // namespace vexel::cli
