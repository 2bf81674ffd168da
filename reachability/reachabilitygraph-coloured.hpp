// The explored part of the coloured reachability graph: vehicle placements keyed by their
// lexicographic rank, expanded backwards from the goal, with the planner's search values.
#pragma once

#include <cstdint>
#include <vector>

#include "petrinet/petrinet-coloured.hpp"
#include "utils/utils-types.hpp"

namespace ReachabilityGraph::Coloured {

using PetriNet::Firing;
using PetriNet::Coloured::CPN_Marking;

// The lexicographic rank of a marking among the arrangements of its colours; 0..1319 for the
// consistent markings.
using Key_CPN = std::int32_t;

// A predecessor of a vertex: firing FIRING forwards from its marking gives the vertex's marking
// and moves MOVEMENTS vehicles (1, 2 or 3).
struct CPN_Successor {
  Key_CPN SUCCESSOR_KEY = -1;
  std::int32_t MOVEMENTS = 0;
  Firing FIRING;
};

using CPN_Successor_List = std::vector<CPN_Successor>;

struct CPN_Vertex {
  CPN_Marking CPN_MARKING{};
  CPN_Successor_List CPN_SUCCESSORS;
  Key_CPN PARENT = -1;
  Utils::Cost G = Utils::Infinite_Cost;
  Utils::Cost H = Utils::Infinite_Cost;
  Utils::Cost F = Utils::Infinite_Cost;
};

// A vertex without its successor list: what the planner reads and writes per successor.
struct CPN_Values {
  CPN_Marking CPN_MARKING{};
  Key_CPN PARENT = -1;
  Utils::Cost G = Utils::Infinite_Cost;
  Utils::Cost H = Utils::Infinite_Cost;
  Utils::Cost F = Utils::Infinite_Cost;
};

// The search figures of a vertex alone, for the planner's inner loop.
struct CPN_Costs {
  Key_CPN PARENT = -1;
  Utils::Cost G = Utils::Infinite_Cost;
  Utils::Cost H = Utils::Infinite_Cost;
  Utils::Cost F = Utils::Infinite_Cost;
};

// The lexicographic rank of `marking` (sum over places i < 11 of smaller x n!/empties!).
// V1, V2, V3 on places 0, 1, 2 give 1089; the empty marking gives 0.
Key_CPN Compute_Key_CPN(const CPN_Marking& marking);

// Prepares the root of a search: inserts the marking's vertex when absent (PARENT = its own
// key), and in any case sets its G, H and F to 32767. Returns the key.
Key_CPN Init_Vertex(const CPN_Marking& marking);

// Replaces the successor list of the vertex under `key` by Compute_Successors of its marking.
// Range_Error when there is no vertex.
void Expand_Vertex(Key_CPN key);

// True when the vertex's successor list is empty. Range_Error when there is no vertex.
bool Successors_Empty(Key_CPN key);

// Copies out of and into the graph; Range_Error when there is no vertex under `key`.
CPN_Vertex Get_Vertex(Key_CPN key);
void Replace_Vertex(Key_CPN key, const CPN_Vertex& vertex);
CPN_Values Get_Values(Key_CPN key);
void Replace_Values(Key_CPN key, const CPN_Values& values);  // the marking is not changed
// The successor list of `key` in place; valid until a vertex is added, removed or replaced.
const CPN_Successor_List& Successors(Key_CPN key);
// Expand_Vertex(key) when its successor list is empty, then Successors(key).
const CPN_Successor_List& Expanded_Successors(Key_CPN key);
// a * 144 + b * 12 + c when the marking of `key` holds exactly V1 on a, V2 on b and V3 on c and
// nothing else; -1 otherwise.
int Placement_Code(Key_CPN key);
CPN_Costs Get_Costs(Key_CPN key);
Utils::Cost Get_F(Key_CPN key);  // Get_Costs(key).F
void Replace_Costs(Key_CPN key, const CPN_Costs& costs);
CPN_Marking Get_Marking(Key_CPN key);

bool Contains(Key_CPN key);
void Delete_Vertex(Key_CPN key);
int Graph_Length();
void Clear_Graph();

// Logs INFORMATIONAL "Graph initialized"; changes nothing.
void Init_Graph();

// The predecessors of `marking` with consistent markings, grouped by MOVEMENTS 1, 2, 3, each
// group in the reverse order of Feasible_Firings; a vertex is added for every new predecessor.
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

}  // namespace ReachabilityGraph::Coloured
