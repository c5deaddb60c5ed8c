#include "store/Store.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <sqlite3.h>
#include <sys/stat.h>

namespace kx {

namespace {

const char kFormat[] = "kindex-address-book";
const int kVersion = 3;

const char kTables[] =
    "CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS records(uid TEXT PRIMARY KEY, kind INTEGER NOT NULL,"
    "  data BLOB NOT NULL, seq INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS removed(uid TEXT PRIMARY KEY, seq INTEGER NOT NULL, name TEXT) WITHOUT "
    "ROWID;";
// What version 2 added to version 1.
const char kIndexes[] =
    "CREATE INDEX IF NOT EXISTS records_by_seq ON records(seq);"
    "CREATE INDEX IF NOT EXISTS removed_by_seq ON removed(seq);";
// What version 3 added to version 2 (but removed.name, which an upgrade adds to the table).
const char kSyncTables[] =
    "CREATE TABLE IF NOT EXISTS saves(seq INTEGER PRIMARY KEY, time INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS names(uid TEXT PRIMARY KEY, name TEXT NOT NULL UNIQUE) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO meta(key, value) VALUES('identity', lower(hex(randomblob(16))));";
const char kPragmas[] = "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;";

// Finalizes a statement when it goes out of scope.
struct Statement {
  sqlite3_stmt *stmt = nullptr;
  ~Statement() { sqlite3_finalize(stmt); }
};

// Resets a kept statement when it goes out of scope: one left in the middle of its rows would
// hold its read transaction open, and the connection would go on seeing an old book.
struct Reset {
  sqlite3_stmt *stmt;
  ~Reset() { sqlite3_reset(stmt); }
};

}  // namespace

const char *Store::schemaSql() {
  static const std::string schema = std::string(kTables) + kIndexes + kSyncTables;
  return schema.c_str();
}
const char *Store::pragmaSql() {
  return kPragmas;
}

Status Store::open(const std::string &path, bool create, std::unique_ptr<Store> *out) {
  struct stat info {};
  bool exists = ::stat(path.c_str(), &info) == 0;
  if (!exists && errno != ENOENT) return Status(Status::kPermission, path + ": cannot look at it", errno);
  if (!exists && !create) return Status(Status::kNotFound, path + ": no book here");
  if (exists && !S_ISREG(info.st_mode)) return Status(Status::kNotOurs, path + ": not a file");
  bool fresh = !exists || info.st_size == 0;

  sqlite3 *db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (fresh && create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    Status status = Status::fromSqlite(rc, db, "open");
    sqlite3_close(db);
    return status;
  }
  std::unique_ptr<Store> store(new Store(db));
  sqlite3_busy_timeout(db, 10000);
  int version = kVersion;
  Status status = fresh ? store->createSchema() : store->checkOurs(&version);
  if (!status.isOk()) return status;
  // Only now that the file is known to be ours may anything be written to it.
  status = store->exec(kPragmas);
  store->version_ = version;
  if (status.isOk() && version < kVersion) {
    status = store->upgrade();
    if (status.isOk()) store->version_ = kVersion;
    // A book nobody may write is still read; its saves fail as they would have anyway.
    if (status.kind() == Status::kReadOnly) {
      status = Status::ok();
      store->makeOldIdentity(path);
    }
  }
  if (status.isOk() && store->version_ == kVersion) status = store->readIdentity();
  if (!status.isOk()) return status;
  if (store->version_ == kVersion) {
    status = store->prepare(&store->put_,
                            "INSERT OR REPLACE INTO records(uid, kind, data, seq) VALUES(?1, ?2, ?3, ?4)");
    if (status.isOk()) status = store->prepare(&store->erase_, "DELETE FROM records WHERE uid = ?1");
    if (status.isOk()) {
      status = store->prepare(&store->tombstone_,
                              "INSERT OR REPLACE INTO removed(uid, seq, name)"
                              " VALUES(?1, ?2, (SELECT name FROM names WHERE uid = ?1))");
    }
    if (status.isOk()) status = store->prepare(&store->dropName_, "DELETE FROM names WHERE uid = ?1");
    // Not INSERT OR REPLACE: that would take the name from the record holding it.
    if (status.isOk()) {
      status = store->prepare(&store->setName_,
                              "INSERT INTO names(uid, name) VALUES(?1, ?2)"
                              " ON CONFLICT(uid) DO UPDATE SET name = excluded.name");
    }
  }
  if (!status.isOk()) return status;
  store->othersCommitted();
  *out = std::move(store);
  return Status::ok();
}

Store::~Store() {
  sqlite3_finalize(put_);
  sqlite3_finalize(erase_);
  sqlite3_finalize(tombstone_);
  sqlite3_finalize(dropName_);
  sqlite3_finalize(setName_);
  sqlite3_finalize(dataVersionStmt_);
  sqlite3_finalize(readSeq_);
  sqlite3_finalize(removedSince_);
  sqlite3_finalize(rowsSince_);
  sqlite3_finalize(bumpSeq_);
  sqlite3_finalize(noteSave_);
  sqlite3_close(db_);
}

void Store::setBusyTimeout(int milliseconds) {
  sqlite3_busy_timeout(db_, milliseconds);
}

Status Store::prepare(sqlite3_stmt **stmt, const char *sql) {
  return Status::fromSqlite(sqlite3_prepare_v2(db_, sql, -1, stmt, nullptr), db_, "prepare");
}

Status Store::prepared(sqlite3_stmt **stmt, const char *sql) {
  return *stmt != nullptr ? Status::ok() : prepare(stmt, sql);
}

Status Store::exec(const char *sql) {
  return Status::fromSqlite(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr), db_, sql);
}

