// The command-line loader as a function, so that tests can run it whole.
#pragma once

#include <iosfwd>

namespace vexel::cli {

/// Parses the arguments, lists ports or loads the image, and returns the
/// exit status.
int RunProgram(int argc, char** argv, std::ostream& out, std::ostream& err);
/// As above; @p station, when given, is set when the program ran a
/// --station session, which only an interrupt or --count ends.
int RunProgram(int argc, char** argv, std::ostream& out, std::ostream& err, bool* station);

/// The program's main: prepares the standard streams, runs RunProgram on
/// them through OutputChannels, and waits for the output to be written (at
/// most a second after an interruption, when the reader may never read).
int RunProcess(int argc, char** argv);

}  // namespace vexel::cli
