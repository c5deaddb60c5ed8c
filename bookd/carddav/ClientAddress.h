/* Which address a request comes from, for the login budget. Behind a reverse proxy every
 * connection comes from the proxy; only when the TCP peer is a trusted proxy is the client
 * it names believed: the last (rightmost) address in Forwarded's for= parameters, or else in
 * X-Forwarded-For, that is not itself a trusted proxy. Anything unreadable falls back to the
 * peer, so a client can never pick its own address. */
#ifndef BOOKD_CARDDAV_CLIENTADDRESS_H
#define BOOKD_CARDDAV_CLIENTADDRESS_H

#include <string>
#include <vector>

namespace carddav {

// An IPv4 or IPv6 address in one canonical text form (IPv4-mapped IPv6 as IPv4); empty when
// text is no address.
std::string canonicalAddress(const std::string &text);

// peer: the TCP peer, canonical. forwarded / xForwardedFor: the header values, or null.
std::string clientAddressOf(const std::string &peer, const std::vector<std::string> &trustedProxies,
                            const char *forwarded, const char *xForwardedFor);

}  // namespace carddav

#endif
