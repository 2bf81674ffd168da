// Coloured markings of the vehicles and the backward step of the planner.
#include "petrinet/petrinet-coloured.hpp"

#include "utils/utils-types.hpp"

namespace PetriNet::Coloured {

Placement Placement::Of_Code(int code) {
  const int a = code / (Max_Places * Max_Places), b = code / Max_Places % Max_Places;
  const int c = code % Max_Places;
  return {{static_cast<std::int8_t>(a), static_cast<std::int8_t>(b), static_cast<std::int8_t>(c)},
          a != b && a != c && b != c};
}

CPN_Marking Placement::Marking() const {
  CPN_Marking m = Empty_Marking();
  for (int v = 0; v < Number_Of_Vehicles; ++v)
    if (place[Utils::Index(v)] >= 0)
      m[Utils::Index(place[Utils::Index(v)])] = Vehicle_Colour(v + 1);
  return m;
}

Placement Locate(const CPN_Marking& marking) {
  Placement found{{-1, -1, -1}, true};
  int seen[Number_Of_Vehicles] = {0, 0, 0};
  for (int p = 0; p < Max_Places; ++p) {
    const int v = static_cast<int>(marking[Utils::Index(p)]) - 1;
    if (v < 0 || v >= Number_Of_Vehicles) continue;
    found.place[Utils::Index(v)] = static_cast<std::int8_t>(p);
    ++seen[v];
  }
  for (int v = 0; v < Number_Of_Vehicles; ++v) found.consistent = found.consistent && seen[v] == 1;
  return found;
}

void Check_Colours(const CPN_Marking& marking) {
  for (Colour c : marking)
    Utils::Require(static_cast<int>(c) <= static_cast<int>(Colour::V3), "colour of no vehicle");
}

CPN_Marking Empty_Marking() {
  CPN_Marking m;
  m.fill(Colour::EMPTY);
  return m;
}

bool Is_Consistent(const CPN_Marking& marking) {
  return Locate(marking).consistent;
}

Firing Reverse_Activated_Transitions(const CPN_Marking& marking) {
  Firing activated;
  for (int p = 0; p < Max_Places; ++p)
    if (marking[Utils::Index(p)] != Colour::EMPTY) activated.bits |= Post_Transitions(p).bits;
  return activated;
}

Firing_Outcome Reverse_Fire(const CPN_Marking& marking, Firing firing) {
  Firing_Outcome outcome{marking, 0};
  for (std::uint32_t bits = firing.bits; bits != 0; bits &= bits - 1) {
    const Transition_Ends ends = Ends(__builtin_ctz(bits));
    if (ends.source < 0 || ends.destination < 0) continue;
    const auto source = Utils::Index(ends.source);
    const auto destination = Utils::Index(ends.destination);
    outcome.Marking[source] = marking[destination];
    if (outcome.Marking[destination] == marking[destination])
      outcome.Marking[destination] = Colour::EMPTY;
    ++outcome.Movements;
  }
  return outcome;
}

std::string Label(const CPN_Marking& marking) {
  const Placement placement = Locate(marking);
  std::string label;
  for (int v = 1; v <= Number_Of_Vehicles; ++v) {
    if (v > 1) label.push_back(',');
    const int p = placement.place[Utils::Index(v - 1)];
    const int shown = p < 0 ? 0 : p;
    label.push_back('0');
    label.push_back(static_cast<char>('0' + v));
    label.push_back(':');
    label.push_back(static_cast<char>('0' + shown / 10));
    label.push_back(static_cast<char>('0' + shown % 10));
  }
  return label;
}

}  // namespace PetriNet::Coloured
