// The registry of notification message ids.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "serial/serial_wnd.h"

namespace vexel {
namespace {

TEST(RegisterComMessage, SameNameSameIdFromTheRegisteredRange) {
  EXPECT_EQ(RegisterComMessage("CSerialWnd_DefaultComMsg"), DefaultComMessage);
  EXPECT_GE(DefaultComMessage, 0xC000u);
  EXPECT_LE(DefaultComMessage, 0xFFFFu);
  const uint32_t a = RegisterComMessage("ComMessageTest_A");
  const uint32_t b = RegisterComMessage("ComMessageTest_B");
  EXPECT_NE(a, b);
  EXPECT_NE(a, DefaultComMessage);
  EXPECT_GE(a, 0xC000u);
  EXPECT_EQ(RegisterComMessage("ComMessageTest_A"), a);
  EXPECT_EQ(RegisterComMessage(""), 0u);
  EXPECT_EQ(RegisterComMessage(nullptr), 0u);
}

TEST(RegisterComMessage, ThreadsRegisteringTheSameNamesGetTheSameIds) {
  constexpr int kThreads = 4;
  constexpr int kNames = 40;
  std::vector<std::vector<uint32_t>> ids(kThreads, std::vector<uint32_t>(kNames));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &ids] {
      for (int i = 0; i < kNames; ++i) {
        const int n = (i + t * 7) % kNames;  // each thread in its own order
        ids[t][n] = RegisterComMessage(("ComMessageTest_Race" + std::to_string(n)).c_str());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(ids[t], ids[0]);
  std::vector<uint32_t> sorted = ids[0];
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "ids are distinct";
}

}  // namespace
}  // namespace vexel
