// An independent judge of mission plans: given the roads, the blocked roads and the start and
// goal positions of the three vehicles, it checks a plan step by step against the traffic rules
// of the road network. It shares no code with the planner.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace Testing {

inline constexpr int Plan_Positions = 12;

enum class Road_Kind { One_Way, One_Lane, Two_Lanes };

// A road in the order it was added; a one-way road leads from `first` to `second`.
struct Road {
  Road_Kind kind;
  int first;
  int second;
};

// A blocked road between two positions; the direction does not matter.
struct Blocked_Road {
  int origin;
  int destiny;
};

// The positions of vehicles 1, 2 and 3.
using Joint_Position = std::array<int, 3>;

struct Plan_Problem {
  std::vector<Road> roads;
  std::vector<Blocked_Road> obstacles;
  Joint_Position start{};
  Joint_Position goal{};
};

// A plan: step 0 is the start, the last step the goal.
using Plan = std::vector<Joint_Position>;

// "" when the plan is valid; otherwise a reason naming the step and the rule broken. Rules:
// positions 0..11, no two vehicles on one position, each vehicle stays or moves along one road
// in that road's direction and never along a blocked road (either direction), never onto a
// position whose vehicle stays, no two vehicles passing each other on a one-lane road (a
// two-lane road, or two different roads, allow the swap), at least one vehicle moves per step,
// step 0 is the start and the last step the goal.
std::string Check_Plan(const Plan_Problem& problem, const Plan& plan);

// Whether one step from `from` to `to` obeys the rules above ("" when it does).
std::string Check_Step(const Plan_Problem& problem, const Joint_Position& from,
                       const Joint_Position& to);

// "(1, 5, 9)".
std::string Joint_Image(const Joint_Position& position);

}  // namespace Testing
