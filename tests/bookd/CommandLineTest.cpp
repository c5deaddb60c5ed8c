// bookd's command line and configuration file, driven through the real binary: each
// refusal must be its exact bytes on standard error with status 255, and each accepted
// combination must come up with the ports the settings call for.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FileBytes.h"
#include "LoopbackPort.h"
#include "TempDir.h"

using kxtest::ChildProcess;

namespace {

const char kUsage[] =
    "Usage: bookd\n"
    "       [--ab LOC] [--ro PWD] [--rw PWD] [--conf CFILE]\n"
    "       [--rp PORT] [--sp port]\n"
    "Options:\n"
    "\t--ab LOC     Serve address book at the given location\n"
    "\t--ro PWD     Use PASS as read-only access password\n"
    "\t--rw PWD     Use PASS as read-write access password\n"
    "\t--rp PORT    Use PORT as receive port number\n"
    "\t--sp PORT    Use PORT as send port number\n"
    "\t--sock PORT  Use PORT as socket port number (default: 5000)\n"
    "\t--dav PORT   Serve the book over CardDAV on PORT (default: off)\n"
    "\t--conf CFILE Read values for AddressBookLocation, \n"
    "\t             ReadOnlyPassword, ReadWritePassword,\n"
    "\t             SendPort, ReceivePort from CONFIGFILE\n"
    "\t             (proplist dictionary). Values given on\n"
    "\t             the command line override these.\n";

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tmp_.path();
    vars_["BOOK"] = dir_ + "/book";
    mkdir(vars_["BOOK"].c_str(), 0700);
    vars_["MISSING"] = dir_ + "/missing.plist";
    vars_["RP"] = std::to_string(kxtest::freePort());
    vars_["SP"] = std::to_string(kxtest::freePort());
    vars_["RP2"] = std::to_string(kxtest::freePort());
  }
  // Writes a configuration file named name and makes {name} stand for its path.
  void config(const std::string &name, const std::string &content) {
    vars_[name] = dir_ + "/" + name;
    kxtest::writeFile(vars_[name], expand(content));
  }

  std::string expand(std::string text) const {
    for (const auto &var : vars_) {
      const std::string key = "{" + var.first + "}";
      for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
        text.replace(at, key.size(), var.second);
    }
    return text;
  }

  // Every setting bookd needs, the socket login service off, then extra.
  static std::vector<std::string> with(const std::vector<std::string> &extra) {
    std::vector<std::string> args = {"--ab", "{BOOK}", "--ro", "a",    "--rw",   "b",
                                     "--rp", "{RP}",   "--sp", "{SP}", "--sock", "-1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  std::vector<std::string> argv(const std::vector<std::string> &args) const {
    std::vector<std::string> full{"bookd"};
    for (const auto &a : args) full.push_back(expand(a));
    return full;
  }

  kxtest::TempDir tmp_{"bookd-cli"};
  std::string dir_;
  std::map<std::string, std::string> vars_;
};

struct Refusal {
  std::vector<std::string> args;
  std::string error;  // exact standard error; "USAGE" for the usage text
};

// With afterLogLines, the library or GNUstep may log why first (lines through NSLog); what
// bookd itself writes must still be the last bytes, exactly.
void expectRefusal(CommandLine &fixture, const std::vector<std::string> &argv, const std::string &expected,
                   bool afterLogLines = false) {
  ChildProcess bookd;
  ASSERT_TRUE(bookd.start(BOOKD_PATH, argv));
  ASSERT_TRUE(bookd.waitForExit(30)) << "still running; stderr so far: " << bookd.error();
  EXPECT_EQ(bookd.status(), 255);
  if (afterLogLines && bookd.error().size() > expected.size()) {
    const std::string &err = bookd.error();
    EXPECT_EQ(err.substr(err.size() - expected.size()), expected) << err;
    EXPECT_EQ(err[err.size() - expected.size() - 1], '\n') << err;
    EXPECT_EQ(err.find("Running."), std::string::npos) << err;
  } else {
    EXPECT_EQ(bookd.error(), expected);
  }
  EXPECT_EQ(bookd.output(), "");
}

TEST_F(CommandLine, RefusesBadArgumentsWithUsage) {
  const std::vector<std::vector<std::string>> rows = {
      {"--ab"},
      {"--bogus", "x"},
      {"--ab", "{BOOK}", "--ro", "a", "extra"},
      {"--ab", "{BOOK}", "--rw", "b", "--rp"},
      {"--AB", "{BOOK}"},
      {"-ab", "{BOOK}"},
      {"--ab={BOOK}"},
      {""},
      // The walk ends before any configuration file is read.
      {"--ab", "{BOOK}", "--conf", "{MISSING}", "--bogus"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row));
    expectRefusal(*this, argv(row), kUsage);
  }
}

