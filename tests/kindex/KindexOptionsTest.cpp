// The command line decides which book a command touches and must never take a password where
// other users can read it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KindexOptions.h"

using kindex::Options;
using kindex::parseOptions;

TEST(KindexOptions, AcceptsTheDocumentedForms) {
  struct Row {
    const char *name;
    std::vector<std::string> args;
    const char *command, *argument, *book, *host;
    int port;
  } rows[] = {
      {"list on the shared book", {"list"}, "list", "", "", "", 0},
      {"book before command", {"--book", "/tmp/b", "show", "X1"}, "show", "X1", "/tmp/b", "", 0},
      {"book after command", {"search", "ann", "--book", "d"}, "search", "ann", "d", "", 0},
      {"server", {"--server", "127.0.0.1:7001", "groups"}, "groups", "", "", "127.0.0.1", 7001},
      {"IPv6 server", {"--server", "[::1]:80", "export"}, "export", "", "", "::1", 80},
      {"search text after --", {"search", "--", "--x"}, "search", "--x", "", "", 0},
      {"import from standard input", {"import", "-"}, "import", "-", "", "", 0},
  };
  for (const Row &row : rows) {
    Options options;
    std::string error;
    ASSERT_TRUE(parseOptions(row.args, options, error)) << row.name << ": " << error;
    EXPECT_EQ(options.command, row.command) << row.name;
    EXPECT_EQ(options.argument, row.argument) << row.name;
    EXPECT_EQ(options.bookDir, row.book) << row.name;
    EXPECT_EQ(options.host, row.host) << row.name;
    EXPECT_EQ(options.port, row.port) << row.name;
  }
}

TEST(KindexOptions, RefusesWhatItCannotDoSafely) {
  struct Row {
    const char *name;
    std::vector<std::string> args;
    const char *message;  // part of the error
  } rows[] = {
      {"nothing", {}, "no command"},
      {"password on the command line", {"--password", "s3cret", "list"}, "not taken on the command"},
      {"password joined", {"--password=s3cret", "list"}, "not taken on the command"},
      {"unknown command", {"frobnicate"}, "unknown command"},
      {"unknown option", {"-x", "list"}, "unknown option"},
      {"missing value", {"list", "--book"}, "needs a value"},
      {"show without ID", {"show"}, "takes one argument"},
      {"list with extra word", {"list", "all"}, "takes no argument"},
      {"book and server", {"--book", "d", "--server", "h:1", "list"}, "together"},
      {"password file without server", {"--password-file", "f", "list"}, "only goes with"},
      {"port zero", {"--server", "h:0", "list"}, "HOST:PORT"},
      {"port too big", {"--server", "h:65536", "list"}, "HOST:PORT"},
      {"no port", {"--server", "h", "list"}, "HOST:PORT"},
      {"no host", {"--server", ":80", "list"}, "HOST:PORT"},
      {"port with letters", {"--server", "h:80x", "list"}, "HOST:PORT"},
  };
  for (const Row &row : rows) {
    Options options;
    std::string error;
    EXPECT_FALSE(parseOptions(row.args, options, error)) << row.name;
    EXPECT_NE(error.find(row.message), std::string::npos) << row.name << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << row.name;
  }
}
