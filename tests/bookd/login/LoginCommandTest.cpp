// The login language on its own: how inputs split, and which passwords can and cannot be
// presented, without a socket or a run loop.
#include "login/LoginCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using login::Flags;
using login::Outcome;

TEST(LoginSplit, EverySingleSpaceSplits) {
  struct Case {
    std::string input;
    std::vector<std::string> parts;
  } cases[] = {
      {"", {""}},
      {"quit", {"quit"}},
      {"auth ro pw", {"auth", "ro", "pw"}},
      {"auth  ro", {"auth", "", "ro"}},
      {" a ", {"", "a", ""}},
      {"a\tb c", {"a\tb", "c"}},
  };
  for (const Case &c : cases) EXPECT_EQ(c.parts, login::splitAtSpaces(c.input)) << "[" << c.input << "]";
}

// The transport trims an input, so the only passwords that matter here are the ones whose
// shape the splitting itself decides.
TEST(LoginInterpret, PasswordShapes) {
  struct Case {
    const char *name;
    std::string password;  // the server's read-only password
    std::string input;
    bool logsIn;
  } cases[] = {
      {"plain", "pw", "auth ro pw", true},
      {"tab inside", "p\tw", "auth ro p\tw", true},
      {"tab first", "\tpw", "auth ro \tpw", true},
      {"UTF-8 bytes", "p\xc3\xa4ss", "auth ro p\xc3\xa4ss", true},
      {"empty password never logs in", "", "auth ro", false},
      {"space inside never logs in", "p w", "auth ro p w", false},
      {"prefix of the password", "secret", "auth ro secre", false},
      {"password with more", "secret", "auth ro secrets", false},
  };
  for (const Case &c : cases) {
    const std::string other = "other";
    Outcome out = login::interpret(&c.input, &c.password, &other, Flags{});
    EXPECT_FALSE(out.close) << c.name;
    EXPECT_STREQ(c.logsIn ? login::ok : login::error, out.reply) << c.name;
    EXPECT_EQ(c.logsIn, out.flags.readOK) << c.name;
    EXPECT_FALSE(out.flags.writeOK) << c.name;
  }
}

TEST(LoginInterpret, MissingTextOrPasswordMatchesNothing) {
  const std::string pw = "pw";
  const std::string login = "auth rw pw";
  const Flags rw{true, true};

  Outcome undecodable = login::interpret(nullptr, &pw, &pw, rw);
  EXPECT_STREQ(login::error, undecodable.reply);
  EXPECT_TRUE(undecodable.flags.readOK && undecodable.flags.writeOK);

  Outcome noPassword = login::interpret(&login, &pw, nullptr, Flags{});
  EXPECT_STREQ(login::error, noPassword.reply);
  EXPECT_FALSE(noPassword.flags.readOK);
}

TEST(LoginWire, TextsAndZeroCut) {
  EXPECT_STREQ("Hello\n", login::hello);
  EXPECT_STREQ("OK\n", login::ok);
  EXPECT_STREQ("Error\n", login::error);
  EXPECT_EQ(4u, login::lengthUpToZero("quit\0x", 6));
  EXPECT_EQ(0u, login::lengthUpToZero("\0quit", 5));
  EXPECT_EQ(3u, login::lengthUpToZero("abc", 3));
}

}  // namespace
