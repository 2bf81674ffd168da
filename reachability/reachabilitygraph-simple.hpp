// The graph of the road network: one vertex per single-token marking, successors one road
// move away, with the search values of the distance search.
#pragma once

#include <array>
#include <cstdint>

#include "petrinet/petrinet-simple.hpp"
#include "utils/utils-types.hpp"

namespace ReachabilityGraph::Simple {

using PetriNet::Firing;
using PetriNet::Simple::PN_Marking;

// The place of the single token (the highest place holding a token); -1 for no token.
using Key_PN = std::int32_t;

struct PN_Successor {
  Key_PN SUCCESSOR_KEY = -1;
  Firing FIRING;
};

// At most one successor per transition, in ascending order of the transition fired.
struct PN_Successor_List {
  std::array<PN_Successor, PetriNet::Max_Transitions> items{};
  std::int32_t count = 0;
};

struct PN_Vertex {
  PN_Marking PN_MARKING{};
  PN_Successor_List PN_SUCCESSORS;
  Key_PN PARENT = -1;
  Utils::Cost F = Utils::Infinite_Cost;
};

// Rebuilds the graph from the current net: vertices 0..11, vertex p with its token on p.
void Build_Graph();

// The highest place holding a token; with no token logs ERROR
// "Key_PN not correctly computed (empty Marking)." and returns -1.
Key_PN Compute_Key_PN(const PN_Marking& marking);

// A copy of the vertex stored under `key`; Range_Error when there is none.
PN_Vertex Get_Vertex(Key_PN key);

// The stored vertex under `key` becomes a copy of `vertex`; Range_Error when there is none.
void Replace_Vertex(Key_PN key, const PN_Vertex& vertex);

// Only the search values of a vertex (PARENT, F); Range_Error when there is none.
void Replace_Values(Key_PN key, Key_PN parent, Utils::Cost f);

// The search values of the vertex under `key`, without its marking and successors.
struct PN_Values {
  Key_PN PARENT = -1;
  Utils::Cost F = Utils::Infinite_Cost;
};
// Range_Error when there is no vertex under `key`.
PN_Values Get_Values(Key_PN key);

// Copies the successor keys of the vertex under `key`, in list order, into `into` and returns
// their number; Range_Error when there is no vertex.
std::int32_t Get_Successor_Keys(Key_PN key, std::array<Key_PN, PetriNet::Max_Transitions>& into);

// F := 32767 in every vertex; PARENT and successors stay.
void Reset_Distances();

// One successor per activated transition of `marking`, ascending by transition.
PN_Successor_List Compute_Successors(const PN_Marking& marking);

int Graph_Length();
void Clear_Graph();

// Diagnostic dumps to standard output.
void Print_Graph();
void Print_Vertex(const PN_Vertex& vertex);
void Print_Successors(const PN_Successor_List& list);

}  // namespace ReachabilityGraph::Simple
