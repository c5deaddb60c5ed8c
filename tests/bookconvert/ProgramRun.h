// Runs a program to its end with its output captured, for tests that drive bookconvert and
// gnumail-archive as black boxes. The wait is bounded: a child still running at the
// deadline is killed and reported as such.
#pragma once

#include <string>
#include <vector>

namespace convert_test {

struct ProgramResult {
  int status = -1;  // exit status; -1 when the child was killed by a signal or timed out
  std::string output;
  std::string error;
};

struct RunOptions {
  // Largest file the child may write, in bytes (RLIMIT_FSIZE); 0 for no limit. The child
  // ignores SIGXFSZ, so a write beyond the limit fails instead of ending the process.
  long fileSizeLimit = 0;
  // Largest stack of the child's main thread, in bytes (RLIMIT_STACK); 0 to inherit.
  long stackLimit = 0;
  double timeoutSeconds = 120;
  // The user and group the child runs as (a root test runner's way to meet permissions);
  // -1 keeps the runner's.
  int user = -1;
};

// Whether user may execute the program at path: a checkout in a directory only its owner can
// enter (mktemp -d makes one) is out of an unprivileged user's reach.
bool userMayRun(int user, const std::string &path);

// argv[0] is what the child sees as its name and also what is executed. scratchDir holds
// the capture files.
ProgramResult runProgram(const std::vector<std::string> &argv, const std::string &scratchDir,
                         const RunOptions &options = RunOptions());

}  // namespace convert_test
