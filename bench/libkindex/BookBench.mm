// How long a book takes to save N new persons (first and last name, one work e-mail) next to
// the floor - raw SQLite inserting the same rows into the same table in one transaction
// with one prepared statement - and how long reopening and listing them takes. Each size
// runs in a child process of its own, so that peak memory is that size's alone.
// Each size runs three times; every figure is its best of the three. Besides time, the heap a
// reopened book holds once listed: what a program that keeps a large book open pays for it
// (the peak of the whole run is the adding and saving, not the open book).
//
// A third figure lists a book through a view that crossed a loopback Distributed Objects
// connection, as a client of bookd does.
//
// A save that merges: a book changes 1% of its persons, another process saves another 1% in
// between (half of it on the same persons, another property), and the book saves, catching up
// with the other's save and merging the half they share; its floor is the same save with
// nothing in between. Best of five of each.
//
// Usage: bench_libkindex             runs every size and prints the figures
//        bench_libkindex --child N   one size; prints "save floor reopen" seconds and the
//                                      reopened book's heap in MiB
//        bench_libkindex --remote N  prints "seconds requests" of one remote listing
//        bench_libkindex --merge N   prints "merging plain" seconds of a 1% save
#import <Kindex/Kindex.h>
#import "KXPrivate.h"
#import "coding/KXCodec.h"
#include "store/Store.h"

#include <malloc.h>
#include <sqlite3.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "BenchLine.h"
#include "BenchProcess.h"
#include "TempDir.h"

namespace {

KXPerson *makePerson(int i) {
  KXPerson *p = [[KXPerson new] autorelease];
  [p setValue:[NSString stringWithFormat:@"First%d", i] forProperty:KXFirstNameProperty];
  [p setValue:[NSString stringWithFormat:@"Last%d", i] forProperty:KXLastNameProperty];
  KXMutableMultiValue *mails = [[[KXMutableMultiValue alloc] init] autorelease];
  [mails addValue:[NSString stringWithFormat:@"person%d@example.org", i] withLabel:KXEmailWorkLabel];
  [p setValue:mails forProperty:KXEmailProperty];
  return p;
}

// Bytes the program holds from malloc, small blocks and large ones alike.
double heapMiB() {
  struct mallinfo2 info = mallinfo2();
  return static_cast<double>(info.uordblks + info.hblkhd) / 1048576.0;
}

void fail(const char *what) {
  std::fprintf(stderr, "bench_libkindex: %s\n", what);
  std::exit(1);
}

// The floor: the rows the book would write, coded beforehand, inserted into tables made by the
// store's own schema, under its settings, in one transaction through one prepared statement.
double floorSeconds(const std::string &dir, NSArray *people) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (NSUInteger i = 0; i < [people count]; i++) {
    std::string data;
    kx::encodeRecord([people objectAtIndex:i], &data);
    rows.emplace_back([[[people objectAtIndex:i] uniqueId] UTF8String], data);
  }
  sqlite3 *db = nullptr;
  if (sqlite3_open((dir + "/floor.sqlite").c_str(), &db) != SQLITE_OK) fail("floor open");
  if (sqlite3_exec(db, kx::Store::pragmaSql(), nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, kx::Store::schemaSql(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    fail("floor schema");
  }
  auto start = std::chrono::steady_clock::now();
  sqlite3_stmt *stmt = nullptr;
  sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO records(uid, kind, data, seq) VALUES(?1, ?2, ?3, ?4)", -1,
                     &stmt, nullptr);
  for (const auto &row : rows) {
    sqlite3_bind_text(stmt, 1, row.first.data(), static_cast<int>(row.first.size()), SQLITE_STATIC);
    sqlite3_bind_int(stmt, 2, 1);
    sqlite3_bind_blob(stmt, 3, row.second.data(), static_cast<int>(row.second.size()), SQLITE_STATIC);
    sqlite3_bind_int64(stmt, 4, 1);
    if (sqlite3_step(stmt) != SQLITE_DONE) fail("floor insert");
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) fail("floor commit");
  double seconds = bench::seconds(start);
  sqlite3_close(db);
  return seconds;
}

int runChild(int n) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  kxtest::TempDir tmp("kindex-bench");
  NSString *location = [[NSString alloc] initWithUTF8String:tmp.makeDir("book").c_str()];
  KXLocalAddressBook *book = [[KXLocalAddressBook alloc] initWithLocation:location];
  if (book == nil) fail("open");
  NSMutableArray *people = [NSMutableArray arrayWithCapacity:n];
  for (int i = 0; i < n; i++) {
    KXPerson *p = makePerson(i);
    [people addObject:p];
    if (![book addRecord:p]) fail("add");
  }
  auto start = std::chrono::steady_clock::now();
  if (![book save]) fail("save");
  double save = bench::seconds(start);
  double floor = floorSeconds(tmp.path(), people);
  [book release];
  [pool release];

