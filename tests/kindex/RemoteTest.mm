// Over a running bookd, kindex must show exactly what it shows on the book directory itself,
// and the two passwords must open what they promise and nothing more.
#import "ToolFixture.h"

#include <fstream>

namespace {

// bookd serving one book directory on free loopback ports, without the socket login service.
class Server {
 public:
  bool start(const std::string &book) {
    port_ = kxtest::freePort();
    int sendPort = kxtest::freePort();
    if (port_ <= 0 || sendPort <= 0 || port_ == sendPort) return false;
    if (!child_.start(BOOKD_PATH, {"bookd", "--ab", book, "--ro", "reader pass", "--rw", "writer", "--rp",
                                   std::to_string(port_), "--sp", std::to_string(sendPort), "--sock", "-1"}))
      return false;
    return child_.waitForError("Running.\n", 20);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string log() const { return child_.error(); }

 private:
  kxtest::ChildProcess child_;  // killed when the test ends
  int port_ = -1;
};

}  // namespace

TEST_F(ToolTest, RemoteReadOnlyListingMatchesTheLocalOne) {
  KXLocalAddressBook *book = open(dir("served"));
  KXPerson *zoe = person([NSString stringWithUTF8String:"Zoë"], @"Ørsted",
                         {{@"z@example.dk", KXEmailWorkLabel}, {@"z@home.dk", KXEmailHomeLabel}});
  KXPerson *ada = person(@"Ada", @"Lovelace", {{@"ada@example.org", KXEmailWorkLabel}});
  [book addRecord:zoe];
  [book addRecord:ada];
  group(book, @"Friends", [NSArray arrayWithObjects:zoe, ada, nil]);
  ASSERT_TRUE([book save]);
  std::string served = tmp_.file("served");
  std::string zoeId = [[zoe uniqueId] UTF8String];

  std::vector<std::vector<std::string>> commands = {
      {"list"}, {"groups"}, {"search", "ORSTED"}, {"search", "ørsted"}, {"show", zoeId}, {"export"}};
  std::vector<ToolRun> local;
  for (const auto &command : commands) {
    std::vector<std::string> args = {"--book", served};
    args.insert(args.end(), command.begin(), command.end());
    local.push_back(kindex(args));
  }

  Server server;
  ASSERT_TRUE(server.start(served)) << server.log();
  std::string ro = write("ro", "reader pass\n");  // one final line break is not the password's
  std::string rw = write("rw", "writer");
  for (size_t i = 0; i < commands.size(); ++i) {
    std::vector<std::string> args = {"--server", server.address(), "--password-file", ro};
    args.insert(args.end(), commands[i].begin(), commands[i].end());
    ToolRun remote = kindex(args);
    EXPECT_EQ(remote.status, 0) << commands[i][0] << ": " << remote.err;
    EXPECT_EQ(remote.err, "") << commands[i][0];
    EXPECT_EQ(remote.out, local[i].out) << commands[i][0];
  }

  struct Row {
    const char *name;
    std::string passwordFile;
    const char *command;
    int status;
    std::string err;
  } denied[] = {
      {"wrong password", write("bad", "Reader pass"), "list", 1,
       "kindex: the server at " + server.address() + " refused the password for reading\n"},
      {"read-write password does not read", rw, "list", 1,
       "kindex: the server at " + server.address() + " refused the password for reading\n"},
      {"read-only password does not import", ro, "import", 1,
       "kindex: the server at " + server.address() + " refused the password for changing the book\n"},
      {"missing password file", tmp_.file("none"), "list", 1,
       "kindex: cannot read the password file " + tmp_.file("none") + ": No such file or directory\n"},
  };
  std::string vcf = write("new.vcf", "BEGIN:VCARD\nN:Remote;Rita\nCATEGORIES:Friends\nEND:VCARD\n");
  for (const Row &row : denied) {
    std::vector<std::string> args = {"--server", server.address(), "--password-file", row.passwordFile,
                                     row.command};
    if (std::string(row.command) == "import") args.push_back(vcf);
    ToolRun run = kindex(args);
    EXPECT_EQ(run.status, row.status) << row.name;
    EXPECT_EQ(run.err, row.err) << row.name;
  }

  // The read-write password imports through the server, which saves the served book.
  ToolRun imported = kindex({"--server", server.address(), "--password-file", rw, "import", vcf});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(imported.out, "Imported 1 person and 0 new groups from " + vcf + "\n");
  std::map<std::string, PersonFacts> got = facts(open([NSString stringWithUTF8String:served.c_str()]));
  ASSERT_EQ(got.count("Rita|Remote"), 1u);
  EXPECT_EQ(got["Rita|Remote"].groups, std::set<std::string>{"Friends"});
}

// Whatever stands in the way of a server, kindex ends with one line and status 1, never a
// signal: GNUstep's socket ports cannot use IPv6 addresses and used to crash kindex on them.
TEST_F(ToolTest, AnUnreachableServerIsOneLineAndStatusOne) {
  const std::string port = std::to_string(kxtest::freePort());
  const std::string ipv6 =
      "kindex: ::1 is an IPv6 address, and address-book servers are reached over IPv4 only\n";
  struct Row {
    std::string address;
    std::string err;
  } rows[] = {
      {"127.0.0.1:" + port, "kindex: no address-book server answers at 127.0.0.1:" + port + "\n"},
      {"[::1]:" + port, ipv6},
      {"::1:" + port, ipv6},
      {"[::ffff:127.0.0.1]:" + port,
       "kindex: ::ffff:127.0.0.1 is an IPv6 address, and address-book servers are reached over IPv4 only\n"},
      {"nosuchhost.invalid:" + port, "kindex: cannot find the host nosuchhost.invalid\n"},
  };
  std::string password = write("pw", "x");
  for (const Row &row : rows) {
    ToolRun run = kindex({"--server", row.address, "--password-file", password, "list"});
    EXPECT_EQ(run.status, 1) << row.address << ": " << run.err;
    EXPECT_EQ(run.err, row.err) << row.address;
  }
}
