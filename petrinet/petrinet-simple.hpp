// The simple net of the roads: markings of anonymous tokens, activation and firing.
#pragma once

#include <array>

#include "petrinet/petrinet.hpp"

namespace PetriNet::Simple {

// One Boolean per place: true where a token lies.
using PN_Marking = std::array<bool, Max_Places>;

// No token anywhere.
PN_Marking Empty_Marking();

// The transitions with an input place that holds a token.
Firing Activated_Transitions(const PN_Marking& marking);

// The marking after each set transition, ascending, moved its token from its source to its
// destination (column of C). A transition without both ends logs INFORMATIONAL
// "Probably same road origin and destiny." and changes nothing.
PN_Marking Fire(const PN_Marking& marking, Firing firing);

// "Marking is:", an empty line, then "(TRUE FALSE ... )".
void Show_Marking(const PN_Marking& marking);

}  // namespace PetriNet::Simple
