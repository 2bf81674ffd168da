// The blocked roads reported by the host, in order of addition.
#pragma once

#include <cstdint>

#include "utils/utils-types.hpp"

namespace Obstacles {

// Appends an obstacle (duplicates allowed).
void Add(std::int32_t origin, std::int32_t destiny);
// Empties the list.
void Clean();
std::int32_t Count();
// True when some obstacle joins a and b, in either direction.
bool Present(std::int32_t a, std::int32_t b);
// The list as it stands.
const Utils::Obstacles_List& List();

}  // namespace Obstacles
