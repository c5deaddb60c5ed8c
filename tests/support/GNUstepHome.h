// Points GNUstep's user directories at a directory of the test's own.
//
// GNUstep takes the home folder from the password database, not from HOME, and reads its
// configuration file as the process starts: GNUSTEP_CONFIG_FILE must be in the environment
// the program is started with. useGNUstepHome writes a copy of the system configuration
// (/etc/GNUstep/GNUstep.conf) whose user Library, Defaults and user configuration file lie
// under home, and sets GNUSTEP_CONFIG_FILE for the programs this process starts.
#pragma once

#include <string>

namespace kxtest {

// Gives the Library directory GNUstep will report (home + "/Library"); throws on failure.
std::string useGNUstepHome(const std::string &home);

// For a test program's main, before anything touches GNUstep: the first time, makes a
// temporary home and starts the program again in its place (exec) with GNUstep pointed at
// it; the program started again gets here too and carries on. Gives the home; the caller
// removes it (removeTree) before it exits.
std::string restartWithTemporaryGNUstepHome(char **argv);

}  // namespace kxtest
