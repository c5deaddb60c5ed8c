// A stored address book as sorted lines of text, so that a test states a whole book in
// one expectation and a failure shows what differs:
//   "G <name> [<member>, <member>]"    members in the order they were added
//   "P <first> / <last> <<label>:<e-mail>, ...>"
// An absent value shows as "~"; a member person shows as "<first> / <last>", a member
// group as "G <name>"; the work label shows as "work".
#pragma once

#include <string>
#include <vector>

namespace convert_test {

// The lines of the book stored at location, sorted; one line "no book" when none opens there.
std::vector<std::string> dumpBook(const std::string &location);

}  // namespace convert_test
