// Points GNUstep's user directories at a directory of the test's own.
//
// GNUstep takes the home folder from the password database, not from HOME, and reads its
// configuration once, the first time anything asks for a path. Call useGNUstepHome before
// that: first thing in main, or in a child process before it touches GNUstep. It writes a
// copy of the system configuration (/etc/GNUstep/GNUstep.conf) whose user Library, Defaults
// and user configuration file lie under home, and sets GNUSTEP_CONFIG_FILE to it.
#pragma once

#include <string>

namespace kxtest {

// Gives the Library directory GNUstep will report (home + "/Library"); throws on failure.
std::string useGNUstepHome(const std::string &home);

}  // namespace kxtest
