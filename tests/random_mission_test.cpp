// Random networks planned in-process: every plan the planner returns must be legal, and the
// planner must find a plan whenever one exists and its costs cannot wrap. Plan lengths are
// compared with the fewest steps found by a breadth-first search over joint positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <random>

#include "controller/mova.hpp"
#include "petrinet/petrinet-coloured.hpp"
#include "search/search-dstarlite.hpp"
#include "support/plan_checker.hpp"
#include "support/plan_search.hpp"
#include "support/plan_transcript.hpp"
#include "support/scratch.hpp"
#include "utils/utils-types.hpp"

namespace {

namespace Planner = Search::DStarLite;

// More links than the coloured graph can hold vertices.
using Testing::Joint_Position;
using Testing::Plan;
using Testing::Plan_Problem;
using Testing::Road_Kind;

int Uniform(std::mt19937& rng, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(rng);
}

Joint_Position Random_Joint(std::mt19937& rng) {
  Joint_Position p{};
  std::vector<int> places(Testing::Plan_Positions);
  for (int i = 0; i < Testing::Plan_Positions; ++i) places[static_cast<std::size_t>(i)] = i;
  std::shuffle(places.begin(), places.end(), rng);
  std::copy(places.begin(), places.begin() + 3, p.begin());
  return p;
}

Plan_Problem Random_Problem(std::mt19937& rng) {
  Plan_Problem p;
  const int roads = Uniform(rng, 3, 15);
  for (int r = 0; r < roads; ++r) {
    const auto kind = static_cast<Road_Kind>(Uniform(rng, 0, 2));
    const int a = Uniform(rng, 0, 11);
    // Now and then a road from a position to itself.
    const int b = Uniform(rng, 0, 19) == 0 ? a : (a + Uniform(rng, 1, 11)) % 12;
    p.roads.push_back({kind, a, b});
  }
  p.start = Random_Joint(rng);
  const int obstacles = Uniform(rng, 0, 3) == 0 ? Uniform(rng, 1, 3) : 0;
  for (int o = 0; o < obstacles; ++o) {
    const Testing::Road& road = p.roads[static_cast<std::size_t>(Uniform(rng, 0, roads - 1))];
    if (road.first != road.second && Uniform(rng, 0, 3) != 0) {
      p.obstacles.push_back({road.second, road.first});
    } else {
      const int a = Uniform(rng, 0, 11);
      p.obstacles.push_back({a, (a + Uniform(rng, 1, 11)) % 12});
    }
  }
  // Mostly a goal some random legal steps away, otherwise anywhere (often unreachable).
  p.goal = p.start;
  if (Uniform(rng, 0, 3) != 0) {
    const int walk = Uniform(rng, 1, 14);
    for (int step = 0; step < walk; ++step) {
      const std::vector<Joint_Position> next = Testing::Next_Positions(p, p.goal);
      if (next.empty()) break;
      p.goal = next[static_cast<std::size_t>(Uniform(rng, 0, static_cast<int>(next.size()) - 1))];
    }
  }
  while (p.goal == p.start) p.goal = Random_Joint(rng);
  return p;
}

Joint_Position Positions(const PetriNet::Coloured::CPN_Marking& m) {
  Joint_Position p = {-1, -1, -1};
  for (int place = 0; place < Testing::Plan_Positions; ++place)
    for (int v = 0; v < 3; ++v)
      if (static_cast<int>(m[static_cast<std::size_t>(place)]) == v + 1)
        p[static_cast<std::size_t>(v)] = place;
  return p;
}

// Describes the problem to the facade and starts the mission.
bool Plan_In_Process(const Plan_Problem& p) {
  Testing::Build_Roads(p.roads);
  Planner::Set_Pause(false);
  for (int v = 0; v < 3; ++v) {
    Mova::Vehicle_Set_Current_Pos(v + 1, p.start[static_cast<std::size_t>(v)]);
    Mova::Vehicle_Set_Goal_Pos(v + 1, p.goal[static_cast<std::size_t>(v)]);
  }
  for (const Testing::Blocked_Road& o : p.obstacles)
    Mova::Obstacles_Add_Obstacle(o.origin, o.destiny);
  return Mova::Start_Mission();
}

// True when no heuristic sum of the search can wrap: from every position a vehicle can hold
// in a joint position that leads to the goal, its current position can be reached by road.
// Every F of the search then stays far below 32767, every vertex met is improved and
// queued, and the search is complete.
bool Costs_Cannot_Wrap(const Plan_Problem& p, const int distance[12][12]) {
  const std::vector<bool> reachable = Testing::Goal_Reachable_From(p);
  for (int a = 0; a < 12; ++a)
    for (int b = 0; b < 12; ++b)
      for (int c = 0; c < 12; ++c) {
        const Joint_Position j = {a, b, c};
        if (a == b || a == c || b == c ||
            !reachable[static_cast<std::size_t>(Testing::Joint_Index(j))])
          continue;
        for (std::size_t v = 0; v < 3; ++v)
          if (distance[j[v]][p.start[v]] >= 32767) return false;
      }
  return true;
}

TEST(RandomMission, EveryPlanIsLegalAndFoundWheneverTheCostsCannotWrap) {
  std::mt19937 rng(20240611u);
  constexpr int Cases = 2000;
  int reachable = 0, solved = 0, optimal = 0, missed = 0, missed_wrap_free = 0, capped = 0,
      looping = 0, legal = 0, reachable_wrap_free = 0;
  double worst_ratio = 1.0, ratio_sum = 0.0;
  std::vector<std::pair<Plan_Problem, Plan>> for_the_binary;

  for (int n = 0; n < Cases; ++n) {
    const Plan_Problem p = Random_Problem(rng);
    SCOPED_TRACE("case " + std::to_string(n) + ": start " + Testing::Joint_Image(p.start) +
                 " goal " + Testing::Joint_Image(p.goal));
    bool result = false;
    try {
      result = Plan_In_Process(p);
    } catch (const Utils::Range_Error& e) {
      ADD_FAILURE() << "Range_Error: " << e.reason;
      continue;
    }

    // The distance table against the road distances worked out here.
    int distance[12][12];
    for (int a = 0; a < 12; ++a)
      for (int b = 0; b < 12; ++b) {
        distance[a][b] = Testing::Road_Distance(p, a, b);
        ASSERT_EQ(Planner::Get_Distance(a, b), distance[a][b]) << a << " to " << b;
      }

    const Plan best = Testing::Shortest_Plan(p);
    const bool wrap_free = !best.empty() && Costs_Cannot_Wrap(p, distance);
    if (wrap_free) ++reachable_wrap_free;
    if (!best.empty()) {
      ++reachable;
      ASSERT_EQ(Testing::Check_Plan(p, best), "") << "reference search";
    }
    const int evaluations = Planner::Get_Statistics().Evaluations;
    if (evaluations >= Planner::Max_Evaluations) ++capped;

    if (result) {
      ++solved;
      int steps = 0;
      Plan plan;
      try {
        steps = Planner::Get_Number_Of_Steps();
        for (int i = 0; i <= steps; ++i) plan.push_back(Positions(Planner::Get_Step_Marking(i)));
      } catch (const Utils::Range_Error&) {
        // A TRUE answer must come with links that reach the goal; the modular costs can close
        // a loop of links, which the planner must not report as a plan.
        ++looping;
        ADD_FAILURE() << "TRUE with a chain of links that never reaches the goal";
        continue;
      }
      ASSERT_EQ(Testing::Check_Plan(p, plan), "");
      ASSERT_FALSE(best.empty());
      const double ratio =
          static_cast<double>(plan.size() - 1) / static_cast<double>(best.size() - 1);
      ratio_sum += ratio;
      worst_ratio = std::max(worst_ratio, ratio);
      ++legal;
      if (plan.size() == best.size()) ++optimal;
      if (for_the_binary.size() < 4 && steps >= 2) for_the_binary.push_back({p, plan});
    } else if (!best.empty()) {
      ++missed;
      if (evaluations < Planner::Max_Evaluations && wrap_free) {
        ++missed_wrap_free;
        ADD_FAILURE() << "a plan exists, the costs cannot wrap, yet the planner found none";
      }
    }
  }

  std::cout << "[ random   ] " << Cases << " cases, goal reachable in " << reachable
            << " (with costs that cannot wrap " << reachable_wrap_free << "), planned " << solved
            << " (legal plans " << legal << ", parent chain looping without the goal " << looping
            << "), optimal " << optimal << ", worst step ratio " << worst_ratio << ", mean ratio "
            << (legal > 0 ? ratio_sum / legal : 0.0) << ", reachable but not planned " << missed
            << " (with costs that cannot wrap " << missed_wrap_free << "), evaluation cap hit "
            << capped << "\n";
  EXPECT_GT(solved, Cases / 3);

  // The real binary plans the same and the step queries read the plan back.
  for (const auto& [problem, plan] : for_the_binary) {
    const Testing::Plan_Readback r = Testing::Run_Plan_Readback(
        [&] {
          std::vector<std::string> script = Testing::Problem_Script(problem);
          script.push_back("MOVA_START_MISSION");
          return script;
        }(),
        1, static_cast<int>(plan.size()) + 1);
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.script_answers, std::vector<std::string>{"TRUE"});
    EXPECT_EQ(r.plan, plan);
  }
}

}  // namespace