  pool = [NSAutoreleasePool new];
  double heapBefore = heapMiB();
  start = std::chrono::steady_clock::now();
  book = [[KXLocalAddressBook alloc] initWithLocation:location];
  NSArray *listed = [book people];
  size_t characters = 0;
  for (NSUInteger i = 0; i < [listed count]; i++) {
    KXRecord *p = [listed objectAtIndex:i];
    characters += [[p valueForProperty:KXFirstNameProperty] length] +
                  [[p valueForProperty:KXLastNameProperty] length] +
                  [[[p valueForProperty:KXEmailProperty] valueAtIndex:0] length];
  }
  double reopen = bench::seconds(start);
  double heap = heapMiB() - heapBefore;
  if ([listed count] != static_cast<NSUInteger>(n) || characters == 0) fail("list");
  std::printf("%f %f %f %f\n", save, floor, reopen, heap);
  [location release];
  [book release];
  [pool release];
  return 0;
}

// Sets property to value on every person whose index i has i % every == at.
void changeEvery(KXAddressBook *book, NSArray *uids, int every, int at, NSString *property, NSString *value) {
  for (NSUInteger i = at; i < [uids count]; i += every) {
    [[book recordForUniqueId:[uids objectAtIndex:i]] setValue:value forProperty:property];
  }
}

// The other process: started before the book is made, so that it shares none of the book's
// memory with this one (a fork of a process holding the book would make every page the book
// writes to afterwards fault once). On each byte from `commands` it changes its 1% and
// saves, and answers with a byte.
pid_t startOtherSaver(NSString *location, const int (&commandPipe)[2], const int (&answerPipe)[2]) {
  pid_t pid = fork();
  if (pid != 0) {
    close(commandPipe[0]);
    close(answerPipe[1]);
    return pid;
  }
  // Only the ends it uses: the parent's closing its end of the commands must end the loop.
  close(commandPipe[1]);
  close(answerPipe[0]);
  const int commands = commandPipe[0], answers = answerPipe[1];
  char round = 0;
  KXLocalAddressBook *theirs = nil;
  NSMutableArray *uids = [NSMutableArray array];
  while (read(commands, &round, 1) == 1) {
    NSAutoreleasePool *pool = [NSAutoreleasePool new];
    if (theirs == nil) {
      theirs = [[KXLocalAddressBook alloc] initWithLocation:location];
      // Persons come in uid order, which is the order they were made in.
      NSArray *people = [theirs people];
      for (NSUInteger i = 0; i < [people count]; i++) [uids addObject:[[people objectAtIndex:i] uniqueId]];
    }
    // Half of it on the persons the book changes, half on others.
    NSString *value = [NSString stringWithFormat:@"Theirs%d", round];
    changeEvery(theirs, uids, 200, 0, KXOrganizationProperty, value);
    changeEvery(theirs, uids, 200, 50, KXOrganizationProperty, value);
    char saved = [theirs save] ? 1 : 0;
    [pool release];
    if (write(answers, &saved, 1) != 1) break;
  }
  _exit(0);
}

int runMerge(int n) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  kxtest::TempDir tmp("kindex-bench");
  NSString *location = [NSString stringWithUTF8String:tmp.makeDir("book").c_str()];
  int commands[2], answers[2];
  if (pipe(commands) != 0 || pipe(answers) != 0) fail("pipe");
  pid_t other = startOtherSaver(location, commands, answers);

  KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
  NSMutableArray *uids = [NSMutableArray arrayWithCapacity:n];
  for (int i = 0; i < n; i++) {
    KXPerson *p = makePerson(i);
    [book addRecord:p];
    [uids addObject:[p uniqueId]];
  }
  if (![book save]) fail("save");
  double plain = 1e30, merging = 1e30;
  for (char round = 0; round < 5; round++) {
    NSAutoreleasePool *roundPool = [NSAutoreleasePool new];
    // 1% of the persons, every hundredth.
    changeEvery(book, uids, 100, 0, KXLastNameProperty, [NSString stringWithFormat:@"Plain%d", round]);
    auto start = std::chrono::steady_clock::now();
    if (![book save]) fail("plain save");
    plain = std::min(plain, bench::seconds(start));

    changeEvery(book, uids, 100, 0, KXLastNameProperty, [NSString stringWithFormat:@"Mine%d", round]);
    char saved = 0;
    if (write(commands[1], &round, 1) != 1 || read(answers[0], &saved, 1) != 1 || saved != 1) {
      fail("the other process's save");
    }
    NSError *conflicts = nil;
    start = std::chrono::steady_clock::now();
    if (![book saveReturningConflicts:&conflicts error:NULL]) fail("merging save");
    merging = std::min(merging, bench::seconds(start));
    if ([[[conflicts userInfo] objectForKey:KXMergedRecordIdsKey] count] !=
        static_cast<NSUInteger>(n / 200)) {
      fail("the merging save merged another number of records");
    }
    [roundPool release];
  }
  close(commands[1]);
  waitpid(other, nullptr, 0);
  std::printf("%f %f\n", merging, plain);
  [pool release];
  return 0;
}

}  // namespace

