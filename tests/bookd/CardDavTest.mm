// A real bookd serving its book over CardDAV to a real client (Debian's vdirsyncer) while a
// Distributed Objects client and another process change the same book: what each saves shows
// to the others, a card changed on both sides is never overwritten unseen, and a read-only
// login writes nothing.
#import <Foundation/Foundation.h>
#import <Kindex/Kindex.h>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "FileBytes.h"
#include "LoopbackPort.h"
#include "TempDir.h"
#include "Vdirsyncer.h"

namespace {

using kxtest::ChildProcess;

// vdirsyncer sends Basic credentials in ISO 8859-1: a real client logs in with ASCII only.
const char kReadOnly[] = "ro-secret";
const char kReadWrite[] = "rw-secret";
const int kCards = 1000;

NSString *Str(const std::string &text) {
  return [NSString stringWithUTF8String:text.c_str()];
}
std::string S(id text) {
  return text != nil ? [[text description] UTF8String] : "(nil)";
}

std::string Card(const std::string &uid, const std::string &fn) {
  return "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid + "\r\nFN:" + fn + "\r\nN:" + fn +
         ";;;;\r\nEMAIL:" + uid + "@example.com\r\nEND:VCARD\r\n";
}

class CardDav : public ::testing::Test {
 protected:
  void SetUp() override {
    pool_ = [NSAutoreleasePool new];
    if (access(kxtest::kVdirsyncerPath, X_OK) != 0)
      GTEST_SKIP() << "vdirsyncer is not installed (scripts/install-deps)";
    book_ = tmp_.path() + "/book";
    local_ = tmp_.path() + "/local";
    mkdir(book_.c_str(), 0700);
    mkdir(local_.c_str(), 0700);
    mkdir((local_ + "/book").c_str(), 0700);  // discovery would otherwise ask whether to make it
  }
  void TearDown() override {
    bookd_.kill();
    [pool_ release];
  }

  // Another process's book: this test's own, opened anew each time so that it reads the store.
  KXLocalAddressBook *local() {
    return [[[KXLocalAddressBook alloc] initWithLocation:Str(book_)] autorelease];
  }

  void startBookd() {
    receivePort_ = kxtest::freePort();
    davPort_ = kxtest::freePort();
    loginPort_ = kxtest::freePort();
    ASSERT_TRUE(
        bookd_.start(BOOKD_PATH, {"bookd", "--ab", book_, "--ro", kReadOnly, "--rw", kReadWrite, "--rp",
                                  std::to_string(receivePort_), "--sp", std::to_string(kxtest::freePort()),
                                  "--sock", std::to_string(loginPort_), "--dav", std::to_string(davPort_)}));
    ASSERT_TRUE(bookd_.waitForError("Running.\n", 30)) << bookd_.error();
  }

  KXAddressBook *view(BOOL readOnly) {
    NSError *error = nil;
    KXAddressBook *view = [KXPublicAddressBook viewOfServerAtHost:@"127.0.0.1"
                                                             port:receivePort_
                                                         readOnly:readOnly
                                                         password:Str(readOnly ? kReadOnly : kReadWrite)
                                                          timeout:20
                                                            error:&error];
    EXPECT_TRUE(view != nil) << S([error localizedDescription]);
    return view;
  }

  std::string config(const std::string &password, const std::string &resolution) {
    const std::string name = password == kReadOnly ? "ro" : "rw";
    const std::string path = tmp_.path() + "/" + name + "-" + std::to_string(configs_++) + ".conf";
    kxtest::writeVdirsyncerConfig(path,
                                  {tmp_.path() + "/status-" + name, local_, davPort_, password, resolution});
    return path;
  }

  int run(const std::string &conf, const std::string &command) {
    ChildProcess child;
    output_.clear();
    if (!child.start(kxtest::kVdirsyncerPath, {"vdirsyncer", "-v", "WARNING", "-c", conf, command},
                     {"HOME=" + tmp_.path(), "LC_ALL=C.UTF-8", "LANG=C.UTF-8"}))
      return -2;
    if (!child.waitForExit(240)) return -1;
    output_ = child.output() + child.error();
    return child.status();
  }

