// The command-line loader as a function, so that tests can run it whole.
#pragma once

#include <iosfwd>

namespace vexel::cli {

/// Parses the arguments, lists ports or loads the image, and returns the
/// exit status.
int RunProgram(int argc, char** argv, std::ostream& out, std::ostream& err);

}  // namespace vexel::cli
