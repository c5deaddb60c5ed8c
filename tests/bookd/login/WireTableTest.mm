// What a client sees on the wire, byte for byte, for every kind of input the login service
// can get, and the connection's permission flags on the server's own record afterwards.
#import "ServiceHarness.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using harness::Client;

enum class End { Open, Closed };

struct Row {
  const char *name;
  // Each pair is one read the server gets (sent alone, after the previous reply arrived)
  // and the bytes it must answer with; "" after the input that ends the connection.
  std::vector<std::pair<std::string, std::string>> reads;
  End end;
  bool readOK;
  bool writeOK;
};

const std::string kRw = harness::kReadWritePasswordBytes;
const std::string kOk = "OK\n";
const std::string kErr = "Error\n";

std::string zero(const std::string &before, const std::string &after) {
  return before + std::string(1, '\0') + after;
}

const std::vector<Row> &Rows() {
  static const std::vector<Row> rows = {
      {"greeting only", {}, End::Open, false, false},
      {"ro login", {{"auth ro secret\n", kOk}}, End::Open, true, false},
      {"rw login, tab-led non-ASCII password", {{"auth rw " + kRw + "\n", kOk}}, End::Open, true, true},
      {"ro password on rw", {{"auth rw secret\n", kErr}}, End::Open, false, false},
      {"rw password on ro", {{"auth ro " + kRw + "\n", kErr}}, End::Open, false, false},
      {"AUTH in capitals", {{"AUTH ro secret\n", kErr}}, End::Open, false, false},
      {"RO in capitals", {{"auth RO secret\n", kErr}}, End::Open, false, false},
      {"wrong password case", {{"auth ro Secret\n", kErr}}, End::Open, false, false},
      {"password missing", {{"auth ro\n", kErr}, {"auth ro \n", kErr}}, End::Open, false, false},
      {"auth alone", {{"auth\n", kErr}}, End::Open, false, false},
      {"one word too many", {{"auth ro secret more\n", kErr}}, End::Open, false, false},
      {"double space", {{"auth  ro secret\n", kErr}, {"auth ro  secret\n", kErr}}, End::Open, false, false},
      {"tabs between words", {{"auth\tro\tsecret\n", kErr}}, End::Open, false, false},
      {"CR LF", {{"auth ro secret\r\n", kOk}}, End::Open, true, false},
      {"blanks around", {{" \t auth ro secret \t \n", kOk}}, End::Open, true, false},
      {"no line break", {{"auth ro secret", kOk}}, End::Open, true, false},
      {"empty line", {{"\n", kErr}}, End::Open, false, false},
      {"blank line", {{"  \t \r\n", kErr}}, End::Open, false, false},
      {"quit", {{"quit\n", ""}}, End::Closed, false, false},
      {"quit with words", {{"quit now please\n", ""}}, End::Closed, false, false},
      {"quit after a login", {{"auth rw " + kRw + "\n", kOk}, {"quit\n", ""}}, End::Closed, true, true},
      {"quitx", {{"quitx\n", kErr}}, End::Open, false, false},
      {"unknown command", {{"hello\n", kErr}}, End::Open, false, false},
      {"login and quit in one read", {{"auth ro secret\nquit\n", kErr}}, End::Open, false, false},
      {"command split over two reads", {{"auth ro ", kErr}, {"secret\n", kErr}}, End::Open, false, false},
      {"zero byte ends quit", {{zero("quit", "garbage\n"), ""}}, End::Closed, false, false},
      {"zero byte ends login", {{zero("auth ro secret", " more\n"), kOk}}, End::Open, true, false},
      {"zero byte first", {{zero("", "auth ro secret\n"), kErr}}, End::Open, false, false},
      {"bytes that are no UTF-8", {{"auth ro \xff\xfe\n", kErr}}, End::Open, false, false},
      {"failed auth keeps rw",
       {{"auth rw " + kRw + "\n", kOk}, {"auth ro nope\n", kErr}, {"quitx\n", kErr}},
       End::Open,
       true,
       true},
      {"ro after rw takes write away",
       {{"auth rw " + kRw + "\n", kOk}, {"auth ro secret\n", kOk}},
       End::Open,
       true,
       false},
      {"rw after ro", {{"auth ro secret\n", kOk}, {"auth rw " + kRw + "\n", kOk}}, End::Open, true, true},
  };
  return rows;
}

class WireTable : public harness::ServiceTest {};

TEST_F(WireTable, EveryInputGetsItsExactReplyAndFlags) {
  for (const Row &row : Rows()) {
    SCOPED_TRACE(row.name);
    Client client;
    ASSERT_TRUE(client.connectTo(port_));
    std::string expected = "Hello\n";
    // The greeting comes before anything the client sends is read.
    ASSERT_TRUE(client.waitForBytes(expected.size()));
    EXPECT_EQ(expected, client.received());

    for (const auto &read : row.reads) {
      client.sendBytes(read.first);
      expected += read.second;
      if (read.second.empty()) break;
      ASSERT_TRUE(client.waitForBytes(expected.size())) << "got: " << client.received();
    }
    if (row.end == End::Closed) {
      EXPECT_TRUE(client.waitForClose());
      EXPECT_EQ(expected, client.received());
      EXPECT_EQ(0u, openConnections());
      continue;
    }
    harness::runFor(0.02);  // anything more the server might wrongly send
    client.poll();
    EXPECT_EQ(expected, client.received());
    EXPECT_FALSE(client.peerClosed());
    ASSERT_EQ(1u, openConnections());
    FileHandleAuth *auth = [[server_ connections] objectAtIndex:0];
    EXPECT_EQ(row.readOK, (bool)[auth isReadOK]);
    EXPECT_EQ(row.writeOK, (bool)[auth isWriteOK]);

    // Closing our side is the end of the stream: the record goes, without a word.
    client.closeNow();
    EXPECT_TRUE(harness::runUntil([&] { return openConnections() == 0; }));
  }
}

// Connections are independent: one client's login and quit touch no other record.
TEST_F(WireTable, EachConnectionKeepsItsOwnFlags) {
  Client reader, writer, idle;
  ASSERT_TRUE(reader.connectTo(port_));
  ASSERT_TRUE(writer.connectTo(port_));
  ASSERT_TRUE(idle.connectTo(port_));
  ASSERT_TRUE(harness::runUntil([&] { return openConnections() == 3; }));
  for (Client *c : {&reader, &writer, &idle}) ASSERT_TRUE(c->waitForBytes(6));

  reader.sendBytes("auth ro secret\n");
  ASSERT_TRUE(reader.waitForBytes(9));
  writer.sendBytes("auth rw " + kRw + "\n");
  ASSERT_TRUE(writer.waitForBytes(9));

  NSArray *records = [server_ connections];
  int read = 0, write = 0;
  for (NSUInteger i = 0; i < [records count]; i++) {
    FileHandleAuth *auth = [records objectAtIndex:i];
    read += [auth isReadOK] ? 1 : 0;
    write += [auth isWriteOK] ? 1 : 0;
  }
  EXPECT_EQ(2, read);
  EXPECT_EQ(1, write);

  reader.sendBytes("quit\n");
  ASSERT_TRUE(reader.waitForClose());
  ASSERT_TRUE(harness::runUntil([&] { return openConnections() == 2; }));
  idle.sendBytes("auth ro secret\n");
  ASSERT_TRUE(idle.waitForBytes(9));
  EXPECT_EQ("Hello\nOK\n", idle.received());
}

}  // namespace
