#include "program/command_line.h"

#include <gtest/gtest.h>

#include "cli/exit_codes.h"

namespace vexel::cli {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

ParsedCommandLine Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "duvozeviv-cli");
  return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, AcceptedArguments) {
  const struct {
    std::vector<const char*> args;
    std::string image;
    std::vector<std::string> ports;
    bool quiet, json, trace;
  } cases[] = {
      {{"a.mbf"}, "a.mbf", {"COM1"}, false, false, false},
      {{"-p", "COM2", "a.mbf"}, "a.mbf", {"COM2"}, false, false, false},
      // Each -p takes exactly one name, so the image may follow it.
      {{"-p", "/dev/ttyUSB0", "-p", "/dev/ttyUSB1", "a.mbf"},
       "a.mbf",
       {"/dev/ttyUSB0", "/dev/ttyUSB1"},
       false,
       false,
       false},
      {{"a.mbf", "--port=/dev/pts/3", "--quiet", "--trace"},
       "a.mbf",
       {"/dev/pts/3"},
       true,
       false,
       true},
      {{"--json", "a.mbf", "-p", "COM1"}, "a.mbf", {"COM1"}, false, true, false},
  };
  for (const auto& c : cases) {
    const auto parsed = Parse(c.args);
    ASSERT_TRUE(parsed.proceed) << parsed.err;
    EXPECT_EQ(parsed.options.image, c.image);
    EXPECT_EQ(parsed.options.ports, c.ports);
    EXPECT_EQ(parsed.options.quiet, c.quiet);
    EXPECT_EQ(parsed.options.json, c.json);
    EXPECT_EQ(parsed.options.trace, c.trace);
    EXPECT_FALSE(parsed.options.listPorts);
  }
}

TEST(CommandLine, UsageErrorsExitWithTwoAndSayWhy) {
  const struct {
    std::vector<const char*> args;
    std::string firstLine;
  } cases[] = {
      {{}, "IMAGE is required"},
      {{"-p", "COM1", "-p", "COM1", "a.mbf"}, "--port: COM1 is given more than once"},
      {{"--quiet", "--json", "a.mbf"}, "--quiet excludes --json"},
      {{"--list-ports", "a.mbf"}, "IMAGE excludes --list-ports"},
      {{"--bogus", "a.mbf"}, "The following argument was not expected: --bogus"},
      {{"a.mbf", "b.mbf"}, "The following argument was not expected: b.mbf"},
  };
  for (const auto& c : cases) {
    const auto parsed = Parse(c.args);
    EXPECT_FALSE(parsed.proceed);
    EXPECT_EQ(parsed.exitCode, kExitUsage);
    EXPECT_EQ(parsed.err.substr(0, parsed.err.find('\n')), c.firstLine);
    EXPECT_NE(parsed.err.find("Run with --help for more information."), std::string::npos);
    EXPECT_EQ(parsed.out, "");
  }
}

TEST(CommandLine, HelpShowsOptionsAndTheExitCodeTable) {
  const auto parsed = Parse({"--help"});
  EXPECT_FALSE(parsed.proceed);
  EXPECT_EQ(parsed.exitCode, 0);
  EXPECT_EQ(parsed.err, "");
  for (const char* item :
       {"-p,--port NAME", "--list-ports", "-q,--quiet", "--json", "--trace", "--station",
        "--count N", "--log FILE", "--expect-sha256 HEX", "IMAGE",
        "a swap (one module off, the next on) of 0.3 s or more is always seen"}) {
    EXPECT_NE(parsed.out.find(item), std::string::npos) << item;
  }
  EXPECT_NE(parsed.out.find("Exit status:\n" + ExitCodeTable()), std::string::npos);
}

