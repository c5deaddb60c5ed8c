// Listen addresses as given on the command line, what Distributed Objects makes of them, and
// the text a peer's budget is kept under (one text for an IPv4 client however it arrives).
#include "NetAddress.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <string>

namespace {

TEST(NetAddress, ListenAddressesAndTheirDistributedObjectsCounterpart) {
  struct Row {
    const char *text;
    bool parses;
    int family;
    const char *objects;  // nullptr: Distributed Objects cannot listen there
  } rows[] = {
      {"127.0.0.1", true, AF_INET, "127.0.0.1"},
      {"192.0.2.7", true, AF_INET, "192.0.2.7"},
      {"0.0.0.0", true, AF_INET, ""},
      {"::", true, AF_INET6, ""},
      {"::1", true, AF_INET6, "127.0.0.1"},
      {"::ffff:192.0.2.7", true, AF_INET6, "192.0.2.7"},
      {"::ffff:0.0.0.0", true, AF_INET6, ""},
      {"fd00::2", true, AF_INET6, nullptr},
      {"", false, 0, nullptr},
      {"localhost", false, 0, nullptr},
      {"1.2.3", false, 0, nullptr},
      {"256.1.1.1", false, 0, nullptr},
      {" 127.0.0.1", false, 0, nullptr},
      {"127.0.0.1 ", false, 0, nullptr},
      {"[::1]", false, 0, nullptr},
      {"fe80::1%lo", false, 0, nullptr},
      {"127.0.0.1:5000", false, 0, nullptr},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(std::string("[") + row.text + "]");
    const std::optional<ListenAddress> address = parseListenAddress(row.text);
    ASSERT_EQ(row.parses, address.has_value());
    if (!address) continue;
    EXPECT_EQ(row.family, address->family);
    const std::optional<std::string> objects = distributedObjectsAddress(*address);
    ASSERT_EQ(row.objects != nullptr, objects.has_value());
    if (objects) {
      EXPECT_EQ(row.objects, *objects);
    }
    socklen_t length = 0;
    const sockaddr_storage bound = withPort(*address, 4242, length);
    EXPECT_EQ(row.family, bound.ss_family);
    EXPECT_EQ(row.family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6), length);
  }
}

TEST(NetAddress, PeerTextNamesAnIPv4ClientTheSameOnEitherSocket) {
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  inet_pton(AF_INET, "127.0.0.2", &v4.sin_addr);
  sockaddr_in6 mapped{}, v6{};
  mapped.sin6_family = v6.sin6_family = AF_INET6;
  inet_pton(AF_INET6, "::ffff:127.0.0.2", &mapped.sin6_addr);
  inet_pton(AF_INET6, "2001:db8::1", &v6.sin6_addr);
  EXPECT_EQ("127.0.0.2", peerText(reinterpret_cast<sockaddr *>(&v4), sizeof v4));
  EXPECT_EQ("127.0.0.2", peerText(reinterpret_cast<sockaddr *>(&mapped), sizeof mapped));
  EXPECT_EQ("2001:db8::1", peerText(reinterpret_cast<sockaddr *>(&v6), sizeof v6));
  EXPECT_EQ("", peerText(reinterpret_cast<sockaddr *>(&v4), 4));
  EXPECT_EQ("", peerText(nullptr, 0));
  EXPECT_EQ("", peerOfSocket(-1));
}

}  // namespace
