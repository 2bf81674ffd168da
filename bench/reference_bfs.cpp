// Breadth-first search over the 12 x 12 x 12 placement codes.
#include "reference_bfs.hpp"

namespace Bench {
namespace {

bool Blocked(const std::vector<Blocked_Pair>& blocked, int a, int b) {
  for (const Blocked_Pair& pair : blocked)
    if ((pair.first == a && pair.second == b) || (pair.first == b && pair.second == a)) return true;
  return false;
}

int Code(int a, int b, int c) {
  return (a * 12 + b) * 12 + c;
}

}  // namespace

Reference_Net Prepare_Reference(const Network& network, const std::vector<Blocked_Pair>& blocked) {
  Reference_Net net;
  for (std::size_t r = 0; r < network.roads.size(); ++r) {
    const Road& road = network.roads[r];
    if (Blocked(blocked, road.first, road.second)) continue;
    const bool one_lane = road.kind == Road_Kind::One_Lane;
    const auto index = static_cast<std::int8_t>(r);
    net.arrivals[static_cast<std::size_t>(road.second)].push_back(
        {static_cast<std::int8_t>(road.first), index, one_lane});
    if (road.kind != Road_Kind::One_Way)
      net.arrivals[static_cast<std::size_t>(road.first)].push_back(
          {static_cast<std::int8_t>(road.second), index, one_lane});
  }
  return net;
}

Reference_Result Reference_Search(const Reference_Net& net, const Placement& current,
                                  const Placement& goal) {
  Reference_Result result;
  const int target = Code(current[0], current[1], current[2]);
  const int root = Code(goal[0], goal[1], goal[2]);
  if (target == root) {
    result.steps = 0;
    result.states = 1;
    return result;
  }
  std::array<std::int16_t, 1728> depth;
  depth.fill(-1);
  std::array<std::int16_t, 1728> queue;
  std::size_t head = 0;
  std::size_t tail = 0;
  depth[static_cast<std::size_t>(root)] = 0;
  queue[tail++] = static_cast<std::int16_t>(root);

  using Arrival = Reference_Net::Arrival;
  const Arrival stay{-1, -1, false};
  while (head < tail) {
    const int code = queue[head++];
    const int at[3] = {code / 144, code / 12 % 12, code % 12};
    const std::int16_t next = static_cast<std::int16_t>(depth[static_cast<std::size_t>(code)] + 1);
    // Option 0 of each vehicle is to stay; option i > 0 is arrival i - 1.
    const std::vector<Arrival>* lists[3];
    std::size_t options[3];
    for (int v = 0; v < 3; ++v) {
      lists[v] = &net.arrivals[static_cast<std::size_t>(at[v])];
      options[v] = lists[v]->size() + 1;
    }
    for (std::size_t i = 0; i < options[0]; ++i) {
      const Arrival a = i == 0 ? stay : (*lists[0])[i - 1];
      const int p0 = i == 0 ? at[0] : a.from;
      for (std::size_t j = 0; j < options[1]; ++j) {
        const Arrival b = j == 0 ? stay : (*lists[1])[j - 1];
        const int p1 = j == 0 ? at[1] : b.from;
        if (p1 == p0) continue;
        if (i != 0 && j != 0 && a.road == b.road && a.one_lane) continue;
        for (std::size_t k = 0; k < options[2]; ++k) {
          if (i == 0 && j == 0 && k == 0) continue;
          const Arrival c = k == 0 ? stay : (*lists[2])[k - 1];
          const int p2 = k == 0 ? at[2] : c.from;
          if (p2 == p0 || p2 == p1) continue;
          if (k != 0 && c.one_lane &&
              ((i != 0 && a.road == c.road) || (j != 0 && b.road == c.road)))
            continue;
          const int before = Code(p0, p1, p2);
          if (depth[static_cast<std::size_t>(before)] >= 0) continue;
          depth[static_cast<std::size_t>(before)] = next;
          if (before == target) {
            result.steps = next;
            result.states = static_cast<int>(tail) + 1;
            return result;
          }
          queue[tail++] = static_cast<std::int16_t>(before);
        }
      }
    }
  }
  result.states = static_cast<int>(tail);
  return result;
}

bool Is_Step(const Network& network, const std::vector<Blocked_Pair>& blocked,
             const Placement& from, const Placement& to) {
  const Reference_Net net = Prepare_Reference(network, blocked);
  using Arrival = Reference_Net::Arrival;
  // Each vehicle either stays or arrives at its new position from its old one along a road.
  std::vector<Arrival> choices[3];
  bool moved = false;
  for (int v = 0; v < 3; ++v) {
    const auto i = static_cast<std::size_t>(v);
    if (from[i] == to[i]) {
      choices[v].push_back({-1, -1, false});
      continue;
    }
    moved = true;
    for (const Arrival& a : net.arrivals[static_cast<std::size_t>(to[i])])
      if (a.from == from[i]) choices[v].push_back(a);
  }
  if (!moved || to[0] == to[1] || to[0] == to[2] || to[1] == to[2]) return false;
  for (const Arrival& a : choices[0])
    for (const Arrival& b : choices[1])
      for (const Arrival& c : choices[2]) {
        const bool ab = a.road >= 0 && a.road == b.road && a.one_lane;
        const bool ac = a.road >= 0 && a.road == c.road && a.one_lane;
        const bool bc = b.road >= 0 && b.road == c.road && b.one_lane;
        if (!ab && !ac && !bc) return true;
      }
  return false;
}

}  // namespace Bench