// Serves a book as bookd does, granting a read-only view for any password.
@interface KXBenchVendor : NSObject <KXSimpleAddressBookServing> {
  KXAddressBook *_book;
}
- (id)initWithBook:(KXAddressBook *)book;
@end

@implementation KXBenchVendor
- (id)initWithBook:(KXAddressBook *)book {
  if ((self = [super init]) != nil) _book = [book retain];
  return self;
}
- (void)dealloc {
  [_book release];
  [super dealloc];
}
- (KXAddressBook *)addressBookForReadOnlyAccessWithAuth:(id)auth {
  return [[[KXPublicAddressBook alloc] initWithAddressBook:_book readOnly:YES] autorelease];
}
- (KXAddressBook *)addressBookForReadWriteAccessWithAuth:(id)auth {
  return nil;
}
@end

namespace {

// Requests this process sent, over all its connections.
unsigned requestsSent() {
  unsigned total = 0;
  NSArray *connections = [NSConnection allConnections];
  for (NSUInteger i = 0; i < [connections count]; i++)
    total +=
        [[[[connections objectAtIndex:i] statistics] objectForKey:NSConnectionRequestsSent] unsignedIntValue];
  return total;
}

int runRemote(int n) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  kxtest::TempDir tmp("kindex-bench");
  NSString *location = [NSString stringWithUTF8String:tmp.makeDir("book").c_str()];
  KXLocalAddressBook *book = [[[KXLocalAddressBook alloc] initWithLocation:location] autorelease];
  for (int i = 0; i < n; i++) [book addRecord:makePerson(i)];
  if (![book save]) fail("save");
  int fds[2];
  if (pipe(fds) != 0) fail("pipe");
  pid_t server = fork();
  if (server == 0) {
    NSSocketPort *port = [NSSocketPort portWithNumber:0 onHost:nil forceAddress:@"127.0.0.1" listener:YES];
    NSConnection *served = [[NSConnection alloc] initWithReceivePort:port sendPort:nil];
    [served setRootObject:[[[KXBenchVendor alloc] initWithBook:book] autorelease]];
    int number = [port portNumber];
    if (write(fds[1], &number, sizeof number) != sizeof number) _exit(1);
    [[NSRunLoop currentRunLoop] runUntilDate:[NSDate dateWithTimeIntervalSinceNow:60]];
    _exit(0);
  }
  int number = 0;
  if (read(fds[0], &number, sizeof number) != sizeof number) fail("server");
  double seconds = -1;
  unsigned requests = 0;
  @try {
    KXAddressBook *view = [KXPublicAddressBook viewOfServerAtHost:@"127.0.0.1"
                                                             port:number
                                                         readOnly:YES
                                                         password:@"any"
                                                          timeout:30
                                                            error:NULL];
    unsigned before = requestsSent();
    auto start = std::chrono::steady_clock::now();
    NSArray *people = [view people];
    size_t characters = 0;
    for (NSUInteger i = 0; i < [people count]; i++) {
      KXRecord *p = [people objectAtIndex:i];
      characters += [[p valueForProperty:KXFirstNameProperty] length] +
                    [[p valueForProperty:KXLastNameProperty] length] +
                    [[[p valueForProperty:KXEmailProperty] valueAtIndex:0] length];
    }
    if (view != nil && [people count] == static_cast<NSUInteger>(n) && characters > 0) {
      seconds = bench::seconds(start);
      requests = requestsSent() - before;
    }
  } @catch (id e) {
    seconds = -1;
  }
  kill(server, SIGKILL);
  waitpid(server, nullptr, 0);
  if (seconds < 0) fail("remote listing");
  std::printf("%f %u\n", seconds, requests);
  [pool release];
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 3 && std::string(argv[1]) == "--child") return runChild(std::atoi(argv[2]));
  if (argc == 3 && std::string(argv[1]) == "--remote") return runRemote(std::atoi(argv[2]));
  if (argc == 3 && std::string(argv[1]) == "--merge") return runMerge(std::atoi(argv[2]));

  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) fail("cannot find myself");
  self[length] = '\0';
  struct Result {
    double save, floor, reopen, heapMiB, wall;
    long peakKiB;
  };
  Result results[2];
  const int sizes[2] = {10000, 100000};
  // A save of 10,000 rows takes milliseconds, of which one sync to disk is a good part: each
  // figure is the best of a few runs, the floor's as much as the book's.
  const int rounds = 3;
  for (int k = 0; k < 2; k++) {
    Result r{1e30, 1e30, 1e30, 1e30, 1e30, 1L << 60};
    for (int round = 0; round < rounds; round++) {
      std::string out = std::string("/tmp/kindex-bench-") + std::to_string(getpid());
      bench::ChildCost cost = bench::runChild(
          {"/bin/sh", "-c", std::string("'") + self + "' --child " + std::to_string(sizes[k]) + " > " + out});
      FILE *f = std::fopen(out.c_str(), "r");
      Result one{};
      if (cost.status != 0 || f == nullptr ||
          std::fscanf(f, "%lf %lf %lf %lf", &one.save, &one.floor, &one.reopen, &one.heapMiB) != 4) {
        fail("a child failed");
      }
      std::fclose(f);
      std::remove(out.c_str());
      r.save = std::min(r.save, one.save);
      r.floor = std::min(r.floor, one.floor);
      r.reopen = std::min(r.reopen, one.reopen);
      r.heapMiB = std::min(r.heapMiB, one.heapMiB);
      r.wall = std::min(r.wall, cost.seconds);
      r.peakKiB = std::min(r.peakKiB, static_cast<long>(cost.peakKiB));
    }
    results[k] = r;
    std::string n = std::to_string(sizes[k]);
    bench::line("book save " + n + " persons vs raw SQLite", r.save, "s", r.floor, "ratio <= 2");
    bench::line("book reopen+list " + n + " persons", r.reopen, "s", k == 1 ? "< 1 s" : "-");
    bench::line("book reopen+list " + n + " persons: heap held", r.heapMiB, "MiB", "-");
    bench::line("book add+save+reopen+list " + n + " wall", r.wall, "s", "-");
    bench::line("book add+save+reopen+list " + n + " peak memory", r.peakKiB / 1024.0, "MiB", "-");
  }
  bench::line("book save growth 10k->100k (linear = 10)", results[1].save, "s", results[0].save,
              "ratio ~ 10");
  bench::line("book reopen+list growth 10k->100k (linear = 10)", results[1].reopen, "s", results[0].reopen,
              "ratio ~ 10");
  bench::line("book peak memory growth 10k->100k (linear <= 10)", results[1].peakKiB, "KiB",
              results[0].peakKiB, "ratio <= 10");
  for (int k = 0; k < 2; k++) {
    std::string out = std::string("/tmp/kindex-bench-") + std::to_string(getpid());
    std::string n = std::to_string(sizes[k]);
    bench::ChildCost cost =
        bench::runChild({"/bin/sh", "-c", std::string("'") + self + "' --merge " + n + " > " + out});
    FILE *f = std::fopen(out.c_str(), "r");
    double merging = 0, plain = 0;
    if (cost.status != 0 || f == nullptr || std::fscanf(f, "%lf %lf", &merging, &plain) != 2)
      fail("merge child");
    std::fclose(f);
    std::remove(out.c_str());
    bench::line("book save 1% of " + n + " merging another's 1% vs plain", merging, "s", plain,
                "ratio <= 1.5");
  }
  {
    std::string out = std::string("/tmp/kindex-bench-") + std::to_string(getpid());
    bench::ChildCost cost =
        bench::runChild({"/bin/sh", "-c", std::string("'") + self + "' --remote 10000 > " + out});
    FILE *f = std::fopen(out.c_str(), "r");
    double seconds = 0;
    unsigned requests = 0;
    if (cost.status != 0 || f == nullptr || std::fscanf(f, "%lf %u", &seconds, &requests) != 2)
      fail("remote child");
    std::fclose(f);
    std::remove(out.c_str());
    bench::line("remote view list 10000 persons (names, e-mail)", seconds, "s", "well under 1 s");
    bench::line("remote view list 10000 persons: requests", requests, "calls", "fixed (1)");
  }
  return 0;
}
