#include "GNUstepHome.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

std::string restartWithTemporaryGNUstepHome(char **argv) {
  const char *given = std::getenv("KINDEX_TEST_GNUSTEP_HOME");
  if (given != nullptr && *given != '\0') return given;
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kindex-home-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
  std::string home = buffer.data();
  useGNUstepHome(home);
  ::setenv("KINDEX_TEST_GNUSTEP_HOME", home.c_str(), 1);
  execv("/proc/self/exe", argv);
  throw std::runtime_error("cannot start the test program again");
}

}  // namespace kxtest
