// The main dialog's behaviour, free of any toolkit: what its buttons and
// status line show in each state, what Program module... does with the file
// the user chose, and the items of its context menu. The Qt and the Win32
// dialogs derive from it; they only draw the look it hands them and forward
// the user's input, so the two editions cannot drift apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/controller_host.h"
#include "protocol/programming_controller.h"

namespace vexel {

/// What the main dialog's controls show. Connect is always enabled.
struct LoaderLook {
  std::string connectText;  ///< kConnectText or kDisconnectText
  bool programEnabled;      ///< Program module..., also during a run
  bool settingsEnabled;     ///< the port cannot change under an open line
  std::string status;       ///< the status line's text
  uint32_t statusRgb;       ///< its colour, 0xRRGGBB

  bool operator==(const LoaderLook& other) const {
    return connectText == other.connectText && programEnabled == other.programEnabled &&
           settingsEnabled == other.settingsEnabled && status == other.status &&
           statusRgb == other.statusRgb;
  }
};

/// One item of the context menu; command 0 is a separator.
struct MenuItem {
  int command;       ///< a window-menu command: kCloseCommand or IDM_ABOUTBOX
  std::string text;  ///< UTF-8, with its '&' mnemonic

  bool operator==(const MenuItem& other) const {
    return command == other.command && text == other.text;
  }
};

/// The context menu, which stands in for the window menu: Close, then a
/// separator and the About item when @p aboutText (IDS_ABOUTBOX) is not empty.
std::vector<MenuItem> ContextMenuItems(const std::string& aboutText);

/// The message for a file chosen while the line is down (UTF-8 @p path).
std::string NotSentText(const std::string& path);

class CLoaderDlgLogic : public ControllerHost {
 public:
  /// The look drawn last.
  const LoaderLook& Look() const { return m_look; }

  // ControllerHost: each call changes the look and has it drawn once.
  void ShowConnected() final;
  void ShowDisconnected() final;
  void ShowStatus(const std::string& text) final;

 protected:
  /// Draws the look before any connection (from OnInitDialog).
  void InitLook();
  /// Program module... ended with @p path (UTF-8) chosen: a run of it while
  /// the line is up. The line can drop while the chooser is open (Program
  /// stays enabled during a run, which may fail meanwhile); the user is then
  /// told the file was not sent.
  void ProgramFile(ProgrammingController& controller, const std::string& path);
  /// Draws @p look on the controls: the toolkit's whole part in it.
  virtual void DrawLook(const LoaderLook& look) = 0;

 private:
  void Draw(LoaderLook look);

  LoaderLook m_look{};
};

}  // namespace vexel
