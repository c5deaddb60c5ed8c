// bench_convert: the whole bookconvert run on a synthetic mail-client archive of 100,000
// entries (1,000 groups of 100), wall time and peak memory, against the floor measured in
// the same run (unarchiving the file plus raw SQLite inserting the same rows in one
// transaction, see ConvertFloor.mm); and how both grow from 10,000 to 100,000 entries.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include "BenchLine.h"
#include "BenchProcess.h"

namespace {

const int rounds = 3;  // best of, against the noise of a shared machine

std::string scratch;

void removeTree(const std::string &path) {
  bench::runChild({"/bin/rm", "-rf", path});
}

// A GNUstep configuration whose user Library lies in the scratch directory, so that the
// shared book of every run is a fresh one there and never the user's.
std::string writeGNUstepConfig() {
  std::ifstream system("/etc/GNUstep/GNUstep.conf");
  std::ofstream conf(scratch + "/GNUstep.conf");
  std::string line;
  while (std::getline(system, line))
    if (line.rfind("GNUSTEP_USER_", 0) != 0) conf << line << "\n";
  conf << "GNUSTEP_USER_DIR_LIBRARY=" << scratch << "/home/Library\n"
       << "GNUSTEP_USER_DEFAULTS_DIR=" << scratch << "/home/Defaults\n"
       << "GNUSTEP_USER_CONFIG_FILE=" << scratch << "/home/GNUstep.conf\n";
  return "GNUSTEP_CONFIG_FILE=" + scratch + "/GNUstep.conf";
}

struct Cost {
  double seconds = 1e30;
  double peakMiB = 1e30;
};

void keepBest(Cost &best, const bench::ChildCost &run) {
  if (run.status != 0) {
    std::fprintf(stderr, "bench_convert: a child failed with status %d\n", run.status);
    std::exit(1);
  }
  best.seconds = std::min(best.seconds, run.seconds);
  best.peakMiB = std::min(best.peakMiB, run.peakKiB / 1024.0);
}

std::string Archive(int groups, int entries) {
  std::string path = scratch + "/book-" + std::to_string(groups) + "x" + std::to_string(entries);
  Cost made;
  keepBest(made, bench::runChild({GNUMAIL_ARCHIVE_PATH, "--synthetic", std::to_string(groups),
                                  std::to_string(entries), path}));
  return path;
}

Cost convert(const std::string &archive, const std::string &configEnv) {
  Cost best;
  for (int r = 0; r < rounds; r++) {
    removeTree(scratch + "/home");
    keepBest(best, bench::runChild({BOOKCONVERT_PATH, archive}, {configEnv}));
  }
  return best;
}

Cost Floor(const std::string &archive, int groups, int entries) {
  Cost best;
  std::string db = scratch + "/floor.sqlite";
  for (int r = 0; r < rounds; r++) {
    removeTree(db);
    removeTree(db + "-wal");
    removeTree(db + "-shm");
    keepBest(best, bench::runChild(
                       {CONVERT_FLOOR_PATH, archive, db, std::to_string(groups), std::to_string(entries)}));
  }
  return best;
}

}  // namespace

int main() {
  char dir[] = "/tmp/bench-convert-XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  scratch = dir;
  std::string configEnv = writeGNUstepConfig();

  std::string empty = Archive(0, 0), small = Archive(100, 100), large = Archive(1000, 100);
  Cost base = convert(empty, configEnv);
  Cost small10k = convert(small, configEnv), large100k = convert(large, configEnv);
  Cost floor100k = Floor(large, 1000, 100);

  bench::line("bookconvert 100k entries: wall time", large100k.seconds, "s", floor100k.seconds, "ratio <= 2");
  bench::line("bookconvert 100k entries: peak memory", large100k.peakMiB, "MiB", floor100k.peakMiB,
              "ratio <= 2");
  // Linear growth: the cost per entry at 100k against the cost per entry at 10k (the floor
  // column), memory counted above a run on an empty archive.
  bench::line("bookconvert time per entry, 100k vs 10k", large100k.seconds / 100000 * 1e6, "us",
              small10k.seconds / 10000 * 1e6, "ratio <= 1.2 (linear)");
  bench::line("bookconvert memory per entry, 100k vs 10k", (large100k.peakMiB - base.peakMiB) * 1024 / 100000,
              "KiB", (small10k.peakMiB - base.peakMiB) * 1024 / 10000, "ratio <= 1.2 (linear)");

  removeTree(scratch);
  return 0;
}
