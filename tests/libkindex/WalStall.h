// Stops a process in the middle of an SQLite save, at a chosen write of the write-ahead log,
// so that a test can kill it there and know it interrupted the save.
//
// A save in WAL mode appends its pages to the log as frames (after a fresh log header when the
// log was empty or restarted) and ends with the frame that marks the commit; with
// synchronous=FULL it then syncs the log. Every write to the log before that sync belongs to
// the unfinished transaction, so a process killed before one of them leaves a transaction
// without a complete commit frame, which SQLite discards: nothing of the save. A process
// killed at the sync has written its commit frame in full, and the kernel keeps what a dead
// process wrote; but it has not yet told the shared index of the log, so a process that had
// the book open all along goes on without the frames (nothing), while the next process to
// open the book alone rebuilds the index from the log (all).
//
// Works through an SQLite VFS around the default one, made the default: for a forked child,
// before it opens the book.
#pragma once

namespace kxtest {

// Where to stop; the first of them that comes. All off: a save left to finish.
struct WalStallPlan {
  int beforeWrite = 0;            // before write number N to the log since arming (1 the first)
  bool beforeCommitPage = false;  // before the page of the commit frame, the save's last write
  bool atCommitSync = false;      // at the sync after the commit frame
};

// What a stopped process reports through its pipe.
struct WalStop {
  char where;      // 'w' before write N, 'c' before the commit frame's page, 's' at the sync
  int writesDone;  // writes to the log since arming
};

// Installs the VFS in this process; harmless to repeat.
void installWalStall();

// From now on, counts the writes to the log and, at the first stop of the plan it meets,
// writes a WalStop to reportFd and stops the process for good, until it is killed.
void armWalStall(const WalStallPlan &plan, int reportFd);

// The writes to the log between arming and the sync after the commit frame; -1 before that
// sync.
int walWritesBeforeCommit();

}  // namespace kxtest
