// Unit-cost Dijkstra over the single-token reachability graph.
#include "search/search-dijkstra.hpp"

#include <array>
#include <chrono>
#include <limits>

#include "search/search-dstarlite.hpp"

namespace Search::Dijkstra {
namespace {

namespace Graph = ReachabilityGraph::Simple;

Key_PN source_key = 0;
Key_PN target_key = 0;

// The queue of one search. Emptied at the start of each search; its storage is kept, so that
// the searches of a build allocate nothing after the first.
Utils::Priority_Queue queue;

// The start of a search: an empty queue holding the source, whose F is 0.
void Start_At_Source() {
  queue.Clear();
  Graph::Replace_Values(source_key, source_key, 0);
  queue.Enqueue(Utils::Infinite_Cost, source_key);
}

// Takes the next vertex from the queue and visits its successors in list order: each one whose
// F exceeds the vertex's F (as it stood when dequeued) + 1 gets that F and the vertex as its
// PARENT and is queued; then `generated(successor)` is called, and a true result ends the visits
// and is returned.
template <class Generated>
bool Expand_Next(Generated generated) {
  const Key_PN key = queue.Dequeue().CONTENT;
  const Utils::Cost u_f = Graph::Get_Values(key).F;
  std::array<Key_PN, PetriNet::Max_Transitions> successors;
  const std::int32_t count = Graph::Get_Successor_Keys(key, successors);
  for (std::int32_t i = 0; i < count; ++i) {
    const Key_PN s_key = successors[static_cast<std::size_t>(i)];
    const Utils::Cost f = Utils::Cost_Add(u_f, 1);
    if (f < Graph::Get_Values(s_key).F) {
      Graph::Replace_Values(s_key, key, f);
      queue.Enqueue(Utils::Infinite_Cost - f, s_key);
    }
    if (generated(s_key)) return true;
  }
  return false;
}

}  // namespace

void Prepare() {
  Graph::Build_Graph();
}

void Set_Source(Key_PN key) {
  source_key = key;
}
void Set_Target(Key_PN key) {
  target_key = key;
}

bool Find_Path() {
  const auto start = std::chrono::steady_clock::now();
  Start_At_Source();
  int evaluations = 0;
  bool found = false;
  while (evaluations < Max_Distance_Evaluations && !found && !queue.Empty()) {
    ++evaluations;
    found = Expand_Next([](Key_PN s_key) { return s_key == target_key; });
  }

  Utils::Search_Statistics stats = Search::DStarLite::Get_Statistics();
  stats.Evaluations = evaluations;
  stats.CPU_Time =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
          .count();
  stats.Queue_Size = static_cast<std::int32_t>(queue.Size());
  Search::DStarLite::Set_Statistics(stats);
  return found;
}

std::int32_t Path_Length() {
  Key_PN key = target_key;
  std::int32_t count = 0;
  while (key != source_key) {
    key = Graph::Get_Values(key).PARENT;
    Utils::Require(count < std::numeric_limits<std::int32_t>::max(), "path length overflow");
    ++count;
  }
  return count;
}

std::array<std::int32_t, PetriNet::Max_Places> Distances_From_Source() {
  std::array<std::int32_t, PetriNet::Max_Places> distances;
  distances.fill(Utils::Infinite_Cost);
  Start_At_Source();
  // With unit steps a vertex is never improved once generated, so each position is queued at
  // most once and the queue runs empty after at most 12 evaluations. A vertex of the simple graph
  // holds one token, and its key is the position of that token: keys index the row directly.
  while (!queue.Empty()) {
    Expand_Next([&distances](Key_PN s_key) {
      std::int32_t& known = distances[static_cast<std::size_t>(s_key)];
      if (known == Utils::Infinite_Cost)
        known = s_key == source_key ? 0 : Graph::Get_Values(s_key).F;
      return false;
    });
  }
  return distances;
}

void Reset_Values() {
  Graph::Reset_Distances();
}

}  // namespace Search::Dijkstra
