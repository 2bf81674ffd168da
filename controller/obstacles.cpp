// The obstacle list of the controller state.
#include "controller/obstacles.hpp"

namespace Obstacles {
namespace {

Utils::Obstacles_List obstacles;

}  // namespace

void Add(std::int32_t origin, std::int32_t destiny) {
  obstacles.push_back({origin, destiny});
}

void Clean() {
  obstacles.clear();
}

std::int32_t Count() {
  return static_cast<std::int32_t>(obstacles.size());
}

bool Present(std::int32_t a, std::int32_t b) {
  bool present = false;
  for (const Utils::Obstacle& o : obstacles)
    if ((o.ORIGIN == a && o.DESTINY == b) || (o.ORIGIN == b && o.DESTINY == a)) present = true;
  return present;
}

const Utils::Obstacles_List& List() {
  return obstacles;
}

}  // namespace Obstacles
