// SHA-256 of a flashed image, so a report can be checked against the file
// that was sent without storing the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vexel::sim {

/// The SHA-256 digest of @p length bytes at @p data, as 64 lowercase hex digits.
std::string Sha256Hex(const uint8_t* data, size_t length);

}  // namespace vexel::sim
