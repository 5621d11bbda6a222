// The n of a "COMn" port name, shared by the platforms' name resolution.
#pragma once

#include <cctype>
#include <cstdlib>
#include <string>

namespace vexel::comm {

// n from 1, any case of "COM", no leading zero; 0 when the name is not of that form.
inline unsigned long ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 12) return 0;
  for (size_t i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  if (name[3] == '0') return 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
  }
  return std::strtoul(name.c_str() + 3, nullptr, 10);
}

}  // namespace vexel::comm
