// Who may do what: discovery as clients walk it, the four kinds of login against every
// method, the budget of failed logins per client address, and which address counts behind a
// reverse proxy.
#import "DavHarness.h"

#include <string>
#include <vector>

#include "ClientAddress.h"
#include "DavXml.h"

namespace davtest {
namespace {

class Access : public DavTest {};

// The walk of RFC 6764 and RFC 6352 section 7 that iOS, DAVx5 and Thunderbird make, from
// nothing but the server's address to the collection and its cards.
TEST_F(Access, DiscoveryFromTheWellKnownAddress) {
  addKnownCards();
  HttpResponse wellKnown = request("PROPFIND", "/.well-known/carddav", "Depth: 0\r\n");
  EXPECT_EQ(301, wellKnown.status);
  EXPECT_EQ("/", wellKnown.header("location"));

  HttpResponse root = request("PROPFIND", "/", "Depth: 0\r\n", propfind("<d:current-user-principal/>"));
  EXPECT_EQ(401, root.status);
  root = rw("PROPFIND", "/", "Depth: 0\r\n", propfind("<d:current-user-principal/><d:resourcetype/>"));
  ASSERT_EQ(207, root.status);
  const std::string principal = xPathString(root.body, found("/", "d:current-user-principal/d:href"));
  EXPECT_EQ("/principal/", principal);

  HttpResponse home =
      rw("PROPFIND", principal, "Depth: 0\r\n",
         propfind("<c:addressbook-home-set/><d:displayname/><d:principal-URL/><d:resourcetype/>"));
  ASSERT_EQ(207, home.status);
  EXPECT_EQ("", checkXml(home.body, {found(principal, "d:displayname='someone'"),
                                     found(principal, "d:principal-URL/d:href='/principal/'"),
                                     found(principal, "d:resourcetype/d:principal")}));
  const std::string homeSet = xPathString(home.body, found(principal, "c:addressbook-home-set/d:href"));
  EXPECT_EQ("/addressbooks/", homeSet);

  HttpResponse books = rw("PROPFIND", homeSet, "Depth: 1\r\n",
                          propfind("<d:resourcetype/><d:displayname/><d:current-user-privilege-set/>"));
  ASSERT_EQ(207, books.status);
  EXPECT_EQ("", checkXml(books.body,
                         {responses(2), found(homeSet, "d:resourcetype/d:collection"),
                          found(kCollection, "d:resourcetype/c:addressbook"),
                          found(kCollection, "d:displayname='Contacts & Co'"), "count(//c:addressbook)=1"}));

  HttpResponse options = rw("OPTIONS", kCollection);
  EXPECT_EQ("1, 3, addressbook", options.header("dav"));
  HttpResponse cards = rw("PROPFIND", kCollection, "Depth: 1\r\n", propfind("<d:getetag/>"));
  EXPECT_EQ("", checkXml(cards.body, {responses(5)}));
  EXPECT_EQ(200, rw("GET", kUmlaut).status);
}

// Every method under each kind of login. A read-only login reads everything and changes
// nothing; no login and a wrong one get the same 401.
TEST_F(Access, EveryMethodUnderEveryLogin) {
  const std::string none = "";
  const std::string wrong = basicAuth("wrong");
  const std::string ro = basicAuth(kReadOnlyPassword);
  const std::string rwAuth = basicAuth(kReadWritePassword);
  const std::string card = "Content-Type: text/vcard\r\n";
  const struct {
    const char *method;
    std::string path, headers, body;
    int roStatus, rwStatus;
  } rows[] = {
      {"OPTIONS", kCollection, "", "", 200, 200},
      {"GET", kAlice, "", "", 200, 200},
      {"HEAD", kAlice, "", "", 200, 200},
      {"PROPFIND", kCollection, "Depth: 1\r\n", propfind("<d:getetag/>"), 207, 207},
      {"REPORT", kCollection, "", syncReport(""), 207, 207},
      {"PUT", "/addressbooks/book/new.vcf", card, kxtest::Card("new", "New"), 403, 201},
      {"PUT", kAlice, card + "If-Match: \"1-3\"\r\n", kxtest::Card("alice", "Changed"), 403, 204},
      {"DELETE", kBob, "", "", 403, 204},
      {"PROPPATCH", kCollection, "",
       std::string("<d:propertyupdate") + kNamespaces +
           "><d:set><d:prop><d:displayname>x</d:displayname></d:prop></d:set></d:propertyupdate>",
       403, 207},
      {"MKCOL", "/addressbooks/more/", "", "", 403, 403},
      {"COPY", kAlice, "Destination: /addressbooks/book/copy.vcf\r\n", "", 403, 403},
  };
  std::string unauthorizedBody;
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string(row.method) + " " + row.path);
    collection_ = kxtest::MemoryCollection();
    addKnownCards();
    const bool head = std::string(row.method) == "HEAD";
    for (const std::string *login : {&none, &wrong}) {
      HttpResponse answer = request(row.method, row.path, *login + row.headers, row.body);
      EXPECT_EQ(401, answer.status);
      EXPECT_EQ("Basic realm=\"Kindex\", charset=\"UTF-8\"", answer.header("www-authenticate"));
      if (!head) {
        if (unauthorizedBody.empty()) unauthorizedBody = answer.body;
        EXPECT_EQ(unauthorizedBody, answer.body);
      }
    }
    const std::string before = collection_.syncToken();
    EXPECT_EQ(row.roStatus, request(row.method, row.path, ro + row.headers, row.body).status);
    EXPECT_EQ(before, collection_.syncToken()) << "a read-only login changed the book";
    EXPECT_EQ(aliceCard(), collection_.text(kAliceName));
    EXPECT_EQ(row.rwStatus, request(row.method, row.path, rwAuth + row.headers, row.body).status);
  }
  EXPECT_FALSE(unauthorizedBody.empty());
}

