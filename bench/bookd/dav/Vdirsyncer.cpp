#include "Vdirsyncer.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "BenchProcess.h"
#include "DavDriver.h"
#include "TempDir.h"

namespace davbench {

const char kVdirsyncerPath[] = "/usr/bin/vdirsyncer";

namespace {

size_t countCards(const std::string &dir) {
  size_t count = 0;
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  while (dirent *entry = readdir(d)) {
    const size_t length = std::strlen(entry->d_name);
    if (length > 4 && std::strcmp(entry->d_name + length - 4, ".vcf") == 0) count++;
  }
  closedir(d);
  return count;
}

}  // namespace

double vdirsyncerFirstSync(const DavPeer &peer, const std::string &workDir, size_t count) {
  static int runs = 0;
  const std::string dir = workDir + "/vdirsyncer-" + peer.name + "-" + std::to_string(++runs);
  const std::string local = dir + "/local";
  if (mkdir(dir.c_str(), 0700) != 0 || mkdir(local.c_str(), 0700) != 0 ||
      mkdir((local + "/book").c_str(), 0700) != 0)  // discovery would otherwise ask whether to make it
    throw DavFailure("cannot make " + local);
  const std::string config = dir + "/config";
  {
    std::ofstream out(config);
    out << "[general]\nstatus_path = \"" << dir << "/status/\"\n\n"
        << "[pair book]\na = \"local\"\nb = \"remote\"\ncollections = [\"from b\"]\n\n"
        << "[storage local]\ntype = \"filesystem\"\npath = \"" << local << "/\"\nfileext = \".vcf\"\n\n"
        << "[storage remote]\ntype = \"carddav\"\nurl = \"http://127.0.0.1:" << peer.port << "/\"\n"
        << "username = \"" << peer.user << "\"\npassword = \"" << peer.password << "\"\n";
  }
  const std::vector<std::string> env = {"HOME=" + dir, "LC_ALL=C.UTF-8", "LANG=C.UTF-8"};
  bench::ChildCost discover =
      bench::runChild({kVdirsyncerPath, "-v", "WARNING", "-c", config, "discover"}, env);
  if (discover.status != 0)
    throw DavFailure("vdirsyncer discover against " + peer.name + " failed with status " +
                     std::to_string(discover.status));
  bench::ChildCost sync = bench::runChild({kVdirsyncerPath, "-v", "WARNING", "-c", config, "sync"}, env);
  if (sync.status != 0)
    throw DavFailure("vdirsyncer sync against " + peer.name + " failed with status " +
                     std::to_string(sync.status));
  const size_t synced = countCards(local + "/book");
  if (synced != count)
    throw DavFailure("vdirsyncer synced " + std::to_string(synced) + " cards from " + peer.name + " where " +
                     std::to_string(count) + " were due");
  kxtest::removeTree(dir);
  return sync.seconds;
}

std::string vdirsyncerScratch(const std::string &fallback) {
  char shm[] = "/dev/shm/bench_carddav_XXXXXX";
  if (mkdtemp(shm) != nullptr) return shm;
  const std::string dir = fallback + "/vdirsyncer";
  return mkdir(dir.c_str(), 0700) == 0 ? dir : "";
}

}  // namespace davbench
