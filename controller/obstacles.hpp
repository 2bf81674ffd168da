// Blocked roads reported by the host, in order of addition.
#pragma once

#include <cstdint>
#include <vector>

namespace Obstacles {

// A blocked road between two positions; the direction does not matter.
struct Obstacle {
  std::int32_t ORIGIN;
  std::int32_t DESTINY;
};

using Obstacles_List = std::vector<Obstacle>;

// Appends an obstacle (duplicates allowed).
void Add(std::int32_t origin, std::int32_t destiny);
// Empties the list.
void Clean();
std::int32_t Count();
// True when some obstacle joins a and b, in either direction.
bool Present(std::int32_t a, std::int32_t b);
// The list as it stands.
const Obstacles_List& List();

}  // namespace Obstacles