// The help names only the port names, variables and signals of the system
// it runs on.
TEST(CommandLine, HelpSpeaksOfThisSystemOnly) {
  const std::string help = Parse({"--help"}).out;
  const struct {
    const char* text;
    bool onWindows;
  } mentions[] = {
      {"(VEXEL_COM1, VEXEL_COM2)", false},
      {"such as /dev/ttyUSB0 or a /dev/serial/by-id link", false},
      {"Ctrl-C, SIGTERM or SIGHUP", false},
      {"\nPorts: any COM port by its name, such as COM3 or COM12; --list-ports lists them.\n",
       true},
      {"Ctrl-C, Ctrl-Break or a closed console", true},
  };
  for (const auto& mention : mentions) {
    EXPECT_EQ(help.find(mention.text) != std::string::npos, mention.onWindows == kWindows)
        << mention.text;
  }
  for (const char* text : {"VEXEL_COM", "/dev/", "SIG"}) {
    EXPECT_EQ(help.find(text) != std::string::npos, !kWindows) << text;
  }
}

TEST(CommandLine, StationTakesACountAndALog) {
  const struct {
    std::vector<const char*> args;
    size_t count;
    std::string log;
  } cases[] = {
      {{"--station", "a.mbf"}, 0, ""},
      {{"--station", "--count", "20", "a.mbf"}, 20, ""},
      {{"a.mbf", "--log", "audit.jsonl", "--station", "-p", "COM2"}, 0, "audit.jsonl"},
  };
  for (const auto& c : cases) {
    const auto parsed = Parse(c.args);
    ASSERT_TRUE(parsed.proceed) << parsed.err;
    EXPECT_TRUE(parsed.options.station);
    EXPECT_EQ(parsed.options.count, c.count);
    EXPECT_EQ(parsed.options.log, c.log);
  }
  const struct {
    std::vector<const char*> args;
    std::string firstLine;
  } errors[] = {
      {{"--count", "3", "a.mbf"}, "--count requires --station"},
      {{"--log", "x.jsonl", "a.mbf"}, "--log requires --station"},
      {{"--station", "--count", "0", "a.mbf"}, "--count: Value 0 not in range 1 to 1000000000"},
      {{"--station", "--list-ports"}, "--list-ports excludes --station"},
      // CLI11 alone would read these as 16 and 1000.
      {{"--station", "--count", "0x10", "a.mbf"}, "--count: a decimal number is needed, not 0x10"},
      {{"--station", "--count", "1e3", "a.mbf"}, "--count: a decimal number is needed, not 1e3"},
      // An empty name would turn the log off without a word.
      {{"--station", "--log", "", "a.mbf"}, "--log: a file name is needed"},
      {{"--expect-sha256", "abc", "a.mbf"},
       "--expect-sha256: 64 hexadecimal digits are needed, not abc"},
      {{"--station"}, "IMAGE is required"},
  };
  for (const auto& c : errors) {
    const auto parsed = Parse(c.args);
    EXPECT_FALSE(parsed.proceed);
    EXPECT_EQ(parsed.exitCode, kExitUsage);
    EXPECT_EQ(parsed.err.substr(0, parsed.err.find('\n')), c.firstLine);
  }
}

TEST(CommandLine, ListPortsNeedsNoImage) {
  const auto parsed = Parse({"--list-ports", "--json"});
  ASSERT_TRUE(parsed.proceed);
  EXPECT_TRUE(parsed.options.listPorts);
  EXPECT_TRUE(parsed.options.json);
}

TEST(CommandLine, VersionIsPrinted) {
  const auto parsed = Parse({"--version"});
  EXPECT_FALSE(parsed.proceed);
  EXPECT_EQ(parsed.exitCode, 0);
  EXPECT_EQ(parsed.out, "duvozeviv-cli 1.0.0.1\n");
}

// A name from the command line is escaped in the error that repeats it.
TEST(CommandLine, UsageErrorsEscapeControlCharacters) {
  const struct {
    std::vector<const char*> args;
    std::string err;
  } cases[] = {
      {{"-p", "a\nb", "-p", "a\nb", "a.mbf"},
       "--port: a\\x0Ab is given more than once\nRun with --help for more information.\n"},
      {{"a.mbf", "b\x1b[2J"},
       "The following argument was not expected: b\\x1B[2J\n"
       "Run with --help for more information.\n"},
  };
  for (const auto& c : cases) {
    const auto parsed = Parse(c.args);
    EXPECT_FALSE(parsed.proceed);
    EXPECT_EQ(parsed.exitCode, kExitUsage);
    EXPECT_EQ(parsed.err, c.err);
  }
}

}  // namespace
}  // namespace vexel::cli
