// The plan judge: every step is checked against the roads, the obstacles and the rules of
// passing, from scratch, without the planner's net or graph.
#include "support/plan_checker.hpp"

#include <sstream>

namespace Testing {
namespace {

bool Valid_Position(int p) {
  return p >= 0 && p < Plan_Positions;
}

bool Same_Ends(int a, int b, int c, int d) {
  return (a == c && b == d) || (a == d && b == c);
}

// The indexes of the roads a vehicle can take from a to b (a != b).
std::vector<std::size_t> Roads_From_To(const Plan_Problem& problem, int a, int b) {
  std::vector<std::size_t> found;
  for (std::size_t r = 0; r < problem.roads.size(); ++r) {
    const Road& road = problem.roads[r];
    const bool forward = road.first == a && road.second == b;
    const bool backward = road.first == b && road.second == a;
    if (forward || (road.kind != Road_Kind::One_Way && backward)) found.push_back(r);
  }
  return found;
}

bool Blocked(const Plan_Problem& problem, int a, int b) {
  for (const Blocked_Road& o : problem.obstacles)
    if (Same_Ends(o.origin, o.destiny, a, b)) return true;
  return false;
}

std::string Invalid_Joint(const Joint_Position& p) {
  for (int v = 0; v < 3; ++v)
    if (!Valid_Position(p[static_cast<std::size_t>(v)]))
      return "vehicle " + std::to_string(v + 1) + " stands outside the positions";
  for (int v = 0; v < 3; ++v)
    for (int w = v + 1; w < 3; ++w)
      if (p[static_cast<std::size_t>(v)] == p[static_cast<std::size_t>(w)])
        return "vehicles " + std::to_string(v + 1) + " and " + std::to_string(w + 1) +
               " stand on position " + std::to_string(p[static_cast<std::size_t>(v)]);
  return "";
}

}  // namespace

std::string Joint_Image(const Joint_Position& position) {
  std::ostringstream text;
  text << "(" << position[0] << ", " << position[1] << ", " << position[2] << ")";
  return text.str();
}

std::string Check_Step(const Plan_Problem& problem, const Joint_Position& from,
                       const Joint_Position& to) {
  if (const std::string bad = Invalid_Joint(from); !bad.empty()) return "before the step " + bad;
  for (int v = 0; v < 3; ++v)
    if (!Valid_Position(to[static_cast<std::size_t>(v)]))
      return "vehicle " + std::to_string(v + 1) + " moves outside the positions";

  std::array<std::vector<std::size_t>, 3> used;
  bool any_move = false;
  for (int v = 0; v < 3; ++v) {
    const auto iv = static_cast<std::size_t>(v);
    const int a = from[iv];
    const int b = to[iv];
    if (a == b) continue;
    any_move = true;
    const std::string name = "vehicle " + std::to_string(v + 1);
    used[iv] = Roads_From_To(problem, a, b);
    if (used[iv].empty())
      return name + " moves from " + std::to_string(a) + " to " + std::to_string(b) +
             " along no road";
    if (Blocked(problem, a, b))
      return name + " moves from " + std::to_string(a) + " to " + std::to_string(b) +
             " along a blocked road";
  }
  if (!any_move) return "no vehicle moves";

  for (int v = 0; v < 3; ++v)
    for (int w = 0; w < 3; ++w) {
      const auto iv = static_cast<std::size_t>(v);
      const auto iw = static_cast<std::size_t>(w);
      if (v == w || from[iv] == to[iv]) continue;
      if (from[iw] == to[iw] && to[iv] == to[iw])
        return "vehicle " + std::to_string(v + 1) + " moves onto position " +
               std::to_string(to[iv]) + " where vehicle " + std::to_string(w + 1) + " stays";
    }
  if (const std::string bad = Invalid_Joint(to); !bad.empty()) return "after the step " + bad;

  for (int v = 0; v < 3; ++v)
    for (int w = v + 1; w < 3; ++w) {
      const auto iv = static_cast<std::size_t>(v);
      const auto iw = static_cast<std::size_t>(w);
      if (from[iv] == to[iv] || from[iw] != to[iv] || from[iv] != to[iw]) continue;
      // A swap needs two different roads, or one road with two lanes.
      bool possible = false;
      for (std::size_t r1 : used[iv])
        for (std::size_t r2 : used[iw])
          if (r1 != r2 || problem.roads[r1].kind == Road_Kind::Two_Lanes) possible = true;
      if (!possible)
        return "vehicles " + std::to_string(v + 1) + " and " + std::to_string(w + 1) +
               " pass each other on the one-lane road " + std::to_string(from[iv]) + "-" +
               std::to_string(from[iw]);
    }
  return "";
}

std::string Check_Plan(const Plan_Problem& problem, const Plan& plan) {
  if (plan.empty()) return "the plan is empty";
  if (plan.front() != problem.start)
    return "step 0 is " + Joint_Image(plan.front()) + ", not the start " +
           Joint_Image(problem.start);
  if (const std::string bad = Invalid_Joint(plan.front()); !bad.empty()) return "at step 0 " + bad;
  for (std::size_t i = 1; i < plan.size(); ++i) {
    const std::string bad = Check_Step(problem, plan[i - 1], plan[i]);
    if (!bad.empty())
      return "step " + std::to_string(i) + " " + Joint_Image(plan[i - 1]) + " -> " +
             Joint_Image(plan[i]) + ": " + bad;
  }
  if (plan.back() != problem.goal)
    return "the last step " + std::to_string(plan.size() - 1) + " ends on " +
           Joint_Image(plan.back()) + ", not the goal " + Joint_Image(problem.goal);
  return "";
}

}  // namespace Testing
