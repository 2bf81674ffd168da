// The coloured net of the three vehicles: markings, where the vehicles stand in them, the step
// backwards along a firing and the marking label.
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
constexpr Colour Vehicle_Colour(int vehicle) {
  return static_cast<Colour>(vehicle);
}

// Where the three vehicles stand in a marking.
struct Placement {
  // Per vehicle V1, V2, V3: the highest place holding its colour, -1 when none does.
  std::array<std::int8_t, Number_Of_Vehicles> place;
  // Each vehicle stands on exactly one place.
  bool consistent;

  // The placement code a * 144 + b * 12 + c of V1 on a, V2 on b and V3 on c (0..1727).
  static constexpr int Codes = Max_Places * Max_Places * Max_Places;
  int Code() const { return (place[0] * Max_Places + place[1]) * Max_Places + place[2]; }
  // What moving `vehicle` (0..2) from place `from` to place `to` adds to the code.
  static int Code_Shift(int vehicle, int from, int to) {
    return (to - from) * (vehicle == 0 ? Max_Places * Max_Places : vehicle == 1 ? Max_Places : 1);
  }
  // The placement with code `code`; consistent when the three places differ.
  static Placement Of_Code(int code);
  // Every vehicle on its place, every other place EMPTY.
  CPN_Marking Marking() const;
  // Every vehicle stands somewhere.
  bool All_Placed() const { return place[0] >= 0 && place[1] >= 0 && place[2] >= 0; }
};

// The places of the vehicles in `marking`: the one scan over a marking for its vehicles. Places
// holding a colour other than V1, V2 and V3 hold no vehicle.
Placement Locate(const CPN_Marking& marking);

// Range_Error when a place holds a colour other than EMPTY, V1, V2 and V3. Markings are checked
// where they enter the planner and the coloured graph.
void Check_Colours(const CPN_Marking& marking);

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

}  // namespace PetriNet::Coloured
