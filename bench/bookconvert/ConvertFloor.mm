// convert_floor: the least that converting a synthetic archive can cost, for bench_convert to
// compare bookconvert with: unarchive the file into the converter's own classes and keep it,
// then insert the same groups, persons and memberships with raw SQLite in one transaction.
//
//   convert_floor ARCHIVE DATABASE GROUPS ENTRIES_PER_GROUP
//
// The rows follow gnumail-archive's synthetic book: "Group g", and per entry
// "Given<n>" / "Family<n>" / "person<n>@example.org".
#import <Foundation/Foundation.h>
#include <cstdio>
#include <cstdlib>
#include <sqlite3.h>
#include <string>
#import "ArchivedClasses.h"

namespace {

std::string UniqueId(long serial) {
  char text[40];
  std::snprintf(text, sizeof text, "%08lx-0000-4000-8000-%012lx", serial * 2654435761UL % 0xffffffffUL,
                serial);
  return text;
}

bool exec(sqlite3 *db, const char *sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void Bind(sqlite3_stmt *statement, int column, const std::string &text) {
  sqlite3_bind_text(statement, column, text.c_str(), (int)text.size(), SQLITE_TRANSIENT);
}

bool Step(sqlite3_stmt *statement) {
  bool done = sqlite3_step(statement) == SQLITE_DONE;
  sqlite3_reset(statement);
  return done;
}

bool insertRows(const char *path, int groups, int entries) {
  sqlite3 *db = nullptr;
  if (sqlite3_open(path, &db) != SQLITE_OK) return false;
  bool ok = exec(db, "PRAGMA journal_mode=WAL") &&
            exec(db, "CREATE TABLE person(uid TEXT PRIMARY KEY, first TEXT, last TEXT, email TEXT);"
                     "CREATE TABLE grp(uid TEXT PRIMARY KEY, name TEXT);"
                     "CREATE TABLE member(grp TEXT, person TEXT, position INTEGER);") &&
            exec(db, "BEGIN");
  sqlite3_stmt *person = nullptr, *group = nullptr, *member = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO person VALUES(?,?,?,?)", -1, &person, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO grp VALUES(?,?)", -1, &group, nullptr);
  sqlite3_prepare_v2(db, "INSERT INTO member VALUES(?,?,?)", -1, &member, nullptr);
  long serial = 0, uid = 0;
  for (int g = 0; ok && g < groups; g++) {
    std::string groupId = UniqueId(uid++);
    Bind(group, 1, groupId);
    Bind(group, 2, "Group " + std::to_string(g));
    ok = Step(group);
    for (int e = 0; ok && e < entries; e++, serial++) {
      std::string personId = UniqueId(uid++);
      std::string n = std::to_string(serial);
      Bind(person, 1, personId);
      Bind(person, 2, "Given" + n);
      Bind(person, 3, "Family" + n);
      Bind(person, 4, "work:person" + n + "@example.org");
      Bind(member, 1, groupId);
      Bind(member, 2, personId);
      sqlite3_bind_int(member, 3, e);
      ok = Step(person) && Step(member);
    }
  }
  sqlite3_finalize(person);
  sqlite3_finalize(group);
  sqlite3_finalize(member);
  ok = ok && exec(db, "COMMIT");
  sqlite3_close(db);
  return ok;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "Usage: %s ARCHIVE DATABASE GROUPS ENTRIES_PER_GROUP\n", argv[0]);
    return 2;
  }
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  id root = [NSUnarchiver unarchiveObjectWithFile:[NSString stringWithUTF8String:argv[1]]];
  if (![root isKindOfClass:[AddressBook class]]) {
    std::fprintf(stderr, "convert_floor: %s holds no address book\n", argv[1]);
    return 1;
  }
  bool ok = insertRows(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  [pool release];
  return ok ? 0 : 1;
}
