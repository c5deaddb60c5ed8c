// kindex: look at, search, export and import an address book from the command line.
#import <Foundation/Foundation.h>
#import <Kindex/Kindex.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "BookAccess.h"
#include "Commands.h"
#include "KindexOptions.h"
#include "PasswordInput.h"
#include "TextBridge.h"

using namespace kindex;

namespace {

void complain(const std::string &message) {
  std::string line = "kindex: " + message + "\n";
  fwrite(line.data(), 1, line.size(), stderr);
  fflush(stderr);
}

// Once a write failed (a full disk, a reader that went away) the rest is not tried.
int gWriteError = 0;  // errno of the first failed write to standard output

void emit(const std::string &text) {
  if (gWriteError != 0) return;
  if (fwrite(text.data(), 1, text.size(), stdout) != text.size()) gWriteError = errno ? errno : EIO;
}

bool readInput(const std::string &path, std::string &content) {
  if (path == "-") {
    content.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return !std::cin.bad();
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  // Read in one go where the size is known: a stream buffer copies a large file several times.
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size > 0) {
    content.resize(static_cast<size_t>(size));
    in.read(&content[0], size);
    content.resize(static_cast<size_t>(in.gcount()));
  }
  // A file that grew meanwhile, or one whose size the system does not tell (a pipe).
  std::ostringstream rest;
  rest << in.rdbuf();
  content += rest.str();
  return !in.bad();
}

// The library and GNUstep log their troubles through NSLog, with a date and process prefix;
// kindex already says in one line what went wrong, so by default those lines are dropped.
void dropLogLine(NSString *message) {}

int runCommand(const Options &options, KXAddressBook *book, ImportFile &input) {
  const std::string &command = options.command;
  if (command == "list") return listPeople(book, emit);
  if (command == "search") return searchPeople(book, options.argument, emit, complain);
  if (command == "groups") return listGroups(book, emit);
  if (command == "show") return showRecord(book, options.argument, emit, complain);
  if (command == "export") return exportCards(book, options.vcard4, emit);
  if (command == "delete") return deleteRecord(book, options.argument, emit, complain);
  if (command == "edit") return editRecord(book, options.argument, emit, complain);
  return importCards(book, input, emit, complain);
}

int run(const std::vector<std::string> &args) {
  Options options;
  std::string error;
  if (!parseOptions(args, options, error)) {
    complain(error + " (kindex --help shows the usage)");
    return kExitUsage;
  }
  if (!options.verbose) _NSLog_printf_handler = dropLogLine;
  if (options.command == "help") {
    emit(usageText());
    return kExitOK;
  }
  // The file comes first, so that a typo in its name costs no password prompt.
  std::string input;
  if (options.command == "import" && !readInput(options.argument, input)) {
    complain("cannot read " + options.argument + ": " + std::strerror(errno));
    return kExitFailure;
  }
  ImportFile importFile;
  int status = kExitOK;
  if (options.command == "import" &&
      !readImportFile(options.argument == "-" ? "standard input" : options.argument, input, importFile, emit,
                      complain, status))
    return status;
  std::string password;
  if (options.remote()) {
    bool ok =
        options.passwordFile.empty()
            ? readPasswordFromTerminal(
                  "Password for " + options.host + ":" + std::to_string(options.port) + ": ", password, error)
            : readPasswordFile(options.passwordFile, password, error);
    if (!ok) {
      complain(error);
      return kExitFailure;
    }
  }
  BookAccess access;
  bool changes = options.command == "import" || options.command == "delete" || options.command == "edit";
  Access mode = changes ? Access::ReadWrite : Access::ReadOnly;
  if (!access.open(options, mode, password, error)) {
    complain(error);
    return kExitFailure;
  }
  @try {
    status = runCommand(options, access.book(), importFile);
  } @catch (id) {
    // Not looked at: after a failed remote call the exception object may already be gone.
    complain(options.remote() ? "lost the connection to the server" : "the book failed");
    return kExitFailure;
  }
  if (gWriteError == 0 && fflush(stdout) != 0) gWriteError = errno ? errno : EIO;
  if (gWriteError != 0) {
    // A reader that stopped early (kindex list | head) is no error worth a message.
    if (gWriteError != EPIPE)
      complain(std::string("cannot write to standard output: ") + std::strerror(gWriteError));
    return kExitFailure;
  }
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  NSAutoreleasePool *pool = [[NSAutoreleasePool alloc] init];
  std::vector<std::string> args(argv + 1, argv + argc);
  int status = run(args);
  // The pool is left as it is: the book is closed by now, and handing back each object of a large
  // book (a second's work for 100,000 cards) only delays the end of the process.
  (void)pool;
  return status;
}
