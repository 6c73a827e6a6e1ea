// Runs a program as a child process and collects its exit code and output, for tests of whole
// programs (start-up, the runner, tarven).
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
  int exitCode = -1;  // 128 + signal when killed by a signal
  std::string out;
  std::string err;
};

// env entries "NAME=value" are added to (or replace in) the current environment; "NAME=" with
// unsetEmpty removes NAME. input is written to the child's standard input.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {}, const std::string& input = "",
                         const std::string& workDir = "");
