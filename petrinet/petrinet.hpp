// The place/transition net of the roads: incidence matrices, conflicts between transitions and
// the firings built from a set of activated transitions.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "petrinet/math-linearalgebra.hpp"

namespace PetriNet {

inline constexpr int Max_Places = 12;
inline constexpr int Max_Transitions = 30;

// A set of transitions fired together in one step (or a set of activated transitions).
struct Firing {
  std::uint32_t bits = 0;  // bit t set: transition t fires

  bool Test(int t) const { return (bits >> t) & 1u; }
  void Set(int t) { bits |= 1u << t; }
  bool Empty() const { return bits == 0; }
  friend bool operator==(Firing, Firing) = default;
};

using Firings_List = std::vector<Firing>;

// The transitions that may not fire together with one transition, in insertion order.
struct Constraints_Firings_List {
  std::array<std::int8_t, Max_Transitions> items{};
  std::int32_t count = 0;
};

// The two places a transition joins, read off column t of C: -1 where none was found.
struct Transition_Ends {
  std::int8_t source = -1;
  std::int8_t destination = -1;
};

// Pre(place, transition) := 1.0 and logs DEBUG "Adding Pre  p  t = 1". Range_Error for a place
// outside 0..11 or a transition outside 0..29, before anything changes.
void Add_Pre(int place, int transition);

// As Add_Pre, for Post ("Adding Post ...").
void Add_Post(int place, int transition);

// Appends `second` to the conflicts of `first` unless it is listed already (then nothing is
// logged); one direction only. Range_Error for a transition outside 0..29 or a full list.
void Add_Constraint(int first, int second);

// Pre and Post become zero and every conflict list empty; C keeps its values.
void Clear();

// C := Post - Pre; logs DEBUG "Petri Net initialized".
void Initialize();

// Adds the conflicts of every ordered pair of transitions that take from one place or deliver
// to one place.
void Compute_Constraints();

// One single-transition firing per activated transition, ascending.
Firings_List Activated_Firings(Firing activated);

// Every non-empty conflict-free subset of `activated`, in the order of counting in binary over
// the activated transitions (lowest transition as lowest bit).
Firings_List Feasible_Firings(Firing activated);

// As Feasible_Firings, written into `result` (whose storage is reused).
void Feasible_Firings_Into(Firing activated, Firings_List& result);

// Read access to the net, for the simple and the coloured net.
float Pre(int place, int transition);
float Post(int place, int transition);
float C(int place, int transition);
Constraints_Firings_List Constraints(int transition);

// The transitions with Pre(place, t) > 0, with Post(place, t) > 0, and the conflicts of t.
Firing Pre_Transitions(int place);
Firing Post_Transitions(int place);
Firing Conflicts(int transition);

// The source (-1.0) and destination (+1.0) places of column t of C as of the last Initialize.
Transition_Ends Ends(int transition);

// Back to the state at program start: all three matrices zero, no conflicts.
void Reset();

// A number that changes whenever Pre, Post, C, the conflicts or the transition ends may have
// changed; tables derived from the net stay valid while it stays the same.
std::uint64_t Version();

// Diagnostic dumps to standard output.
void Show_Pre();
void Show_Post();
void Show_C();
void Show_Constraints();
void Show_Activated_Transitions(Firing activated);
void Show_Activated_Firings(Firing activated);
void Show_Feasible_Transitions(Firing activated);
void Show_Firing(Firing firing);
void Show_Firing_Line(Firing firing);

}  // namespace PetriNet