TEST_F(CommandLine, RefusesMissingSettingsInOrder) {
  config("noSend.plist",
         "{ AddressBookLocation = \"{BOOK}\"; ReadOnlyPassword = r; ReadWritePassword = w;"
         "  ReceivePort = {RP}; }");
  config("empty.plist", "{ }");
  const std::vector<Refusal> rows = {
      {{}, "Error: No value for AddressBookLocation\n"},
      {{"--conf", "{empty.plist}"}, "Error: No value for AddressBookLocation\n"},
      {{"--ro", "a", "--rw", "b", "--rp", "{RP}", "--sp", "{SP}"},
       "Error: No value for AddressBookLocation\n"},
      // "--ab" swallows "--ro" as its value.
      {{"--ab", "--ro", "--rw", "b", "--rp", "{RP}", "--sp", "{SP}"},
       "Error: No value for ReadOnlyPassword\n"},
      {{"--ab", "{BOOK}", "--rw", "b"}, "Error: No value for ReadOnlyPassword\n"},
      {{"--ab", "{BOOK}", "--ro", "a", "--rp", "{RP}", "--sp", "{SP}"},
       "Error: No value for ReadWritePassword\n"},
      {{"--ab", "{BOOK}", "--ro", "a", "--rw", "b", "--sp", "{SP}"}, "Error: Receive port is invalid\n"},
      {{"--ab", "{BOOK}", "--ro", "a", "--rw", "b", "--rp", "-1", "--sp", "{SP}"},
       "Error: Receive port is invalid\n"},
      {{"--ab", "{BOOK}", "--ro", "a", "--rw", "b", "--rp", "{RP}"}, "Error: Send port is invalid\n"},
      {{"--conf", "{noSend.plist}"}, "Error: Send port is invalid\n"},
      {{"--conf", "{noSend.plist}", "--sp", "-1"}, "Error: Send port is invalid\n"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    expectRefusal(*this, argv(row.args), row.error);
  }
}

TEST_F(CommandLine, RefusesUnreadableConfiguration) {
  config("array.plist", "( a, b )");
  config("string.plist", "hello");
  config("empty.plist", "");
  config("broken.plist", "{ AddressBookLocation = ");
  config("arrayLocation.plist", "{ AddressBookLocation = ( a ); }");
  config("dictPassword.plist", "{ ReadOnlyPassword = { a = b; }; }");
  config("arrayPort.plist", "{ ReceivePort = ( 1 ); }");
  config("dictListen.plist", "{ ListenAddress = { a = b; }; }");
  config("wordFlag.plist", "{ CardDAVAllowPlainHTTP = maybe; }");
  config("nestedProxies.plist", "{ CardDAVTrustedProxies = ( ( a ) ); }");
  const std::vector<std::string> all = {"--ab", "{BOOK}", "--ro", "a",    "--rw",
                                        "b",    "--rp",   "{RP}", "--sp", "{SP}"};
  const char *message = "Error: %s could not be read or doesn't containa valid dictionary!\n";
  for (const char *file : {"MISSING", "array.plist", "string.plist", "empty.plist", "broken.plist",
                           "arrayLocation.plist", "dictPassword.plist", "arrayPort.plist", "dictListen.plist",
                           "wordFlag.plist", "nestedProxies.plist"}) {
    SCOPED_TRACE(file);
    // Even with every setting on the command line, a named file must be readable.
    std::vector<std::string> args = all;
    args.push_back("--conf");
    args.push_back(std::string("{") + file + "}");
    std::string expected = message;
    expected.replace(expected.find("%s"), 2, expand(std::string("{") + file + "}"));
    expectRefusal(*this, argv(args), expected);
  }
}

TEST_F(CommandLine, RefusesListenAddressesNoServiceCanUse) {
  config("badListen.plist", "{ ListenAddress = \"1.2.3\"; }");
  config("v6Listen.plist", "{ ListenAddress = \"2001:db8::1\"; }");
  const std::vector<Refusal> rows = {
      {with({"--listen", "bogus"}), "Error: bogus is not an IPv4 or IPv6 address to listen on\n"},
      {with({"--listen", ""}), "Error:  is not an IPv4 or IPv6 address to listen on\n"},
      {with({"--listen", "[::1]"}), "Error: [::1] is not an IPv4 or IPv6 address to listen on\n"},
      {with({"--listen", "127.0.0.1:7000"}),
       "Error: 127.0.0.1:7000 is not an IPv4 or IPv6 address to listen on\n"},
      {with({"--conf", "{badListen.plist}"}), "Error: 1.2.3 is not an IPv4 or IPv6 address to listen on\n"},
      {with({"--listen", "fd00::2"}),
       "Error: Distributed Objects can't listen on fd00::2: GNUstep's socket ports are IPv4 only\n"},
      {with({"--conf", "{v6Listen.plist}"}),
       "Error: Distributed Objects can't listen on 2001:db8::1: GNUstep's socket ports are IPv4 only\n"},
      // The command line wins over the file here too.
      {with({"--conf", "{badListen.plist}", "--listen", "nowhere"}),
       "Error: nowhere is not an IPv4 or IPv6 address to listen on\n"},
      // Missing settings are still named first.
      {{"--listen", "bogus"}, "Error: No value for AddressBookLocation\n"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    expectRefusal(*this, argv(row.args), row.error);
  }
  // An address of no interface here: GNUstep says why first, then bookd's own line.
  expectRefusal(*this, argv(with({"--listen", "203.0.113.7"})),
                expand("Error: Couldn't open receive port {RP} on 203.0.113.7\n"), true);
}

// The CardDAV service is checked with the other settings, and a service that cannot listen
// stops the server before it says it runs.
TEST_F(CommandLine, RefusesCardDavSettingsItCannotServe) {
  config("halfTls.plist", "{ CardDAVCertificate = \"/nowhere/cert.pem\"; }");
  config("badProxy.plist", "{ CardDAVTrustedProxies = ( \"127.0.0.1\", \"proxy.example\" ); }");
  config("davPort.plist", "{ CardDAVPort = 70000; }");
  const std::vector<Refusal> rows = {
      {with({"--dav", "0"}), "Error: CardDAV port is invalid\n"},
      {with({"--dav", "http"}), "Error: CardDAV port is invalid\n"},
      {with({"--conf", "{davPort.plist}"}), "Error: CardDAV port is invalid\n"},
      {with({"--dav", "{RP2}", "--dav-listen", "localhost"}),
       "Error: localhost is not an IPv4 or IPv6 address to listen on\n"},
      {with({"--dav", "{RP2}", "--conf", "{halfTls.plist}"}),
       "Error: CardDAVCertificate and CardDAVKey must be given together\n"},
      {with({"--dav", "{RP2}", "--conf", "{badProxy.plist}"}),
       "Error: proxy.example is not an IPv4 or IPv6 address of a proxy\n"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.args));
    expectRefusal(*this, argv(row.args), row.error);
  }
  // Passwords would cross the network in the clear.
  expectRefusal(*this, argv(with({"--dav", "{RP2}", "--dav-listen", "0.0.0.0"})),
                "Error: CardDAV: refusing plain HTTP on 0.0.0.0, which is not a loopback address: passwords "
                "would cross the network unencrypted. Give a certificate and key, or allow plain HTTP when a "
                "TLS proxy is in front\n",
                true);
  // The receive port is bookd's own by then.
  expectRefusal(*this, argv(with({"--dav", "{RP}"})),
                expand("Error: CardDAV: couldn't listen on 127.0.0.1 port {RP}\n"), true);
}

TEST_F(CommandLine, RefusesBookThatDoesNotOpen) {
  kxtest::writeFile(dir_ + "/plainfile", "not a book");
  const std::pair<std::string, std::string> rows[] = {
      {"/nonexistent/book", "/nonexistent/book does not exist"},
      {dir_ + "/plainfile", dir_ + "/plainfile is a file, not a directory holding an address book"},
      {"", "no location given for the address book"},
      {"/no/%d%s%@/here", "/no/%d%s%@/here does not exist"},
  };
  for (const auto &row : rows) {
    const std::string &location = row.first;
    SCOPED_TRACE(location);
    expectRefusal(
        *this,
        argv({"--ab", location, "--ro", "a", "--rw", "b", "--rp", "{RP}", "--sp", "{SP}", "--sock", "-1"}),
        "Error: " + location + " isn't a valid AddressBookLocation\nReason: " + row.second + "\n", true);
  }
}

TEST_F(CommandLine, RefusesReceivePortInUse) {
  int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t len = sizeof addr;
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr *>(&addr), &len), 0);
  const std::string busy = std::to_string(ntohs(addr.sin_port));
  expectRefusal(
      *this, argv({"--ab", "{BOOK}", "--ro", "a", "--rw", "b", "--rp", busy, "--sp", "{SP}", "--sock", "-1"}),
      "Error: Couldn't open receive port " + busy + "\n", true);
  close(holder);
}

