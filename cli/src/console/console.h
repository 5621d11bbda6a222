// What the loader needs to know about, and do with, the streams and the
// terminal it was started with; one file per platform.
#pragma once

#include <string>
#include <vector>

namespace vexel::cli {

struct ConsoleInfo {
  bool outIsTerminal = false;  ///< standard output is a terminal that shows bars
  bool errIsTerminal = false;  ///< standard error is a terminal
  int width = 0;               ///< the output terminal's columns; 0 when unknown
};

/// Looks at the standard output and error as they are now.
ConsoleInfo InspectConsole();

/// First thing at start-up, before any descriptor of the loader's own is
/// made. Linux: standard input, output and error that are closed are opened
/// on /dev/null, so that no internal descriptor takes their numbers; a
/// write to a reader that has gone returns an error (EPIPE) instead of
/// ending the process (SIGPIPE is ignored). Windows: a console shows the
/// loader's UTF-8 (its output code page is UTF-8 until the loader exits).
void PrepareStandardStreams();

/// The program's arguments in UTF-8, the encoding of every text inside
/// the loader. Linux: @p argv as it is. Windows: the wide command line,
/// converted (@p argv is in the ANSI code page, which cannot hold every
/// file name).
std::vector<std::string> Utf8Arguments(int argc, char** argv);

/// Empty, or why @p device must not be taken for a module's line: it is the
/// loader's own terminal (its controlling terminal, or one of its standard
/// streams), whatever name it is given by.
std::string OwnTerminalRefusal(const std::string& device);

/// Writes all of @p text to standard output (@p fd 1) or error (2), waiting
/// as long as the reader needs; false once the output has ended (the
/// reader has gone, or the stream failed), after which nothing more is
/// written.
bool WriteFully(int fd, const std::string& text);

/// True when @p a and @p b are the same file (a terminal, pipe or file).
bool SameFile(int a, int b);

/// True when writes to @p fd never wait for a reader (a regular file or
/// the null device), so that they need not be handed to a writer thread.
bool NeverBlocks(int fd);

}  // namespace vexel::cli
