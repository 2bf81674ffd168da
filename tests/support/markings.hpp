// Coloured markings for tests, built from the places of the three vehicles.
#pragma once

#include <cstddef>

#include "petrinet/petrinet-coloured.hpp"

namespace Testing {

// Vehicle 1 on `v1`, 2 on `v2`, 3 on `v3`; a negative place leaves that vehicle out.
inline PetriNet::Coloured::CPN_Marking Vehicles(int v1, int v2, int v3) {
  using PetriNet::Coloured::Colour;
  PetriNet::Coloured::CPN_Marking m = PetriNet::Coloured::Empty_Marking();
  if (v1 >= 0) m[static_cast<std::size_t>(v1)] = Colour::V1;
  if (v2 >= 0) m[static_cast<std::size_t>(v2)] = Colour::V2;
  if (v3 >= 0) m[static_cast<std::size_t>(v3)] = Colour::V3;
  return m;
}

}  // namespace Testing
