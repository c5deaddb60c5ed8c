// What importing and exporting vCards costs through kindex itself, a child process per run as
// a user runs it: 10,000 and 100,000 cards of mixed versions (2.1, 3.0, 4.0; an 8 KB photo in
// one card of ten), imported into an empty book; the same cards, each differing in one
// property, imported into the book that holds them all (each card updates its record by UID);
// and the book exported. The floor is parsing the same file with the library's vCard reader
// alone, in this process, in the same run (best of three). Peak memory is each child's own.
//
// The children are started from a process that has given back the memory of the files and
// of the floor's parsing: a child's peak counts what it shares with its parent at the fork.
//
// Usage: bench_kindex                  runs both sizes and prints the figures
//        bench_kindex --write N FILE   writes the N cards (to profile kindex on them)
#import <Foundation/Foundation.h>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "BenchLine.h"
#include "BenchProcess.h"
#include "TempDir.h"
#include "vcard/VcardReader.h"

namespace {

std::string base64(size_t bytes, std::mt19937 &random) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes / 3 * 4; ++i) out += alphabet[random() % 64];
  return out;
}

// Card i; `changed` alters one property (the mobile number).
std::string makeCard(int i, bool changed, const std::string &photo) {
  std::string n = std::to_string(i);
  std::string mobile = "+44 7700 " + std::to_string(100000 + i) + (changed ? "9" : "");
  std::ostringstream c;
  switch (i % 3) {
    case 0:
      c << "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Last" << n << ";First" << n << "\r\nFN:First" << n << " Last" << n
        << "\r\nEMAIL;INTERNET;WORK:person" << n << "@example.org\r\nTEL;CELL:" << mobile
        << "\r\nNOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:Gr=C3=BC=C3=9Fe an Nummer " << n
        << "\r\nX-ANDROID-CUSTOM:vnd.android.cursor.item/nickname;N" << n << ";1;;;;;;;;;;;;;\r\nUID:card-"
        << n << "\r\n";
      if (!photo.empty()) c << "PHOTO;ENCODING=BASE64;JPEG:" << photo << "\r\n\r\n";
      break;
    case 1:
      c << "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Last" << n << ";First" << n << ";;;\r\nFN:First" << n << " Last"
        << n << "\r\nORG:Example Ltd;Sales\r\nitem1.EMAIL;type=INTERNET;type=pref:person" << n
        << "@example.org\r\nitem1.X-ABLabel:_$!<Other>!$_\r\nTEL;type=CELL;type=VOICE:" << mobile
        << "\r\nADR;type=HOME:;;" << n
        << " High Street;London;;SW1A 1AA;UK\r\nCATEGORIES:Imported\r\nUID:card-" << n << "\r\n";
      if (!photo.empty()) c << "PHOTO;ENCODING=b;TYPE=JPEG:" << photo << "\r\n";
      break;
    default:
      c << "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:First" << n << " Last" << n << "\r\nN:Last" << n << ";First" << n
        << ";;;\r\nEMAIL;TYPE=work;PREF=1:person" << n
        << "@example.org\r\nTEL;VALUE=uri;TYPE=cell:tel:" << mobile << "\r\nURL:https://example.org/" << n
        << "\r\nBDAY:--0415\r\nUID:urn:uuid:card-" << n << "\r\n";
      if (!photo.empty()) c << "PHOTO:data:image/jpeg;base64," << photo << "\r\n";
  }
  c << "END:VCARD\r\n";
  return c.str();
}

std::string makeFile(int count, bool changed) {
  std::mt19937 random(7);
  std::string out;
  for (int i = 0; i < count; ++i) out += makeCard(i, changed, i % 10 == 0 ? base64(6 * 1024, random) : "");
  return out;
}

double parseFloor(const std::string &text, int count) {
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    auto start = std::chrono::steady_clock::now();
    vcard::ReadResult read = vcard::readCards(text);
    best = std::min(best, bench::seconds(start));
    if (static_cast<int>(read.cards.size()) != count || !read.errors.empty()) {
      std::fprintf(stderr, "bench_kindex: the reader took %zu of %d cards\n", read.cards.size(), count);
      std::exit(1);
    }
  }
  return best;
}

bench::ChildCost kindex(const std::vector<std::string> &args) {
  std::vector<std::string> argv = {KINDEX_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  bench::ChildCost cost = bench::runChild(argv);
  if (cost.status != 0) {
    std::fprintf(stderr, "bench_kindex: kindex %s failed with status %d\n", args[2].c_str(), cost.status);
    std::exit(1);
  }
  return cost;
}

void write(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string thousands(int n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// Writes the file of count cards and gives the floor: parsing it, best of three.
double prepare(int count, bool changed, const std::string &path) {
  std::string text = makeFile(count, changed);
  write(path, text);
  return parseFloor(text, count);
}

}  // namespace

int main(int argc, char **argv) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  if (argc == 4 && std::string(argv[1]) == "--write") {
    write(argv[3], makeFile(std::atoi(argv[2]), false));
    return 0;
  }
  double importOf10k = 0;
  for (int count : {10000, 100000}) {
    kxtest::TempDir tmp("bench-kindex");
    std::string cards = tmp.file("cards.vcf"), changed = tmp.file("changed.vcf");
    double floor = prepare(count, false, cards);
    double changedFloor = prepare(count, true, changed);
    malloc_trim(0);
    // Each figure is the best of its runs, as the floor is: three for 10,000 cards (each into a
    // book of its own), one for 100,000.
    bench::ChildCost imported, updated, exported;
    for (int run = 0; run < (count == 10000 ? 3 : 1); ++run) {
      std::string book = tmp.makeDir("book" + std::to_string(run));
      bench::ChildCost i = kindex({"--book", book, "import", cards});
      bench::ChildCost u = kindex({"--book", book, "import", changed});
      bench::ChildCost e = kindex({"--book", book, "export"});
      if (run == 0 || i.seconds < imported.seconds) imported = i;
      if (run == 0 || u.seconds < updated.seconds) updated = u;
      if (run == 0 || e.seconds < exported.seconds) exported = e;
    }

    std::string n = thousands(count);
    std::string target = count == 10000 ? "<= 1 s" : "<= 8 s, <= 11x the 10,000";
    bench::line("kindex import of " + n + " cards, empty book (s)", imported.seconds, "s", floor, target);
    if (count == 10000) {
      importOf10k = imported.seconds;
    } else {
      bench::line("kindex import of " + n + " cards against 10,000 (x)", imported.seconds / importOf10k, "x",
                  "<= 11");
    }
    bench::line("kindex import of " + n + " changed cards, by UID (s)", updated.seconds, "s", changedFloor,
                "<= 1.5x the plain import");
    bench::line("  update by UID against the plain import (x)", updated.seconds / imported.seconds, "x",
                "<= 1.5");
    bench::line("kindex export of " + n + " cards (s)", exported.seconds, "s", floor, "-");
    bench::line("  peak memory of the import (MiB)", imported.peakKiB / 1024.0, "MiB", "-");
    bench::line("  peak memory of the update (MiB)", updated.peakKiB / 1024.0, "MiB", "-");
    bench::line("  peak memory of the export (MiB)", exported.peakKiB / 1024.0, "MiB", "-");
  }
  [pool release];
  return 0;
}
