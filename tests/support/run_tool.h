// RunTool: runs the built quillmet binary (the compile definition QM_BINARY) as a child
// process with fork and exec, no shell, and captures what it writes to standard output
// and standard error byte for byte, with its exit status. Standard input is the given
// bytes (fed through a pipe while the outputs are drained, so neither side can block
// the other) or /dev/null when none are given. A child still running after the time
// limit is killed, which shows as a signal in the result, so a hang fails the test
// instead of stalling it.
//
// When the environment variable QM_TOOL_WRAPPER is set and not empty, RunTool starts
// the tool through it: the variable is split at spaces into a program (an absolute
// path) and its arguments, and QM_BINARY with its arguments follows them, as in
// QM_TOOL_WRAPPER="/usr/bin/valgrind --log-file=/tmp/vg.%p.log". The time limit is then
// multiplied by kWrappedTimeFactor, since such wrappers run the tool far slower.
// RunProgram never uses the wrapper.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qm::test {

struct ToolResult {
  std::string out;      // everything written to standard output
  std::string err;      // everything written to standard error
  int exitStatus = -1;  // exit status when the child exited normally, else -1
  int signal = 0;       // the signal that ended the child, 0 when it exited
  bool isStarted = false;
};

struct ToolOptions {
  std::optional<std::string> standardInput;  // none: /dev/null
  std::string workDir;                       // empty: the test's own working directory
  int timeLimitSeconds = 120;
};

inline constexpr int kWrappedTimeFactor = 20;

// Runs QM_BINARY with args (argv[0] is added) under the given options, through
// QM_TOOL_WRAPPER when that is set.
ToolResult RunTool(const std::vector<std::string>& args, const ToolOptions& options = {});

// Runs any program by path; RunTool uses it, and tests may use it to build fixtures
// with the machine's archivers.
ToolResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const ToolOptions& options = {});

}  // namespace qm::test