// A read-only client is told it may not write before it tries.
TEST_F(Access, ReadOnlyLoginSeesNoWritePrivilege) {
  const std::string privileges = propfind("<d:current-user-privilege-set/>");
  HttpResponse ro =
      request("PROPFIND", kCollection, basicAuth(kReadOnlyPassword) + "Depth: 0\r\n", privileges);
  EXPECT_EQ(
      "",
      checkXml(ro.body, {found(kCollection, "d:current-user-privilege-set/d:privilege/d:read"),
                         "not(//d:write) and not(//d:bind) and not(//d:unbind) and not(//d:write-content)"}));
  HttpResponse rwAnswer = rw("PROPFIND", kCollection, "Depth: 0\r\n", privileges);
  EXPECT_EQ("", checkXml(rwAnswer.body, {"//d:write", "//d:bind", "//d:unbind", "//d:write-content"}));
}

// The password is compared on its exact bytes; the user name does not matter; an empty
// password in the settings lets nobody in.
TEST_F(Access, PasswordsAreExactBytes) {
  const struct {
    const char *name;
    std::string password, user;
    int status;
  } rows[] = {
      {"rw password with its colon and UTF-8", kReadWritePassword, "anyone", 207},
      {"any user name", kReadOnlyPassword, "", 207},
      {"a trailing space", std::string(kReadOnlyPassword) + " ", "x", 401},
      {"letter case", "LOOKER", "x", 401},
      {"a prefix", "look", "x", 401},
      {"empty", "", "x", 401},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    HttpResponse answer =
        request("PROPFIND", kCollection, basicAuth(row.password, row.user) + "Depth: 0\r\n", "");
    EXPECT_EQ(row.status, answer.status);
  }
  config_.readOnlyPassword = "";
  restart();
  EXPECT_EQ(401, request("PROPFIND", kCollection, basicAuth("") + "Depth: 0\r\n", "").status);
}

// After five failures from an address its passwords are not checked any more: even the right
// one gets the same 401. Another address is not affected, and a client can't pick its own
// address with a header unless it is a trusted proxy.
TEST_F(Access, FailedLoginsAreBoundedPerAddress) {
  const std::string forwarded = "X-Forwarded-For: 192.0.2.7\r\n";
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(401, request("OPTIONS", kCollection, basicAuth("guess") + forwarded).status);
  EXPECT_EQ(401, rw("OPTIONS", kCollection, forwarded).status);
  EXPECT_EQ(401, rw("OPTIONS", kCollection, "X-Forwarded-For: 192.0.2.8\r\n").status);
  EXPECT_FALSE(budget_->mayCheckPassword("127.0.0.1"));

  config_.trustedProxies = {"127.0.0.1"};
  restart();
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(401, request("OPTIONS", kCollection, basicAuth("guess") + forwarded).status);
  EXPECT_EQ(401, rw("OPTIONS", kCollection, forwarded).status);
  EXPECT_EQ(200, rw("OPTIONS", kCollection, "X-Forwarded-For: 192.0.2.8\r\n").status);
  EXPECT_EQ(200, rw("OPTIONS", kCollection, "Forwarded: for=\"[2001:db8::1]:4711\"\r\n").status);
  EXPECT_FALSE(budget_->mayCheckPassword("192.0.2.7"));
  EXPECT_TRUE(budget_->mayCheckPassword("127.0.0.1"));
}

TEST(ClientAddress, OnlyTrustedProxiesAreBelieved) {
  const std::vector<std::string> proxies = {"10.0.0.1", "::1", "10.0.0.2"};
  const struct {
    const char *name;
    std::string peer;
    const char *forwarded;
    const char *xff;
    std::string client;
  } rows[] = {
      {"untrusted peer", "192.0.2.1", nullptr, "198.51.100.1", "192.0.2.1"},
      {"trusted peer, one hop", "10.0.0.1", nullptr, "198.51.100.1", "198.51.100.1"},
      {"the last untrusted entry, not one the client put first", "10.0.0.1", nullptr,
       "203.0.113.9, 198.51.100.1", "198.51.100.1"},
      {"proxies in the chain are skipped", "10.0.0.1", nullptr, "198.51.100.1, 10.0.0.2", "198.51.100.1"},
      {"only proxies: the peer", "10.0.0.1", nullptr, "10.0.0.2", "10.0.0.1"},
      {"no header: the peer", "10.0.0.1", nullptr, nullptr, "10.0.0.1"},
      {"garbage: the peer", "10.0.0.1", nullptr, "not-an-address", "10.0.0.1"},
      {"Forwarded wins over X-Forwarded-For", "::1", "for=198.51.100.2;proto=https", "198.51.100.1",
       "198.51.100.2"},
      {"Forwarded with IPv6 and port", "::1", "for=\"[2001:DB8::a]:4711\"", nullptr, "2001:db8::a"},
      {"Forwarded, IPv4 with port, several elements", "::1", "for=203.0.113.9, for=198.51.100.3:80", nullptr,
       "198.51.100.3"},
      {"IPv4-mapped peer", "::ffff:10.0.0.1", nullptr, "198.51.100.1", "198.51.100.1"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.client,
              carddav::clientAddressOf(carddav::canonicalAddress(row.peer), proxies, row.forwarded, row.xff));
  }
}

}  // namespace
}  // namespace davtest
