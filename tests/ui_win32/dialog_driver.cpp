#include "dialog_driver.h"

#include <algorithm>
#include <cwchar>

namespace vexel::test {
namespace {

constexpr UINT kAnswerMessage = WM_APP + 1;
constexpr int kMessageBoxTextId = 0xFFFF;
// The hook has no context of its own: one hook serves every answerer alive.
std::vector<DialogAnswerer*> g_answerers;
HHOOK g_hook = nullptr;

bool IsClass(HWND hWnd, const wchar_t* className) {
  wchar_t name[16] = {};
  return ::GetClassNameW(hWnd, name, 16) > 0 && std::wcscmp(name, className) == 0;
}

bool IsDialogClass(HWND hWnd) { return IsClass(hWnd, L"#32770"); }

}  // namespace

bool PumpUntil(const std::function<bool()>& done, const std::function<void()>& tick,
               DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (!done()) {
    if (::GetTickCount64() > deadline) return false;
    if (tick) tick();
    // Wakes on any message; the short ceiling lets the virtual clock move.
    ::MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      const HWND root = msg.hwnd != nullptr ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
      if (root != nullptr && IsDialogClass(root) && ::IsDialogMessageW(root, &msg)) continue;
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
  return true;
}

bool UnderWine() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring WindowText(HWND hWnd) {
  const int length = ::GetWindowTextLengthW(hWnd);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  const int got = ::GetWindowTextW(hWnd, text.data(), length + 1);
  text.resize(static_cast<size_t>(got));
  return text;
}

RECT DialogUnitsToPixels(HWND dialog, int x, int y, int cx, int cy) {
  RECT units{x, y, cx, cy};
  ::MapDialogRect(dialog, &units);
  return RECT{units.left, units.top, units.left + units.right, units.top + units.bottom};
}

RECT ChildRect(HWND dialog, HWND child) {
  RECT rect{};
  ::GetWindowRect(child, &rect);
  ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::wstring MessageBoxText(HWND box) {
  const HWND item = ::GetDlgItem(box, kMessageBoxTextId);
  return item != nullptr ? WindowText(item) : std::wstring();
}

int VisibleButtons(HWND dialog) {
  int count = 0;
  for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[16] = {};
    ::GetClassNameW(child, name, 16);
    const LONG_PTR type = ::GetWindowLongPtrW(child, GWL_STYLE) & BS_TYPEMASK;
    if (_wcsicmp(name, L"Button") == 0 && ::IsWindowVisible(child) &&
        (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON)) {
      ++count;
    }
  }
  return count;
}

DialogAnswerer::DialogAnswerer(Answer answer, const wchar_t* windowClass)
    : m_answer(std::move(answer)), m_class(windowClass) {
  WNDCLASSW helperClass{};
  helperClass.lpfnWndProc = &DialogAnswerer::HelperProc;
  helperClass.hInstance = ::GetModuleHandleW(nullptr);
  helperClass.lpszClassName = L"VexelDialogAnswerer";
  ::RegisterClassW(&helperClass);  // fails harmlessly when registered before
  m_helper = ::CreateWindowExW(0, helperClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                               nullptr, helperClass.hInstance, nullptr);
  ::SetWindowLongPtrW(m_helper, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  g_answerers.push_back(this);
  if (g_hook == nullptr) {
    g_hook = ::SetWindowsHookExW(WH_CBT, &DialogAnswerer::CbtProc, nullptr, ::GetCurrentThreadId());
  }
}

DialogAnswerer::~DialogAnswerer() {
  g_answerers.erase(std::find(g_answerers.begin(), g_answerers.end(), this));
  if (g_answerers.empty()) {
    ::UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
  }
  ::DestroyWindow(m_helper);
}

// A window being created is not ready yet: the answer runs from the next
// message loop round, after the dialog manager has initialised it.
LRESULT CALLBACK DialogAnswerer::CbtProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    const auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam);
    if ((create->lpcs->style & WS_CHILD) == 0) {
      for (DialogAnswerer* answerer : g_answerers) {
        ::PostMessageW(answerer->m_helper, kAnswerMessage, wParam, 0);
      }
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK DialogAnswerer::HelperProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* answerer = reinterpret_cast<DialogAnswerer*>(::GetWindowLongPtrW(hWnd, GWLP_USERDATA));
  if (message == kAnswerMessage && answerer != nullptr) {
    answerer->OnCreated(reinterpret_cast<HWND>(wParam));
    return 0;
  }
  return ::DefWindowProcW(hWnd, message, wParam, lParam);
}

void DialogAnswerer::OnCreated(HWND hWnd) {
  if (!::IsWindow(hWnd) || !IsClass(hWnd, m_class.c_str())) return;
  const std::wstring caption = WindowText(hWnd);
  if (caption == L"Programming progress") return;
  m_seen.push_back({caption, MessageBoxText(hWnd), VisibleButtons(hWnd)});
  if (m_answer) m_answer(hWnd);
}

void PressOk(HWND dialog) {
  ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
}

// The key goes to the control with the focus, as typed keys do; the
// dialog manager of the running loop turns it into IDCANCEL.
void PressEscape(HWND dialog) {
  HWND focus = ::GetFocus();
  if (focus == nullptr || ::GetAncestor(focus, GA_ROOT) != dialog) focus = dialog;
  ::PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  ::PostMessageW(focus, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
}

void PressCloseBox(HWND dialog) { ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

void ClickItem(HWND dialog, int nID) { ::SendMessageW(::GetDlgItem(dialog, nID), BM_CLICK, 0, 0); }

}  // namespace vexel::test