Status Store::checkOurs(int *version) {
  Statement s;
  int rc = sqlite3_prepare_v2(db_, "SELECT key, value FROM meta WHERE key IN ('format', 'version')", -1,
                              &s.stmt, nullptr);
  if (rc != SQLITE_OK) {
    Status status = Status::fromSqlite(rc, db_, "read meta");
    // No meta table: some other program's database.
    return status.kind() == Status::kIOError ? Status(Status::kNotOurs, status.message()) : status;
  }
  bool formatOk = false, versionOk = false;
  while ((rc = sqlite3_step(s.stmt)) == SQLITE_ROW) {
    std::string key = reinterpret_cast<const char *>(sqlite3_column_text(s.stmt, 0));
    if (key == "format") {
      const unsigned char *value = sqlite3_column_text(s.stmt, 1);
      formatOk = value != nullptr && std::string(reinterpret_cast<const char *>(value)) == kFormat;
    } else if (key == "version") {
      versionOk = sqlite3_column_type(s.stmt, 1) == SQLITE_INTEGER && sqlite3_column_int(s.stmt, 1) >= 1;
      *version = sqlite3_column_int(s.stmt, 1);
    }
  }
  if (rc != SQLITE_DONE) return Status::fromSqlite(rc, db_, "read meta");
  if (!formatOk || !versionOk) return Status(Status::kNotOurs, "not a Kindex book");
  if (*version > kVersion) return Status(Status::kNewerVersion, "a Kindex book of a newer version");
  return Status::ok();
}

// Versions 1 and 2 to 3. Two processes may upgrade one book at once: the second finds the
// version set when it has the write lock, and leaves the book as the first made it.
Status Store::upgrade() {
  Status status = exec("BEGIN IMMEDIATE");
  if (!status.isOk()) return status;
  int version = kVersion;
  status = checkOurs(&version);
  if (status.isOk() && version < kVersion) {
    status = exec(kIndexes);
    if (status.isOk()) status = exec("ALTER TABLE removed ADD COLUMN name TEXT");
    if (status.isOk()) status = exec(kSyncTables);
    // The saves of version 2 left no time: they count as made now.
    if (status.isOk()) {
      status = exec(
          "INSERT OR IGNORE INTO saves(seq, time) SELECT DISTINCT seq, CAST(strftime('%s', 'now') AS INTEGER)"
          " FROM records");
    }
    if (status.isOk()) status = exec("UPDATE meta SET value = 3 WHERE key = 'version'");
  }
  if (status.isOk()) status = exec("COMMIT");
  if (!status.isOk()) rollback();
  return status;
}

