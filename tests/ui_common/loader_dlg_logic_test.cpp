// The main dialog's toolkit-free behaviour: the look drawn after each call of
// the controller, what a chosen file leads to in each state of the line (with
// the controller and the simulated module on virtual time), the exact texts
// and the context menu's items.
#include "ui/loader_dlg_logic.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "loader_rig.h"
#include "sim/memory_port.h"
#include "sim/module_simulator.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_host.h"

namespace vexel {

void PrintTo(const LoaderLook& look, std::ostream* out) {
  *out << "{\"" << look.connectText << "\", program " << look.programEnabled << ", settings "
       << look.settingsEnabled << ", \"" << look.status << "\", " << std::hex << look.statusRgb
       << std::dec << "}";
}

void PrintTo(const MenuItem& item, std::ostream* out) {
  *out << "{" << item.command << ", \"" << item.text << "\"}";
}

namespace test {
namespace {

using testing::Bytes;
using testing::Pattern;

// A dialog that records what it draws and shows; timers, progress and line
// notifications go to a host of its own on virtual time.
class RecordingDlg : public CLoaderDlgLogic {
 public:
  explicit RecordingDlg(sim::VirtualClock& clock) : m_host(clock) {}
  using CLoaderDlgLogic::InitLook;
  using CLoaderDlgLogic::ProgramFile;
  /// The controller that timer expiries and notifications are handed to.
  void Attach(ProgrammingController* controller) { m_host.Attach(controller); }

  int GetPortChoice() override { return 1; }
  void ShowMessage(const std::string& text) override { m_messages.push_back(text); }
  void StartTimer(uint32_t id, uint32_t ms) override { m_host.StartTimer(id, ms); }
  void StopTimer(uint32_t id) override { m_host.StopTimer(id); }
  void OpenProgress(uint32_t range) override { m_host.OpenProgress(range); }
  void SetProgress(uint32_t position) override { m_host.SetProgress(position); }
  void CloseProgress() override { m_host.CloseProgress(); }
  ComNotifyTarget* NotificationTarget() override { return m_host.NotificationTarget(); }

  const std::vector<LoaderLook>& Drawn() const { return m_drawn; }
  const std::vector<std::string>& Messages() const { return m_messages; }

 protected:
  void DrawLook(const LoaderLook& look) override { m_drawn.push_back(look); }

 private:
  sim::VirtualHost m_host;
  std::vector<LoaderLook> m_drawn;
  std::vector<std::string> m_messages;
};

// The dialog with the controller it hosts, on the simulated module's line.
struct DialogRig {
  sim::VirtualClock clock;
  RecordingDlg dlg{clock};
  sim::ModuleSimulator module;
  sim::MemoryPort port{module, clock};
  SnapshotImageFile image;
  ProgrammingController controller{port, image, dlg};
  TempDir dir;

  DialogRig() {
    dlg.Attach(&controller);
    dlg.InitLook();
  }
  void Connect() {
    controller.ToggleConnection();
    clock.AdvanceBy(kConnectWindowMs);
  }
};

const LoaderLook kNotConnectedLook{"Connect", false, true, "NOT CONNECTED", 0xFF0000};
const LoaderLook kConnectedLook{"Disconnect", true, false, "CONNECTED", 0x00C864};

// ---- The look ----------------------------------------------------------------

enum class Call { Connected, Disconnected, Programming, Loaded };

struct LookCase {
  const char* name;
  std::vector<Call> calls;  ///< after InitLook
  LoaderLook look;
};

void PrintTo(const LookCase& c, std::ostream* out) { *out << c.name; }

class Looks : public ::testing::TestWithParam<LookCase> {};

TEST_P(Looks, EachCallDrawsTheWholeLookOnce) {
  const LookCase& c = GetParam();
  sim::VirtualClock clock;
  RecordingDlg dlg(clock);
  dlg.InitLook();
  for (Call call : c.calls) {
    switch (call) {
      case Call::Connected: dlg.ShowConnected(); break;
      case Call::Disconnected: dlg.ShowDisconnected(); break;
      case Call::Programming: dlg.ShowStatus(text::kProgramming); break;
      case Call::Loaded: dlg.ShowStatus(text::kModuleLoaded); break;
    }
  }
  ASSERT_EQ(dlg.Drawn().size(), c.calls.size() + 1);
  EXPECT_EQ(dlg.Drawn().back(), c.look);
  EXPECT_EQ(dlg.Look(), c.look);
}

const LookCase kLooks[] = {
    // name                calls                                                       look
    {"Start", {}, kNotConnectedLook},
    {"Connected", {Call::Connected}, kConnectedLook},
    // A run leaves Program module... enabled: a second file is refused by
    // the controller, and one chosen after the run failed is not sent.
    {"Programming",
     {Call::Connected, Call::Programming},
     {"Disconnect", true, false, "PROGRAMMING", 0x00C864}},
    {"Loaded",
     {Call::Connected, Call::Programming, Call::Loaded},
     {"Disconnect", true, false, "MODULE LOADED", 0x00C864}},
    {"RunFailed", {Call::Connected, Call::Programming, Call::Disconnected}, kNotConnectedLook},
    {"ConnectedAgain", {Call::Connected, Call::Disconnected, Call::Connected}, kConnectedLook},
};

INSTANTIATE_TEST_SUITE_P(Cases, Looks, ::testing::ValuesIn(kLooks),
                         [](const auto& param) { return std::string(param.param.name); });

// ---- Program module... -------------------------------------------------------

enum class Line {
  Down,        ///< never connected
  Up,          ///< connected and idle
  Running,     ///< a run of another image under way
  DroppedRun,  ///< a run failed on a wrong SEND reply, so the line was closed
};

struct ProgramCase {
  const char* name;
  Line line;
  std::vector<std::string> messages;  ///< "%s" stands for the chosen path
  bool chosenFileFlashed;
};

void PrintTo(const ProgramCase& c, std::ostream* out) { *out << c.name; }

class ProgramFile : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(ProgramFile, RunsOnlyOnAnOpenLine) {
  const ProgramCase& c = GetParam();
  DialogRig rig;
  const Bytes earlier = Pattern(200);
  const Bytes chosen = Pattern(70);
  if (c.line == Line::DroppedRun) {
    rig.module.AddFault({sim::FaultKind::WrongReply, 2, 0, false});
  }
  if (c.line != Line::Down) rig.Connect();
  if (c.line == Line::Running || c.line == Line::DroppedRun) {
    rig.controller.StartRun(rig.dir.File("earlier.mbf", earlier));
    if (c.line == Line::DroppedRun) rig.clock.AdvanceBy(60000);
    ASSERT_EQ(rig.controller.IsRunning(), c.line == Line::Running);
  }
  const size_t writes = rig.port.Writes().size();

