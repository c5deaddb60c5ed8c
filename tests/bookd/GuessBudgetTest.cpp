// The budget of password checks on a clock the test turns by hand: how many checks an address
// gets at once and over time, that a success buys nothing, that one address never costs
// another, when a refusal is the first of an episode, and that the table stays bounded.
#include "GuessBudget.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Failures until the budget refuses, at one instant; stops at limit.
int failuresUntilRefused(GuessBudget &budget, const std::string &address, double now, int limit = 1000) {
  int failures = 0;
  while (failures < limit && budget.mayCheck(address, now)) {
    budget.noteFailure(address, now);
    failures++;
  }
  return failures;
}

TEST(GuessBudget, TwentyAtOnceThenAboutOneASecond) {
  GuessBudget budget;
  EXPECT_EQ(20, failuresUntilRefused(budget, "192.0.2.1", 100.0));
  EXPECT_FALSE(budget.mayCheck("192.0.2.1", 100.9));
  EXPECT_EQ(1, failuresUntilRefused(budget, "192.0.2.1", 101.0));
  // A minute of hammering buys sixty more, not more.
  int checked = 0;
  for (double now = 101.0; now < 161.0; now += 0.01)
    checked += failuresUntilRefused(budget, "192.0.2.1", now);
  EXPECT_NEAR(60, checked, 1);
}

TEST(GuessBudget, SuccessCostsNothingAndRefundsNothing) {
  GuessBudget budget;
  for (int i = 0; i < 1000; i++) {
    ASSERT_TRUE(budget.mayCheck("192.0.2.1", 5.0));
    budget.noteSuccess("192.0.2.1", 5.0);
  }
  EXPECT_EQ(0u, budget.size());
  for (int i = 0; i < 19; i++) budget.noteFailure("192.0.2.1", 5.0);
  budget.noteSuccess("192.0.2.1", 5.0);
  EXPECT_EQ(1, failuresUntilRefused(budget, "192.0.2.1", 5.0));
}

TEST(GuessBudget, AddressesAreIndependent) {
  GuessBudget budget;
  EXPECT_EQ(20, failuresUntilRefused(budget, "192.0.2.1", 0));
  EXPECT_TRUE(budget.mayCheck("192.0.2.2", 0));
  EXPECT_TRUE(budget.mayCheck("::1", 0));
  EXPECT_EQ(20, failuresUntilRefused(budget, "192.0.2.2", 0));
}

TEST(GuessBudget, OneLoggedRefusalPerEpisode) {
  GuessBudget budget;
  failuresUntilRefused(budget, "192.0.2.1", 0);
  EXPECT_TRUE(budget.noteRefusal("192.0.2.1", 0));
  EXPECT_FALSE(budget.noteRefusal("192.0.2.1", 0.5));
  // A check allowed again between refusals does not end the episode...
  EXPECT_EQ(1, failuresUntilRefused(budget, "192.0.2.1", 1.5));
  EXPECT_FALSE(budget.noteRefusal("192.0.2.1", 1.6));
  // ...a full budget again does, and the address is forgotten.
  EXPECT_TRUE(budget.mayCheck("192.0.2.1", 100));
  EXPECT_EQ(0u, budget.size());
  failuresUntilRefused(budget, "192.0.2.1", 100);
  EXPECT_TRUE(budget.noteRefusal("192.0.2.1", 100));
}

TEST(GuessBudget, TableStaysBoundedUnderAFloodOfAddresses) {
  GuessBudget::Limits limits;
  limits.maxAddresses = 100;
  GuessBudget budget(limits);
  failuresUntilRefused(budget, "attacker", 0);
  for (int i = 0; i < 10000; i++) budget.noteFailure("flood-" + std::to_string(i), 0);
  EXPECT_EQ(100u, budget.size());
  // The least recently touched went first: the attacker is forgotten, the last flood kept.
  EXPECT_TRUE(budget.mayCheck("attacker", 0));
  budget.noteFailure("flood-9999", 0);
  EXPECT_EQ(18, failuresUntilRefused(budget, "flood-9999", 0));
}

TEST(GuessBudget, ClockThatGoesBackRefillsNothing) {
  GuessBudget budget;
  failuresUntilRefused(budget, "192.0.2.1", 50);
  EXPECT_FALSE(budget.mayCheck("192.0.2.1", 10));
  EXPECT_FALSE(budget.mayCheck("192.0.2.1", 50.5));
  EXPECT_TRUE(budget.mayCheck("192.0.2.1", 51));
}

}  // namespace
