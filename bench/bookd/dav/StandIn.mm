// bookd's CardDAV protocol layer over the in-memory collection of its tests, on a loopback
// port, holding the cards of a vCard file: lets bench_carddav --stand-in check its requests
// against bookd's answers while bookd itself cannot serve a book over CardDAV yet. Its times
// are not bookd's: the collection is a map of strings.
//
// Usage: carddav_standin CARDS.vcf PORT PASSWORD
#import <Foundation/Foundation.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#import "DavService.h"
#include "DavConfig.h"
#include "LoginBudget.h"
#include "MemoryCollection.h"

int main(int argc, char **argv) {
  NSAutoreleasePool *pool = [NSAutoreleasePool new];
  if (argc != 4) {
    std::fprintf(stderr, "usage: carddav_standin CARDS.vcf PORT PASSWORD\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string all = text.str();
  kxtest::MemoryCollection collection;
  const std::string end = "END:VCARD\r\n";
  for (size_t begin = 0, stop; (stop = all.find(end, begin)) != std::string::npos;
       begin = stop + end.size()) {
    const std::string card = all.substr(begin, stop + end.size() - begin);
    size_t uid = card.find("\r\nUID:");
    const std::string name = card.substr(uid + 6, card.find("\r\n", uid + 6) - uid - 6) + ".vcf";
    if (collection.put(name, card, carddav::Condition()).outcome != carddav::PutResult::kCreated) return 1;
  }
  carddav::DavConfig config;
  config.port = std::atoi(argv[2]);
  config.readOnlyPassword = "unused-read-only";
  config.readWritePassword = argv[3];
  carddav::FailureCountBudget budget(5);
  DavService *service = [DavService new];
  std::string error;
  if (![service startWithConfig:&config collection:&collection budget:&budget log:nullptr error:&error]) {
    std::fprintf(stderr, "carddav_standin: %s\n", error.c_str());
    return 1;
  }
  [[NSRunLoop currentRunLoop] run];
  [pool release];
  return 0;
}
