// The coloured net of the three vehicles: markings, consistency, the step backwards along a
// firing and the marking label.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "petrinet/petrinet.hpp"

namespace PetriNet::Coloured {

enum class Colour : std::uint8_t { EMPTY = 0, V1 = 1, V2 = 2, V3 = 3 };

inline constexpr int Number_Of_Vehicles = 3;

// One colour per place.
using CPN_Marking = std::array<Colour, Max_Places>;

// Vehicle v (1..3) is colour Vv.
constexpr Colour Vehicle_Colour(int vehicle) { return static_cast<Colour>(vehicle); }

// The result of stepping back along a firing.
struct Firing_Outcome {
  CPN_Marking Marking;
  std::int32_t Movements;
};

// All places EMPTY.
CPN_Marking Empty_Marking();

// True exactly when each of V1, V2, V3 stands on exactly one place.
bool Is_Consistent(const CPN_Marking& marking);

// The transitions whose destination place holds a vehicle.
Firing Reverse_Activated_Transitions(const CPN_Marking& marking);

// The marking from which firing all set transitions forwards gives `marking`, and the number
// of transitions that moved a vehicle back (transitions without both ends are skipped).
Firing_Outcome Reverse_Fire(const CPN_Marking& marking, Firing firing);

// "01:05,02:07,03:11": per vehicle "0", its digit, ":" and the two digits of its place (the
// highest place when it stands on several; "00" when it stands nowhere).
std::string Label(const CPN_Marking& marking);

// The highest place holding `colour`, or -1.
int Position(const CPN_Marking& marking, Colour colour);

}  // namespace PetriNet::Coloured
