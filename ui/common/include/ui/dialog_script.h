// The program's dialog templates as Windows resource-script text, made from
// the same tables as everything else (ui/dialog_tables.h). The Windows build
// compiles this text into the executable's DIALOG resources, where the
// dialogs load them from and where resource editors and translation tools
// find them.
#pragma once

#include <string>

#include "ui/dialog_tables.h"

namespace vexel {

/// One template as a resource-script statement: DIALOGEX when it has
/// kExtendedTemplate, else DIALOG. Every control is a CONTROL line whose
/// styles are all written out, so no compiler adds its own defaults.
std::string DialogScript(const DialogTemplate& tmpl);

/// The whole script: a header naming its source, the includes and the
/// #defines of every id it uses (each guarded, as the including script may
/// define them too), then the four templates in id order.
std::string DialogsResourceScript();

}  // namespace vexel
