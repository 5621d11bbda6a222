// The system's wording of a Win32 error code.
#pragma once

#include <cstdint>
#include <string>

namespace vexel {

/// The system's message for @p error (a GetLastError value) in UTF-8, in the
/// user's language, without its line end; "Error N" when the system has none.
std::string SystemErrorText(uint32_t error);

}  // namespace vexel
