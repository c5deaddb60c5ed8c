#include "LoginCommand.h"

#include <cstring>

#include "PasswordMatch.h"

namespace login {

const char hello[] = "Hello\n";
const char ok[] = "OK\n";
const char error[] = "Error\n";

std::vector<std::string> splitAtSpaces(const std::string &input) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (;;) {
    std::string::size_type space = input.find(' ', start);
    if (space == std::string::npos) {
      parts.push_back(input.substr(start));
      return parts;
    }
    parts.push_back(input.substr(start, space - start));
    start = space + 1;
  }
}

namespace {

Outcome replyLine(const char *text, Flags flags) {
  Outcome outcome;
  outcome.reply = text;
  outcome.flags = flags;
  return outcome;
}

bool presents(const std::string *stored, const std::string &offered) {
  return stored != nullptr && passwordsMatch(*stored, offered);
}

}  // namespace

Outcome interpret(const std::string *input, const std::string *roPwd, const std::string *rwPwd, Flags current,
                  bool mayCheck) {
  if (input == nullptr) return replyLine(error, current);
  const std::vector<std::string> parts = splitAtSpaces(*input);
  const std::string &command = parts[0];
  if (command == "quit") {
    Outcome outcome;
    outcome.close = true;
    outcome.flags = current;
    return outcome;
  }
  if (command != "auth" || parts.size() != 3) return replyLine(error, current);
  const bool readOnly = parts[1] == "ro";
  if (!readOnly && parts[1] != "rw") return replyLine(error, current);
  // Each password is consulted only after its own keyword, so the read-write password does
  // not open "ro" unless the two happen to be the same.
  const std::string *stored = readOnly ? roPwd : rwPwd;
  Outcome outcome = mayCheck && presents(stored, parts[2]) ? replyLine(ok, Flags{true, !readOnly})
                                                           : replyLine(error, current);
  outcome.attempt = true;
  return outcome;
}

std::size_t lengthUpToZero(const char *bytes, std::size_t length) {
  const void *zero = std::memchr(bytes, 0, length);
  return zero == nullptr ? length : static_cast<std::size_t>(static_cast<const char *>(zero) - bytes);
}

}  // namespace login
