// The command line of kindex, parsed without touching any book:
//   kindex [--verbose] [--book DIR | --server HOST:PORT [--password-file FILE]] COMMAND [ARGUMENT]
#pragma once

#include <string>
#include <vector>

namespace kindex {

enum ExitStatus {
  kExitOK = 0,
  kExitFailure = 1,      // the command could not be carried out
  kExitUsage = 2,        // the command line is wrong
  kExitCardsSkipped = 3  // import: the good cards were saved, malformed ones skipped
};

struct Options {
  std::string command;   // list, show, search, groups, export, import, delete, edit, help
  std::string argument;  // ID, TEXT or FILE
  bool vcard4 = false;   // export --vcard4
  std::string bookDir;   // --book
  std::string host;      // --server, split
  int port = 0;
  std::string passwordFile;  // --password-file
  bool verbose = false;      // --verbose: let the library's and GNUstep's log lines through
  bool remote() const { return !host.empty(); }
};

// Fills `options` from argv (without the program name); on failure gives false and a one-line
// message (without the program name or a line break).
bool parseOptions(const std::vector<std::string> &args, Options &options, std::string &error);

// HOST:PORT, with an optional [ ] around an IPv6 host; the port must be 1 to 65535.
bool parseServerAddress(const std::string &text, std::string &host, int &port);

// The usage text, for --help and after a usage error.
std::string usageText();

}  // namespace kindex
