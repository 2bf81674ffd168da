// Coloured markings of the vehicles and the backward step of the planner.
#include "petrinet/petrinet-coloured.hpp"

namespace PetriNet::Coloured {

CPN_Marking Empty_Marking() {
  CPN_Marking m;
  m.fill(Colour::EMPTY);
  return m;
}

bool Is_Consistent(const CPN_Marking& marking) {
  int counts[4] = {0, 0, 0, 0};
  for (Colour c : marking) ++counts[static_cast<int>(c) & 3];
  return counts[1] == 1 && counts[2] == 1 && counts[3] == 1;
}

Firing Reverse_Activated_Transitions(const CPN_Marking& marking) {
  Firing activated;
  for (int p = 0; p < Max_Places; ++p)
    if (marking[static_cast<std::size_t>(p)] != Colour::EMPTY)
      activated.bits |= Post_Transitions(p).bits;
  return activated;
}

Firing_Outcome Reverse_Fire(const CPN_Marking& marking, Firing firing) {
  Firing_Outcome outcome{marking, 0};
  for (std::uint32_t bits = firing.bits; bits != 0; bits &= bits - 1) {
    const Transition_Ends ends = Ends(__builtin_ctz(bits));
    if (ends.source < 0 || ends.destination < 0) continue;
    const auto source = static_cast<std::size_t>(ends.source);
    const auto destination = static_cast<std::size_t>(ends.destination);
    outcome.Marking[source] = marking[destination];
    if (outcome.Marking[destination] == marking[destination])
      outcome.Marking[destination] = Colour::EMPTY;
    ++outcome.Movements;
  }
  return outcome;
}

int Position(const CPN_Marking& marking, Colour colour) {
  for (int p = Max_Places - 1; p >= 0; --p)
    if (marking[static_cast<std::size_t>(p)] == colour) return p;
  return -1;
}

std::string Label(const CPN_Marking& marking) {
  std::string label;
  for (int v = 1; v <= Number_Of_Vehicles; ++v) {
    if (v > 1) label.push_back(',');
    const int p = Position(marking, Vehicle_Colour(v));
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
