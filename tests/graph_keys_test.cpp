// Keys of the coloured graph, the key hash, and the coloured graph's vertices and successor
// order, in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "controller/mova.hpp"
#include "petrinet/petrinet-coloured.hpp"
#include "reachability/reachabilitygraph-coloured.hpp"
#include "support/markings.hpp"
#include "support/scratch.hpp"
#include "utils/utils-keymap.hpp"

namespace {

using PetriNet::Firing;
using PetriNet::Coloured::Colour;
using PetriNet::Coloured::CPN_Marking;
namespace CGraph = ReachabilityGraph::Coloured;

using Testing::Vehicles;

std::vector<int> Members(Firing f) {
  std::vector<int> members;
  for (int t = 0; t < PetriNet::Max_Transitions; ++t)
    if (f.Test(t)) members.push_back(t);
  return members;
}

TEST(Keys, LexicographicRanksOfMarkings) {
  EXPECT_EQ(CGraph::Compute_Key_CPN(Vehicles(0, 1, 2)), 1089);
  EXPECT_EQ(CGraph::Compute_Key_CPN(Vehicles(9, 10, 11)), 0);
  EXPECT_EQ(CGraph::Compute_Key_CPN(Vehicles(2, 1, 0)), 1319);
  EXPECT_EQ(CGraph::Compute_Key_CPN(Vehicles(4, 0, 11)), 1142);
  EXPECT_EQ(CGraph::Compute_Key_CPN(PetriNet::Coloured::Empty_Marking()), 0);

  // Markings that are not consistent get a key from the same formula.
  EXPECT_EQ(CGraph::Compute_Key_CPN(Vehicles(0, -1, -1)), 11);
  EXPECT_EQ(CGraph::Compute_Key_CPN(Vehicles(5, -1, -1)), 6);
  EXPECT_EQ(CGraph::Compute_Key_CPN(Vehicles(-1, -1, 11)), 0);
  CPN_Marking twice = Vehicles(0, -1, -1);
  twice[1] = Colour::V1;
  EXPECT_EQ(CGraph::Compute_Key_CPN(twice), 120);

  // The 1320 consistent markings, sorted place by place by colour code, have keys 0..1319.
  std::vector<CPN_Marking> all;
  for (int a = 0; a < 12; ++a)
    for (int b = 0; b < 12; ++b)
      for (int c = 0; c < 12; ++c)
        if (a != b && a != c && b != c) all.push_back(Vehicles(a, b, c));
  ASSERT_EQ(all.size(), 1320u);
  std::sort(all.begin(), all.end());
  for (std::size_t i = 0; i < all.size(); ++i)
    ASSERT_EQ(CGraph::Compute_Key_CPN(all[i]), static_cast<int>(i)) << "marking " << i;
}

TEST(Keys, HashOverTheIntegerImage) {
  EXPECT_EQ(Utils::Key_Hash(5), 2099221u);
  EXPECT_EQ(Utils::Key_Hash(1089), 2100611808u);
  EXPECT_EQ(Utils::Key_Hash(0), 2099216u);   // " 0": 32 x 65599 + 48
  EXPECT_EQ(Utils::Key_Hash(-1), 2952004u);  // "-1": 45 x 65599 + 49
  EXPECT_EQ(Utils::Key_Hash(1319), 2124937130u);
  EXPECT_EQ(Utils::Key_Hash(2147483647), 3173632108u);
  EXPECT_EQ(Utils::Key_Hash(-2147483647 - 1), 4075567098u);
}

TEST(ColouredGraph, SuccessorsGroupedByMovementsInReverseFeasibleOrder) {
  // Backwards from vehicle 1 on 1, vehicle 2 on 2 and vehicle 3 on 4 the transitions 2, 5 and
  // 9 are activated; 5 and 9 both leave place 3 and conflict, so the feasible firings are
  // {2}, {5}, {2, 5}, {9}, {2, 9}.
  using Testing::Road_Kind;
  Testing::Build_Roads({{Road_Kind::One_Way, 10, 11},
                        {Road_Kind::One_Way, 0, 1},
                        {Road_Kind::Two_Lanes, 2, 3},
                        {Road_Kind::One_Way, 6, 7},
                        {Road_Kind::Two_Lanes, 4, 3}});

  const CPN_Marking goal = Vehicles(1, 2, 4);
  const CGraph::Key_CPN root = CGraph::Init_Vertex(goal);
  EXPECT_EQ(root, CGraph::Compute_Key_CPN(goal));
  EXPECT_EQ(CGraph::Graph_Length(), 1);
  CGraph::CPN_Vertex v = CGraph::Get_Vertex(root);
  EXPECT_EQ(v.CPN_MARKING, goal);
  EXPECT_EQ(v.PARENT, root);  // the root is its own parent
  EXPECT_EQ(v.G, 32767);
  EXPECT_EQ(v.H, 32767);
  EXPECT_EQ(v.F, 32767);
  EXPECT_TRUE(CGraph::Successors_Empty(root));

  CGraph::Expand_Vertex(root);
  EXPECT_FALSE(CGraph::Successors_Empty(root));
  struct Expected {
    std::vector<int> firing;
    int movements;
    CPN_Marking from;
  };
  const std::vector<Expected> expected = {
      {{9}, 1, Vehicles(1, 2, 3)},    {{5}, 1, Vehicles(1, 3, 4)},    {{2}, 1, Vehicles(0, 2, 4)},
      {{2, 9}, 2, Vehicles(0, 2, 3)}, {{2, 5}, 2, Vehicles(0, 3, 4)},
  };
  v = CGraph::Get_Vertex(root);
  ASSERT_EQ(v.CPN_SUCCESSORS.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("successor " + std::to_string(i));
    const CGraph::CPN_Successor& s = v.CPN_SUCCESSORS[i];
    EXPECT_EQ(Members(s.FIRING), expected[i].firing);
    EXPECT_EQ(s.MOVEMENTS, expected[i].movements);
    EXPECT_EQ(s.SUCCESSOR_KEY, CGraph::Compute_Key_CPN(expected[i].from));
    const CGraph::CPN_Vertex created = CGraph::Get_Vertex(s.SUCCESSOR_KEY);
    EXPECT_EQ(created.CPN_MARKING, expected[i].from);
    EXPECT_EQ(created.PARENT, -1);
    EXPECT_EQ(created.G, 32767);
    EXPECT_EQ(created.H, 32767);
    EXPECT_EQ(created.F, 32767);
    EXPECT_TRUE(created.CPN_SUCCESSORS.empty());
  }
  EXPECT_EQ(CGraph::Graph_Length(), 6);

  // Known predecessors are left as they are; the root keeps its parent through Init_Vertex.
  const CGraph::Key_CPN first = v.CPN_SUCCESSORS[0].SUCCESSOR_KEY;
  CGraph::CPN_Vertex changed = CGraph::Get_Vertex(first);
  changed.PARENT = 3;
  changed.G = 7;
  CGraph::Replace_Vertex(first, changed);
  CGraph::CPN_Vertex root_vertex = CGraph::Get_Vertex(root);
  root_vertex.PARENT = 17;
  root_vertex.G = 4;
  root_vertex.H = 5;
  root_vertex.F = 9;
  CGraph::Replace_Vertex(root, root_vertex);
  EXPECT_EQ(CGraph::Init_Vertex(goal), root);
  v = CGraph::Get_Vertex(root);
  EXPECT_EQ(v.PARENT, 17);
  EXPECT_EQ(v.G, 32767);
  EXPECT_EQ(v.H, 32767);
  EXPECT_EQ(v.F, 32767);
  EXPECT_EQ(v.CPN_SUCCESSORS.size(), 5u);
  CGraph::Expand_Vertex(root);
  EXPECT_EQ(CGraph::Graph_Length(), 6);
  EXPECT_EQ(CGraph::Get_Vertex(first).PARENT, 3);
  EXPECT_EQ(CGraph::Get_Vertex(first).G, 7);
  EXPECT_EQ(CGraph::Get_Vertex(root).PARENT, 17);

  // Copies: changing what Get_Vertex handed out changes nothing in the graph.
  v.CPN_SUCCESSORS.clear();
  EXPECT_EQ(CGraph::Get_Vertex(root).CPN_SUCCESSORS.size(), 5u);

  CGraph::Clear_Graph();
  EXPECT_EQ(CGraph::Graph_Length(), 0);
  EXPECT_THROW(CGraph::Get_Vertex(root), Utils::Range_Error);
  EXPECT_THROW(CGraph::Successors_Empty(root), Utils::Range_Error);
  EXPECT_THROW(CGraph::Expand_Vertex(root), Utils::Range_Error);
  EXPECT_THROW(CGraph::Replace_Vertex(root, root_vertex), Utils::Range_Error);
  EXPECT_THROW(CGraph::Delete_Vertex(root), Utils::Range_Error);
  Mova::Reset_All();
}

TEST(ColouredGraph, EqualPredecessorsInconsistentOnesAndStandingStill) {
  // Two one-way roads from 1 to 4: both lead vehicle 1 back to 1, two successors, one vertex.
  using Testing::Road_Kind;
  Testing::Build_Roads({{Road_Kind::One_Way, 1, 4}, {Road_Kind::One_Way, 1, 4}});
  const CGraph::Key_CPN root = CGraph::Init_Vertex(Vehicles(4, 0, 9));
  CGraph::Expand_Vertex(root);
  const CGraph::CPN_Vertex v = CGraph::Get_Vertex(root);
  ASSERT_EQ(v.CPN_SUCCESSORS.size(), 2u);
  const CGraph::Key_CPN back = CGraph::Compute_Key_CPN(Vehicles(1, 0, 9));
  EXPECT_EQ(v.CPN_SUCCESSORS[0].SUCCESSOR_KEY, back);
  EXPECT_EQ(v.CPN_SUCCESSORS[1].SUCCESSOR_KEY, back);
  EXPECT_EQ(Members(v.CPN_SUCCESSORS[0].FIRING), std::vector<int>{2});
  EXPECT_EQ(Members(v.CPN_SUCCESSORS[1].FIRING), std::vector<int>{0});
  EXPECT_EQ(CGraph::Graph_Length(), 2);

  // Stepping vehicle 1 back onto vehicle 2 is no predecessor; expanding again changes nothing.
  const CGraph::Key_CPN blocked = CGraph::Init_Vertex(Vehicles(4, 1, 9));
  CGraph::Expand_Vertex(blocked);
  EXPECT_TRUE(CGraph::Successors_Empty(blocked));
  CGraph::Expand_Vertex(blocked);
  EXPECT_TRUE(CGraph::Successors_Empty(blocked));
  EXPECT_EQ(CGraph::Graph_Length(), 3);

  // A road from 6 to itself moves nobody: its vertex is made, no successor is stored.
  Testing::Build_Roads({{Road_Kind::One_Way, 6, 6}});
  const CPN_Marking standing = Vehicles(6, 0, 9);
  EXPECT_TRUE(CGraph::Compute_Successors(standing).empty());
  EXPECT_TRUE(CGraph::Contains(CGraph::Compute_Key_CPN(standing)));
  EXPECT_EQ(CGraph::Get_Vertex(CGraph::Compute_Key_CPN(standing)).PARENT, -1);
  EXPECT_EQ(CGraph::Number_Of_Vehicles(), 3);
  EXPECT_EQ(CGraph::Graph_RAM_Usage(), 0);
  Mova::Reset_All();
}

TEST(ColouredGraph, VerticesUnderAnyKeyAreFoundAndDeletedInAnyOrder) {
  // Consistent markings (keys below 1320) mixed with markings that hold a colour several times
  // or not at all (keys far above), inserted, checked and deleted in random order against a
  // plain map: deleting from the middle of a run of colliding keys must keep every other key
  // reachable.
  Mova::Reset_All();
  std::mt19937 random(20240601);
  std::map<CGraph::Key_CPN, CPN_Marking> model;
  const auto check_all = [&model](const char* when) {
    ASSERT_EQ(CGraph::Graph_Length(), static_cast<int>(model.size())) << when;
    for (const auto& [key, marking] : model) {
      ASSERT_TRUE(CGraph::Contains(key)) << when << ": key " << key;
      ASSERT_EQ(CGraph::Get_Vertex(key).CPN_MARKING, marking) << when << ": key " << key;
    }
  };
  bool large = false;
  for (int i = 0; i < 1500; ++i) {
    CPN_Marking m = PetriNet::Coloured::Empty_Marking();
    if (i % 2 == 0) {
      std::vector<int> places = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
      std::shuffle(places.begin(), places.end(), random);
      m = Vehicles(places[0], places[1], places[2]);
    } else {
      for (Colour& c : m) c = static_cast<Colour>(random() % 4);
    }
    const CGraph::Key_CPN key = CGraph::Init_Vertex(m);
    EXPECT_EQ(key, CGraph::Compute_Key_CPN(m));
    large = large || key >= 2048;
    model.emplace(key, m);  // a key met again keeps the marking it was made with
  }
  ASSERT_TRUE(large);
  check_all("after inserting");
  EXPECT_FALSE(CGraph::Contains(-5));
  EXPECT_FALSE(model.count(2147483647) == 0 && CGraph::Contains(2147483647));

  std::vector<CGraph::Key_CPN> keys;
  for (const auto& entry : model) keys.push_back(entry.first);
  std::shuffle(keys.begin(), keys.end(), random);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    CGraph::Delete_Vertex(keys[i]);
    model.erase(keys[i]);
    EXPECT_FALSE(CGraph::Contains(keys[i]));
    EXPECT_THROW(CGraph::Delete_Vertex(keys[i]), Utils::Range_Error);
    if (i % 25 == 0 || i + 1 == keys.size()) check_all("while deleting");
  }
  // Absent keys of every kind are not found in the empty graph.
  EXPECT_FALSE(CGraph::Contains(-5));
  EXPECT_FALSE(CGraph::Contains(123456));
  EXPECT_THROW(CGraph::Delete_Vertex(123456), Utils::Range_Error);
  Mova::Reset_All();
}

}  // namespace