  std::string localCard(const std::string &name) { return kxtest::readFile(local_ + "/book/" + name); }

  NSAutoreleasePool *pool_ = nil;
  kxtest::TempDir tmp_{"bookd-carddav"};
  std::string book_, local_, output_;
  int receivePort_ = -1, davPort_ = -1, loginPort_ = -1, configs_ = 0;
  ChildProcess bookd_;
};

TEST_F(CardDav, OneBookForCardDavDistributedObjectsAndOtherProcesses) {
  {
    std::string text;
    for (int i = 0; i < kCards; ++i) text += Card("u" + std::to_string(i), "Person " + std::to_string(i));
    KXLocalAddressBook *book = local();
    NSArray *cards = [KXVCard cardsFromData:[NSData dataWithBytes:text.data() length:text.size()]
                                   problems:NULL
                                   warnings:NULL];
    ASSERT_EQ(static_cast<NSUInteger>(kCards), [[book applyVCards:cards] count]);
    ASSERT_TRUE([book save]);
  }
  startBookd();
  const std::string rw = config(kReadWrite, "null");
  ASSERT_EQ(0, run(rw, "discover")) << output_;
  ASSERT_EQ(0, run(rw, "sync")) << output_;
  EXPECT_EQ(static_cast<size_t>(kCards), kxtest::readTree(local_ + "/book").size());
  EXPECT_NE(std::string::npos, localCard("u7.vcf").find("FN:Person 7\r\n")) << localCard("u7.vcf");

  // Every side changes the book: the phone (vdirsyncer's folder), a Distributed Objects client
  // and another process.
  kxtest::writeFile(local_ + "/book/u1.vcf", Card("u1", "Edited Here"));
  kxtest::writeFile(local_ + "/book/newlocal.vcf", Card("newlocal", "New Here"));
  ASSERT_EQ(0, unlink((local_ + "/book/u2.vcf").c_str()));
  KXAddressBook *rwView = view(NO);
  ASSERT_TRUE(rwView != nil);
  [[rwView recordForUniqueId:@"u3"] setValue:@"From a GNUstep client" forProperty:KXNoteProperty];
  ASSERT_TRUE([rwView removeRecord:[rwView recordForUniqueId:@"u4"]]);
  KXPerson *added = [[[KXPerson alloc] init] autorelease];
  [added setValue:@"Added" forProperty:KXFirstNameProperty];
  [added setValue:@"Remotely" forProperty:KXLastNameProperty];
  ASSERT_TRUE([rwView addRecord:added]);
  ASSERT_TRUE([rwView save]);
  {
    KXLocalAddressBook *book = local();
    [[book recordForUniqueId:@"u8"] setValue:@"Elsewhere Inc." forProperty:KXOrganizationProperty];
    ASSERT_TRUE([book save]);
  }
  ASSERT_EQ(0, run(rw, "sync")) << output_;

  EXPECT_NE(std::string::npos, localCard("u3.vcf").find("NOTE:From a GNUstep client")) << localCard("u3.vcf");
  EXPECT_NE(std::string::npos, localCard("u8.vcf").find("ORG:Elsewhere Inc.")) << localCard("u8.vcf");
  EXPECT_EQ("", localCard("u4.vcf"));
  EXPECT_EQ(static_cast<size_t>(kCards),
            kxtest::readTree(local_ + "/book").size());  // -u2 -u4 +newlocal +added
  KXAddressBook *fresh = view(YES);
  ASSERT_TRUE(fresh != nil);
  EXPECT_EQ("Edited Here", S([[fresh recordForUniqueId:@"u1"] valueForProperty:KXFormattedNameProperty]));
  EXPECT_TRUE([fresh recordForUniqueId:@"u2"] == nil);
  EXPECT_EQ("New Here", S([[fresh recordForUniqueId:@"newlocal"] valueForProperty:KXFormattedNameProperty]));
  EXPECT_EQ(static_cast<NSUInteger>(kCards), [[fresh people] count]);
  EXPECT_EQ("Edited Here", S([[local() recordForUniqueId:@"u1"] valueForProperty:KXFormattedNameProperty]));

  // The same card changed on both sides: vdirsyncer stops on it and nothing is overwritten
  // until its configuration says which side wins.
  kxtest::writeFile(local_ + "/book/u5.vcf", Card("u5", "Mine"));
  [[rwView recordForUniqueId:@"u5"] setValue:@"Theirs" forProperty:KXNoteProperty];
  ASSERT_TRUE([rwView save]);
  EXPECT_NE(0, run(rw, "sync"));
  EXPECT_NE(std::string::npos, output_.find("u5")) << output_;
  KXRecord *u5 = [local() recordForUniqueId:@"u5"];
  EXPECT_EQ("Theirs", S([u5 valueForProperty:KXNoteProperty]));
  EXPECT_EQ("Person 5", S([u5 valueForProperty:KXFormattedNameProperty]));
  ASSERT_EQ(0, run(config(kReadWrite, "\"a wins\""), "sync")) << output_;
  EXPECT_EQ("Mine", S([[local() recordForUniqueId:@"u5"] valueForProperty:KXFormattedNameProperty]));

  // A read-only login reads, and every write it tries is refused with the book untouched.
  const std::string ro = config(kReadOnly, "\"a wins\"");
  ASSERT_EQ(0, run(ro, "discover")) << output_;
  ASSERT_EQ(0, run(ro, "sync")) << output_;
  kxtest::writeFile(local_ + "/book/u6.vcf", Card("u6", "Not Allowed"));
  kxtest::writeFile(local_ + "/book/another.vcf", Card("another", "Not Allowed Either"));
  EXPECT_NE(0, run(ro, "sync"));
  EXPECT_NE(std::string::npos, output_.find("403")) << output_;
  KXLocalAddressBook *after = local();
  EXPECT_EQ("Person 6", S([[after recordForUniqueId:@"u6"] valueForProperty:KXFormattedNameProperty]));
  EXPECT_TRUE([after recordForUniqueId:@"another"] == nil);
  EXPECT_EQ(static_cast<NSUInteger>(kCards), [[after people] count]);
}

// A connection to port on loopback, or -1.
int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = kxtest::loopbackAddress(port);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

// Reads until the text holds want or a second passes.
std::string readFor(int fd, const std::string &want) {
  std::string text;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (text.find(want) == std::string::npos && std::chrono::steady_clock::now() < end) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 50) == 1) {
      char buffer[256];
      ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, n);
    }
  }
  return text;
}

// Clients that hold CardDAV connections open past the service's limit, each sending a request
// a byte at a time, while a Distributed Objects client and a socket login ask for service.
TEST_F(CardDav, SlowAndSurplusCardDavClientsCostTheOtherServicesNothing) {
  startBookd();
  std::vector<int> held;
  for (int i = 0; i < 300; ++i) {
    int fd = Connect(davPort_);
    if (fd >= 0) held.push_back(fd);
  }
  const std::string request = "PROPFIND /addressbooks/book/ HTTP/1.1\r\nHost: x\r\n";
  for (size_t at = 0; at < 5; ++at) {
    for (int fd : held) (void)!write(fd, &request[at], 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(view(YES) != nil);
    int login = Connect(loginPort_);
    ASSERT_GE(login, 0);
    EXPECT_EQ("Hello\n", readFor(login, "\n"));
    ASSERT_EQ(18, write(login, "auth ro ro-secret\n", 18));
    EXPECT_EQ("OK\n", readFor(login, "\n"));
    close(login);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
  }
  for (int fd : held) close(fd);
}

}  // namespace
