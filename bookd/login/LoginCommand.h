/* The socket login service's command language, without any socket: what one input does to
 * one connection's permission flags and what, if anything, goes back to the client.
 *
 * An input is one read of a connection, already cut at its first zero byte, decoded and
 * trimmed of white space at both ends (the transport does that). It is split at every single
 * space; two spaces in a row make an empty part. "auth ro PWD" and "auth rw PWD" log in,
 * "quit" with any words after it ends the connection without a reply, anything else is
 * answered with the error text and changes nothing. The reply never says which part of an
 * "auth" was wrong. */
#ifndef BOOKD_LOGINCOMMAND_H
#define BOOKD_LOGINCOMMAND_H

#include <cstddef>
#include <string>
#include <vector>

namespace login {

/* Everything the service ever sends, sent as these bytes without the terminating zero. */
extern const char hello[]; /* "Hello\n" */
extern const char ok[];    /* "OK\n" */
extern const char error[]; /* "Error\n" */

struct Flags {
  bool readOK = false;
  bool writeOK = false;
};

struct Outcome {
  bool close = false;          /* forget the connection; nothing is sent */
  const char *reply = nullptr; /* ok or error when not closing */
  Flags flags;                 /* the connection's flags afterwards */
  bool attempt = false;        /* a login ("auth ro|rw PASSWORD"): the sender's budget pays */
};

/* The parts of an input split at every single space; an empty input is one empty part. */
std::vector<std::string> splitAtSpaces(const std::string &input);

/* What one input does. input is null when the bytes could not be decoded as text, which
 * gives no parts at all. roPwd and rwPwd are null when the server has no such password,
 * which then matches nothing. Texts are compared as exact bytes. Without mayCheck (the
 * sender is over its budget of checks) a login is answered as a wrong one, uncompared. */
Outcome interpret(const std::string *input, const std::string *roPwd, const std::string *rwPwd, Flags current,
                  bool mayCheck = true);

/* The length of the text at the start of a read: up to its first zero byte, or all of it. */
std::size_t lengthUpToZero(const char *bytes, std::size_t length);

}  // namespace login

#endif