// What a started bookd logged about its two ports, as (setting, number opened).
struct PortLines {
  long receiveSetting = 0, receiveOpened = -1;
  long sendSetting = 0, sendOpened = -1;
};

bool parsePortLines(const std::string &log, PortLines &lines) {
  std::smatch m;
  static const std::regex receive("Sendport at (-?[0-9]+): <[^>]*,([0-9]+)>\n");
  static const std::regex send("Receiveport at (-?[0-9]+): <[^>]*,([0-9]+)>\n");
  if (!std::regex_search(log, m, receive)) return false;
  lines.receiveSetting = std::stol(m[1]);
  lines.receiveOpened = std::stol(m[2]);
  if (!std::regex_search(log, m, send)) return false;
  lines.sendSetting = std::stol(m[1]);
  lines.sendOpened = std::stol(m[2]);
  return log.find("Sendport at") < log.find("Receiveport at");
}

struct Start {
  std::vector<std::string> args;
  std::string receiveSetting;  // as logged after "Sendport at"
  std::string receiveOpened;   // port number opened; "" when the system picks one
  std::string sendSetting;     // as logged after "Receiveport at"
};

TEST_F(CommandLine, StartsWithPortsFromSettings) {
  config("full.plist",
         "{ AddressBookLocation = \"{BOOK}\"; ReadOnlyPassword = r; ReadWritePassword = w;"
         "  ReceivePort = {RP}; SendPort = \"{SP}\"; Unknown = x; }");
  config("textPort.plist", "{ ReceivePort = \"  {RP}xyz\"; SendPort = {SP}; }");
  const std::vector<std::string> base = {"--ab", "{BOOK}", "--ro", "a", "--rw", "b", "--sock", "-1"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = base;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const std::vector<Start> rows = {
      {with({"--rp", "{RP}", "--sp", "{SP}"}), "{RP}", "{RP}", "{SP}"},
      {with({"--rp", "abc", "--sp", "{SP}"}), "0", "", "{SP}"},
      {with({"--rp", "{RP}", "--sp", "12abc"}), "{RP}", "{RP}", "12"},
      {with({"--rp", "70000", "--sp", "{SP}"}), "70000", "4464", "{SP}"},
      {with({"--rp", "-2", "--sp", "{SP}"}), "-2", "65534", "{SP}"},
      {with({"--rp", "65536", "--sp", "{SP}"}), "65536", "", "{SP}"},
      {with({"--rp", "99999999999", "--sp", "{SP}"}), "2147483647", "65535", "{SP}"},
      {with({"--rp", "{RP}", "--sp", "-99999999999"}), "{RP}", "{RP}", "-2147483648"},
      {with({"--rp", "+{RP}", "--sp", " \t{SP}"}), "{RP}", "{RP}", "{SP}"},
      // The same number for both ports is not refused.
      {with({"--rp", "{RP}", "--sp", "{RP}"}), "{RP}", "{RP}", "{RP}"},
      // A file alone supplies all five settings; text port values read as numbers.
      {{"--conf", "{full.plist}"}, "{RP}", "{RP}", "{SP}"},
      {with({"--conf", "{textPort.plist}"}), "{RP}", "{RP}", "{SP}"},
      // The command line wins, except that -1 there counts as unset.
      {with({"--conf", "{full.plist}", "--rp", "{RP2}"}), "{RP2}", "{RP2}", "{SP}"},
      {with({"--conf", "{full.plist}", "--rp", "-1"}), "{RP}", "{RP}", "{SP}"},
      // Only the last of two files is read.
      {with({"--conf", "{MISSING}", "--conf", "{textPort.plist}"}), "{RP}", "{RP}", "{SP}"},
      // Empty texts are values.
      {{"--ab", "{BOOK}", "--ro", "", "--rw", "", "--sock", "-1", "--rp", "{RP}", "--sp", "{SP}"},
       "{RP}",
       "{RP}",
       "{SP}"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(::testing::PrintToString(argv(row.args)));
    ChildProcess bookd;
    ASSERT_TRUE(bookd.start(BOOKD_PATH, argv(row.args)));
    ASSERT_TRUE(bookd.waitForError("Running.\n", 30)) << bookd.error();
    bookd.kill();
    PortLines lines;
    ASSERT_TRUE(parsePortLines(bookd.error(), lines)) << bookd.error();
    EXPECT_EQ(std::to_string(lines.receiveSetting), expand(row.receiveSetting));
    if (!row.receiveOpened.empty())
      EXPECT_EQ(std::to_string(lines.receiveOpened), expand(row.receiveOpened));
    else
      EXPECT_NE(lines.receiveOpened, 0);  // the system chose a port
    EXPECT_EQ(std::to_string(lines.sendSetting), expand(row.sendSetting));
    EXPECT_EQ(bookd.error().substr(bookd.error().size() - 9), "Running.\n");
    EXPECT_EQ(bookd.output(), "");
  }
}

}  // namespace
