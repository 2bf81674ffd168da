// Reference search over joint positions.
#include "support/plan_search.hpp"

#include <deque>

namespace Testing {
namespace {

struct Option {
  int to;
  int road;  // -1: the vehicle stays
};

bool Blocked(const Plan_Problem& problem, int a, int b) {
  for (const Blocked_Road& o : problem.obstacles)
    if ((o.origin == a && o.destiny == b) || (o.origin == b && o.destiny == a)) return true;
  return false;
}

std::vector<Option> Options(const Plan_Problem& problem, int from) {
  std::vector<Option> options = {{from, -1}};
  for (std::size_t r = 0; r < problem.roads.size(); ++r) {
    const Road& road = problem.roads[r];
    int to = -1;
    if (road.first == from && road.second != from) to = road.second;
    if (road.kind != Road_Kind::One_Way && road.second == from && road.first != from)
      to = road.first;
    if (to >= 0 && !Blocked(problem, from, to)) options.push_back({to, static_cast<int>(r)});
  }
  return options;
}

std::vector<Joint_Position> All_Joints() {
  std::vector<Joint_Position> all;
  for (int a = 0; a < Plan_Positions; ++a)
    for (int b = 0; b < Plan_Positions; ++b)
      for (int c = 0; c < Plan_Positions; ++c)
        if (a != b && a != c && b != c) all.push_back({a, b, c});
  return all;
}

}  // namespace

int Joint_Index(const Joint_Position& p) {
  return (p[0] * 12 + p[1]) * 12 + p[2];
}

std::vector<Joint_Position> Next_Positions(const Plan_Problem& problem,
                                           const Joint_Position& from) {
  std::array<std::vector<Option>, 3> options;
  for (std::size_t v = 0; v < 3; ++v) options[v] = Options(problem, from[v]);
  std::vector<Joint_Position> next;
  for (const Option& o1 : options[0])
    for (const Option& o2 : options[1])
      for (const Option& o3 : options[2]) {
        const std::array<Option, 3> o = {o1, o2, o3};
        if (o1.road < 0 && o2.road < 0 && o3.road < 0) continue;
        // Distinct places afterwards also keeps a vehicle off a place whose vehicle stays.
        if (o1.to == o2.to || o1.to == o3.to || o2.to == o3.to) continue;
        bool legal = true;
        for (std::size_t v = 0; v < 3 && legal; ++v)
          for (std::size_t w = v + 1; w < 3 && legal; ++w) {
            const bool swap =
                o[v].road >= 0 && o[w].road >= 0 && o[v].to == from[w] && o[w].to == from[v];
            if (swap && o[v].road == o[w].road &&
                problem.roads[static_cast<std::size_t>(o[v].road)].kind != Road_Kind::Two_Lanes)
              legal = false;
          }
        if (legal) next.push_back({o1.to, o2.to, o3.to});
      }
  return next;
}

Plan Shortest_Plan(const Plan_Problem& problem) {
  std::vector<int> parent(12 * 12 * 12, -2);
  std::deque<Joint_Position> open = {problem.start};
  parent[static_cast<std::size_t>(Joint_Index(problem.start))] = -1;
  while (!open.empty()) {
    const Joint_Position p = open.front();
    open.pop_front();
    if (p == problem.goal) {
      Plan plan;
      for (int at = Joint_Index(p); at >= 0; at = parent[static_cast<std::size_t>(at)])
        plan.insert(plan.begin(), Joint_Position{at / 144, at / 12 % 12, at % 12});
      return plan;
    }
    for (const Joint_Position& q : Next_Positions(problem, p)) {
      auto& link = parent[static_cast<std::size_t>(Joint_Index(q))];
      if (link != -2) continue;
      link = Joint_Index(p);
      open.push_back(q);
    }
  }
  return {};
}

std::vector<bool> Goal_Reachable_From(const Plan_Problem& problem) {
  std::vector<std::vector<int>> predecessors(12 * 12 * 12);
  for (const Joint_Position& p : All_Joints())
    for (const Joint_Position& q : Next_Positions(problem, p))
      predecessors[static_cast<std::size_t>(Joint_Index(q))].push_back(Joint_Index(p));
  std::vector<bool> reachable(12 * 12 * 12, false);
  std::deque<int> open = {Joint_Index(problem.goal)};
  reachable[static_cast<std::size_t>(open.front())] = true;
  while (!open.empty()) {
    const int q = open.front();
    open.pop_front();
    for (int p : predecessors[static_cast<std::size_t>(q)])
      if (!reachable[static_cast<std::size_t>(p)]) {
        reachable[static_cast<std::size_t>(p)] = true;
        open.push_back(p);
      }
  }
  return reachable;
}

int Road_Distance(const Plan_Problem& problem, int a, int b) {
  // Breadth-first over positions; the start itself counts as reached only through a road.
  std::vector<int> distance(Plan_Positions, -1);
  distance[static_cast<std::size_t>(a)] = 0;
  bool back_at_start = false;
  std::deque<int> open = {a};
  while (!open.empty()) {
    const int p = open.front();
    open.pop_front();
    for (const Road& road : problem.roads) {
      std::vector<int> ends;
      if (road.first == p) ends.push_back(road.second);
      if (road.kind != Road_Kind::One_Way && road.second == p) ends.push_back(road.first);
      for (int e : ends) {
        if (e == a) back_at_start = true;
        if (distance[static_cast<std::size_t>(e)] >= 0) continue;
        distance[static_cast<std::size_t>(e)] = distance[static_cast<std::size_t>(p)] + 1;
        open.push_back(e);
      }
    }
  }
  if (a == b) return back_at_start ? 0 : 32767;
  return distance[static_cast<std::size_t>(b)] >= 0 ? distance[static_cast<std::size_t>(b)] : 32767;
}

}  // namespace Testing
