// Unit-cost Dijkstra over the single-token reachability graph.
#include "search/search-dijkstra.hpp"

#include <array>
#include <chrono>
#include <limits>

#include "utils/utils-queue.hpp"
#include "utils/utils-types.hpp"

namespace Search::Dijkstra {
namespace {

namespace Graph = ReachabilityGraph::Simple;

Key_PN source_key = 0;
Key_PN target_key = 0;

// The queue of one search. Emptied at the start of each search; its storage is kept, so that
// the searches of a build allocate nothing after the first.
Utils::Priority_Queue queue;

using Clock = std::chrono::steady_clock;

std::int64_t Nanoseconds_Since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

// The figures of a search started at `start` that has made `evaluations` so far.
Search_Figures Figures_Now(Clock::time_point start, int evaluations) {
  return {evaluations, Nanoseconds_Since(start), static_cast<std::int32_t>(queue.Size())};
}

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
    const Key_PN s_key = successors[Utils::Index(i)];
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

Path_Search Find_Path() {
  const auto start = Clock::now();
  Start_At_Source();
  int evaluations = 0;
  bool found = false;
  while (evaluations < Max_Distance_Evaluations && !found && !queue.Empty()) {
    ++evaluations;
    found = Expand_Next([](Key_PN s_key) { return s_key == target_key; });
  }
  return {found, Figures_Now(start, evaluations)};
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

Source_Search Distances_From_Source() {
  const auto start = Clock::now();
  Source_Search search;
  search.distances.fill(Utils::Infinite_Cost);
  // With unit steps a vertex is never improved once generated, so each position is queued at
  // most once, in the order of its F: the queue is a plain first-in, first-out list, and the
  // search runs until it is empty, after at most 12 evaluations, far below the cap of a search
  // for one target. A vertex of the simple graph holds one token, and its key is the position of
  // that token: keys index the row directly. F and PARENT are written to the graph as they
  // change, as the queue's searches do.
  std::array<Utils::Cost, PetriNet::Max_Places> f;
  f.fill(Utils::Infinite_Cost);
  std::array<Key_PN, PetriNet::Max_Places + 1> queued;
  std::size_t head = 0;
  std::size_t tail = 0;
  Graph::Replace_Values(source_key, source_key, 0);
  f[Utils::Index(source_key)] = 0;
  queued[tail++] = source_key;
  int evaluations = 0;
  bool target_found = false;
  std::array<Key_PN, PetriNet::Max_Transitions> successors;
  while (head != tail) {
    ++evaluations;
    const Key_PN key = queued[head++];
    const Utils::Cost s_f = Utils::Cost_Add(f[Utils::Index(key)], 1);
    const std::int32_t count = Graph::Get_Successor_Keys(key, successors);
    for (std::int32_t i = 0; i < count; ++i) {
      const Key_PN s_key = successors[Utils::Index(i)];
      const auto s = Utils::Index(s_key);
      if (s_f < f[s]) {
        f[s] = s_f;
        Graph::Replace_Values(s_key, key, s_f);
        queued[tail++] = s_key;
      }
      if (search.distances[s] == Utils::Infinite_Cost)
        search.distances[s] = s_key == source_key ? 0 : f[s];
      if (s_key == target_key && !target_found) {
        target_found = true;
        search.target_figures = {evaluations, Nanoseconds_Since(start),
                                 static_cast<std::int32_t>(tail - head)};
      }
    }
  }
  if (!target_found)
    search.target_figures = {evaluations, Nanoseconds_Since(start),
                             static_cast<std::int32_t>(tail - head)};
  return search;
}

void Reset_Values() {
  Graph::Reset_Distances();
}

}  // namespace Search::Dijkstra
