// UTF-8 <-> UTF-16 at the edge of the Win32 API: the project keeps UTF-8
// std::string everywhere and calls the wide-character functions.
#pragma once

#include <string>
#include <string_view>

namespace vexel {

/// UTF-8 to UTF-16; an invalid sequence becomes U+FFFD.
std::wstring Widen(std::string_view text);
/// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view text);

}  // namespace vexel