Status Store::readIdentity() {
  Statement s;
  Status status = prepare(&s.stmt, "SELECT value FROM meta WHERE key = 'identity'");
  if (!status.isOk()) return status;
  int rc = sqlite3_step(s.stmt);
  if (rc != SQLITE_ROW)
    return rc == SQLITE_DONE ? Status(Status::kCorruption, "no identity")
                             : Status::fromSqlite(rc, db_, "read identity");
  const unsigned char *text = sqlite3_column_text(s.stmt, 0);
  identity_ = text != nullptr ? reinterpret_cast<const char *>(text) : "";
  if (identity_.empty()) return Status(Status::kCorruption, "an empty identity");
  return Status::ok();
}

// A book read as it is has no identity of its own: the file's, for as long as it is that file.
void Store::makeOldIdentity(const std::string &path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  char text[64];
  std::snprintf(text, sizeof text, "f%" PRIxMAX "x%" PRIxMAX, static_cast<uintmax_t>(info.st_dev),
                static_cast<uintmax_t>(info.st_ino));
  identity_ = text;
  fileTime_ = static_cast<int64_t>(info.st_mtime);
}

Status Store::createSchema() {
  // Two processes may create the same new book at once: the second finds the tables made.
  Status status = exec("BEGIN IMMEDIATE");
  if (!status.isOk()) return status;
  status = exec(schemaSql());
  if (status.isOk()) {
    status = exec(
        "INSERT OR IGNORE INTO meta(key, value) VALUES('format', 'kindex-address-book');"
        "INSERT OR IGNORE INTO meta(key, value) VALUES('version', 3);"
        "INSERT OR IGNORE INTO meta(key, value) VALUES('seq', 0);");
  }
  int version = 0;
  if (status.isOk()) status = checkOurs(&version);
  if (status.isOk()) status = exec("COMMIT");
  if (!status.isOk()) exec("ROLLBACK");
  return status;
}

Status Store::readSeq(uint64_t *seq) {
  Status status = prepared(&readSeq_, "SELECT value FROM meta WHERE key = 'seq'");
  if (!status.isOk()) return status;
  Reset reset{readSeq_};
  int rc = sqlite3_step(readSeq_);
  if (rc != SQLITE_ROW)
    return rc == SQLITE_DONE ? Status(Status::kCorruption, "no seq")
                             : Status::fromSqlite(rc, db_, "read seq");
  *seq = static_cast<uint64_t>(sqlite3_column_int64(readSeq_, 0));
  return Status::ok();
}

static void deliverRow(sqlite3_stmt *stmt, const Store::RowFn &row) {
  RowView view;
  view.uid = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
  view.uidLength = static_cast<size_t>(sqlite3_column_bytes(stmt, 0));
  view.kind = sqlite3_column_int(stmt, 1);
  view.data = sqlite3_column_blob(stmt, 2);
  view.dataLength = static_cast<size_t>(sqlite3_column_bytes(stmt, 2));
  view.seq = static_cast<uint64_t>(sqlite3_column_int64(stmt, 3));
  view.name = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 4));
  view.nameLength = static_cast<size_t>(sqlite3_column_bytes(stmt, 4));
  view.time = sqlite3_column_int64(stmt, 5);
  row(view);
}

namespace {

// The rows with their names and times; a book read as it is has neither.
const char kRows[] =
    "SELECT r.uid, r.kind, r.data, r.seq, n.name, s.time FROM records r"
    " LEFT JOIN names n ON n.uid = r.uid LEFT JOIN saves s ON s.seq = r.seq";
const char kOldRows[] = "SELECT uid, kind, data, seq, NULL, NULL FROM records r";

}  // namespace

Status Store::loadAll(const RowFn &row, uint64_t *seq) {
  // One read transaction, so the rows and the seq agree.
  Status status = exec("BEGIN");
  if (!status.isOk()) return status;
  status = readSeq(seq);
  Statement s;
  std::string sql = std::string(version_ == kVersion ? kRows : kOldRows) + " ORDER BY r.uid";
  if (status.isOk()) status = prepare(&s.stmt, sql.c_str());
  int rc = SQLITE_DONE;
  RowFn timed = withTime(row);
  while (status.isOk() && (rc = sqlite3_step(s.stmt)) == SQLITE_ROW) deliverRow(s.stmt, timed);
  if (status.isOk()) status = Status::fromSqlite(rc, db_, "load");
  exec(status.isOk() ? "COMMIT" : "ROLLBACK");
  return status;
}

