// vexel-window-probe: lets a script that drives a Win32 program through the
// keyboard (xdotool under Wine) see what the program shows. It waits, with a
// deadline, until a top-level window with the given title is shown and its
// controls match every condition, then prints the window's rectangle
// "x y width height". On time-out it prints what it saw instead, exit 1.
//
//   vexel-window-probe TITLE TIMEOUT_MS [CONDITION]...
//   vexel-window-probe !TITLE TIMEOUT_MS          (until no such window is left)
//
// Conditions on controls, by id: ID=TEXT (its text), ID:on / ID:off (enabled
// or not), ID>=N% (a progress bar's position against its upper limit),
// focus=ID (the control with the keyboard focus in the window's thread) and
// active (the window is the foreground one, so the keyboard reaches it).
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ui/win32_support.h"

namespace {

using vexel::Narrow;
using vexel::Widen;

// A busy program may not answer at once; a hung one must not hang the probe.
LRESULT Ask(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  ::SendMessageTimeoutW(hWnd, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result);
  return static_cast<LRESULT>(result);
}

std::wstring ControlText(HWND control) {
  std::vector<wchar_t> buffer(1024, L'\0');
  Ask(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
  return buffer.data();
}

int FocusedId(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info) ||
      info.hwndFocus == nullptr)
    return 0;
  return ::GetDlgCtrlID(info.hwndFocus);
}

struct Condition {
  int id = 0;
  enum Kind { Text, Enabled, Disabled, Progress, Focus, Active } kind = Text;
  std::wstring text;
  int percent = 0;
};

bool Parse(const std::string& spec, Condition& c) {
  if (spec == "active") {
    c.kind = Condition::Active;
    return true;
  }
  if (spec.rfind("focus=", 0) == 0) {
    c.kind = Condition::Focus;
    c.id = std::atoi(spec.c_str() + 6);
    return true;
  }
  const size_t end = spec.find_first_not_of("0123456789");
  if (end == 0 || end == std::string::npos) return false;
  c.id = std::atoi(spec.substr(0, end).c_str());
  const std::string rest = spec.substr(end);
  if (rest == ":on" || rest == ":off") {
    c.kind = rest == ":on" ? Condition::Enabled : Condition::Disabled;
  } else if (rest[0] == '=') {
    c.kind = Condition::Text;
    c.text = Widen(rest.substr(1));
  } else if (rest.rfind(">=", 0) == 0 && rest.back() == '%') {
    c.kind = Condition::Progress;
    c.percent = std::atoi(rest.c_str() + 2);
  } else {
    return false;
  }
  return true;
}

// What the condition's subject shows now, and whether it matches.
bool Holds(HWND window, const Condition& c, std::string& seen) {
  if (c.kind == Condition::Active) {
    const bool active = ::GetForegroundWindow() == window;
    seen = active ? "active" : "not active";
    return active;
  }
  if (c.kind == Condition::Focus) {
    const int focused = FocusedId(window);
    seen = "focus=" + std::to_string(focused);
    return focused == c.id;
  }
  const HWND control = ::GetDlgItem(window, c.id);
  if (control == nullptr) {
    seen = std::to_string(c.id) + " missing";
    return false;
  }
  switch (c.kind) {
    case Condition::Text: {
      const std::wstring text = ControlText(control);
      seen = std::to_string(c.id) + "=" + Narrow(text);
      return text == c.text;
    }
    case Condition::Enabled:
    case Condition::Disabled: {
      const bool enabled = ::IsWindowEnabled(control) != FALSE;
      seen = std::to_string(c.id) + (enabled ? ":on" : ":off");
      return enabled == (c.kind == Condition::Enabled);
    }
    default: {
      const LRESULT high = Ask(control, PBM_GETRANGE, FALSE, 0);
      const LRESULT pos = Ask(control, PBM_GETPOS, 0, 0);
      seen = std::to_string(c.id) + " at " + std::to_string(pos) + " of " + std::to_string(high);
      return high > 0 && pos * 100 >= static_cast<LRESULT>(c.percent) * high;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: vexel-window-probe [!]TITLE TIMEOUT_MS [CONDITION]...\n");
    return 2;
  }
  const bool untilGone = argv[1][0] == '!';
  const std::wstring title = Widen(argv[1] + (untilGone ? 1 : 0));
  const DWORD timeoutMs = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
  std::vector<Condition> conditions(static_cast<size_t>(argc - 3));
  for (int i = 3; i < argc; ++i) {
    if (!Parse(argv[i], conditions[static_cast<size_t>(i - 3)])) {
      std::fprintf(stderr, "vexel-window-probe: bad condition '%s'\n", argv[i]);
      return 2;
    }
  }

  const DWORD start = ::GetTickCount();
  std::string report;
  for (;;) {
    const HWND window = ::FindWindowW(nullptr, title.c_str());
    const bool shown = window != nullptr && ::IsWindowVisible(window);
    if (untilGone && !shown) return 0;
    if (!untilGone && shown) {
      bool all = true;
      report.clear();
      for (const Condition& c : conditions) {
        std::string seen;
        if (!Holds(window, c, seen)) all = false;
        report += " [" + seen + "]";
      }
      if (all) {
        RECT rect{};
        ::GetWindowRect(window, &rect);
        std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top);
        return 0;
      }
    } else {
      report = untilGone ? " still shown" : " no such window shown";
    }
    if (::GetTickCount() - start >= timeoutMs) break;
    ::Sleep(50);  // the poll interval; the deadline above decides
  }
  std::fprintf(stderr, "vexel-window-probe: '%s' after %lu ms:%s\n", argv[1],
               static_cast<unsigned long>(timeoutMs), report.c_str());
  return 1;
}
