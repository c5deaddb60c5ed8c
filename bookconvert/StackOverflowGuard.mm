#include "StackOverflowGuard.h"

#include <cstring>
#include <unistd.h>

namespace {

char message[4096];
size_t messageLength = 0;
alignas(16) char alternateStack[1 << 16];

void Report(int)
{
  ssize_t ignored = write(STDERR_FILENO, message, messageLength);
  (void)ignored;
  _exit(1);
}

}  // namespace

StackOverflowGuard::StackOverflowGuard(const std::string &errorLine)
{
  std::string line = errorLine.substr(0, sizeof message - 2) + "\n";
  std::memcpy(message, line.data(), line.size());
  messageLength = line.size();

  stack_t stack = {};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  sigaltstack(&stack, &previousStack_);

  struct sigaction action = {};
  action.sa_handler = Report;
  action.sa_flags = SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, &previousSegv_);
  sigaction(SIGBUS, &action, &previousBus_);
}

StackOverflowGuard::~StackOverflowGuard()
{
  sigaction(SIGSEGV, &previousSegv_, nullptr);
  sigaction(SIGBUS, &previousBus_, nullptr);
  sigaltstack(&previousStack_, nullptr);
}
