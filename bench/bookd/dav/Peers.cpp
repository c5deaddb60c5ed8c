#include "Peers.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "BenchProcess.h"
#include "Cards.h"
#include "LoopbackPort.h"

namespace davbench {

const char kRadicalePath[] = "/usr/bin/radicale";

namespace {

const char kUser[] = "bench";
const char kBookdReadOnly[] = "bench-ro";
const char kBookdReadWrite[] = "bench-rw";

bool writeFile(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

bool makeDir(const std::string &path, std::string *error) {
  if (mkdir(path.c_str(), 0700) == 0) return true;
  *error = "cannot make " + path;
  return false;
}

// Until the port takes connections; false when the child ended or a minute went by first.
bool waitForPort(const DavPeer &peer, std::string *error) {
  auto start = std::chrono::steady_clock::now();
  while (bench::seconds(start) < 60) {
    int status;
    if (waitpid(peer.pid, &status, WNOHANG) == peer.pid) {
      *error = peer.name + " ended before it listened (status " + std::to_string(status) + ")";
      return false;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = kxtest::loopbackAddress(peer.port);
    bool up = fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0) close(fd);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  *error = peer.name + " did not listen on port " + std::to_string(peer.port) + " within a minute";
  return false;
}

}  // namespace

bool radicaleInstalled() {
  return access(kRadicalePath, X_OK) == 0;
}

bool startRadicale(const std::string &workDir, int count, DavPeer *peer, std::string *error) {
  const std::string root = workDir + "/radicale";
  const std::string store = root + "/collections";
  const std::string book = store + "/collection-root/" + kUser + "/book";
  if (!makeDir(root, error) || !makeDir(store, error) || !makeDir(store + "/collection-root", error) ||
      !makeDir(store + "/collection-root/" + kUser, error) || !makeDir(book, error))
    return false;
  if (!writeFile(book + "/.Radicale.props", "{\"tag\": \"VADDRESSBOOK\", \"D:displayname\": \"Contacts\"}") ||
      !writeCardFiles(book, count)) {
    *error = "cannot write Radicale's store in " + book;
    return false;
  }
  peer->name = "Radicale";
  peer->port = kxtest::freePort();
  peer->collection = std::string("/") + kUser + "/book/";
  peer->user = kUser;
  peer->password = "unused";
  peer->dataDir = book;
  // No authentication: any user name logs in, as with bookd; the password is not checked, so
  // Radicale spends nothing on it (bookd compares one string).
  const std::string config = root + "/config";
  if (!writeFile(config, "[server]\nhosts = 127.0.0.1:" + std::to_string(peer->port) +
                             "\n\n[auth]\ntype = none\n\n[rights]\ntype = authenticated\n\n"
                             "[storage]\nfilesystem_folder = " +
                             store + "\n\n[web]\ntype = none\n\n[logging]\nlevel = warning\n")) {
    *error = "cannot write " + config;
    return false;
  }
  peer->pid = bench::spawnQuiet({kRadicalePath, "--config", config});
  return waitForPort(*peer, error);
}

bool startBookd(const std::string &bookdPath, const std::string &kindexPath, const std::string &workDir,
                int count, bool photos, DavPeer *peer, std::string *error) {
  const std::string dir = workDir + "/bookd";
  const std::string book = dir + "/book";
  const std::string cards = dir + "/cards.vcf";
  if (!makeDir(dir, error) || !makeDir(book, error)) return false;
  if (!writeCardsFile(cards, count, photos)) {
    *error = "cannot write " + cards;
    return false;
  }
  peer->name = "bookd";
  peer->port = kxtest::freePort();
  peer->collection = "/addressbooks/book/";
  peer->user = kUser;
  peer->password = kBookdReadWrite;
  peer->dataDir = book;
  bench::ChildCost import = bench::runChild({kindexPath, "--book", book, "import", cards});
  unlink(cards.c_str());
  if (import.status != 0) {
    *error = "kindex import of " + std::to_string(count) + " cards failed with status " +
             std::to_string(import.status);
    return false;
  }
  peer->pid =
      bench::spawnQuiet({bookdPath, "--ab", book, "--ro", kBookdReadOnly, "--rw", kBookdReadWrite, "--rp",
                         std::to_string(kxtest::freePort()), "--sp", std::to_string(kxtest::freePort()),
                         "--sock", "-1", "--dav", std::to_string(peer->port)});
  return waitForPort(*peer, error);
}

void stopPeer(DavPeer *peer) {
  bench::stop(peer->pid);
  peer->pid = -1;
}

long peakResidentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmHWM:") == 0) return std::stol(line.substr(6));
  return -1;
}

}  // namespace davbench
