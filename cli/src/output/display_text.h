// Names and texts from outside the loader (port and file names, USB strings,
// system messages) made safe to print. One rule for every output:
//
// - Text output: every control character (bytes 0x00-0x1F and 0x7F, and the
//   C1 characters U+0080-U+009F) and every byte that is not part of valid
//   UTF-8 is written as \xHH, upper-case hex, one escape per byte. A name can
//   then neither start a line of its own nor send a sequence to the terminal.
// - JSON output: JSON escapes control characters itself; a byte that is not
//   part of valid UTF-8 is written as the same four characters \xHH.
//
// A backslash stays as it is, so "\x0A" in a name is ambiguous only with a
// name that spells those four characters itself.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

namespace vexel::cli {

/// @p text for a human-readable line: controls and invalid bytes as \xHH.
std::string DisplayText(std::string_view text);

/// @p text as valid UTF-8: only bytes that are not valid UTF-8 as \xHH.
std::string Utf8Text(std::string_view text);

/// One JSON line (without newline) with every string value made valid
/// UTF-8 by Utf8Text, so that dumping it cannot throw.
std::string JsonLine(const nlohmann::json& value);

}  // namespace vexel::cli
