// The benchmark networks: a line, two rings, a dense grid and one-way loops.
#include "networks.hpp"

#include "controller/mova.hpp"
#include "petrinet/petrinet-coloured.hpp"
#include "search/search-dstarlite.hpp"

namespace Bench {
namespace {

using K = Road_Kind;

Network Line() {
  Network n{"line", {}, {}};
  for (int p = 0; p + 1 < 12; ++p) n.roads.push_back({p, p + 1, K::One_Lane});
  n.missions = {
      {"near", {3, 6, 9}, {4, 7, 10}, {}},
      {"far", {0, 1, 2}, {9, 10, 11}, {}},
      // One-lane roads keep the vehicles' order along the line.
      {"unsolvable", {0, 1, 2}, {11, 10, 9}, {}},
      {"at-goal", {3, 6, 9}, {3, 6, 9}, {}},
  };
  return n;
}

Network Ring(const char* name, Road_Kind kind) {
  Network n{name, {}, {}};
  for (int p = 0; p < 12; ++p) n.roads.push_back({p, (p + 1) % 12, kind});
  return n;
}

Network Ring_One_Lane() {
  Network n = Ring("ring-one-lane", K::One_Lane);
  n.missions = {
      {"near", {0, 4, 8}, {1, 5, 9}, {}},
      {"far", {0, 4, 8}, {6, 10, 2}, {}},
      // One-lane roads keep the vehicles' cyclic order around the ring.
      {"unsolvable", {0, 4, 8}, {0, 8, 4}, {}},
      {"at-goal", {0, 4, 8}, {0, 4, 8}, {}},
  };
  return n;
}

Network Ring_Two_Lanes() {
  Network n = Ring("ring-two-lanes", K::Two_Lanes);
  n.missions = {
      {"near", {0, 4, 8}, {1, 5, 9}, {}},
      {"far", {0, 1, 2}, {8, 7, 6}, {}},
      // Position 11 is cut off by two obstacles while vehicle 3 stands on it.
      {"unsolvable", {0, 1, 11}, {5, 6, 7}, {{10, 11}, {11, 0}}},
      {"at-goal", {0, 4, 8}, {0, 4, 8}, {}},
  };
  return n;
}

// A 3 by 4 grid, position = 4 x row + column: two-lane rows, one-lane columns, and position 11
// a dead end behind the one-way road from 10.
Network Dense() {
  Network n{"dense-15",
            {{0, 1, K::Two_Lanes},
             {1, 2, K::Two_Lanes},
             {2, 3, K::Two_Lanes},
             {4, 5, K::Two_Lanes},
             {5, 6, K::Two_Lanes},
             {6, 7, K::Two_Lanes},
             {8, 9, K::Two_Lanes},
             {9, 10, K::Two_Lanes},
             {10, 11, K::One_Way},
             {0, 4, K::One_Lane},
             {2, 6, K::One_Lane},
             {3, 7, K::One_Lane},
             {4, 8, K::One_Lane},
             {5, 9, K::One_Lane},
             {6, 10, K::One_Lane}},
            {}};
  n.missions = {
      {"near", {0, 5, 9}, {1, 6, 10}, {}},
      {"far", {0, 3, 8}, {10, 8, 3}, {}},
      // Vehicle 1 stands on the dead end, which only vehicle 3 occupies in the goal.
      {"unsolvable", {11, 5, 6}, {0, 3, 11}, {}},
      {"at-goal", {0, 5, 10}, {0, 5, 10}, {}},
  };
  return n;
}

// Three one-way loops of four positions: 0-3, 4-7, 8-11. The first two are joined by a
// one-lane road and a one-way road; the third is entered by a one-way road and never left.
Network Loops() {
  Network n{"one-way-loops", {}, {}};
  for (int base = 0; base < 12; base += 4)
    for (int i = 0; i < 4; ++i) n.roads.push_back({base + i, base + (i + 1) % 4, K::One_Way});
  n.roads.push_back({2, 5, K::One_Lane});
  n.roads.push_back({3, 4, K::One_Way});
  n.roads.push_back({7, 8, K::One_Way});
  n.missions = {
      {"near", {0, 4, 8}, {1, 5, 9}, {}},
      {"far", {0, 1, 2}, {8, 9, 10}, {}},
      {"unsolvable", {8, 4, 5}, {0, 1, 2}, {}},
      {"at-goal", {0, 4, 8}, {0, 4, 8}, {}},
  };
  return n;
}

}  // namespace

const std::vector<Network>& Networks() {
  static const std::vector<Network> all = {Line(), Ring_One_Lane(), Ring_Two_Lanes(), Dense(),
                                           Loops()};
  return all;
}

void Load_Network(const Network& network) {
  Mova::Environment_Clean();
  for (const Road& r : network.roads) {
    switch (r.kind) {
      case K::One_Way:
        Mova::Environment_Add_One_Way_Road(r.first, r.second);
        break;
      case K::One_Lane:
        Mova::Environment_Add_Two_Way_Road_One_Lane(r.first, r.second);
        break;
      case K::Two_Lanes:
        Mova::Environment_Add_Two_Way_Road_Two_Lanes(r.first, r.second);
        break;
    }
  }
  Mova::Environment_Build();
}

namespace {
PetriNet::Coloured::CPN_Marking Marking(const Placement& places) {
  PetriNet::Coloured::CPN_Marking m = PetriNet::Coloured::Empty_Marking();
  for (int v = 0; v < 3; ++v)
    m[static_cast<std::size_t>(places[static_cast<std::size_t>(v)])] =
        PetriNet::Coloured::Vehicle_Colour(v + 1);
  return m;
}
}  // namespace

void Load_Mission(const Mission& mission) {
  Search::DStarLite::Set_Current_Marking(Marking(mission.current));
  Search::DStarLite::Set_Goal_Marking(Marking(mission.goal));
}

}  // namespace Bench
