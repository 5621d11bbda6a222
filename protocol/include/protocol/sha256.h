// SHA-256 of an image, so a report or a log can be checked against the file
// that was sent without storing the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexel {

/// The SHA-256 digest of @p length bytes at @p data, as 64 lowercase hex digits.
std::string Sha256Hex(const uint8_t* data, size_t length);

}  // namespace vexel
