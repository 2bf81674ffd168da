// The explored part of the coloured reachability graph: vehicle placements keyed by their
// lexicographic rank, expanded backwards from the goal, with the planner's search values.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "petrinet/petrinet-coloured.hpp"
#include "utils/utils-types.hpp"

namespace ReachabilityGraph::Coloured {

using PetriNet::Firing;
using PetriNet::Coloured::CPN_Marking;
using PetriNet::Coloured::Placement;

// The lexicographic rank of a marking among the arrangements of its colours.
using Key_CPN = std::int32_t;

// The consistent markings have the keys 0..Consistent_Keys - 1, one each.
inline constexpr Key_CPN Consistent_Keys = 12 * 11 * 10;

// A predecessor of a vertex: firing FIRING forwards from its marking gives the vertex's marking
// and moves MOVEMENTS vehicles (1, 2 or 3).
struct CPN_Successor {
  Key_CPN SUCCESSOR_KEY = -1;
  std::int32_t MOVEMENTS = 0;
  Firing FIRING;
};

// Grouped by MOVEMENTS 1, 2, 3; the planner visits it in this order.
using CPN_Successor_List = std::vector<CPN_Successor>;

struct CPN_Vertex {
  CPN_Marking CPN_MARKING{};
  CPN_Successor_List CPN_SUCCESSORS;
  Key_CPN PARENT = -1;
  Utils::Cost G = Utils::Infinite_Cost;
  Utils::Cost H = Utils::Infinite_Cost;
  Utils::Cost F = Utils::Infinite_Cost;
};

// The lexicographic rank of `marking` (sum over places i < 11 of smaller x n!/empties!).
// V1, V2, V3 on places 0, 1, 2 give 1089; the empty marking gives 0.
Key_CPN Compute_Key_CPN(const CPN_Marking& marking);

// Prepares the root of a search: inserts the marking's vertex when absent (PARENT = its own
// key), and in any case sets its G, H and F to 32767. Returns the key. Range_Error for a
// colour of no vehicle.
Key_CPN Init_Vertex(const CPN_Marking& marking);

// Replaces the successor list of the vertex under `key` by Compute_Successors of its marking.
// Range_Error when there is no vertex.
void Expand_Vertex(Key_CPN key);

// True when the vertex's successor list is empty. Range_Error when there is no vertex.
bool Successors_Empty(Key_CPN key);

// Copies out of and into the graph; Range_Error when there is no vertex under `key`, and
// Replace_Vertex also for a colour of no vehicle.
CPN_Vertex Get_Vertex(Key_CPN key);
void Replace_Vertex(Key_CPN key, const CPN_Vertex& vertex);

bool Contains(Key_CPN key);
void Delete_Vertex(Key_CPN key);
int Graph_Length();
void Clear_Graph();

// Logs INFORMATIONAL "Graph initialized"; changes nothing.
void Init_Graph();

// The predecessors of `marking` with consistent markings, grouped by MOVEMENTS 1, 2, 3, each
// group in the reverse order of Feasible_Firings; a vertex is added for every new predecessor.
// Range_Error for a colour of no vehicle.
CPN_Successor_List Compute_Successors(const CPN_Marking& marking);

// Always 3.
int Number_Of_Vehicles();

// The graph's memory in megabytes: not measured, always 0.
int Graph_RAM_Usage();

// C := Post - Pre, the derived conflicts, then INFORMATIONAL
// "PN engine and constraints initialized".
void Init_PN_Engine();

// Diagnostic dumps to standard output.
void Print_Graph();
void Print_Vertex(const CPN_Vertex& vertex);
void Print_Successors(const CPN_Successor_List& list);

// ---------------------------------------------------------------------------------------------
// In place, for the planner's inner loop. Get_Vertex and Replace_Vertex copy a whole vertex,
// successor list included; the search reads and writes the vertices where they are stored.
//
// Validity: a reference handed out here stays valid until the next call that adds or removes a
// vertex: Init_Vertex, Expand_Vertex, Expanded, Compute_Successors, Clear_Graph, Delete_Vertex.
// Callers change PARENT, G and F only.

// A vertex as the graph keeps it: the fields of CPN_Vertex, except that the successor list is
// held immutable and shared with what the predecessor search found, which the graph remembers
// per placement (a copy at every expansion would cost as much as the rest of a replay), and
// where the vehicles stand in its marking. One cache line each.
struct alignas(64) Stored_Vertex {
  CPN_Marking CPN_MARKING{};
  std::shared_ptr<const CPN_Successor_List> successors;  // null: no successors
  Key_CPN PARENT = -1;
  Utils::Cost G = Utils::Infinite_Cost;
  Utils::Cost H = Utils::Infinite_Cost;
  Utils::Cost F = Utils::Infinite_Cost;
  Placement placement{};  // Locate(CPN_MARKING)
  bool present = false;   // false in a free place of the array of consistent keys

  const CPN_Successor_List& Successors() const { return successors ? *successors : None; }
  static const CPN_Successor_List None;
};

// The vertex under `key`; Range_Error when there is none.
Stored_Vertex& Stored(Key_CPN key);

// Stored(key), expanded first when its successor list is empty.
Stored_Vertex& Expanded(Key_CPN key);

// Stored(key) without a call for the keys of the consistent markings, which are kept in one
// array indexed by key.
class In_Place {
 public:
  In_Place();
  Stored_Vertex& operator[](Key_CPN key) const {
    if (static_cast<std::uint32_t>(key) < static_cast<std::uint32_t>(Consistent_Keys) &&
        dense_[key].present) [[likely]]
      return dense_[key];
    return Stored(key);
  }

 private:
  Stored_Vertex* dense_;
};

}  // namespace ReachabilityGraph::Coloured
