// The dialog templates as resource-script text (what the Windows build
// compiles into the program): both template forms, byte-exact, quoting, and
// the whole script's ids and order.
#include "ui/dialog_script.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "ui/resource.h"

namespace vexel {
namespace {

TEST(DialogScript, MainTemplateIsExtended) {
  EXPECT_EQ(DialogScript(kMainTemplate),
            "IDD_MAIN DIALOGEX 0, 0, 286, 190\n"
            "STYLE DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE\n"
            "EXSTYLE WS_EX_APPWINDOW\n"
            "CAPTION \"Vexel Module Loader\"\n"
            "FONT 8, \"MS Sans Serif\", 0, 0, 0x1\n"
            "BEGIN\n"
            "    CONTROL \"Connect\", IDC_CONNECT, \"Button\", WS_CHILD | WS_VISIBLE | "
            "BS_PUSHBUTTON | WS_TABSTOP, 7, 7, 56, 15\n"
            "    CONTROL \"Program module...\", IDC_PROGRAM, \"Button\", WS_CHILD | WS_VISIBLE | "
            "BS_PUSHBUTTON | WS_TABSTOP, 76, 7, 68, 15\n"
            "    CONTROL \"Settings...\", IDC_SETTINGS, \"Button\", WS_CHILD | WS_VISIBLE | "
            "BS_PUSHBUTTON | WS_TABSTOP, 223, 7, 56, 15\n"
            "    CONTROL IDB_PICTURE, IDC_STATIC, \"Static\", WS_CHILD | WS_VISIBLE | SS_BITMAP | "
            "SS_CENTERIMAGE, 7, 36, 272, 123\n"
            "    CONTROL \"\", IDC_STATUS, \"Static\", WS_CHILD | WS_VISIBLE | SS_CENTER | "
            "SS_CENTERIMAGE | WS_GROUP, 7, 164, 272, 19\n"
            "END\n");
}

TEST(DialogScript, OtherTemplatesArePlain) {
  EXPECT_EQ(DialogScript(kSettingsTemplate),
            "IDD_SETTINGS DIALOG 0, 0, 131, 94\n"
            "STYLE DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU\n"
            "CAPTION \"Settings\"\n"
            "FONT 8, \"MS Sans Serif\"\n"
            "BEGIN\n"
            "    CONTROL \"OK\", IDOK, \"Button\", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | "
            "WS_TABSTOP, 40, 73, 50, 14\n"
            "    CONTROL \"Port\", IDC_STATIC, \"Button\", WS_CHILD | WS_VISIBLE | BS_GROUPBOX | "
            "WS_GROUP, 7, 7, 117, 46\n"
            "    CONTROL \"COM&1\", IDC_COM1, \"Button\", WS_CHILD | WS_VISIBLE | "
            "BS_AUTORADIOBUTTON, 26, 24, 37, 15\n"
            "    CONTROL \"COM&2\", IDC_COM2, \"Button\", WS_CHILD | WS_VISIBLE | "
            "BS_AUTORADIOBUTTON, 73, 24, 36, 15\n"
            "END\n");
  EXPECT_EQ(DialogScript(kProgressTemplate),
            "IDD_PROGRESS DIALOG 0, 0, 186, 62\n"
            "STYLE DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_VISIBLE\n"
            "CAPTION \"Programming progress\"\n"
            "FONT 8, \"MS Sans Serif\"\n"
            "BEGIN\n"
            "    CONTROL \"Progress1\", IDC_PROGRESS, \"msctls_progress32\", WS_CHILD | WS_VISIBLE "
            "| WS_BORDER, 7, 22, 172, 15\n"
            "END\n");
}

// A quote is doubled and a backslash escaped; UTF-8 goes as it is. A bar
// that is not segmented is continuous.
TEST(DialogScript, QuotesTextsAndNamesEveryStyle) {
  constexpr ControlTemplate controls[] = {
      {7, "IDC_TEXT", ControlKind::StaticText, "say \"hi\" C:\\x \xC3\xA9", 0, 1, 2, 3, 4,
       kNoPrefix},
      {8, "IDC_BAR", ControlKind::ProgressBar, "", 0, 5, 6, 7, 8, kTabStop},
  };
  const DialogTemplate tmpl{9, "IDD_X", "A \"b\"", 10, 11, 0, controls, std::size(controls)};
  EXPECT_EQ(DialogScript(tmpl),
            "IDD_X DIALOG 0, 0, 10, 11\n"
            "STYLE DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION\n"
            "CAPTION \"A \"\"b\"\"\"\n"
            "FONT 8, \"MS Sans Serif\"\n"
            "BEGIN\n"
            "    CONTROL \"say \"\"hi\"\" C:\\\\x \xC3\xA9\", IDC_TEXT, \"Static\", WS_CHILD | "
            "WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 1, 2, 3, 4\n"
            "    CONTROL \"\", IDC_BAR, \"msctls_progress32\", WS_CHILD | WS_VISIBLE | PBS_SMOOTH "
            "| WS_TABSTOP, 5, 6, 7, 8\n"
            "END\n");
}

// Every name the templates use is defined once, with its value from
// resource.h, and the templates follow in id order.
TEST(DialogScript, WholeScriptDefinesEachIdOnce) {
  const std::string script = DialogsResourceScript();
  EXPECT_EQ(script.rfind("// The dialog templates, generated at build time", 0), 0u);
  EXPECT_NE(script.find("#pragma code_page(65001)\n#include <windows.h>\n#include <commctrl.h>\n"),
            std::string::npos);
  const std::pair<const char*, int> ids[] = {
      {"IDD_ABOUTBOX", IDD_ABOUTBOX}, {"IDD_MAIN", IDD_MAIN},
      {"IDD_SETTINGS", IDD_SETTINGS}, {"IDD_PROGRESS", IDD_PROGRESS},
      {"IDC_STATIC", IDC_STATIC},     {"IDOK", 1},
      {"IDC_CONNECT", IDC_CONNECT},   {"IDC_PROGRAM", IDC_PROGRAM},
      {"IDC_SETTINGS", IDC_SETTINGS}, {"IDC_STATUS", IDC_STATUS},
      {"IDB_PICTURE", IDB_PICTURE},   {"IDC_COM1", IDC_COM1},
      {"IDC_COM2", IDC_COM2},         {"IDC_PROGRESS", IDC_PROGRESS},
  };
  for (const auto& [name, value] : ids) {
    SCOPED_TRACE(name);
    const std::string define = "#ifndef " + std::string(name) + "\n#define " + name + " " +
                               std::to_string(value) + "\n#endif\n";
    const size_t at = script.find(define);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(script.find("#define " + std::string(name) + " ", at + define.size()),
              std::string::npos);
  }
  size_t previous = 0;
  for (const DialogTemplate* tmpl :
       {&kAboutTemplate, &kMainTemplate, &kSettingsTemplate, &kProgressTemplate}) {
    const size_t at = script.find("\n" + DialogScript(*tmpl));
    ASSERT_NE(at, std::string::npos) << tmpl->name;
    EXPECT_GT(at, previous) << tmpl->name;
    previous = at;
  }
}

}  // namespace
}  // namespace vexel
