#include "runner/open_diagnosis.h"

namespace vexel::cli {

std::string WithTraps(std::string reason, const std::vector<std::string>& traps) {
  for (const auto& trap : traps) reason += (reason.empty() ? "" : "; ") + trap;
  return reason;
}

}  // namespace vexel::cli
