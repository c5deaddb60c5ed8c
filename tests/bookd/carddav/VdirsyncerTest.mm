// Debian's vdirsyncer, a real CardDAV client, against the service over an in-memory book:
// discovery, a first sync of 1,000 cards, edits, additions and deletions on both sides, a
// conflict, and a read-only login that must not write. vdirsyncer's configuration, status and
// local cards live in a temporary directory.
#import "DavHarness.h"

#include <sys/stat.h>

#include <string>

#include "ChildProcess.h"
#include "FileBytes.h"
#include "TempDir.h"
#include "Vdirsyncer.h"

namespace davtest {
namespace {

std::string person(int i, const std::string &fn = "") {
  return kxtest::Card("u" + std::to_string(i), fn.empty() ? "Person " + std::to_string(i) : fn,
                      "EMAIL:p" + std::to_string(i) + "@example.com\r\n");
}

class Vdirsyncer : public DavTest {
 protected:
  void SetUp() override {
    DavTest::SetUp();
    // aiohttp sends Basic credentials in ISO 8859-1, so a real client logs in with ASCII only.
    config_.readWritePassword = "rw:secret";
    restart();
    if (access(kxtest::kVdirsyncerPath, X_OK) != 0)
      GTEST_SKIP() << "vdirsyncer is not installed (scripts/install-deps)";
    local_ = dir_.path() + "/local";
    mkdir(local_.c_str(), 0700);
    mkdir((local_ + "/book").c_str(), 0700);  // discovery would otherwise ask whether to make it
  }

  // Writes a configuration for the given password and conflict resolution and gives its path;
  // configurations of one login share vdirsyncer's status.
  std::string config(const std::string &password, const std::string &resolution) {
    const std::string name = password == kReadOnlyPassword ? "ro" : "rw";
    const std::string path = dir_.file(name + "-" + std::to_string(configs_++) + ".conf");
    kxtest::writeVdirsyncerConfig(path,
                                  {dir_.path() + "/status-" + name, local_, port_, password, resolution});
    return path;
  }

  // Runs vdirsyncer to its end while the run loop serves it; gives its exit status.
  int run(const std::string &conf, const std::string &command) {
    kxtest::ChildProcess child;
    child_output_.clear();
    if (!child.start(kxtest::kVdirsyncerPath, {"vdirsyncer", "-v", "WARNING", "-c", conf, command},
                     {"HOME=" + dir_.path(), "LC_ALL=C.UTF-8", "LANG=C.UTF-8"}))
      return -2;
    // The child is watched without blocking (its output is small at WARNING): the service
    // it talks to runs on this thread.
    const std::string stat = "/proc/" + std::to_string(child.pid()) + "/stat";
    const bool ended = runUntil(
        [&] {
          std::string text = kxtest::readFile(stat);
          size_t close = text.rfind(')');
          return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
        },
        240);
    if (!ended) return -1;
    child.waitForExit(10);
    child_output_ = child.output() + child.error();
    return child.status();
  }

  std::string localCard(const std::string &name) { return kxtest::readFile(local_ + "/book/" + name); }

  kxtest::TempDir dir_{"kindex-vdirsyncer"};
  std::string local_;
  std::string child_output_;
  int configs_ = 0;
};

TEST_F(Vdirsyncer, SyncsBothWaysAndKeepsReadOnlyLoginsOut) {
  for (int i = 0; i < 1000; ++i)
    collection_.put("u" + std::to_string(i) + ".vcf", person(i), carddav::Condition());
  const std::string rwConf = config(config_.readWritePassword, "null");

  ASSERT_EQ(0, run(rwConf, "discover")) << child_output_;
  ASSERT_EQ(0, run(rwConf, "sync")) << child_output_;
  EXPECT_EQ(1000u, kxtest::readTree(local_ + "/book").size());
  EXPECT_EQ(person(7), localCard("u7.vcf"));

  // Both sides change: an edit, an addition and a deletion each.
  kxtest::writeFile(local_ + "/book/u1.vcf", person(1, "Edited Here"));
  kxtest::writeFile(local_ + "/book/newlocal.vcf", kxtest::Card("newlocal", "New Here"));
  ASSERT_EQ(0, unlink((local_ + "/book/u2.vcf").c_str()));
  collection_.saveElsewhere("u3.vcf", person(3, "Edited There"));
  collection_.saveElsewhere("remote-made.vcf", kxtest::Card("remotemade", "New There"));
  collection_.removeElsewhere("u4.vcf");
  ASSERT_EQ(0, run(rwConf, "sync")) << child_output_;

  EXPECT_EQ(person(1, "Edited Here"), collection_.text("u1.vcf"));
  EXPECT_EQ("", collection_.text("u2.vcf"));
  EXPECT_EQ(person(3, "Edited There"), localCard("u3.vcf"));
  EXPECT_EQ("", localCard("u4.vcf"));
  EXPECT_EQ(kxtest::Card("remotemade", "New There"), localCard("remotemade.vcf"));
  EXPECT_EQ(1000u, collection_.size());  // 1,000 - u2 - u4 + newlocal + remote-made
  EXPECT_EQ(1000u, kxtest::readTree(local_ + "/book").size());
  bool uploaded = false;
  collection_.list([&](const carddav::CardInfo &info) {
    uploaded = uploaded || collection_.text(info.name) == kxtest::Card("newlocal", "New Here");
  });
  EXPECT_TRUE(uploaded);

  // The same card changed on both sides: vdirsyncer stops on it and nothing is overwritten,
  // until the configuration says which side wins.
  kxtest::writeFile(local_ + "/book/u5.vcf", person(5, "Mine"));
  collection_.saveElsewhere("u5.vcf", person(5, "Theirs"));
  EXPECT_NE(0, run(rwConf, "sync"));
  EXPECT_NE(std::string::npos, child_output_.find("u5")) << child_output_;
  EXPECT_EQ(person(5, "Mine"), localCard("u5.vcf"));
  EXPECT_EQ(person(5, "Theirs"), collection_.text("u5.vcf"));
  ASSERT_EQ(0, run(config(config_.readWritePassword, "\"a wins\""), "sync")) << child_output_;
  EXPECT_EQ(person(5, "Mine"), collection_.text("u5.vcf"));

  // A read-only login reads, and its writes are all refused.
  const std::string roConf = config(kReadOnlyPassword, "\"a wins\"");
  ASSERT_EQ(0, run(roConf, "discover")) << child_output_;
  ASSERT_EQ(0, run(roConf, "sync")) << child_output_;
  kxtest::writeFile(local_ + "/book/u6.vcf", person(6, "Not Allowed"));
  kxtest::writeFile(local_ + "/book/another.vcf", kxtest::Card("another", "Not Allowed Either"));
  const std::string token = collection_.syncToken();
  EXPECT_NE(0, run(roConf, "sync"));
  EXPECT_NE(std::string::npos, child_output_.find("403")) << child_output_;
  EXPECT_EQ(token, collection_.syncToken());
  EXPECT_EQ(person(6), collection_.text("u6.vcf"));
}

}  // namespace
}  // namespace davtest
