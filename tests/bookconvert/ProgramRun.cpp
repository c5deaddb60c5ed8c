#include "ProgramRun.h"
#include "FileBytes.h"

#include <csignal>
#include <chrono>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace convert_test {

bool userMayRun(int user, const std::string &path) {
  pid_t pid = fork();
  if (pid == 0) {
    if (setgid(user) != 0 || setuid(user) != 0) _exit(2);
    _exit(access(path.c_str(), X_OK) == 0 ? 0 : 1);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

ProgramResult runProgram(const std::vector<std::string> &argv, const std::string &scratchDir,
                         const RunOptions &options) {
  const std::string outPath = scratchDir + "/run.stdout", errPath = scratchDir + "/run.stderr";
  ProgramResult result;
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0) _exit(126);
    dup2(out, 1);
    dup2(err, 2);
    if (options.fileSizeLimit > 0) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {(rlim_t)options.fileSizeLimit, (rlim_t)options.fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.stackLimit > 0) {
      struct rlimit limit = {(rlim_t)options.stackLimit, (rlim_t)options.stackLimit};
      setrlimit(RLIMIT_STACK, &limit);
    }
    if (options.user >= 0 && (setgid(options.user) != 0 || setuid(options.user) != 0)) _exit(125);
    std::vector<char *> args;
    for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  if (pid < 0) return result;

  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds((long)(options.timeoutSeconds * 1000));
  int status = 0;
  bool ended = false;
  while (!ended) {
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      ended = true;
    } else if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      status = -1;
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  result.status = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.output = kxtest::readFile(outPath);
  result.error = kxtest::readFile(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return result;
}

}  // namespace convert_test
