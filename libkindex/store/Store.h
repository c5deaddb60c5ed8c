// The SQLite file that holds one book: one row per record, written in save transactions.
//
// Schema (a book is a database with exactly these tables; a database without the meta rows
// is not ours and is never written):
//
//   meta    := ("format", "kindex-address-book") ("version", 3) ("seq", n) ("identity", hex)
//              -- seq counts the saves ever committed to this book; identity: 32 random hex
//              -- digits made with the book (or its upgrade), so that a sync token of one book
//              -- is not taken by another
//   records := (uid TEXT PRIMARY KEY, kind INTEGER, data BLOB, seq INTEGER)*
//              -- kind: 1 person, 2 group; data: the record's coded properties and members;
//              -- seq: the save that last wrote the row (a row's version)
//   removed := (uid TEXT PRIMARY KEY, seq INTEGER, name TEXT)*
//              -- records that a save deleted, so that other processes holding the book
//              -- can drop them too; a uid present in records is alive whatever removed says;
//              -- name: the resource name the record had (NULL when none)
//   saves   := (seq INTEGER PRIMARY KEY, time INTEGER)*
//              -- when each save committed (unix seconds): a record's modification time is
//              -- its save's
//   names   := (uid TEXT PRIMARY KEY, name TEXT UNIQUE)*
//              -- the resource names sync clients gave records; a row goes with its record
//   indexes := records_by_seq on records(seq), removed_by_seq on removed(seq)
//              -- what a save changed is found without reading the whole book
//
// Versions: 1 had no indexes; 2 had no saves, names, identity nor removed.name. An older
// book is upgraded when it is opened (everything made and the version set, in one
// transaction; the records' saves get the time of the upgrade); one that cannot be written
// (its file is read-only) is read as it is, without names, with the file's modification time
// as every record's and an identity made from the file's device and inode. A book of a newer
// version than this library knows is refused and left as it is.
//
// The journal is a write-ahead log: readers never wait for a writer, and a process killed in
// the middle of a save leaves the book as it was before that save.
//
// A Store is used from one thread at a time. Rows reach callers through callbacks whose
// pointers are valid only during the call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "store/Status.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kx {

struct RowView {
  const char *uid;
  size_t uidLength;
  int kind;
  const void *data;
  size_t dataLength;
  uint64_t seq;      // the save that wrote the row
  const char *name;  // its resource name, null when none
  size_t nameLength;
  int64_t time;  // when its save committed
};

class Store {
 public:
  using RowFn = std::function<void(const RowView &)>;
  using UidFn = std::function<void(const char *uid, size_t length)>;

  static const char *fileName() { return "book.sqlite"; }
  // The statements that make a book's tables, and the settings every connection to a book
  // uses: for a benchmark that writes the same tables by hand.
  static const char *schemaSql();
  static const char *pragmaSql();

  // Opens the store at path; with create, makes a new book there when the file is missing.
  // An empty file (what a creation cut short leaves) also becomes a new book. A file that is
  // not a book of ours gives kNotOurs (kNewerVersion for a newer one of ours) and is left as
  // it was.
  static Status open(const std::string &path, bool create, std::unique_ptr<Store> *out);
  ~Store();

  // Every live record in uid order, and the seq they reflect.
  Status loadAll(const RowFn &row, uint64_t *seq);
  // The book's identity (see the schema).
  const std::string &identity() const { return identity_; }
  // Whether another connection committed since the last call (cheap: no disk access).
  bool othersCommitted();
  // What saves after `since` changed: first the removed uids, then the written rows. Inside
  // a read (or a save) it reads that transaction's state.
  Status changesSince(uint64_t since, const UidFn &removed, const RowFn &written, uint64_t *seq);
  // A read transaction, for reading the same state in several calls.
  Status beginRead();
  void endRead();
  // What saves after `since` changed, without the records' data: the removed uids with the
  // names they had (name null when none), then the uids of the written rows.
  using RemovedFn = std::function<void(const char *uid, size_t length, const char *name, size_t nameLength)>;
  Status changedUids(uint64_t since, const RemovedFn &removed, const UidFn &written);

  // A save: begin (takes the write lock and gives the current seq), put/erase under the new
  // seq, then commit; any failure after begin must be followed by rollback.
  Status begin(uint64_t *seq);
  Status put(const char *uid, size_t uidLength, int kind, const void *data, size_t length, uint64_t seq);
  // Gives the record its resource name; kNameTaken when another record holds it.
  Status setName(const char *uid, size_t uidLength, const std::string &name);
  // Deletes the record, and its name, leaving its tombstone.
  Status erase(const char *uid, size_t uidLength, uint64_t seq);
  // Ends the save, noting its time.
  Status commit(uint64_t seq, int64_t time);
  void rollback();

  // How long a save waits for another process's save before giving up (kBusy).
  void setBusyTimeout(int milliseconds);

 private:
  explicit Store(sqlite3 *db) : db_(db) {}
  Status prepare(sqlite3_stmt **stmt, const char *sql);
  // stmt, prepared on first use and kept for the next.
  Status prepared(sqlite3_stmt **stmt, const char *sql);
  Status exec(const char *sql);
  Status checkOurs(int *version);
  Status createSchema();
  Status upgrade();
  Status readSeq(uint64_t *seq);
  Status readIdentity();
  // row, with the file's time put in for a book read as it is.
  RowFn withTime(const RowFn &row) const;
  void makeOldIdentity(const std::string &path);

  sqlite3 *db_ = nullptr;
  int version_ = 0;       // of the schema; below the current only for a book read as it is
  int64_t fileTime_ = 0;  // such a book's modification time
  std::string identity_;
  sqlite3_stmt *put_ = nullptr;
  sqlite3_stmt *erase_ = nullptr;
  sqlite3_stmt *tombstone_ = nullptr;
  sqlite3_stmt *dropName_ = nullptr;
  sqlite3_stmt *setName_ = nullptr;
  sqlite3_stmt *dataVersionStmt_ = nullptr;
  // Those of every save and every catching up: preparing them each time cost as much as
  // reading the rows of a small save.
  sqlite3_stmt *readSeq_ = nullptr;
  sqlite3_stmt *removedSince_ = nullptr;
  sqlite3_stmt *rowsSince_ = nullptr;
  sqlite3_stmt *bumpSeq_ = nullptr;
  sqlite3_stmt *noteSave_ = nullptr;
  long long dataVersion_ = -1;
};

}  // namespace kx