// Asked before every read: the statement is prepared once.
bool Store::othersCommitted() {
  if (dataVersionStmt_ == nullptr &&
      sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, &dataVersionStmt_, nullptr) != SQLITE_OK)
    return true;
  const bool read = sqlite3_step(dataVersionStmt_) == SQLITE_ROW;
  long long version = read ? sqlite3_column_int64(dataVersionStmt_, 0) : dataVersion_;
  sqlite3_reset(dataVersionStmt_);
  if (!read) return true;
  bool changed = version != dataVersion_;
  dataVersion_ = version;
  return changed;
}

Status Store::changesSince(uint64_t since, const UidFn &removed, const RowFn &written, uint64_t *seq) {
  bool own = sqlite3_get_autocommit(db_) != 0;
  Status status = own ? exec("BEGIN") : Status::ok();
  if (!status.isOk()) return status;
  status = readSeq(seq);
  if (status.isOk() && *seq > since) {
    static const std::string rowsSql = std::string(kRows) + " WHERE r.seq > ?1",
                             oldRowsSql = std::string(kOldRows) + " WHERE r.seq > ?1";
    status = prepared(&removedSince_, "SELECT uid FROM removed WHERE seq > ?1");
    if (status.isOk()) status = prepared(&rowsSince_, (version_ == kVersion ? rowsSql : oldRowsSql).c_str());
    int rc = SQLITE_DONE;
    if (status.isOk()) {
      Reset reset{removedSince_};
      sqlite3_bind_int64(removedSince_, 1, static_cast<sqlite3_int64>(since));
      while ((rc = sqlite3_step(removedSince_)) == SQLITE_ROW) {
        removed(reinterpret_cast<const char *>(sqlite3_column_text(removedSince_, 0)),
                static_cast<size_t>(sqlite3_column_bytes(removedSince_, 0)));
      }
      status = Status::fromSqlite(rc, db_, "read removed");
    }
    if (status.isOk()) {
      Reset reset{rowsSince_};
      sqlite3_bind_int64(rowsSince_, 1, static_cast<sqlite3_int64>(since));
      RowFn timed = withTime(written);
      while ((rc = sqlite3_step(rowsSince_)) == SQLITE_ROW) deliverRow(rowsSince_, timed);
      status = Status::fromSqlite(rc, db_, "read changes");
    }
  }
  if (own) exec(status.isOk() ? "COMMIT" : "ROLLBACK");
  return status;
}

Store::RowFn Store::withTime(const RowFn &row) const {
  if (version_ == kVersion) return row;
  int64_t time = fileTime_;
  return [time, &row](const RowView &view) {
    RowView timed = view;
    timed.time = time;
    row(timed);
  };
}

Status Store::beginRead() {
  return exec("BEGIN");
}

void Store::endRead() {
  if (sqlite3_get_autocommit(db_) == 0) exec("COMMIT");
}

Status Store::changedUids(uint64_t since, const RemovedFn &removed, const UidFn &written) {
  Statement gone, rows;
  Status status = prepare(&gone.stmt, version_ == kVersion ? "SELECT uid, name FROM removed WHERE seq > ?1"
                                                           : "SELECT uid, NULL FROM removed WHERE seq > ?1");
  if (status.isOk()) status = prepare(&rows.stmt, "SELECT uid FROM records WHERE seq > ?1");
  if (!status.isOk()) return status;
  int rc = SQLITE_DONE;
  sqlite3_bind_int64(gone.stmt, 1, static_cast<sqlite3_int64>(since));
  while ((rc = sqlite3_step(gone.stmt)) == SQLITE_ROW) {
    removed(reinterpret_cast<const char *>(sqlite3_column_text(gone.stmt, 0)),
            static_cast<size_t>(sqlite3_column_bytes(gone.stmt, 0)),
            reinterpret_cast<const char *>(sqlite3_column_text(gone.stmt, 1)),
            static_cast<size_t>(sqlite3_column_bytes(gone.stmt, 1)));
  }
  status = Status::fromSqlite(rc, db_, "read removed");
  if (!status.isOk()) return status;
  sqlite3_bind_int64(rows.stmt, 1, static_cast<sqlite3_int64>(since));
  while ((rc = sqlite3_step(rows.stmt)) == SQLITE_ROW) {
    written(reinterpret_cast<const char *>(sqlite3_column_text(rows.stmt, 0)),
            static_cast<size_t>(sqlite3_column_bytes(rows.stmt, 0)));
  }
  return Status::fromSqlite(rc, db_, "read changes");
}

