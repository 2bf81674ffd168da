// Single-token markings of the road net.
#include "petrinet/petrinet-simple.hpp"

#include <iostream>

#include "utils/utils-logger.hpp"

namespace PetriNet::Simple {

PN_Marking Empty_Marking() {
  return PN_Marking{};
}

Firing Activated_Transitions(const PN_Marking& marking) {
  Firing activated;
  for (int p = 0; p < Max_Places; ++p)
    if (marking[Utils::Index(p)]) activated.bits |= Pre_Transitions(p).bits;
  return activated;
}

PN_Marking Fire(const PN_Marking& marking, Firing firing) {
  PN_Marking result = marking;
  for (std::uint32_t rest = firing.bits; rest != 0; rest &= rest - 1) {
    const Transition_Ends ends = Ends(__builtin_ctz(rest));
    if (ends.source < 0 || ends.destination < 0) {
      Utils::Logger::Log(Utils::Logger::Severity::INFORMATIONAL,
                         "Probably same road origin and destiny.");
      continue;
    }
    const auto source = Utils::Index(ends.source);
    const auto destination = Utils::Index(ends.destination);
    result[destination] = marking[source];
    if (result[source] == marking[source]) result[source] = false;
  }
  return result;
}

void Show_Marking(const PN_Marking& marking) {
  std::cout << "Marking is:\n\n(";
  for (bool token : marking) std::cout << (token ? "TRUE" : "FALSE") << ' ';
  std::cout << ")\n";
}

}  // namespace PetriNet::Simple
