#include "ui/dialog_script.h"

#include <string_view>
#include <utility>
#include <vector>

#include "ui/resource.h"

namespace vexel {
namespace {

// Resource scripts double a quote inside a string and treat a backslash as
// the start of an escape; other characters go as they are, in UTF-8 (the
// script declares its code page).
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"')
      out += "\"\"";
    else if (c == '\\')
      out += "\\\\";
    else
      out += c;
  }
  return out + "\"";
}

void AddStyle(std::string& styles, const char* name) {
  if (!styles.empty()) styles += " | ";
  styles += name;
}

const char* ClassName(ControlKind kind) {
  switch (kind) {
    case ControlKind::StaticText:
    case ControlKind::StaticPicture: return "Static";
    case ControlKind::ProgressBar: return "msctls_progress32";
    default: return "Button";
  }
}

void AddKindStyles(std::string& styles, const ControlTemplate& control) {
  const bool centre = (control.style & kCentre) != 0;
  switch (control.kind) {
    case ControlKind::PushButton:
      AddStyle(styles, (control.style & kDefaultButton) ? "BS_DEFPUSHBUTTON" : "BS_PUSHBUTTON");
      break;
    case ControlKind::RadioButton: AddStyle(styles, "BS_AUTORADIOBUTTON"); break;
    case ControlKind::GroupBox: AddStyle(styles, "BS_GROUPBOX"); break;
    case ControlKind::StaticText:
      AddStyle(styles, centre ? "SS_CENTER | SS_CENTERIMAGE" : "SS_LEFT");
      if (control.style & kNoPrefix) AddStyle(styles, "SS_NOPREFIX");
      break;
    case ControlKind::StaticPicture:
      AddStyle(styles, "SS_BITMAP");
      if (centre) AddStyle(styles, "SS_CENTERIMAGE");
      break;
    case ControlKind::ProgressBar:
      // A bordered bar in blocks; without the border it is continuous.
      AddStyle(styles, (control.style & kSegmented) ? "WS_BORDER" : "PBS_SMOOTH");
      break;
  }
}

std::string ControlStyles(const ControlTemplate& control) {
  std::string styles = "WS_CHILD | WS_VISIBLE";
  AddKindStyles(styles, control);
  if (control.style & kTabStop) AddStyle(styles, "WS_TABSTOP");
  if (control.style & kGroup) AddStyle(styles, "WS_GROUP");
  return styles;
}

std::string DialogStyles(const DialogTemplate& tmpl) {
  std::string styles = "DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION";
  if (tmpl.style & kSystemMenu) AddStyle(styles, "WS_SYSMENU");
  if (tmpl.style & kDialogVisible) AddStyle(styles, "WS_VISIBLE");
  return styles;
}

// The bitmaps a picture control may show, by the names resource.h gives them.
const char* ImageName(int image) { return image == IDB_PICTURE ? "IDB_PICTURE" : nullptr; }

std::string ControlLine(const ControlTemplate& control) {
  const char* image = ImageName(control.image);
  std::string line = "    CONTROL ";
  line += control.image != 0 ? (image != nullptr ? image : std::to_string(control.image))
                             : Quoted(control.text);
  line += ", " + std::string(control.name) + ", " + Quoted(ClassName(control.kind)) + ", " +
          ControlStyles(control);
  for (const int value : {control.x, control.y, control.cx, control.cy}) {
    line += ", " + std::to_string(value);
  }
  return line + "\n";
}

const DialogTemplate* const kTemplatesById[] = {&kAboutTemplate, &kMainTemplate, &kSettingsTemplate,
                                                &kProgressTemplate};

// Each symbolic id once, in the order the templates first use it.
std::vector<std::pair<std::string, int>> NamedIds() {
  std::vector<std::pair<std::string, int>> ids;
  const auto add = [&ids](const std::string& name, int value) {
    for (const auto& known : ids) {
      if (known.first == name) return;
    }
    ids.emplace_back(name, value);
  };
  for (const DialogTemplate* tmpl : kTemplatesById) {
    add(tmpl->name, tmpl->id);
    for (size_t i = 0; i < tmpl->count; ++i) {
      const ControlTemplate& control = tmpl->controls[i];
      add(control.name, control.id);
      if (const char* image = ImageName(control.image)) add(image, control.image);
    }
  }
  return ids;
}

}  // namespace

std::string DialogScript(const DialogTemplate& tmpl) {
  const bool extended = (tmpl.style & kExtendedTemplate) != 0;
  std::string out = std::string(tmpl.name) + (extended ? " DIALOGEX 0, 0, " : " DIALOG 0, 0, ") +
                    std::to_string(tmpl.cx) + ", " + std::to_string(tmpl.cy) + "\n";
  out += "STYLE " + DialogStyles(tmpl) + "\n";
  if (tmpl.style & kAppWindow) out += "EXSTYLE WS_EX_APPWINDOW\n";
  out += "CAPTION " + Quoted(tmpl.caption) + "\n";
  out += "FONT " + std::to_string(kDialogFontPoints) + ", " + Quoted(kDialogFontFace);
  // Weight, italic and character set exist only in the extended form.
  out += extended ? ", 0, 0, 0x1\n" : "\n";
  out += "BEGIN\n";
  for (size_t i = 0; i < tmpl.count; ++i) out += ControlLine(tmpl.controls[i]);
  return out + "END\n";
}

std::string DialogsResourceScript() {
  std::string out =
      "// The dialog templates, generated at build time from the dialog tables\n"
      "// (ui/common/src/dialog_tables.cpp) by make_dialog_script: edit the tables,\n"
      "// not this file.\n"
      "#pragma code_page(65001)\n"
      "#include <windows.h>\n"
      "#include <commctrl.h>\n\n";
  for (const auto& [name, value] : NamedIds()) {
    out += "#ifndef " + name + "\n#define " + name + " " + std::to_string(value) + "\n#endif\n";
  }
  for (const DialogTemplate* tmpl : kTemplatesById) out += "\n" + DialogScript(*tmpl);
  return out;
}

}  // namespace vexel