  const std::string path = rig.dir.File("chosen.mbf", chosen);
  rig.dlg.ProgramFile(rig.controller, path);
  rig.clock.AdvanceBy(60000);

  std::vector<std::string> expected;
  for (std::string message : c.messages) {
    const auto at = message.find("%s");
    if (at != std::string::npos) message.replace(at, 2, path);
    expected.push_back(message);
  }
  EXPECT_EQ(rig.dlg.Messages(), expected);
  std::vector<Bytes> flashed;
  if (c.line == Line::Running) flashed.push_back(earlier);
  if (c.chosenFileFlashed) flashed.push_back(chosen);
  EXPECT_EQ(rig.module.FlashedImages(), flashed);
  if (c.line == Line::Down || c.line == Line::DroppedRun) {
    EXPECT_EQ(rig.port.Writes().size(), writes) << "nothing of the file went out";
    EXPECT_FALSE(rig.port.IsOpen());
    EXPECT_EQ(rig.dlg.Look(), kNotConnectedLook);
  }
}

const ProgramCase kProgramCases[] = {
    {"LineDown", Line::Down, {"Not connected: %s was not sent"}, false},
    {"LineUp", Line::Up, {}, true},
    {"DuringARun", Line::Running, {"A module is being programmed: wait until it is loaded"}, false},
    {"AfterARunFailed",
     Line::DroppedRun,
     {"Invalid response from module for SEND", "Not connected: %s was not sent"},
     false},
};

INSTANTIATE_TEST_SUITE_P(Cases, ProgramFile, ::testing::ValuesIn(kProgramCases),
                         [](const auto& param) { return std::string(param.param.name); });

// ---- Texts -------------------------------------------------------------------

// The path goes in as given: a "%s" or markup in it is neither expanded nor
// interpreted.
TEST(LoaderTexts, NotSentNamesThePathAsGiven) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\images\\module.mbf", "Not connected: C:\\images\\module.mbf was not sent"},
      {"/tmp/<b>%s \xC3\xBC.mbf", "Not connected: /tmp/<b>%s \xC3\xBC.mbf was not sent"},
      {"", "Not connected:  was not sent"},
  };
  for (const auto& [path, text] : cases) {
    EXPECT_EQ(NotSentText(path), text) << path;
  }
}

TEST(LoaderTexts, ContextMenuIsCloseThenAboutWhenItsStringLoads) {
  EXPECT_EQ(ContextMenuItems("&About duvozeviv..."),
            (std::vector<MenuItem>{
                {0xF060, "&Close\tAlt+F4"}, {0, ""}, {0x0010, "&About duvozeviv..."}}));
  EXPECT_EQ(ContextMenuItems(""), (std::vector<MenuItem>{{0xF060, "&Close\tAlt+F4"}}));
}

}  // namespace
}  // namespace test
}  // namespace vexel
