// The predecessors of a coloured marking, checked against their definition: every feasible
// firing stepped backwards, inconsistent outcomes dropped, the rest grouped by movements in the
// reverse order of the firings, and a vertex added for each new one, whether they are worked
// out afresh or taken from an earlier expansion on the same net. Random road networks cover
// the nets the console can build; nets assembled arc by arc cover tables in any state.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "controller/mova.hpp"
#include "petrinet/petrinet-coloured.hpp"
#include "petrinet/petrinet.hpp"
#include "reachability/reachabilitygraph-coloured.hpp"
#include "support/markings.hpp"
#include "support/scratch.hpp"

namespace {

namespace Graph = ReachabilityGraph::Coloured;
using PetriNet::Firing;
using PetriNet::Coloured::Colour;
using PetriNet::Coloured::CPN_Marking;
using Testing::Road_Kind;

struct Expected {
  Graph::CPN_Successor_List successors;
  std::vector<std::pair<Graph::Key_CPN, CPN_Marking>> vertices;  // in the order first seen
};

Expected Definition(const CPN_Marking& marking) {
  Expected expected;
  const Firing activated = PetriNet::Coloured::Reverse_Activated_Transitions(marking);
  const PetriNet::Firings_List firings = PetriNet::Feasible_Firings(activated);
  Graph::CPN_Successor_List groups[3];
  for (auto f = firings.rbegin(); f != firings.rend(); ++f) {
    const PetriNet::Coloured::Firing_Outcome outcome =
        PetriNet::Coloured::Reverse_Fire(marking, *f);
    if (!PetriNet::Coloured::Is_Consistent(outcome.Marking)) continue;
    const Graph::Key_CPN key = Graph::Compute_Key_CPN(outcome.Marking);
    bool seen = false;
    for (const auto& v : expected.vertices) seen = seen || v.first == key;
    if (!seen) expected.vertices.emplace_back(key, outcome.Marking);
    if (outcome.Movements >= 1 && outcome.Movements <= 3)
      groups[outcome.Movements - 1].push_back({key, outcome.Movements, *f});
  }
  for (const auto& g : groups)
    expected.successors.insert(expected.successors.end(), g.begin(), g.end());
  return expected;
}

std::string Describe(const Graph::CPN_Successor_List& list) {
  std::string text;
  for (const Graph::CPN_Successor& s : list)
    text += std::to_string(s.SUCCESSOR_KEY) + "/" + std::to_string(s.MOVEMENTS) + "/" +
            std::to_string(s.FIRING.bits) + " ";
  return text;
}

// Compares Compute_Successors and Expand_Vertex on `marking` with the definition, each from an
// empty graph; returns the number of successors.
std::size_t Check_Marking(const CPN_Marking& marking, const std::string& context) {
  const Expected expected = Definition(marking);
  const std::string where = context + " marking " + PetriNet::Coloured::Label(marking);

  Graph::Clear_Graph();
  const Graph::CPN_Successor_List computed = Graph::Compute_Successors(marking);
  EXPECT_EQ(Describe(computed), Describe(expected.successors)) << where;
  EXPECT_EQ(Graph::Graph_Length(), static_cast<int>(expected.vertices.size())) << where;
  for (const auto& [key, m] : expected.vertices) {
    EXPECT_TRUE(Graph::Contains(key)) << where << " key " << key;
    if (Graph::Contains(key)) {
      EXPECT_EQ(PetriNet::Coloured::Label(Graph::Get_Vertex(key).CPN_MARKING),
                PetriNet::Coloured::Label(m))
          << where << " key " << key;
    }
  }

  // Expanding a stored vertex gives it the same list and adds the same vertices, also when the
  // predecessors of this marking were worked out before on the same net.
  Graph::Clear_Graph();
  const Graph::Key_CPN key = Graph::Init_Vertex(marking);
  Graph::Expand_Vertex(key);
  EXPECT_EQ(Describe(Graph::Get_Vertex(key).CPN_SUCCESSORS), Describe(expected.successors))
      << where << " (expanded)";
  bool own_key_expected = false;
  for (const auto& [k, m] : expected.vertices) {
    own_key_expected = own_key_expected || k == key;
    if (k != key) {
      EXPECT_TRUE(Graph::Contains(k)) << where << " (expanded) key " << k;
    }
  }
  EXPECT_EQ(Graph::Graph_Length(),
            static_cast<int>(expected.vertices.size()) + (own_key_expected ? 0 : 1))
      << where << " (expanded)";
  return expected.successors.size();
}

using Testing::Vehicles;

// Every placement of the three vehicles on distinct places, plus markings missing a vehicle.
std::size_t Check_All_Markings(const std::string& context) {
  std::size_t total = 0;
  for (int a = 0; a < 12; ++a)
    for (int b = 0; b < 12; ++b)
      for (int c = 0; c < 12; ++c)
        if (a != b && a != c && b != c) total += Check_Marking(Vehicles(a, b, c), context);
  for (int a = 0; a < 12; ++a)
    for (int b = 0; b < 12; ++b)
      if (a != b) {
        Check_Marking(Vehicles(a, b, -1), context);
        Check_Marking(Vehicles(-1, a, b), context);
      }
  Check_Marking(PetriNet::Coloured::Empty_Marking(), context);
  return total;
}

TEST(SuccessorsTest, RandomRoadNetworksGiveTheDefinedPredecessors) {
  std::mt19937 random(20261209);
  std::size_t successors = 0;
  for (int n = 0; n < 40; ++n) {
    std::vector<Testing::Road> roads(1 + random() % 15);
    std::string context = "network";
    for (Testing::Road& road : roads) {
      road.first = static_cast<int>(random() % 12);
      // Now and then a road from a place to itself.
      road.second = random() % 10 == 0 ? road.first : static_cast<int>(random() % 12);
      road.kind = static_cast<Testing::Road_Kind>(random() % 3);
      context += " " + std::to_string(static_cast<int>(road.kind)) + ":" +
                 std::to_string(road.first) + "-" + std::to_string(road.second);
    }
    Testing::Build_Roads(roads);
    successors += Check_All_Markings(context);
    if (HasFailure()) return;
  }
  EXPECT_GT(successors, 100000u);  // the networks are not trivially empty
}

TEST(SuccessorsTest, NetsAssembledArcByArcGiveTheDefinedPredecessors) {
  // Arcs and conflicts in any combination: transitions with several or no places on a side,
  // one-sided and self conflicts, tables changed after the net was initialized.
  std::mt19937 random(7);
  for (int n = 0; n < 30; ++n) {
    Mova::Reset_All();
    std::string context = "net " + std::to_string(n);
    const int transitions = 2 + static_cast<int>(random() % 28);
    for (int t = 0; t < transitions; ++t) {
      const int arcs = static_cast<int>(random() % 4);
      for (int i = 0; i < arcs; ++i) {
        const auto place = static_cast<int>(random() % 12);
        if (random() % 2 == 0)
          PetriNet::Add_Pre(place, t);
        else
          PetriNet::Add_Post(place, t);
      }
      if (random() % 4 == 0)
        PetriNet::Add_Constraint(t,
                                 static_cast<int>(random() % static_cast<unsigned>(transitions)));
    }
    const auto stage = random() % 3;
    if (stage >= 1) PetriNet::Initialize();
    if (stage >= 2) PetriNet::Compute_Constraints();
    if (random() % 2 == 0) {  // arcs added after initializing: the ends read off C are stale
      for (int i = 0; i < 3; ++i)
        PetriNet::Add_Post(static_cast<int>(random() % 12), static_cast<int>(random() % 30));
    }
    Check_All_Markings(context);
    if (HasFailure()) return;
  }
}

TEST(SuccessorsTest, WellFormedRoadsAfterACleanGiveTheDefinedPredecessors) {
  // A cleaned environment keeps C and the ends of the transitions until the next build; roads
  // added meanwhile meet ends that belong to the old roads.
  Testing::Build_Roads(
      {{Road_Kind::Two_Lanes, 0, 1}, {Road_Kind::One_Way, 1, 2}, {Road_Kind::One_Lane, 2, 3}});
  Check_All_Markings("built");
  Mova::Environment_Clean();
  Mova::Environment_Add_One_Way_Road(5, 4);
  Mova::Environment_Add_Two_Way_Road_One_Lane(3, 0);
  Check_All_Markings("cleaned, not built");
  Mova::Environment_Build();
  Check_All_Markings("built again");
}

TEST(SuccessorsTest, ExpandedVertexKeepsItsListWhenTheNetChangesAndReplacedListsStayPrivate) {
  Testing::Build_Roads(
      {{Road_Kind::Two_Lanes, 0, 1}, {Road_Kind::One_Lane, 1, 2}, {Road_Kind::One_Way, 3, 4}});
  const CPN_Marking marking = Vehicles(1, 4, 7);
  Graph::Clear_Graph();
  const Graph::Key_CPN key = Graph::Init_Vertex(marking);
  Graph::Expand_Vertex(key);
  const std::string before = Describe(Graph::Get_Vertex(key).CPN_SUCCESSORS);
  ASSERT_FALSE(before.empty());

  // A one-way road 8 -> 7 on transition 6, which the three roads leave free, and the net
  // prepared again: the same placement now has more predecessors.
  PetriNet::Add_Pre(8, 6);
  PetriNet::Add_Post(7, 6);
  PetriNet::Initialize();
  PetriNet::Compute_Constraints();
  const std::string now = Describe(Graph::Compute_Successors(marking));
  ASSERT_NE(now, before);
  EXPECT_EQ(Describe(Graph::Get_Vertex(key).CPN_SUCCESSORS), before);
  Graph::Expand_Vertex(key);
  EXPECT_EQ(Describe(Graph::Get_Vertex(key).CPN_SUCCESSORS), now);

  // A list put in through Replace_Vertex belongs to that vertex alone: the placement's own list
  // comes back when the graph is explored again.
  Graph::CPN_Vertex replaced = Graph::Get_Vertex(key);
  replaced.CPN_SUCCESSORS.resize(1);
  Graph::Replace_Vertex(key, replaced);
  EXPECT_EQ(Graph::Get_Vertex(key).CPN_SUCCESSORS.size(), 1u);
  Graph::Clear_Graph();
  const Graph::Key_CPN again = Graph::Init_Vertex(marking);
  Graph::Expand_Vertex(again);
  EXPECT_EQ(Describe(Graph::Get_Vertex(again).CPN_SUCCESSORS), now);
}

TEST(SuccessorsTest, ListsFromEarlierNetsStayThroughSeveralChanges) {
  // A vertex expanded on each of three versions of the net, each change adding a one-way road
  // into place 7: every vertex keeps the list of its own version, also once two changes lie
  // between.
  Testing::Build_Roads(
      {{Road_Kind::Two_Lanes, 0, 1}, {Road_Kind::One_Lane, 1, 2}, {Road_Kind::One_Way, 3, 4}});
  Graph::Clear_Graph();
  const auto expand = [](const CPN_Marking& m) {
    const Graph::Key_CPN key = Graph::Init_Vertex(m);
    Graph::Expand_Vertex(key);
    return std::make_pair(key, Describe(Graph::Get_Vertex(key).CPN_SUCCESSORS));
  };
  const auto add_road_into_7 = [](int from, int transition) {
    PetriNet::Add_Pre(from, transition);
    PetriNet::Add_Post(7, transition);
    PetriNet::Initialize();
    PetriNet::Compute_Constraints();
  };
  const auto [a, list_a] = expand(Vehicles(1, 4, 7));
  add_road_into_7(8, 6);
  const auto [b, list_b] = expand(Vehicles(2, 4, 7));
  add_road_into_7(9, 8);
  const auto [c, list_c] = expand(Vehicles(1, 3, 7));
  add_road_into_7(10, 10);
  EXPECT_NE(Describe(Graph::Compute_Successors(Vehicles(1, 4, 7))), list_a);
  EXPECT_NE(Describe(Graph::Compute_Successors(Vehicles(2, 4, 7))), list_b);
  for (const auto& [key, list] :
       {std::pair(a, list_a), std::pair(b, list_b), std::pair(c, list_c)}) {
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(Describe(Graph::Get_Vertex(key).CPN_SUCCESSORS), list) << "key " << key;
  }
  Mova::Reset_All();
}

}  // namespace
