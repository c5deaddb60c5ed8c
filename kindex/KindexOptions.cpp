#include "KindexOptions.h"

#include <cstdlib>

namespace kindex {

namespace {

struct CommandShape {
  const char *name;
  bool takesArgument;
};

const CommandShape kCommands[] = {{"list", false},   {"show", true},    {"search", true},
                                  {"groups", false}, {"export", false}, {"import", true},
                                  {"delete", true},  {"edit", true},    {"help", false}};

}  // namespace

std::string usageText() {
  return "Usage: kindex [--verbose] [--book DIR | --server HOST:PORT [--password-file FILE]]\n"
         "              COMMAND\n"
         "Commands:\n"
         "  list          every person: ID, name and e-mail, one per line\n"
         "  show ID       everything about one person or group\n"
         "  search TEXT   persons whose names, e-mails or organisation contain TEXT\n"
         "  groups        every group: ID, name and number of members\n"
         "  export        every person and group as vCard 3.0 on standard output\n"
         "                (--vcard4: as vCard 4.0)\n"
         "  import FILE   the cards of a vCard file (- for standard input): a card whose\n"
         "                UID the book holds updates that record, others are added\n"
         "  delete ID     remove one person or group\n"
         "  edit ID       edit one person or group as a vCard in $EDITOR\n"
         "Without --book or --server, kindex works on your shared address book.\n"
         "With --server, the password is read from FILE or asked for on the terminal.\n"
         "--verbose also shows the log lines of the library and of GNUstep.\n";
}

bool parseServerAddress(const std::string &text, std::string &host, int &port) {
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (host.empty()) return false;
  std::string digits = text.substr(colon + 1);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  port = std::atoi(digits.c_str());
  return port >= 1 && port <= 65535;
}

bool parseOptions(const std::vector<std::string> &args, Options &options, std::string &error) {
  std::vector<std::string> words;
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg.compare(0, 1, "-") != 0 || arg == "-") {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      options.command = "help";
      return true;
    }
    if (arg == "--verbose" || arg == "-v") {
      options.verbose = true;
      continue;
    }
    if (arg == "--vcard4") {
      options.vcard4 = true;
      continue;
    }
    if (arg == "--password" || arg.compare(0, 11, "--password=") == 0) {
      error =
          "passwords are not taken on the command line, where other users can see them; "
          "use --password-file FILE or type it when asked";
      return false;
    }
    bool known = arg == "--book" || arg == "--server" || arg == "--password-file";
    if (!known) {
      error = "unknown option " + arg;
      return false;
    }
    if (i + 1 == args.size()) {
      error = arg + " needs a value";
      return false;
    }
    const std::string &value = args[++i];
    if (arg == "--book") {
      options.bookDir = value;
    } else if (arg == "--server") {
      if (!parseServerAddress(value, options.host, options.port)) {
        error = "--server wants HOST:PORT with a port from 1 to 65535, not '" + value + "'";
        return false;
      }
    } else {
      options.passwordFile = value;
    }
  }
  if (!options.bookDir.empty() && options.remote()) {
    error = "--book and --server cannot be used together";
    return false;
  }
  if (!options.passwordFile.empty() && !options.remote()) {
    error = "--password-file only goes with --server";
    return false;
  }
  if (words.empty()) {
    error = "no command given";
    return false;
  }
  options.command = words[0];
  if (options.vcard4 && options.command != "export") {
    error = "--vcard4 only goes with export";
    return false;
  }
  for (const CommandShape &shape : kCommands) {
    if (options.command != shape.name) continue;
    size_t wanted = shape.takesArgument ? 2 : 1;
    if (words.size() != wanted) {
      error = shape.takesArgument ? options.command + " takes one argument"
                                  : options.command + " takes no argument";
      return false;
    }
    if (shape.takesArgument) options.argument = words[1];
    return true;
  }
  error = "unknown command " + options.command;
  return false;
}

}  // namespace kindex
