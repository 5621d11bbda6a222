// Drives Win32 dialogs in tests: runs the thread's messages until a
// condition holds, and answers modal boxes as a user would, right after
// they appear, from inside their own modal loops.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace vexel::test {

/// Runs the thread's messages (through the dialog manager) until @p done
/// holds or @p timeoutMs pass; before each wait, @p tick runs (the virtual
/// clock of an in-memory module). False on time-out.
bool PumpUntil(const std::function<bool()>& done, const std::function<void()>& tick = {},
               DWORD timeoutMs = 15000);

/// True under Wine (its ntdll exports wine_get_version).
bool UnderWine();

std::wstring WindowText(HWND hWnd);
/// A control's rectangle in dialog units converted as the dialog manager
/// does: the position and the size separately, each rounded on its own.
RECT DialogUnitsToPixels(HWND dialog, int x, int y, int cx, int cy);
/// @p child's window rectangle in @p dialog's client coordinates.
RECT ChildRect(HWND dialog, HWND child);
/// The text of a message box (its static control 0xFFFF).
std::wstring MessageBoxText(HWND box);
/// The visible push buttons of a dialog.
int VisibleButtons(HWND dialog);

/// One top-level dialog window as the answerer saw it.
struct SeenWindow {
  std::wstring caption;
  std::wstring text;  ///< a message box's text, else empty
  int buttons;
};

/// Answers each top-level window of class @p windowClass (dialogs by
/// default; "#32768" for popup menus) created while it lives, except the
/// modeless progress dialog: records it, then runs @p answer on it from the
/// message loop that is running at that moment, one at a time. Answerers
/// of different classes may live at the same time.
class DialogAnswerer {
 public:
  using Answer = std::function<void(HWND)>;
  explicit DialogAnswerer(Answer answer, const wchar_t* windowClass = L"#32770");
  ~DialogAnswerer();
  DialogAnswerer(const DialogAnswerer&) = delete;
  DialogAnswerer& operator=(const DialogAnswerer&) = delete;

  const std::vector<SeenWindow>& Seen() const { return m_seen; }

 private:
  static LRESULT CALLBACK CbtProc(int code, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK HelperProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  void OnCreated(HWND hWnd);

  Answer m_answer;
  std::wstring m_class;
  HWND m_helper = nullptr;
  std::vector<SeenWindow> m_seen;
};

/// Answers: OK of a message box or dialog; Escape; the close box.
void PressOk(HWND dialog);
void PressEscape(HWND dialog);
void PressCloseBox(HWND dialog);
/// Clicks control @p nID of @p dialog as the mouse would.
void ClickItem(HWND dialog, int nID);

}  // namespace vexel::test
