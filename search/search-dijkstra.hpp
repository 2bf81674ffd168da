// Road distances between two positions: Dijkstra with unit steps on the simple graph.
#pragma once

#include <array>
#include <cstdint>

#include "reachability/reachabilitygraph-simple.hpp"

namespace Search::Dijkstra {

using ReachabilityGraph::Simple::Key_PN;

// The most vertices one search dequeues.
inline constexpr int Max_Distance_Evaluations = 1000;

// Rebuilds the simple reachability graph from the current net.
void Prepare();

void Set_Source(Key_PN key);
void Set_Target(Key_PN key);

// Searches from the source; true when the target was generated as a successor. Leaves F and
// PARENT in the graph and writes Evaluations, CPU_Time (unscaled) and Queue_Size of the shared
// statistics. Range_Error when the source is not a vertex.
bool Find_Path();

// The number of PARENT links from the target back to the source.
std::int32_t Path_Length();

// For every position as the target, what Find_Path and Path_Length give for it (Infinite_Cost
// where no path is found), from one search that runs until its queue is empty instead of one
// search per target. The numbers are the same: with unit steps a vertex's F and PARENT are
// final once it is generated, and a search for one target stops right there; the source itself
// is found (0 links) once a successor leads back to it. Writes no statistics; leaves F and
// PARENT in the graph.
std::array<std::int32_t, PetriNet::Max_Places> Distances_From_Source();

// F := 32767 in every vertex of the simple graph.
void Reset_Values();

}  // namespace Search::Dijkstra
