// A plain breadth-first search over the joint placements of the three vehicles, written from
// the step rules alone, as the yardstick for the planner's time and plan length.
//
// One step moves any non-empty set of vehicles, each along one road in an allowed direction
// (one-way roads forward only); no two vehicles end on one position (so none enters a position
// whose vehicle stays, while entering a position that another vehicle leaves is fine); two
// vehicles never use one one-lane road in the same step (they may swap ends on a two-lane road).
// A blocked pair of positions may not be travelled in either direction.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "networks.hpp"

namespace Bench {

// The moves that end on each position, read backwards: a vehicle on `to` may have come from
// `from` along road `road`.
struct Reference_Net {
  struct Arrival {
    std::int8_t from;
    std::int8_t road;
    bool one_lane;
  };
  std::array<std::vector<Arrival>, 12> arrivals;
};

Reference_Net Prepare_Reference(const Network& network, const std::vector<Blocked_Pair>& blocked);

struct Reference_Result {
  int steps = -1;  // the fewest steps from current to goal; -1 when there is none
  int states = 0;  // joint placements reached from the goal, the goal included
};

// Searches backwards from the goal until the current placement is reached or every placement
// that can reach the goal has been visited.
Reference_Result Reference_Search(const Reference_Net& net, const Placement& current,
                                  const Placement& goal);

// Whether `to` follows from `from` in one step under the rules above.
bool Is_Step(const Network& network, const std::vector<Blocked_Pair>& blocked,
             const Placement& from, const Placement& to);

}  // namespace Bench
