#include "GNUstepHome.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace kxtest {

std::string useGNUstepHome(const std::string &home) {
  ::mkdir(home.c_str(), 0700);
  std::ostringstream conf;
  std::ifstream system("/etc/GNUstep/GNUstep.conf");
  std::string line;
  while (std::getline(system, line)) {
    if (line.rfind("GNUSTEP_USER_DIR_LIBRARY=", 0) == 0 || line.rfind("GNUSTEP_USER_DEFAULTS_DIR=", 0) == 0 ||
        line.rfind("GNUSTEP_USER_CONFIG_FILE=", 0) == 0) {
      continue;
    }
    conf << line << "\n";
  }
  std::string library = home + "/Library";
  conf << "GNUSTEP_USER_DIR_LIBRARY=" << library << "\n"
       << "GNUSTEP_USER_DEFAULTS_DIR=" << home << "/Defaults\n"
       << "GNUSTEP_USER_CONFIG_FILE=" << home << "/GNUstep.conf\n";
  std::string path = home + "/GNUstep-system.conf";
  std::ofstream out(path);
  out << conf.str();
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
  ::setenv("GNUSTEP_CONFIG_FILE", path.c_str(), 1);
  return library;
}

}  // namespace kxtest
