// The main dialog at the display's scaling: the program declares system DPI
// awareness, and its status line is 18-point Arial Black at that DPI with every status
// text inside the line. Run once at the prefix's 96 DPI and once in a prefix
// set to 144 DPI (its LogPixels); VEXEL_TEST_DPI names the DPI expected.
#include "sim/memory_port.h"
#include "sim/module_simulator.h"
#include "sim/virtual_clock.h"
#include "ui/cloaderdlg.h"
#include "ui/resource.h"
#include "ui/win32_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "dialog_driver.h"

namespace vexel::test {
namespace {

int ExpectedDpi() {
  const char* dpi = std::getenv("VEXEL_TEST_DPI");
  return dpi != nullptr ? std::atoi(dpi) : 96;
}

int ScreenDpi() {
  const HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi;
}

class DpiTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ScreenDpi(), ExpectedDpi()) << "the prefix's LogPixels did not take";
    m_dlg = std::make_unique<CLoaderDlg>(std::make_unique<sim::MemoryPort>(m_module, m_clock));
    ASSERT_TRUE(m_dlg->Create());
    m_status = m_dlg->GetDlgItem(IDC_STATUS);
  }

  sim::VirtualClock m_clock;
  sim::ModuleSimulator m_module;
  std::unique_ptr<CLoaderDlg> m_dlg;
  HWND m_status = nullptr;
};

std::string ManifestText() {
  const HMODULE module = ::GetModuleHandleW(nullptr);
  const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
  if (found == nullptr) return std::string();
  const auto* text = static_cast<const char*>(::LockResource(::LoadResource(module, found)));
  return std::string(text, ::SizeofResource(module, found));
}

// One DPI for the whole process: the dialog units, the status font and the
// picture agree on every monitor, and no per-monitor change can reach the
// dialog manager, which would reset the status line to the dialog font.
TEST(DpiAwareness, ManifestDeclaresSystemAwareness) {
  const std::string manifest = ManifestText();
  EXPECT_NE(manifest.find("WindowsSettings\">true</dpiAware>"), std::string::npos);
  EXPECT_NE(manifest.find("WindowsSettings\">system</dpiAwareness>"), std::string::npos);
  EXPECT_EQ(manifest.find("PerMonitor"), std::string::npos);
  EXPECT_EQ(manifest.find("true/pm"), std::string::npos);
}

TEST(DpiAwareness, ProcessIsSystemAware) {
  if (UnderWine()) GTEST_SKIP() << "Wine 8 makes every process per-monitor aware before it starts";
  EXPECT_TRUE(::IsProcessDPIAware());
  EXPECT_EQ(::GetAwarenessFromDpiAwarenessContext(::GetThreadDpiAwarenessContext()),
            DPI_AWARENESS_SYSTEM_AWARE);
}

TEST_F(DpiTest, StatusFontIsEighteenPointsAtTheDpi) {
  LOGFONTW font{};
  const auto hFont = reinterpret_cast<HFONT>(::SendMessageW(m_status, WM_GETFONT, 0, 0));
  ASSERT_EQ(::GetObjectW(hFont, sizeof font, &font), static_cast<int>(sizeof font));
  EXPECT_STREQ(font.lfFaceName, L"Arial Black");
  EXPECT_EQ(font.lfHeight, -::MulDiv(18, ExpectedDpi(), 72));
}

// Each status text, as the centred single line draws it: as wide as the
// control at most, and its capitals (from the baseline up to the em's top)
// inside the control's height. The texts are capitals only.
TEST_F(DpiTest, EveryStatusTextFitsItsLine) {
  RECT client{};
  ::GetClientRect(m_status, &client);
  const HDC dc = ::GetDC(m_status);
  const auto hFont = reinterpret_cast<HFONT>(::SendMessageW(m_status, WM_GETFONT, 0, 0));
  const HGDIOBJ old = ::SelectObject(dc, hFont);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  const LONG lineTop = (client.bottom - metrics.tmHeight) / 2;
  EXPECT_GE(lineTop + metrics.tmInternalLeading, 0) << "the em's top is cut off";
  EXPECT_LE(lineTop + metrics.tmAscent, client.bottom) << "the baseline is below the line";
  for (const char* text :
       {text::kNotConnected, text::kConnected, text::kProgramming, text::kModuleLoaded}) {
    SCOPED_TRACE(text);
    m_dlg->ShowStatus(text);
    const std::wstring shown = Widen(text);
    EXPECT_EQ(::GetWindowTextLengthW(m_status), static_cast<int>(shown.size()));
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &extent);
    EXPECT_LE(extent.cx, client.right) << "wider than its line";
  }
  ::SelectObject(dc, old);
  ::ReleaseDC(m_status, dc);
  std::printf("at %d DPI: status line %ldx%ld, font %ld high (ascent %ld, internal leading %ld)\n",
              ExpectedDpi(), client.right, client.bottom, metrics.tmHeight, metrics.tmAscent,
              metrics.tmInternalLeading);
}

}  // namespace
}  // namespace vexel::test
