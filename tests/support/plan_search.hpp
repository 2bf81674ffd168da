// A breadth-first search over the joint positions of the three vehicles, written from the
// traffic rules alone: the reference against which the planner's plans are measured.
#pragma once

#include <vector>

#include "support/plan_checker.hpp"

namespace Testing {

// Every joint position one legal step away from `from` (duplicates possible).
std::vector<Joint_Position> Next_Positions(const Plan_Problem& problem, const Joint_Position& from);

// A plan with the fewest steps from the start to the goal; empty when the goal cannot be
// reached. A start equal to the goal gives the one-element plan.
Plan Shortest_Plan(const Plan_Problem& problem);

// The joint positions from which the goal can be reached (the goal included), as a table
// indexed by Joint_Index.
std::vector<bool> Goal_Reachable_From(const Plan_Problem& problem);

// 0..1727: (a * 12 + b) * 12 + c.
int Joint_Index(const Joint_Position& p);

// The road distance of one vehicle from a to b, 32767 when there is no path; from a position
// to itself it is 0 only when a road cycle (a road from the position to itself included)
// passes through it.
int Road_Distance(const Plan_Problem& problem, int a, int b);

}  // namespace Testing
