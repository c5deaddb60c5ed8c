/* IP addresses as bookd meets them: the address its services listen on (--listen,
 * ListenAddress), and the text of a peer's address that its password budgets are kept by. */
#ifndef BOOKD_NETADDRESS_H
#define BOOKD_NETADDRESS_H

#include <sys/socket.h>

#include <optional>
#include <string>

/* A numeric IPv4 or IPv6 address to bind; no host names, no brackets, no zone. */
struct ListenAddress {
  int family = AF_INET;       // AF_INET or AF_INET6
  sockaddr_storage socket{};  // the address with port 0
  socklen_t length = 0;
  std::string text;  // as given
};

std::optional<ListenAddress> parseListenAddress(const std::string &text);

/* The address with the port set, ready for bind(). */
sockaddr_storage withPort(const ListenAddress &address, uint16_t port, socklen_t &length);

/* What Distributed Objects can listen on for the address: GNUstep's socket ports are IPv4
 * only. The text of an IPv4 address; "" for every IPv4 address (0.0.0.0 and ::); 127.0.0.1
 * for ::1; the IPv4 address inside an IPv4-mapped one; nullopt for any other IPv6 address. */
std::optional<std::string> distributedObjectsAddress(const ListenAddress &address);

/* The text a peer is known by: dotted IPv4, also for an IPv4-mapped IPv6 peer (a dual-stack
 * socket sees IPv4 clients so), else the IPv6 text. "" for anything else. */
std::string peerText(const sockaddr *peer, socklen_t length);

/* The peer of a connected socket as peerText; "" when it has none. */
std::string peerOfSocket(int fd);

#endif
