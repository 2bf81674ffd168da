// The explored part of the coloured reachability graph: vehicle placements keyed by their
// lexicographic rank, expanded backwards from the goal, with the planner's search values.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "petrinet/petrinet-coloured.hpp"
#include "utils/utils-types.hpp"

namespace ReachabilityGraph::Coloured {

using PetriNet::Firing;
using PetriNet::Coloured::CPN_Marking;
using PetriNet::Coloured::Placement;

// The lexicographic rank of a marking among the arrangements of its colours.
using Key_CPN = std::int32_t;

// The consistent markings (each vehicle on a place of its own) have the keys
// 0..Consistent_Keys - 1, one each.
inline constexpr Key_CPN Consistent_Keys =
    PetriNet::Max_Places * (PetriNet::Max_Places - 1) * (PetriNet::Max_Places - 2);

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
// At least Graph_Length, without counting: every key of a consistent marking and the other
// vertices.
int Vertex_Bound();
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
// For the planner, which reads and writes the search values where the graph keeps them instead
// of copying whole vertices.

// PARENT, G and F of a vertex: what the planner writes (H, which it never writes, is kept
// apart).
struct Search_Values {
  Key_CPN PARENT = -1;
  Utils::Cost G = Utils::Infinite_Cost;
  Utils::Cost F = Utils::Infinite_Cost;
};

// The values of the vertex under `key`; Range_Error when there is none. Valid until a vertex
// is added or removed.
Search_Values& Values(Key_CPN key);

// The values of the vertices of consistent markings, indexed by key, for as long as the program
// runs. The entry of a key whose vertex is absent, or holds a marking that is not consistent,
// holds the defaults and must not be written.
std::span<Search_Values, Consistent_Keys> Consistent_Values();

// Where the vehicles stand in the marking of the vertex under `key`; Range_Error when there is
// no vertex.
Placement Placement_Of(Key_CPN key);

// The consistent placements, indexed by key.
std::span<const Placement, Consistent_Keys> Consistent_Placements();

// The marking and the link of the vertex under `key`, when there is one.
struct Vertex_Link {
  bool found = false;
  CPN_Marking CPN_MARKING{};
  Key_CPN PARENT = -1;
};
Vertex_Link Link_Of(Key_CPN key);

// The successors of a vertex as keys of consistent markings, by MOVEMENTS, each group in list
// order: what the planner visits. The lists hold, per successor, a code and the set of
// transitions of its firing (a Step_Set: as the graph numbers transitions); the groups of a
// vertex read a code's key as key_of[code] (below Consistent_Keys).
using Group_Key = std::uint16_t;
using Step_Set = std::uint32_t;
struct Successor_Lists {
  std::array<std::span<const Group_Key>, PetriNet::Coloured::Number_Of_Vehicles> codes;
  std::array<const Step_Set*, PetriNet::Coloured::Number_Of_Vehicles> firings{};
  Step_Set transitions = 0;  // every transition of the lists' firings is among these
};
struct Successor_Groups {
  const Successor_Lists* lists = nullptr;  // null: the successors only as a list (below)
  const Group_Key* key_of = nullptr;
};

// The transitions of a firing as a Step_Set.
Step_Set Steps_Of(Firing firing);

// The transitions that move a vehicle from place a to place b or from b to a.
Firing Steps_Between(int a, int b);

// The successors of the vertex under `key` as groups, the vertex expanded first when its list is
// empty (as Expand_Vertex does: the vertices of its predecessors are added, marked present when
// presence is next asked about); valid until the net changes. No lists when they can be had only
// as the list of Get_Vertex: the vertex holds a marking that is not consistent, a list put in
// with Replace_Vertex or one listed before the net last changed, the net lacks the shape of roads
// there, a key of a consistent marking is held by one that is not, or a vertex was deleted since
// the graph was last cleared. Range_Error when there is no vertex under `key`.
Successor_Groups Expanded_Groups(Key_CPN key);

}  // namespace ReachabilityGraph::Coloured
