// A linked pair of COM ports for the Windows serial tests: the port under
// test opens the near one, the test plays the far end on the other. Under
// Wine scripts/test-windows.sh maps COM1 and COM2 to the two ends of a
// linked pseudo-terminal pair.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "serial/serial_port.h"

namespace vexel::test {

constexpr uint32_t kQueue = 2048;
constexpr uint32_t kDeadlineMs = 10000;

// The port names, from VEXEL_TEST_COM_NEAR / VEXEL_TEST_COM_FAR.
inline std::string PortName(const char* variable, const char* fallback) {
  const char* name = std::getenv(variable);
  return name != nullptr && *name != '\0' ? name : fallback;
}
inline std::string NearPort() { return PortName("VEXEL_TEST_COM_NEAR", "COM1"); }
inline std::string FarPort() { return PortName("VEXEL_TEST_COM_FAR", "COM2"); }

// True when the process runs under Wine.
bool UnderWine();
// True where an event wait stays pending until bytes arrive, as on Windows:
// Wine on a pty needs the modem-line shim for that (VEXEL_WINE_MODEM_LINES).
bool EventWaitsPend();

// The far end: a plain port that writes at once and reads with a deadline.
class FarEnd {
 public:
  bool Open();
  bool Send(const std::string& bytes);
  // Holds the line in the break state for a moment; false when the port
  // refuses it.
  bool SendBreak();
  // Reads until count bytes came or the deadline passed; returns what came.
  std::string Receive(uint32_t count, uint32_t deadlineMs = kDeadlineMs);

 private:
  CSerialPort m_port;
};

// Opens the far end, or skips the test where no pair exists. Under
// VEXEL_TEST_COM_REQUIRED (set by the test script) a missing pair fails.
#define VEXEL_REQUIRE_COM_PAIR(far)                                         \
  do {                                                                      \
    if (!(far).Open()) {                                                    \
      if (std::getenv("VEXEL_TEST_COM_REQUIRED") != nullptr) {              \
        FAIL() << "no linked pair " << ::vexel::test::NearPort() << "/"     \
               << ::vexel::test::FarPort();                                 \
      }                                                                     \
      GTEST_SKIP() << "no linked pair " << ::vexel::test::NearPort() << "/" \
                   << ::vexel::test::FarPort();                             \
    }                                                                       \
  } while (false)

}  // namespace vexel::test
