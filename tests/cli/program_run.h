// Runs the whole program in the test's process, its output in strings.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_program.h"

namespace vexel::cli::test {

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

inline Outcome RunWith(std::vector<std::string> args) {
  args.insert(args.begin(), "duvozeviv-cli");
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::ostringstream out;
  std::ostringstream err;
  Outcome run;
  EXPECT_NO_THROW(run.code = RunProgram(static_cast<int>(args.size()), argv.data(), out, err));
  run.out = out.str();
  run.err = err.str();
  return run;
}

}  // namespace vexel::cli::test
