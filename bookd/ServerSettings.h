/* The start-up settings of bookd, and the rules that fill them: the argument walk, the merge
 * of the configuration file's values, and validation. Plain C++, so that the
 * rules can be followed without Foundation; reading the file is ConfigFile's job. */
#ifndef BOOKD_SERVERSETTINGS_H
#define BOOKD_SERVERSETTINGS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/* The CardDAV service's settings. It runs only when a port is given, so that a bookd started as
 * before serves as before. The port and the address come from the command line (--dav,
 * --dav-listen) or the configuration file; the rest from the file alone. */
struct DavSettings {
  std::optional<int32_t> port;
  std::optional<std::string> listenAddress;  // loopback when unset
  std::optional<std::string> certificateFile;
  std::optional<std::string> keyFile;
  std::optional<bool> allowPlainHttp;
  std::optional<std::string> displayName;
  std::optional<std::vector<std::string>> trustedProxies;
};

struct ServerSettings {
  std::optional<std::string> location;
  std::optional<std::string> readOnlyPassword;
  std::optional<std::string> readWritePassword;
  int32_t receivePort = -1;  // -1 means not set, wherever it came from
  int32_t sendPort = -1;
  int32_t socketPort = 5000;  // -1 switches the socket login service off
  std::optional<std::string> configFile;
  std::optional<std::string> listenAddress;  // both services; every address when unset
  DavSettings dav;
};

/* What a configuration file can supply; a key the file lacks stays empty. */
struct ConfigValues {
  std::optional<std::string> location;
  std::optional<std::string> readOnlyPassword;
  std::optional<std::string> readWritePassword;
  std::optional<int32_t> receivePort;
  std::optional<int32_t> sendPort;
  std::optional<std::string> listenAddress;
  DavSettings dav;
};

/* Leading white space, an optional sign, then decimal digits up to the first other
 * character; 0 when no digit follows. Values beyond 32 bits clamp to the nearest end,
 * so that a huge port number can never wrap round into a plausible one. */
int32_t integerValueOfText(const std::string &text);

/* Clamps a wider integer into the 32-bit signed range. */
int32_t clampToInt32(long long value);

/* The walk over the arguments after the program name. Usage means an argument that is no
 * option word, or an option word with nothing after it: the caller prints the usage. */
enum class WalkResult { Ok, Usage };
WalkResult walkArguments(const std::vector<std::string> &arguments, ServerSettings &settings);

/* Fills only what the command line left unset; a port of -1 counts as unset. */
void mergeConfiguration(ServerSettings &settings, const ConfigValues &file);

/* The message for the first setting that is missing or unusable, in the order they are
 * checked, or "" when start-up may go on. */
std::string firstValidationError(const ServerSettings &settings);

/* The port number that is actually opened: the low 16 bits of the setting. */
uint16_t portNumberToOpen(int32_t setting);

#endif
