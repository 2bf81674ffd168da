// Road distances between two positions: Dijkstra with unit steps on the simple graph.
#pragma once

#include <array>
#include <cstdint>

#include "reachability/reachabilitygraph-simple.hpp"

namespace Search::Dijkstra {

using ReachabilityGraph::Simple::Key_PN;

// The most vertices one search dequeues.
inline constexpr int Max_Distance_Evaluations = 1000;

// The figures of one search for a target: the vertices it dequeued, its wall-clock time in
// nanoseconds (unscaled) and the entries left in its queue when it stopped.
struct Search_Figures {
  std::int32_t Evaluations = 0;
  std::int64_t CPU_Time = 0;
  std::int32_t Queue_Size = 0;
};

// Rebuilds the simple reachability graph from the current net.
void Prepare();

void Set_Source(Key_PN key);
void Set_Target(Key_PN key);

// What a search for the target gives: whether the target was generated as a successor, and
// the search's figures.
struct Path_Search {
  bool found = false;
  Search_Figures figures;
};

// Searches from the source until the target is generated as a successor. Leaves F and PARENT
// in the graph. Range_Error when the source is not a vertex.
Path_Search Find_Path();

// The number of PARENT links from the target back to the source.
std::int32_t Path_Length();

// For every position as the target, what Find_Path and Path_Length give for it (Infinite_Cost
// where no path is found), from one search that runs until its queue is empty instead of one
// search per target; and the figures Find_Path gives for the target set with Set_Target. The
// numbers are the same: with unit steps a vertex's F and PARENT are final once it is generated,
// and a search for one target stops right there, with the evaluations and queue entries of that
// moment; the source itself is found (0 links) once a successor leads back to it. Leaves F and
// PARENT in the graph.
struct Source_Search {
  std::array<std::int32_t, PetriNet::Max_Places> distances;
  Search_Figures target_figures;
};
Source_Search Distances_From_Source();

// F := 32767 in every vertex of the simple graph.
void Reset_Values();

}  // namespace Search::Dijkstra
