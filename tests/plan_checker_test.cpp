// The plan judge on hand-made plans: valid ones of every kind of step, and one plan per rule
// that it must reject with a reason naming that rule.
#include "support/plan_checker.hpp"

#include <gtest/gtest.h>

namespace {

using Testing::Blocked_Road;
using Testing::Check_Plan;
using Testing::Plan;
using Testing::Plan_Problem;
using Testing::Road;
using Testing::Road_Kind;

// One-way 0->1, one lane 1-2, two lanes 2-3; one-way cycle 5->6->7->5; two one-lane roads
// between 8 and 10; position 9 and 11 without roads.
Plan_Problem Network(Testing::Joint_Position start, Testing::Joint_Position goal) {
  Plan_Problem p;
  p.roads = {{Road_Kind::One_Way, 0, 1},   {Road_Kind::One_Lane, 1, 2},
             {Road_Kind::Two_Lanes, 2, 3}, {Road_Kind::One_Way, 5, 6},
             {Road_Kind::One_Way, 6, 7},   {Road_Kind::One_Way, 7, 5},
             {Road_Kind::One_Lane, 8, 10}, {Road_Kind::One_Lane, 10, 8}};
  p.start = start;
  p.goal = goal;
  return p;
}

::testing::AssertionResult Rejected(const Plan_Problem& problem, const Plan& plan,
                                    const std::string& reason) {
  const std::string verdict = Check_Plan(problem, plan);
  if (verdict.find(reason) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "verdict '" << verdict << "' lacks '" << reason << "'";
}

TEST(PlanChecker, AcceptsEveryKindOfLegalStep) {
  // Two vehicles move at once; one follows another onto the place it leaves.
  EXPECT_EQ(Check_Plan(Network({0, 2, 9}, {2, 3, 9}), {{0, 2, 9}, {1, 3, 9}, {2, 3, 9}}), "");
  EXPECT_EQ(Check_Plan(Network({1, 2, 9}, {2, 3, 9}), {{1, 2, 9}, {2, 3, 9}}), "");
  // A swap on the two-lane road, and on two different one-lane roads between the same ends.
  EXPECT_EQ(Check_Plan(Network({2, 3, 9}, {3, 2, 9}), {{2, 3, 9}, {3, 2, 9}}), "");
  EXPECT_EQ(Check_Plan(Network({8, 10, 9}, {10, 8, 9}), {{8, 10, 9}, {10, 8, 9}}), "");
  // Three vehicles turning around a cycle of one-way roads.
  EXPECT_EQ(Check_Plan(Network({5, 6, 7}, {6, 7, 5}), {{5, 6, 7}, {6, 7, 5}}), "");
  // A one-lane road in both directions on different steps.
  EXPECT_EQ(Check_Plan(Network({1, 3, 9}, {1, 3, 9}), {{1, 3, 9}, {2, 3, 9}, {1, 3, 9}}), "");
  // Start equal to goal needs no step.
  EXPECT_EQ(Check_Plan(Network({0, 3, 9}, {0, 3, 9}), {{0, 3, 9}}), "");
}

TEST(PlanChecker, RejectsEachBrokenRuleWithItsReason) {
  EXPECT_TRUE(Rejected(Network({0, 2, 9}, {1, 2, 9}), {}, "empty"));
  EXPECT_TRUE(Rejected(Network({0, 2, 9}, {1, 2, 9}), {{0, 3, 9}, {1, 3, 9}}, "not the start"));
  EXPECT_TRUE(Rejected(Network({0, 2, 9}, {1, 2, 12}), {{0, 2, 9}, {0, 2, 12}}, "outside"));
  EXPECT_TRUE(Rejected(Network({0, 2, 9}, {2, 2, 9}), {{0, 2, 9}, {2, 3, 9}}, "along no road"));
  // Against the direction of the one-way road.
  EXPECT_TRUE(Rejected(Network({1, 2, 9}, {0, 2, 9}), {{1, 2, 9}, {0, 2, 9}}, "along no road"));
  EXPECT_TRUE(
      Rejected(Network({0, 1, 9}, {1, 1, 9}), {{0, 1, 9}, {1, 1, 9}}, "where vehicle 2 stays"));
  // Two vehicles entering the same free place.
  EXPECT_TRUE(
      Rejected(Network({0, 2, 9}, {1, 1, 9}), {{0, 2, 9}, {1, 1, 9}}, "stand on position 1"));
  EXPECT_TRUE(Rejected(Network({1, 2, 9}, {2, 1, 9}), {{1, 2, 9}, {2, 1, 9}},
                       "pass each other on the one-lane road 1-2"));
  EXPECT_TRUE(Rejected(Network({1, 2, 9}, {1, 2, 9}), {{1, 2, 9}, {1, 2, 9}}, "no vehicle moves"));
  EXPECT_TRUE(Rejected(Network({0, 2, 9}, {2, 3, 9}), {{0, 2, 9}, {1, 3, 9}}, "not the goal"));
}

TEST(PlanChecker, BlockedRoadIsRefusedInBothDirections) {
  Plan_Problem forward = Network({1, 3, 9}, {2, 3, 9});
  forward.obstacles = {Blocked_Road{2, 1}};
  EXPECT_TRUE(Rejected(forward, {{1, 3, 9}, {2, 3, 9}}, "along a blocked road"));
  Plan_Problem backward = Network({2, 3, 9}, {1, 3, 9});
  backward.obstacles = {Blocked_Road{2, 1}};
  EXPECT_TRUE(Rejected(backward, {{2, 3, 9}, {1, 3, 9}}, "along a blocked road"));
  // An obstacle elsewhere changes nothing.
  Plan_Problem elsewhere = Network({2, 3, 9}, {1, 3, 9});
  elsewhere.obstacles = {Blocked_Road{2, 3}};
  EXPECT_EQ(Check_Plan(elsewhere, {{2, 3, 9}, {1, 3, 9}}), "");
}

}  // namespace
