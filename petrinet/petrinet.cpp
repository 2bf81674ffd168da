// The net core: Pre, Post and C, the conflict table and the two firing builders.
#include "petrinet/petrinet.hpp"

#include <iostream>

#include "utils/utils-logger.hpp"
#include "utils/utils-types.hpp"

namespace PetriNet {
namespace {

using Math::LinearAlgebra::Matrix;
using Utils::Integer_Image;
using Utils::Logger::Log_Parts;
using Utils::Logger::Severity;

struct Net_State {
  Matrix pre = Math::LinearAlgebra::Zero_Matrix(Max_Places, Max_Transitions);
  Matrix post = Math::LinearAlgebra::Zero_Matrix(Max_Places, Max_Transitions);
  Matrix c = Math::LinearAlgebra::Zero_Matrix(Max_Places, Max_Transitions);
  std::array<Constraints_Firings_List, Max_Transitions> constraints{};
  // Derived from the lists above, kept in step with them.
  std::array<Firing, Max_Places> pre_transitions{};
  std::array<Firing, Max_Places> post_transitions{};
  std::array<Firing, Max_Transitions> conflicts{};
  std::array<Transition_Ends, Max_Transitions> ends{};
};

Net_State net;
std::uint64_t version = 1;

void Check_Place(int place) {
  Utils::Require(place >= 0 && place < Max_Places, "place outside 0..11");
}
void Check_Transition(int transition) {
  Utils::Require(transition >= 0 && transition < Max_Transitions, "transition outside 0..29");
}

const char* Boolean_Text(bool value) {
  return value ? "TRUE" : "FALSE";
}

void Show_Matrix(const char* title, const Matrix& m) {
  std::cout << title << '\n';
  Math::LinearAlgebra::Image(m);
  std::cout << '\n';
}

}  // namespace

namespace {

// An arc of Pre or Post: the matrix entry, the place's transition set, the record.
void Add_Arc(Matrix& matrix, std::array<Firing, Max_Places>& transitions, const char* lead,
             int place, int transition) {
  Check_Place(place);
  Check_Transition(transition);
  Math::LinearAlgebra::Set_Element(matrix, place, transition, 1.0f);
  ++version;
  transitions[Utils::Index(place)].Set(transition);
  Log_Parts(Severity::DEBUG, lead, place, " ", transition, " = 1");
}

}  // namespace

void Add_Pre(int place, int transition) {
  Add_Arc(net.pre, net.pre_transitions, "Adding Pre ", place, transition);
}

void Add_Post(int place, int transition) {
  Add_Arc(net.post, net.post_transitions, "Adding Post ", place, transition);
}

void Add_Constraint(int first, int second) {
  Check_Transition(first);
  Check_Transition(second);
  Constraints_Firings_List& list = net.constraints[Utils::Index(first)];
  for (std::int32_t i = 0; i < list.count; ++i)
    if (list.items[Utils::Index(i)] == second) return;
  Utils::Require(list.count < Max_Transitions, "constraint list full");
  list.items[Utils::Index(list.count++)] = static_cast<std::int8_t>(second);
  net.conflicts[Utils::Index(first)].Set(second);
  ++version;
  if (Utils::Logger::Due(Severity::DEBUG))
    Log_Parts(Severity::DEBUG, "Adding constraint between transitions ", first, "  and  ", second);
}

void Clear() {
  ++version;
  net.pre = Math::LinearAlgebra::Zero_Matrix(Max_Places, Max_Transitions);
  net.post = Math::LinearAlgebra::Zero_Matrix(Max_Places, Max_Transitions);
  net.constraints = {};
  net.pre_transitions = {};
  net.post_transitions = {};
  net.conflicts = {};
}

void Initialize() {
  ++version;
  net.c = Math::LinearAlgebra::Subtract(net.post, net.pre);
  // C has the places 0..11 as rows and the transitions 0..29 as columns, row by row.
  net.ends.fill(Transition_Ends{});
  for (int p = Max_Places - 1; p >= 0; --p) {
    const float* const row = net.c.elements.data() + Utils::Index(p * Max_Transitions);
    for (std::size_t t = 0; t < net.ends.size(); ++t) {
      if (row[t] == -1.0f) net.ends[t].source = static_cast<std::int8_t>(p);
      if (row[t] == 1.0f) net.ends[t].destination = static_cast<std::int8_t>(p);
    }
  }
  Log_Parts(Severity::DEBUG, "Petri Net initialized");
}

void Compute_Constraints() {
  // Transition j conflicts with i when some place k has Pre(k, i) > 0 and Pre(k, j) > 0, or
  // Post(k, i) > 0 and Post(k, j) > 0. The per-place transition sets mirror Pre and Post, so
  // the pairs are visited in the same order (i, then j ascending) as a scan of the matrices.
  for (int i = 0; i < Max_Transitions; ++i) {
    std::uint32_t sharing = 0;
    for (int k = 0; k < Max_Places; ++k) {
      const Firing pre = net.pre_transitions[Utils::Index(k)];
      const Firing post = net.post_transitions[Utils::Index(k)];
      if (pre.Test(i)) sharing |= pre.bits;
      if (post.Test(i)) sharing |= post.bits;
    }
    sharing &= ~(1u << i);
    for (; sharing != 0; sharing &= sharing - 1) Add_Constraint(i, __builtin_ctz(sharing));
  }
}

Firings_List Activated_Firings(Firing activated) {
  Firings_List result;
  for (int t = 0; t < Max_Transitions; ++t) {
    if (!activated.Test(t)) continue;
    Firing f;
    f.Set(t);
    result.push_back(f);
  }
  return result;
}

void Feasible_Firings_Into(Firing activated, Firings_List& result) {
  result.clear();
  result.push_back(Firing{});
  for (int t = 0; t < Max_Transitions; ++t) {
    if (!activated.Test(t)) continue;
    const std::uint32_t conflicts = net.conflicts[Utils::Index(t)].bits;
    const std::size_t held = result.size();
    for (std::size_t i = 0; i < held; ++i) {
      const std::uint32_t bits = result[i].bits | (1u << t);
      if ((bits & conflicts) == 0) result.push_back(Firing{bits});
    }
  }
  if (result.size() < 2) {
    result.clear();
  } else {
    result.erase(result.begin());
  }
}

Firings_List Feasible_Firings(Firing activated) {
  Firings_List result;
  Feasible_Firings_Into(activated, result);
  return result;
}

float Pre(int place, int transition) {
  return Math::LinearAlgebra::Element(net.pre, place, transition);
}
float Post(int place, int transition) {
  return Math::LinearAlgebra::Element(net.post, place, transition);
}
float C(int place, int transition) {
  return Math::LinearAlgebra::Element(net.c, place, transition);
}

Constraints_Firings_List Constraints(int transition) {
  Check_Transition(transition);
  return net.constraints[Utils::Index(transition)];
}

Firing Pre_Transitions(int place) {
  return net.pre_transitions[Utils::Index(place)];
}
Firing Post_Transitions(int place) {
  return net.post_transitions[Utils::Index(place)];
}
Firing Conflicts(int transition) {
  return net.conflicts[Utils::Index(transition)];
}
Transition_Ends Ends(int transition) {
  return net.ends[Utils::Index(transition)];
}

void Reset() {
  net = Net_State{};
  ++version;
}

std::uint64_t Version() {
  return version;
}

void Show_Pre() {
  Show_Matrix("Pre matrix is:", net.pre);
}
void Show_Post() {
  Show_Matrix("Post matrix is:", net.post);
}
void Show_C() {
  Show_Matrix("C incidence matrix is:", net.c);
}

void Show_Constraints() {
  std::cout << "\nShowing constraints\n\n";
  for (int t = 0; t < Max_Transitions; ++t) {
    std::cout << "\nConstraints for Transition " << Integer_Image(t) << ":  ";
    const Constraints_Firings_List& list = net.constraints[Utils::Index(t)];
    for (std::int32_t i = 0; i < list.count; ++i)
      std::cout << Integer_Image(list.items[Utils::Index(i)]) << "  ";
    std::cout << '\n';
  }
}

void Show_Activated_Transitions(Firing activated) {
  std::cout << "\nTransitions ";
  for (int t = 0; t < Max_Transitions; ++t)
    if (activated.Test(t)) std::cout << Integer_Image(t);
  std::cout << " activated \n";
  if (activated.Empty()) std::cout << "Empty Firing\n";
}

void Show_Activated_Firings(Firing activated) {
  std::cout << "Activated firings are: ";
  for (int t = 0; t < Max_Transitions; ++t)
    if (activated.Test(t)) std::cout << Integer_Image(t) << ' ';
  std::cout << '\n';
}

void Show_Feasible_Transitions(Firing activated) {
  for (int t = 0; t < Max_Transitions; ++t)
    if (activated.Test(t)) std::cout << "Firing " << Integer_Image(t) << " feasible\n";
}

void Show_Firing(Firing firing) {
  std::cout << "Firing is\n\n(";
  for (int t = 0; t < Max_Transitions; ++t) std::cout << Boolean_Text(firing.Test(t)) << ' ';
  std::cout << ")\n";
}

void Show_Firing_Line(Firing firing) {
  std::cout << " ( ";
  for (int t = 0; t < Max_Transitions; ++t) std::cout << Boolean_Text(firing.Test(t)) << ' ';
  std::cout << " ) \n";
}

}  // namespace PetriNet
