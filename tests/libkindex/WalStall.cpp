#include "WalStall.h"

#include <sqlite3.h>
#include <unistd.h>

namespace kxtest {

namespace {

// The log starts with a 32-byte header; each frame is a 24-byte header, written on its own,
// and a page. Bytes 4 to 7 of a frame header are 0 except in the frame that commits.
const sqlite3_int64 kWalHeaderSize = 32;
const int kFrameHeaderSize = 24;

bool isCommitFrameHeader(const void *buffer, int amount, sqlite3_int64 offset) {
  if (offset < kWalHeaderSize || amount != kFrameHeaderSize) return false;
  const unsigned char *bytes = static_cast<const unsigned char *>(buffer);
  return (bytes[4] | bytes[5] | bytes[6] | bytes[7]) != 0;
}

struct State {
  bool armed = false;
  WalStallPlan plan;
  int reportFd = -1;
  int writes = 0;
  bool framesWritten = false;
  bool commitHeaderWritten = false;
  int writesAtCommit = -1;
};

State gState;
sqlite3_vfs *gDefault = nullptr;
sqlite3_vfs gStall;

// The default VFS's own file lives right behind ours, in the space SQLite allocates for it.
struct StallFile {
  sqlite3_file base;
  sqlite3_file *real;
  bool log;
};

sqlite3_file *Real(sqlite3_file *file) {
  return reinterpret_cast<StallFile *>(file)->real;
}
bool isLog(sqlite3_file *file) {
  return reinterpret_cast<StallFile *>(file)->log;
}

[[noreturn]] void Stop(char where) {
  WalStop report{where, gState.writes};
  if (write(gState.reportFd, &report, sizeof report) != sizeof report) _exit(2);
  for (;;) pause();
}

int Close(sqlite3_file *f) {
  return Real(f)->pMethods->xClose(Real(f));
}
int Read(sqlite3_file *f, void *buffer, int amount, sqlite3_int64 offset) {
  return Real(f)->pMethods->xRead(Real(f), buffer, amount, offset);
}
int Write(sqlite3_file *f, const void *buffer, int amount, sqlite3_int64 offset) {
  const bool watched = gState.armed && isLog(f);
  if (watched && gState.writes + 1 == gState.plan.beforeWrite) Stop('w');
  if (watched && gState.commitHeaderWritten && gState.plan.beforeCommitPage) Stop('c');
  int rc = Real(f)->pMethods->xWrite(Real(f), buffer, amount, offset);
  if (watched) {
    gState.writes++;
    if (offset >= kWalHeaderSize) gState.framesWritten = true;
    gState.commitHeaderWritten = isCommitFrameHeader(buffer, amount, offset);
  }
  return rc;
}
int Truncate(sqlite3_file *f, sqlite3_int64 size) {
  return Real(f)->pMethods->xTruncate(Real(f), size);
}
int Sync(sqlite3_file *f, int flags) {
  // A fresh log's header is synced before any frame; only a sync after frames ends a commit.
  if (gState.armed && isLog(f) && gState.framesWritten && gState.writesAtCommit < 0) {
    gState.writesAtCommit = gState.writes;
    if (gState.plan.atCommitSync) Stop('s');
  }
  return Real(f)->pMethods->xSync(Real(f), flags);
}
int fileSize(sqlite3_file *f, sqlite3_int64 *size) {
  return Real(f)->pMethods->xFileSize(Real(f), size);
}
int Lock(sqlite3_file *f, int level) {
  return Real(f)->pMethods->xLock(Real(f), level);
}
int unlock(sqlite3_file *f, int level) {
  return Real(f)->pMethods->xUnlock(Real(f), level);
}
int checkReservedLock(sqlite3_file *f, int *out) {
  return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
}
int fileControl(sqlite3_file *f, int op, void *arg) {
  return Real(f)->pMethods->xFileControl(Real(f), op, arg);
}
int sectorSize(sqlite3_file *f) {
  return Real(f)->pMethods->xSectorSize(Real(f));
}
int deviceCharacteristics(sqlite3_file *f) {
  return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
}
int shmMap(sqlite3_file *f, int region, int size, int extend, void volatile **out) {
  return Real(f)->pMethods->xShmMap(Real(f), region, size, extend, out);
}
int shmLock(sqlite3_file *f, int offset, int n, int flags) {
  return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
}
void shmBarrier(sqlite3_file *f) {
  Real(f)->pMethods->xShmBarrier(Real(f));
}
int shmUnmap(sqlite3_file *f, int deleteFlag) {
  return Real(f)->pMethods->xShmUnmap(Real(f), deleteFlag);
}
int fetch(sqlite3_file *f, sqlite3_int64 offset, int amount, void **out) {
  return Real(f)->pMethods->xFetch(Real(f), offset, amount, out);
}
int unfetch(sqlite3_file *f, sqlite3_int64 offset, void *page) {
  return Real(f)->pMethods->xUnfetch(Real(f), offset, page);
}

// clang-format off
const sqlite3_io_methods kMethods = {
    3,
    Close,
    Read,
    Write,
    Truncate,
    Sync,
    fileSize,
    Lock,
    unlock,
    checkReservedLock,
    fileControl,
    sectorSize,
    deviceCharacteristics,
    shmMap,
    shmLock,
    shmBarrier,
    shmUnmap,
    fetch,
    unfetch,
};
// clang-format on

int Open(sqlite3_vfs *, const char *name, sqlite3_file *file, int flags, int *outFlags) {
  StallFile *mine = reinterpret_cast<StallFile *>(file);
  mine->real = reinterpret_cast<sqlite3_file *>(mine + 1);
  mine->log = (flags & SQLITE_OPEN_WAL) != 0;
  mine->base.pMethods = nullptr;
  int rc = gDefault->xOpen(gDefault, name, mine->real, flags, outFlags);
  if (rc != SQLITE_OK) {
    if (mine->real->pMethods != nullptr) mine->real->pMethods->xClose(mine->real);
    return rc;
  }
  // Every file of the default VFS on Linux has version 3 methods, which these forward.
  if (mine->real->pMethods->iVersion < 3) {
    mine->real->pMethods->xClose(mine->real);
    return SQLITE_CANTOPEN;
  }
  mine->base.pMethods = &kMethods;
  return SQLITE_OK;
}
int Delete(sqlite3_vfs *, const char *name, int syncDir) {
  return gDefault->xDelete(gDefault, name, syncDir);
}
int Access(sqlite3_vfs *, const char *name, int flags, int *out) {
  return gDefault->xAccess(gDefault, name, flags, out);
}
int fullPathname(sqlite3_vfs *, const char *name, int size, char *out) {
  return gDefault->xFullPathname(gDefault, name, size, out);
}

}  // namespace

void installWalStall() {
  if (gDefault != nullptr) return;
  gDefault = sqlite3_vfs_find(nullptr);
  // The rest of the default's methods (time, randomness, sleeping, libraries) ignore which VFS
  // they are called through.
  gStall = *gDefault;
  gStall.pNext = nullptr;
  gStall.zName = "kxtest-wal-stall";
  gStall.szOsFile = static_cast<int>(sizeof(StallFile)) + gDefault->szOsFile;
  gStall.xOpen = Open;
  gStall.xDelete = Delete;
  gStall.xAccess = Access;
  gStall.xFullPathname = fullPathname;
  sqlite3_vfs_register(&gStall, 1);
}

void armWalStall(const WalStallPlan &plan, int reportFd) {
  gState = State();
  gState.armed = true;
  gState.plan = plan;
  gState.reportFd = reportFd;
}

int walWritesBeforeCommit() {
  return gState.writesAtCommit;
}

}  // namespace kxtest