Status Store::begin(uint64_t *seq) {
  // A book read as it is (an older version nobody may write) takes no saves.
  if (version_ != kVersion) return Status(Status::kReadOnly, "the book cannot be written", EACCES);
  Status status = exec("BEGIN IMMEDIATE");
  if (!status.isOk()) return status;
  status = readSeq(seq);
  if (!status.isOk()) rollback();
  return status;
}

Status Store::put(const char *uid, size_t uidLength, int kind, const void *data, size_t length,
                  uint64_t seq) {
  sqlite3_bind_text(put_, 1, uid, static_cast<int>(uidLength), SQLITE_STATIC);
  sqlite3_bind_int(put_, 2, kind);
  sqlite3_bind_blob(put_, 3, data, static_cast<int>(length), SQLITE_STATIC);
  sqlite3_bind_int64(put_, 4, static_cast<sqlite3_int64>(seq));
  int rc = sqlite3_step(put_);
  sqlite3_reset(put_);
  return Status::fromSqlite(rc, db_, "write record");
}

Status Store::setName(const char *uid, size_t uidLength, const std::string &name) {
  sqlite3_bind_text(setName_, 1, uid, static_cast<int>(uidLength), SQLITE_STATIC);
  sqlite3_bind_text(setName_, 2, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  int rc = sqlite3_step(setName_);
  sqlite3_reset(setName_);
  if ((rc & 0xff) == SQLITE_CONSTRAINT) return Status(Status::kNameTaken, "the name " + name + " is taken");
  return Status::fromSqlite(rc, db_, "name record");
}

// The tombstone first: it takes the name along before the name's row goes.
Status Store::erase(const char *uid, size_t uidLength, uint64_t seq) {
  sqlite3_bind_text(erase_, 1, uid, static_cast<int>(uidLength), SQLITE_STATIC);
  int rc = sqlite3_step(erase_);
  sqlite3_reset(erase_);
  if (rc != SQLITE_DONE) return Status::fromSqlite(rc, db_, "delete record");
  sqlite3_bind_text(tombstone_, 1, uid, static_cast<int>(uidLength), SQLITE_STATIC);
  sqlite3_bind_int64(tombstone_, 2, static_cast<sqlite3_int64>(seq));
  rc = sqlite3_step(tombstone_);
  sqlite3_reset(tombstone_);
  if (rc != SQLITE_DONE) return Status::fromSqlite(rc, db_, "record removal");
  sqlite3_bind_text(dropName_, 1, uid, static_cast<int>(uidLength), SQLITE_STATIC);
  rc = sqlite3_step(dropName_);
  sqlite3_reset(dropName_);
  return Status::fromSqlite(rc, db_, "drop name");
}

Status Store::commit(uint64_t seq, int64_t time) {
  Status status = prepared(&bumpSeq_, "UPDATE meta SET value = ?1 WHERE key = 'seq'");
  if (!status.isOk()) return status;
  {
    Reset reset{bumpSeq_};
    sqlite3_bind_int64(bumpSeq_, 1, static_cast<sqlite3_int64>(seq));
    status = Status::fromSqlite(sqlite3_step(bumpSeq_), db_, "bump seq");
  }
  if (status.isOk()) status = prepared(&noteSave_, "INSERT OR REPLACE INTO saves(seq, time) VALUES(?1, ?2)");
  if (!status.isOk()) return status;
  {
    Reset reset{noteSave_};
    sqlite3_bind_int64(noteSave_, 1, static_cast<sqlite3_int64>(seq));
    sqlite3_bind_int64(noteSave_, 2, static_cast<sqlite3_int64>(time));
    status = Status::fromSqlite(sqlite3_step(noteSave_), db_, "note save");
  }
  if (!status.isOk()) return status;
  status = exec("COMMIT");
  // Our own commit does not move data_version; reading it now keeps othersCommitted() honest.
  if (status.isOk()) othersCommitted();
  return status;
}

void Store::rollback() {
  if (sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace kx
