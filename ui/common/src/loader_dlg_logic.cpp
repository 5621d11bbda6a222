#include "ui/loader_dlg_logic.h"

#include "ui/dialog_tables.h"
#include "ui/resource.h"

namespace vexel {
namespace {

// The three looks of the line's states; a status text changes only the line.
LoaderLook NotConnectedLook() {
  return {kConnectText, false, true, text::kNotConnected, kStatusRedRgb};
}

LoaderLook ConnectedLook() {
  return {kDisconnectText, true, false, text::kConnected, kStatusGreenRgb};
}

}  // namespace

std::vector<MenuItem> ContextMenuItems(const std::string& aboutText) {
  std::vector<MenuItem> items{{kCloseCommand, kCloseMenuText}};
  if (!aboutText.empty()) {
    items.push_back({0, ""});
    items.push_back({IDM_ABOUTBOX, aboutText});
  }
  return items;
}

std::string NotSentText(const std::string& path) {
  std::string text(kNotSentText);
  text.replace(text.find("%s"), 2, path);
  return text;
}

void CLoaderDlgLogic::ShowConnected() { Draw(ConnectedLook()); }

void CLoaderDlgLogic::ShowDisconnected() { Draw(NotConnectedLook()); }

void CLoaderDlgLogic::ShowStatus(const std::string& text) {
  LoaderLook look = m_look;
  look.status = text;
  Draw(std::move(look));
}

void CLoaderDlgLogic::InitLook() { Draw(NotConnectedLook()); }

void CLoaderDlgLogic::ProgramFile(ProgrammingController& controller, const std::string& path) {
  if (!controller.IsConnected()) {
    ShowMessage(NotSentText(path));
    return;
  }
  controller.StartRun(path);
}

void CLoaderDlgLogic::Draw(LoaderLook look) {
  m_look = std::move(look);
  DrawLook(m_look);
}

}  // namespace vexel
