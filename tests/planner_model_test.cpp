// The planner against its definition worked step by step through the coloured graph's copying
// operations (Init_Vertex, Successors_Empty, Expand_Vertex, Get_Vertex, Replace_Vertex) and a
// queue that orders by priority and insertion: on random networks, with obstacles and roads from
// a place to itself, from an empty graph and again on top of the first computation, both leave
// the same answer, evaluations, queue, next marking and graph; so does a computation after a
// reset that follows one at once, and a net rebuilt with a road less keeps the graph a
// computation left.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <tuple>

#include "controller/mova.hpp"
#include "petrinet/petrinet-coloured.hpp"
#include "reachability/reachabilitygraph-coloured.hpp"
#include "search/search-dstarlite.hpp"
#include "support/markings.hpp"
#include "support/scratch.hpp"
#include "utils/utils-types.hpp"

namespace {

namespace Planner = Search::DStarLite;
namespace Graph = ReachabilityGraph::Coloured;
using PetriNet::Coloured::CPN_Marking;
using PetriNet::Coloured::Label;

struct Outcome {
  bool result = false;
  int evaluations = 0;
  int queue_size = 0;
  std::string next;  // when the current marking was reached
  std::string graph;
};

std::string Graph_Text() {
  std::string text = std::to_string(Graph::Graph_Length()) + "\n";
  for (Graph::Key_CPN k = 0; k < Graph::Consistent_Keys; ++k) {
    if (!Graph::Contains(k)) continue;
    const Graph::CPN_Vertex v = Graph::Get_Vertex(k);
    text += std::to_string(k) + " " + std::to_string(v.PARENT) + " " + std::to_string(v.G) + " " +
            std::to_string(v.H) + " " + std::to_string(v.F) + ":";
    for (const Graph::CPN_Successor& s : v.CPN_SUCCESSORS)
      text += " " + std::to_string(s.SUCCESSOR_KEY) + "/" + std::to_string(s.MOVEMENTS) + "/" +
              std::to_string(s.FIRING.bits);
    text += "\n";
  }
  return text;
}

// The planner queue of the definition: (32767 - PRIORITY, insertion number, key), least first.
using Model_Queue = std::set<std::tuple<int, long, Graph::Key_CPN>>;

bool Chain_Reaches_Goal(Graph::Key_CPN key) {
  for (int links = 0; links <= Graph::Graph_Length(); ++links) {
    if (!Graph::Contains(key)) return false;
    const Graph::CPN_Vertex v = Graph::Get_Vertex(key);
    if (v.CPN_MARKING == Planner::Get_Goal_Marking()) return true;
    key = v.PARENT;
  }
  return false;
}

// One computation as defined (no limit is hit in these runs).
Outcome Define(const Utils::Obstacles_List& obstacles, Model_Queue& queue, long& inserted) {
  Outcome out;
  const Graph::Key_CPN start = Graph::Compute_Key_CPN(Planner::Get_Current_Marking());
  queue.emplace(0, inserted++, Graph::Init_Vertex(Planner::Get_Goal_Marking()));
  while (out.evaluations < Planner::Max_Evaluations && out.next.empty() && !queue.empty()) {
    ++out.evaluations;
    const Graph::Key_CPN k = std::get<2>(*queue.begin());
    queue.erase(queue.begin());
    if (Graph::Successors_Empty(k)) Graph::Expand_Vertex(k);
    const Graph::CPN_Vertex u = Graph::Get_Vertex(k);
    for (const Graph::CPN_Successor& e : u.CPN_SUCCESSORS) {
      Graph::CPN_Vertex s = Graph::Get_Vertex(e.SUCCESSOR_KEY);
      if (Planner::Is_Blocked(u.CPN_MARKING, s.CPN_MARKING, obstacles)) continue;
      const Utils::Cost g = Utils::Cost_Add(u.G, e.MOVEMENTS);
      const Utils::Cost f =
          Utils::Cost_Add(Planner::Get_Key_Modifier() + g, Planner::Heuristic(s.CPN_MARKING));
      if (f < s.F) {
        s.G = g;
        s.F = f;
        s.PARENT = k;
        Graph::Replace_Vertex(e.SUCCESSOR_KEY, s);
        queue.emplace(f, inserted++, e.SUCCESSOR_KEY);
      }
      if (e.SUCCESSOR_KEY == start && s.PARENT != -1 && Chain_Reaches_Goal(start)) {
        out.next = Label(Graph::Get_Vertex(s.PARENT).CPN_MARKING);
        break;
      }
    }
  }
  out.result = !out.next.empty();
  out.queue_size = static_cast<int>(queue.size());
  out.graph = Graph_Text();
  return out;
}

Outcome Plan(const Utils::Obstacles_List& obstacles) {
  Outcome out;
  out.result = Planner::Compute_Solution(obstacles);
  out.evaluations = Planner::Get_Statistics().Evaluations;
  out.queue_size = Planner::Get_Statistics().Queue_Size;
  if (out.result) out.next = Label(Planner::Get_Next_Marking());
  out.graph = Graph_Text();
  return out;
}

void Expect_Same(const Outcome& defined, const Outcome& planned, const std::string& when) {
  EXPECT_EQ(planned.result, defined.result) << when;
  EXPECT_EQ(planned.evaluations, defined.evaluations) << when;
  EXPECT_EQ(planned.queue_size, defined.queue_size) << when;
  EXPECT_EQ(planned.next, defined.next) << when;
  EXPECT_TRUE(planned.graph == defined.graph) << when << ": the graphs differ";
}

// The roads but the last built anew, with the planner and its graph as they are.
void Rebuild_Without_Last_Road(const std::vector<Testing::Road>& roads) {
  Mova::Environment_Clean();
  for (std::size_t i = 0; i + 1 < roads.size(); ++i) {
    const Testing::Road& r = roads[i];
    if (r.kind == Testing::Road_Kind::One_Way)
      Mova::Environment_Add_One_Way_Road(r.first, r.second);
    if (r.kind == Testing::Road_Kind::One_Lane)
      Mova::Environment_Add_Two_Way_Road_One_Lane(r.first, r.second);
    if (r.kind == Testing::Road_Kind::Two_Lanes)
      Mova::Environment_Add_Two_Way_Road_Two_Lanes(r.first, r.second);
  }
  Mova::Environment_Build();
}

int Uniform(std::mt19937& rng, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(rng);
}

CPN_Marking Random_Placement(std::mt19937& rng) {
  int a = Uniform(rng, 0, 11), b = 0, c = 0;
  do b = Uniform(rng, 0, 11);
  while (b == a);
  do c = Uniform(rng, 0, 11);
  while (c == a || c == b);
  return Testing::Vehicles(a, b, c);
}

TEST(PlannerModel, EveryComputationLeavesWhatTheDefinitionLeaves) {
  std::mt19937 rng(20261210u);
  for (int n = 0; n < 400; ++n) {
    std::vector<Testing::Road> roads(static_cast<std::size_t>(Uniform(rng, 6, 15)));
    for (Testing::Road& r : roads) {
      r.kind = static_cast<Testing::Road_Kind>(Uniform(rng, 0, 2));
      r.first = Uniform(rng, 0, 11);
      r.second = Uniform(rng, 0, 19) == 0 ? r.first : Uniform(rng, 0, 11);
    }
    Utils::Obstacles_List obstacles;
    for (int o = Uniform(rng, 0, 3) == 0 ? Uniform(rng, 1, 2) : 0; o > 0; --o) {
      const Testing::Road& r = roads[static_cast<std::size_t>(Uniform(rng, 0, 3))];
      obstacles.push_back({r.second, r.first});
    }
    Testing::Build_Roads(roads);
    Planner::Set_Pause(false);
    Planner::Set_Current_Marking(Random_Placement(rng));
    Planner::Set_Goal_Marking(Random_Placement(rng));
    const std::string when = "case " + std::to_string(n);

    Planner::Reset_Search();
    Model_Queue queue;
    long inserted = 0;
    const Outcome defined = Define(obstacles, queue, inserted);
    const Outcome defined_again = Define(obstacles, queue, inserted);
    Planner::Reset_Search();
    const Outcome planned = Plan(obstacles);
    const Outcome planned_again = Plan(obstacles);
    Expect_Same(defined, planned, when);
    Expect_Same(defined_again, planned_again, when + ", again");

    // Straight after a computation, before anything asks which vertices it added: a reset
    // leaves an empty graph for the next one, and a rebuilt net leaves the graph as it was.
    Planner::Reset_Search();
    Planner::Compute_Solution(obstacles);
    Planner::Reset_Search();
    EXPECT_EQ(Graph::Graph_Length(), 0) << when;
    Expect_Same(defined, Plan(obstacles), when + ", after a reset");
    Planner::Reset_Search();
    Planner::Compute_Solution(obstacles);
    Rebuild_Without_Last_Road(roads);
    EXPECT_TRUE(Graph_Text() == defined.graph) << when << ": the graph changed with the rebuild";
    if (HasFailure()) return;
  }
  Mova::Reset_All();
}

}  // namespace
