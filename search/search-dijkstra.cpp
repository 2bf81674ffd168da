// Unit-cost Dijkstra over the single-token reachability graph.
#include "search/search-dijkstra.hpp"

#include <chrono>
#include <limits>
#include <queue>
#include <vector>

#include "search/search-dstarlite.hpp"

namespace Search::Dijkstra {
namespace {

namespace Graph = ReachabilityGraph::Simple;

Key_PN source_key = 0;
Key_PN target_key = 0;

// Greater PRIORITY first; equal priorities first in, first out.
struct Node {
  std::int32_t priority;
  std::int64_t sequence;
  Key_PN content;
};
struct Node_Order {
  bool operator()(const Node& a, const Node& b) const {
    if (a.priority != b.priority) return a.priority < b.priority;
    return a.sequence > b.sequence;
  }
};

}  // namespace

void Prepare() { Graph::Build_Graph(); }

void Set_Source(Key_PN key) { source_key = key; }
void Set_Target(Key_PN key) { target_key = key; }

bool Find_Path() {
  const auto start = std::chrono::steady_clock::now();
  std::priority_queue<Node, std::vector<Node>, Node_Order> queue;
  std::int64_t sequence = 0;

  Graph::Replace_Values(source_key, source_key, 0);
  queue.push({Utils::Infinite_Cost, sequence++, source_key});

  int evaluations = 0;
  bool found = false;
  while (evaluations < Max_Distance_Evaluations && !found && !queue.empty()) {
    ++evaluations;
    const Key_PN key = queue.top().content;
    queue.pop();
    const Graph::PN_Vertex u = Graph::Get_Vertex(key);
    for (std::int32_t i = 0; i < u.PN_SUCCESSORS.count; ++i) {
      const Key_PN s_key = u.PN_SUCCESSORS.items[static_cast<std::size_t>(i)].SUCCESSOR_KEY;
      const Graph::PN_Vertex s = Graph::Get_Vertex(s_key);
      const Utils::Cost f = Utils::Cost_Add(u.F, 1);
      if (f < s.F) {
        Graph::Replace_Values(s_key, key, f);
        queue.push({Utils::Infinite_Cost - f, sequence++, s_key});
      }
      if (s_key == target_key) {
        found = true;
        break;
      }
    }
  }

  Search::DStarLite::Search_Statistics stats = Search::DStarLite::Get_Statistics();
  stats.Evaluations = evaluations;
  stats.CPU_Time = std::chrono::duration_cast<std::chrono::nanoseconds>(
                       std::chrono::steady_clock::now() - start)
                       .count();
  stats.Queue_Size = static_cast<std::int32_t>(queue.size());
  Search::DStarLite::Set_Statistics(stats);
  return found;
}

std::int32_t Path_Length() {
  Key_PN key = target_key;
  std::int32_t count = 0;
  while (key != source_key) {
    key = Graph::Get_Vertex(key).PARENT;
    Utils::Require(count < std::numeric_limits<std::int32_t>::max(), "path length overflow");
    ++count;
  }
  return count;
}

void Reset_Values() { Graph::Reset_Distances(); }

}  // namespace Search::Dijkstra
