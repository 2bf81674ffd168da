// The mission planner and its plan queries. From the top: the planner's state; the three rules
// that the search and the named operations share (a usable table entry, the heuristic sum and
// the blocked road); Compute_Solution in its steps; the named operations.
#include "search/search-dstarlite.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <span>
#include <thread>
#include <vector>

#include "petrinet/math-linearalgebra.hpp"
#include "reachability/reachabilitygraph-coloured.hpp"
#include "utils/utils-logger.hpp"
#include "utils/utils-queue.hpp"

namespace Search::DStarLite {
namespace {

namespace Graph = ReachabilityGraph::Coloured;
using Graph::Key_CPN;
using PetriNet::Max_Places;
using PetriNet::Coloured::Colour;
using PetriNet::Coloured::Label;
using PetriNet::Coloured::Locate;
using PetriNet::Coloured::Number_Of_Vehicles;
using PetriNet::Coloured::Placement;
using Utils::Cost;
using Utils::Logger::Log;
using Utils::Logger::Log_Parts;
using Utils::Logger::Severity;

struct Planner_State {
  CPN_Marking current = PetriNet::Coloured::Empty_Marking();
  CPN_Marking goal = PetriNet::Coloured::Empty_Marking();
  CPN_Marking next = PetriNet::Coloured::Empty_Marking();
  Cost key_modifier = 0;
  bool solution_found = false;
  std::int32_t max_ram = 2048;
  std::int64_t timeout = 1000000000;
  Math::LinearAlgebra::Matrix distances = Math::LinearAlgebra::Zero_Matrix(Max_Places, Max_Places);
  Utils::Priority_Queue queue;
  Utils::Search_Statistics statistics;
  // The graph may hold vertices expanded on an earlier net (Net_Changed).
  bool built_on_old_net = false;
};

Planner_State planner;
bool pause_enabled = true;

// ---------------------------------------------------------------------------------------------
// A usable table entry: a whole number of moves lies strictly between -0.5 and `upper` (32767.5
// in the heuristic sum, 2^31 for the distance query); it is rounded half away from zero.

bool Usable_Entry(float entry, double upper) {
  return entry > -0.5f && static_cast<double>(entry) < upper;
}

void Check_Table_Index(int from, int to) {
  Utils::Require(from >= 0 && from < Max_Places && to >= 0 && to < Max_Places,
                 "distance index outside 0..11");
}

// ---------------------------------------------------------------------------------------------
// The heuristic sum: modulo 32768, over the vehicles, the table distance from the vehicle's
// place in one marking to its place in a target marking. Distances_Towards reads the table
// columns of the target once; Distance_Sum adds the entries for one placement.

constexpr std::int32_t Refused = -1;

// Per vehicle, the rounded distance from each place to the vehicle's place in the target;
// Refused where the entry is not usable or the vehicle is missing from the target.
struct Distances_To {
  std::array<std::array<std::int32_t, Max_Places>, Number_Of_Vehicles> moves;
  bool all_usable = true;  // no entry is Refused
};

// A usable entry rounded half away from zero; the entries are whole numbers of moves as a rule.
std::int32_t Rounded(float entry) {
  const auto whole = static_cast<std::int32_t>(entry);
  return static_cast<float>(whole) == entry ? whole : static_cast<std::int32_t>(std::lround(entry));
}

Distances_To Distances_Towards(const Placement& target) {
  Distances_To table;
  // The table is the planner's own, Max_Places by Max_Places, row by row.
  const std::vector<float>& entries = planner.distances.elements;
  for (std::size_t v = 0; v < table.moves.size(); ++v) {
    for (int from = 0; from < Max_Places; ++from) {
      std::int32_t& moves = table.moves[v][Utils::Index(from)];
      moves = Refused;
      if (target.place[v] >= 0) {
        const float entry = entries[Utils::Index(from * Max_Places + target.place[v])];
        if (Usable_Entry(entry, 32767.5)) moves = Rounded(entry);
      }
      table.all_usable = table.all_usable && moves != Refused;
    }
  }
  return table;
}

// Range_Error when a vehicle is missing from `from` or its entry is refused.
Cost Distance_Sum(const Distances_To& table, const Placement& from) {
  if (table.all_usable && from.All_Placed()) {
    return Utils::Cost_Add(
        table.moves[0][Utils::Index(from.place[0])] + table.moves[1][Utils::Index(from.place[1])],
        table.moves[2][Utils::Index(from.place[2])]);
  }
  Cost sum = 0;
  for (std::size_t v = 0; v < table.moves.size(); ++v) {
    Utils::Require(from.place[v] >= 0, "distance index outside 0..11");
    const std::int32_t moves = table.moves[v][Utils::Index(from.place[v])];
    Utils::Require(moves != Refused, "distance entry out of range");
    sum = Utils::Cost_Add(sum, moves);
  }
  return sum;
}

// ---------------------------------------------------------------------------------------------
// The blocked road: some vehicle stands on one end of an obstacle in marking a and on the other
// end in marking b. Prepare_Obstacles reads the list once; Watch finds the vehicles of `a` at an
// obstacle's end; Moves_Along tests one `b`. Where both markings are consistent, the vehicles'
// places tell the same: Far_Ends_Of and Moves_Between.

struct Blocked_Roads {
  std::array<std::uint16_t, Max_Places> far_ends{};  // bit q of far_ends[p]: p-q is blocked
  bool invalid = false;                              // an end outside 0..11
  bool any = false;                                  // some obstacle at all
  bool one_place = false;  // an obstacle from a place to itself: a vehicle there may not stay
};

Blocked_Roads Prepare_Obstacles(const Utils::Obstacles_List& obstacles) {
  Blocked_Roads blocked;
  for (const Utils::Obstacle& o : obstacles) {
    blocked.any = true;
    if (o.ORIGIN < 0 || o.ORIGIN >= Max_Places || o.DESTINY < 0 || o.DESTINY >= Max_Places) {
      blocked.invalid = true;
      continue;
    }
    blocked.one_place = blocked.one_place || o.ORIGIN == o.DESTINY;
    blocked.far_ends[Utils::Index(o.ORIGIN)] |= static_cast<std::uint16_t>(1u << o.DESTINY);
    blocked.far_ends[Utils::Index(o.DESTINY)] |= static_cast<std::uint16_t>(1u << o.ORIGIN);
  }
  return blocked;
}

// Where the obstacles join two places, a step is blocked exactly when its firing moves a vehicle
// along a transition between them: those transitions. Nothing otherwise (an obstacle from a place
// to itself blocks a vehicle that stays; one out of range fails the first step tested).
PetriNet::Firing Blocked_Steps(const Utils::Obstacles_List& obstacles,
                               const Blocked_Roads& blocked) {
  PetriNet::Firing steps;
  if (blocked.invalid || blocked.one_place) return steps;
  for (const Utils::Obstacle& o : obstacles)
    steps.bits |= Graph::Steps_Between(o.ORIGIN, o.DESTINY).bits;
  return steps;
}

struct Watched {
  int count = 0;
  std::array<Colour, Max_Places> vehicle;
  std::array<std::uint16_t, Max_Places> far_ends;
};

Watched Watch(const CPN_Marking& a, const Blocked_Roads& blocked) {
  Watched watched;
  for (std::size_t p = 0; p < Max_Places; ++p) {
    if (blocked.far_ends[p] == 0 || a[p] == Colour::EMPTY) continue;
    watched.vehicle[Utils::Index(watched.count)] = a[p];
    watched.far_ends[Utils::Index(watched.count++)] = blocked.far_ends[p];
  }
  return watched;
}

bool Moves_Along(const Watched& a, const CPN_Marking& b) {
  for (std::size_t i = 0; i < Utils::Index(a.count); ++i)
    for (unsigned ends = a.far_ends[i]; ends != 0; ends &= ends - 1)
      if (b[Utils::Index(__builtin_ctz(ends))] == a.vehicle[i]) return true;
  return false;
}

// Per vehicle, the far ends of the obstacles at its place in the consistent placement `a`.
using Far_Ends = std::array<std::uint16_t, Number_Of_Vehicles>;

Far_Ends Far_Ends_Of(const Placement& a, const Blocked_Roads& blocked) {
  Far_Ends ends{};
  for (std::size_t v = 0; v < ends.size(); ++v)
    ends[v] = blocked.far_ends[Utils::Index(a.place[v])];
  return ends;
}

bool Moves_Between(const Far_Ends& a, const Placement& b) {
  static_assert(Number_Of_Vehicles == 3, "one term per vehicle");
  return (((static_cast<unsigned>(a[0]) >> b.place[0]) |
           (static_cast<unsigned>(a[1]) >> b.place[1]) |
           (static_cast<unsigned>(a[2]) >> b.place[2])) &
          1u) != 0;
}

// ---------------------------------------------------------------------------------------------
// The plan: the chain of PARENT links from a vertex towards the goal. One walk serves the search
// (does the chain reach the goal?), the step queries and the move.

// Where a walk along the links stopped.
struct Walk_End {
  Key_CPN key = -1;        // the vertex reached
  std::int64_t links = 0;  // the links taken to reach it
  bool missing = false;    // no vertex has that key
  bool stopped = false;    // the walk's condition held there
  CPN_Marking marking{};   // the vertex's marking and link, unless missing
  Key_CPN parent = -1;
};

// Walks from the vertex under `key` along PARENT links until `stop(end)` holds for the vertex
// reached, `max_links` links were taken or a key without vertex is met.
template <class Stop>
Walk_End Walk(Key_CPN key, std::int64_t max_links, Stop stop) {
  Walk_End end;
  end.key = key;
  while (true) {
    const Graph::Vertex_Link link = Graph::Link_Of(end.key);
    if (!link.found) {
      end.missing = true;
      return end;
    }
    end.marking = link.CPN_MARKING;
    end.parent = link.PARENT;
    end.stopped = stop(end);
    if (end.stopped || end.links == max_links) return end;
    end.key = end.parent;
    ++end.links;
  }
}

// A walk of exactly `links` links (no vertex on it missing; Range_Error otherwise).
Walk_End Walk_Links(Key_CPN key, std::int64_t links) {
  const Walk_End end = Walk(key, links, [](const Walk_End&) { return false; });
  Utils::Require(!end.missing, "key missing from the coloured graph");
  return end;
}

// A walk to the first vertex holding the goal marking, at most as many links as the graph can hold
// vertices: more would go round a loop of links that never meets the goal. Costs taken modulo
// 32768 can improve a vertex from one of its own descendants and close such a loop. (A chain
// that meets the goal does so in fewer links than the graph has vertices, so that any bound from
// that number on gives the same walk.)
Walk_End Walk_To_Goal(Key_CPN key) {
  return Walk(key, Graph::Vertex_Bound(),
              [](const Walk_End& at) { return at.marking == planner.goal; });
}

// ---------------------------------------------------------------------------------------------
// Compute_Solution, then its steps over the state of one run.

// A heuristic value not yet worked out in this run (no cost is that high).
constexpr Cost Unknown = 0xFFFF;
// A read of the clock costs as much as several successors; 256 successors take a few
// microseconds, far below the millisecond steps of the time limit.
constexpr std::uint32_t Successors_Per_Clock_Read = 256;

struct Run {
  std::chrono::steady_clock::time_point start;
  Key_CPN start_key = -1;
  Placement current{};
  Distances_To towards_current{};
  Blocked_Roads blocked;
  // Where the obstacles join two places (and lie in range), a successor in groups is blocked
  // exactly when the transitions of its step meet these: no vehicle of a vertex needs watching.
  bool blocked_by_steps = false;
  Graph::Step_Set blocked_steps = 0;
  bool out_of_memory = false;
  std::span<Graph::Search_Values, Graph::Consistent_Keys> values = Graph::Consistent_Values();
  std::span<const Placement, Graph::Consistent_Keys> placements = Graph::Consistent_Placements();
  int evaluations = 0;
  // Successors to visit until the clock is read before the next: the first of the run, then
  // every Successors_Per_Clock_Read-th.
  std::uint32_t until_clock_read = 1;
  bool stop = false;
  // The heuristic of each key of a consistent marking, worked out when first needed (a vertex
  // keeps its marking while a run lasts). The sum costs several times the look-up, and a run
  // meets most vertices as successors of many others. The current marking's stays Unknown.
  std::array<Cost, Graph::Consistent_Keys> heuristic_of;
  // Per key of a consistent marking whose successors this run visited in groups: the key's F
  // then, and their number. A vertex taken from the queue again with the same F can improve
  // nothing (its successors' F' are the same, and their F have only gone down since), so that
  // only the count of successors moves on. Unknown where not visited, or where the current
  // marking's vertex is among them (met_start during the visits).
  std::array<Cost, Graph::Consistent_Keys> visited_with_f;
  std::array<std::uint16_t, Graph::Consistent_Keys> successors_visited;
  bool met_start = false;
};

// The vertex whose successors are visited, as they see it.
struct Expanding {
  Key_CPN key = -1;
  Cost g = 0;    // its G before the visits, one of which may improve it
  int base = 0;  // Key_Modifier + G
  // For the successors in groups, where their transitions do not tell the blocked steps.
  Far_Ends far_ends{};
};

void Start(Run& run);
void Queue_Goal(Run& run, const Utils::Obstacles_List& obstacles);
void Evaluate_Next(Run& run);
void Report(const Run& run);

}  // namespace

// The goal's vertex is queued and the vertices taken from the queue in the order of their F,
// each visiting its successors, until the current marking turns up, a limit is hit, the queue
// runs empty or Max_Evaluations vertices were taken.
bool Compute_Solution(const Utils::Obstacles_List& obstacles) {
  // Successor lists and links from an earlier net would lead over roads that no longer exist.
  if (planner.built_on_old_net) Reset_Search();
  Run run;
  Start(run);
  // A current marking that misses a vehicle has no heuristic: no search is made.
  if (run.current.All_Placed()) {
    Queue_Goal(run, obstacles);
    while (run.evaluations < Max_Evaluations && !run.stop && !planner.queue.Empty())
      Evaluate_Next(run);
  }
  Report(run);
  return planner.solution_found;
}

namespace {

bool Visited_Alike(Run& run, Key_CPN key);
bool Visit_Groups(Run& run, Key_CPN key, const Graph::Successor_Groups& groups);
bool Visit_List(Run& run, Key_CPN key);

std::int64_t Nanoseconds_Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              start)
      .count();
}

// The start of a run: the clock, the key of the current marking, the first records and the
// checks of both markings.
void Start(Run& run) {
  run.start = std::chrono::steady_clock::now();
  planner.solution_found = false;
  run.start_key = Graph::Compute_Key_CPN(planner.current);
  run.current = Locate(planner.current);
  Log(Severity::INFORMATIONAL, "Computing solution ");
  if (Utils::Logger::Due(Severity::DEBUG))
    Log_Parts(Severity::DEBUG, "Current Marking is:  ", Label(planner.current));
  if (!run.current.consistent) Log(Severity::ERROR, "Inconsistent current vehicle positions");
  if (!Locate(planner.goal).consistent) Log(Severity::ERROR, "Inconsistent goal vehicle positions");
}

// The rules prepared for the run, and the goal's vertex prepared and queued.
void Queue_Goal(Run& run, const Utils::Obstacles_List& obstacles) {
  run.towards_current = Distances_Towards(run.current);
  run.blocked = Prepare_Obstacles(obstacles);
  run.blocked_by_steps = run.blocked.any && !run.blocked.invalid && !run.blocked.one_place;
  run.blocked_steps = Graph::Steps_Of(Blocked_Steps(obstacles, run.blocked));
  run.out_of_memory = planner.max_ram <= Graph::Graph_RAM_Usage();
  run.heuristic_of.fill(Unknown);
  run.visited_with_f.fill(Unknown);
  const Key_CPN goal_key = Graph::Init_Vertex(planner.goal);
  if (Utils::Logger::Due(Severity::DEBUG))
    Log_Parts(Severity::DEBUG, "Goal Marking is:  ", Label(planner.goal));
  planner.queue.Enqueue(Utils::Infinite_Cost, goal_key);
}

// The vertex next in the queue: expanded when it has no successors yet, then its successors
// visited in list order, each after the limit checks. A limit hit or the current marking reached
// stops the run after that successor. The successors of a vertex of a consistent marking come as
// groups of keys, whose vertices hold consistent markings too; any other as a list.
void Evaluate_Next(Run& run) {
  ++run.evaluations;
  const Key_CPN key = planner.queue.Dequeue().CONTENT;
  if (Visited_Alike(run, key)) return;
  if (const Graph::Successor_Groups groups = Graph::Expanded_Groups(key); groups.lists) {
    run.stop = Visit_Groups(run, key, groups);
  } else {
    run.stop = Visit_List(run, key);
  }
}

// Whether the vertex under `key` is taken again with the F its successors were visited with,
// and the clock is not read before any of them: then visiting them again changes nothing but
// the count of successors until the next clock read, which moves on.
bool Visited_Alike(Run& run, Key_CPN key) {
  if (key < 0 || key >= Graph::Consistent_Keys) return false;
  const auto k = Utils::Index(key);
  if (run.visited_with_f[k] != run.values[k].F || run.successors_visited[k] >= run.until_clock_read)
    return false;
  run.until_clock_read -= run.successors_visited[k];
  return true;
}

// The clock read and the two limit checks, out of the successor loop.
bool Check_Limits(const Run& run) {
  bool hit = false;
  if (Nanoseconds_Since(run.start) >= planner.timeout) {
    Log(Severity::ERROR, "Timeout");
    hit = true;
  }
  if (run.out_of_memory) {
    Log(Severity::ERROR, "Out of memory");
    hit = true;
  }
  return hit;
}

// Whether a limit is hit before the next successor. The limits are checked before every
// Successors_Per_Clock_Read-th successor of the run, starting with the first: the memory limit
// cannot change while a run lasts, and a hit ends the run at its first successor, where the
// clock is read too.
bool Limit_Before_Visit(Run& run) {
  if (--run.until_clock_read != 0) [[likely]]
    return false;
  run.until_clock_read = Successors_Per_Clock_Read;
  return Check_Limits(run);
}

bool Reached_Current(const Run& run, Key_CPN parent);

// Improves the successor `s` under `key` to G `g` and F `f` through the vertex `u` when `f` is
// smaller than its F, and queues it; true when it is the current marking and counts as reached.
bool Improve(const Run& run, const Expanding& u, Key_CPN key, Graph::Search_Values& s, Cost g,
             Cost f) {
  if (f < s.F) {
    s.G = g;
    s.F = f;
    s.PARENT = u.key;
    planner.queue.Enqueue(Utils::Infinite_Cost - f, key);
  }
  return key == run.start_key && Reached_Current(run, s.PARENT);
}

// The current marking's vertex met as the successor under `key` of `u`, reached by a step to
// G `g`, F `base` + heuristic: its heuristic stays unlearnt, so that only it and the keys met
// for the first time take the side way of Visit_Key. True when it counts as reached.
[[gnu::noinline]] bool Visit_Current(Run& run, const Expanding& u, std::size_t key, int base,
                                     Cost g) {
  run.met_start = true;
  const Cost h = Distance_Sum(run.towards_current, run.placements[key]);
  return Improve(run, u, static_cast<Key_CPN>(key), run.values[key], g, Utils::Cost_Add(base, h));
}

// How the successors in groups are tested for blocked steps: not at all (no vehicle of the
// vertex at an obstacle's end), by the transitions of their steps, or by where the vehicles of
// the vertex and the successor stand (obstacles the transitions cannot tell, or an obstacle's end
// out of range).
enum class Blocked_Test { None, Flags, Places };

// The successor under `key` improved to G `g` and F `f` through `u`, and queued.
[[gnu::noinline]] void Improve_Key(const Expanding& u, Graph::Search_Values& s, std::size_t key,
                                   Cost g, Cost f) {
  s.G = g;
  s.F = f;
  s.PARENT = u.key;
  planner.queue.Enqueue(Utils::Infinite_Cost - f, static_cast<Key_CPN>(key));
}

// The successor under `key` whose heuristic is not learnt yet: a key met for the first time in
// this run, or the current marking's. True when it is the current marking and counts as reached.
[[gnu::noinline]] bool Visit_Unlearnt(Run& run, const Expanding& u, std::size_t key, int base,
                                      Cost g) {
  if (static_cast<Key_CPN>(key) == run.start_key) return Visit_Current(run, u, key, base, g);
  const Cost h = run.heuristic_of[key] = Distance_Sum(run.towards_current, run.placements[key]);
  const Cost f = Utils::Cost_Add(base, h);
  Graph::Search_Values& s = run.values[key];
  if (f < s.F) Improve_Key(u, s, key, g, f);
  return false;
}

// The successor `i` of a group of `u`, its step moving base - u.base vehicles to G `g`; true
// when it is the current marking and counts as reached.
template <Blocked_Test Test>
[[gnu::always_inline]] inline bool Visit_Successor(Run& run, const Expanding& u,
                                                   const Graph::Successor_Groups& groups,
                                                   const Graph::Group_Key* codes,
                                                   const Graph::Step_Set* firings, std::size_t i,
                                                   int base, Cost g) {
  if constexpr (Test == Blocked_Test::Flags) {
    if ((firings[i] & run.blocked_steps) != 0) return false;
  }
  const std::size_t key = groups.key_of[codes[i]];
  if constexpr (Test == Blocked_Test::Places) {
    Utils::Require(!run.blocked.invalid, "obstacle outside 0..11");
    if (Moves_Between(u.far_ends, run.placements[key])) return false;
  }
  const Cost h = run.heuristic_of[key];
  if (h == Unknown) [[unlikely]]
    return Visit_Unlearnt(run, u, key, base, g);
  const Cost f = Utils::Cost_Add(base, h);
  Graph::Search_Values& s = run.values[key];
  if (f < s.F) [[unlikely]]
    Improve_Key(u, s, key, g, f);
  return false;
}

// The successors of `u` in group `m` (their steps move m + 1 vehicles), each naming the vertex
// of its own consistent marking, until the current marking is reached or a limit is hit (true
// then). The limits are checked before the successors that follow a clock read, and the
// successors between two clock reads go without.
template <Blocked_Test Test>
bool Visit_Group_Checked(Run& run, const Expanding& u, const Graph::Successor_Groups& groups,
                         std::size_t m) {
  const int base = u.base + static_cast<int>(m) + 1;
  const Cost g = Utils::Cost_Add(u.g, static_cast<int>(m) + 1);
  const Graph::Group_Key* const codes = groups.lists->codes[m].data();
  const Graph::Step_Set* const firings = groups.lists->firings[m];
  const std::size_t end = groups.lists->codes[m].size();
  std::size_t i = 0;
  while (i != end) {
    if (run.until_clock_read == 1) {
      const bool limit = Limit_Before_Visit(run);
      if (Visit_Successor<Test>(run, u, groups, codes, firings, i++, base, g) || limit) return true;
      continue;
    }
    const std::size_t unchecked = i + std::min<std::size_t>(end - i, run.until_clock_read - 1);
    run.until_clock_read -= static_cast<std::uint32_t>(unchecked - i);
    for (; i != unchecked; ++i)
      if (Visit_Successor<Test>(run, u, groups, codes, firings, i, base, g)) return true;
  }
  return false;
}

// Every successor in the groups, with the limits checked before those that follow a clock read;
// true when the run stops.
template <Blocked_Test Test>
[[gnu::noinline]] bool Visit_Groups_Checked(Run& run, const Expanding& u,
                                            const Graph::Successor_Groups& groups) {
  for (std::size_t m = 0; m < groups.lists->codes.size(); ++m)
    if (Visit_Group_Checked<Test>(run, u, groups, m)) return true;
  return false;
}

// The successors of group `m` of `u`: Visit_Successor's steps, with the tables read through
// pointers held for the whole vertex. True when the current marking is reached.
template <Blocked_Test Test>
[[gnu::always_inline]] inline bool Visit_Group_Unchecked(Run& run, const Expanding& u,
                                                         const Graph::Successor_Groups& groups,
                                                         const Cost* heuristic,
                                                         Graph::Search_Values* values,
                                                         std::size_t m) {
  const int base = u.base + static_cast<int>(m) + 1;
  const Cost g = Utils::Cost_Add(u.g, static_cast<int>(m) + 1);
  const Graph::Step_Set* firing = groups.lists->firings[m];
  for (const Graph::Group_Key code : groups.lists->codes[m]) {
    if constexpr (Test == Blocked_Test::Flags) {
      if ((*firing++ & run.blocked_steps) != 0) continue;
    }
    const std::size_t key = groups.key_of[code];
    if constexpr (Test == Blocked_Test::Places) {
      Utils::Require(!run.blocked.invalid, "obstacle outside 0..11");
      if (Moves_Between(u.far_ends, run.placements[key])) continue;
    }
    const Cost h = heuristic[key];
    if (h == Unknown) [[unlikely]] {
      if (Visit_Unlearnt(run, u, key, base, g)) return true;
      continue;
    }
    const Cost f = Utils::Cost_Add(base, h);
    if (f < values[key].F) [[unlikely]]
      Improve_Key(u, values[key], key, g, f);
  }
  return false;
}

// Every successor in the groups, `count` of them, when the clock is not read before any of them;
// true when the current marking is reached.
template <Blocked_Test Test>
[[gnu::noinline]] bool Visit_Groups_Unchecked(Run& run, const Expanding& u,
                                              const Graph::Successor_Groups& groups,
                                              std::size_t count) {
  run.until_clock_read -= static_cast<std::uint32_t>(count);
  const Cost* const heuristic = run.heuristic_of.data();
  Graph::Search_Values* const values = run.values.data();
  static_assert(Number_Of_Vehicles == 3, "one group per number of vehicles moved");
  return Visit_Group_Unchecked<Test>(run, u, groups, heuristic, values, 0) ||
         Visit_Group_Unchecked<Test>(run, u, groups, heuristic, values, 1) ||
         Visit_Group_Unchecked<Test>(run, u, groups, heuristic, values, 2);
}

template <Blocked_Test Test>
bool Visit_Groups(Run& run, const Expanding& u, const Graph::Successor_Groups& groups,
                  std::size_t count) {
  return count < run.until_clock_read ? Visit_Groups_Unchecked<Test>(run, u, groups, count)
                                      : Visit_Groups_Checked<Test>(run, u, groups);
}

// The successors in groups: each names the vertex of its own consistent marking.
bool Visit_Groups(Run& run, Key_CPN key, const Graph::Successor_Groups& groups) {
  const Graph::Search_Values& v = run.values[Utils::Index(key)];
  const Expanding u{key, v.G, planner.key_modifier + v.G,
                    run.blocked.any && !run.blocked_by_steps
                        ? Far_Ends_Of(run.placements[Utils::Index(key)], run.blocked)
                        : Far_Ends{}};
  std::size_t count = 0;
  for (const std::span<const Graph::Group_Key> codes : groups.lists->codes) count += codes.size();
  run.met_start = false;
  bool stop = false;
  if (run.blocked.invalid || u.far_ends != Far_Ends{}) {
    stop = Visit_Groups<Blocked_Test::Places>(run, u, groups, count);
  } else if ((groups.lists->transitions & run.blocked_steps) != 0) {
    stop = Visit_Groups<Blocked_Test::Flags>(run, u, groups, count);
  } else {
    stop = Visit_Groups<Blocked_Test::None>(run, u, groups, count);
  }
  if (!stop && !run.met_start) {
    run.visited_with_f[Utils::Index(key)] = v.F;
    run.successors_visited[Utils::Index(key)] = static_cast<std::uint16_t>(count);
  }
  return stop;
}

// Distance_Sum towards the current marking for a successor under `key` whose vehicles stand on
// `placement`, learnt once per run for a key of a consistent marking other than the current
// marking's.
Cost Heuristic_Of(Run& run, Key_CPN key, const Placement& placement) {
  if (key < 0 || key >= Graph::Consistent_Keys || key == run.start_key)
    return Distance_Sum(run.towards_current, placement);
  Cost& known = run.heuristic_of[Utils::Index(key)];
  if (known == Unknown) known = Distance_Sum(run.towards_current, placement);
  return known;
}

// The successors in the list of Get_Vertex, each looked up.
bool Visit_List(Run& run, Key_CPN key) {
  if (Graph::Successors_Empty(key)) Graph::Expand_Vertex(key);
  const Graph::CPN_Vertex v = Graph::Get_Vertex(key);
  const Expanding u{key, v.G, planner.key_modifier + v.G, {}};
  Watched watched;
  bool check_blocked = false;
  if (run.blocked.any) {
    watched = Watch(v.CPN_MARKING, run.blocked);
    check_blocked = watched.count > 0 || run.blocked.invalid;
  }
  for (const Graph::CPN_Successor& e : v.CPN_SUCCESSORS) {
    const bool limit = Limit_Before_Visit(run);
    Graph::Search_Values& s = Graph::Values(e.SUCCESSOR_KEY);
    if (check_blocked) {
      Utils::Require(!run.blocked.invalid, "obstacle outside 0..11");
      if (Moves_Along(watched, Graph::Link_Of(e.SUCCESSOR_KEY).CPN_MARKING)) {
        if (limit) return true;
        continue;
      }
    }
    // A marking that misses a vehicle (a goal's, met under the key of a consistent marking by a
    // later computation without a reset) leads nowhere: it is passed over like a step that is not
    // improved.
    const Placement placement = Graph::Placement_Of(e.SUCCESSOR_KEY);
    const bool usable = placement.All_Placed();
    if (usable && Improve(run, u, e.SUCCESSOR_KEY, s, Utils::Cost_Add(u.g, e.MOVEMENTS),
                          Utils::Cost_Add(u.base + e.MOVEMENTS,
                                          Heuristic_Of(run, e.SUCCESSOR_KEY, placement))))
      return true;
    if (limit) return true;
  }
  return false;
}

// The current marking met as a successor counts as reached once it is linked and its links lead
// to the goal; then the marking one step ahead becomes the next marking.
[[gnu::noinline]] bool Reached_Current(const Run& run, Key_CPN parent) {
  if (parent == -1 || !Walk_To_Goal(run.start_key).stopped) return false;
  planner.solution_found = true;
  Log(Severity::DEBUG, "Search OK");
  planner.next = Walk_Links(parent, 0).marking;
  return true;
}

// After the search: the statistics, the pause and the last records.
void Report(const Run& run) {
  Utils::Search_Statistics& stats = planner.statistics;
  stats.Evaluations = run.evaluations;
  stats.CPU_Time = Nanoseconds_Since(run.start) * CPU_Time_Factor_Per_Mille / 1000;
  stats.Time_Per_Evaluation =
      run.evaluations == 0 ? 0.0f
                           : Utils::Seconds(stats.CPU_Time) / static_cast<float>(run.evaluations);
  if (pause_enabled && stats.CPU_Time > 0)
    std::this_thread::sleep_for(std::chrono::nanoseconds(stats.CPU_Time));
  stats.RAM_Usage = Graph::Graph_RAM_Usage();
  stats.Queue_Size = static_cast<std::int32_t>(planner.queue.Size());
  Log_Parts(Severity::DEBUG, "Search Evaluations: ", stats.Evaluations);
  if (Utils::Logger::Due(Severity::DEBUG))
    Log_Parts(Severity::DEBUG, "Search CPU time: ", Utils::Duration_Image(stats.CPU_Time));
}

}  // namespace

void Reset_Search() {
  planner.queue.Clear();
  Graph::Clear_Graph();
  planner.built_on_old_net = false;
}

void Net_Changed() {
  planner.built_on_old_net = true;
}

void Clear_Distances() {
  planner.distances = Math::LinearAlgebra::Zero_Matrix(Max_Places, Max_Places);
}

void Set_Distance(std::int32_t from, std::int32_t to, std::int32_t steps) {
  Check_Table_Index(from, to);
  Math::LinearAlgebra::Set_Element(planner.distances, from, to, static_cast<float>(steps));
}

std::int32_t Get_Distance(std::int32_t from, std::int32_t to) {
  Check_Table_Index(from, to);
  const float entry = Math::LinearAlgebra::Element(planner.distances, from, to);
  Utils::Require(Usable_Entry(entry, 2147483648.0), "distance entry out of range");
  return static_cast<std::int32_t>(std::lround(entry));
}

Cost Heuristic(const CPN_Marking& marking) {
  return Marking_Distance(marking, planner.current);
}

Cost Marking_Distance(const CPN_Marking& a, const CPN_Marking& b) {
  return Distance_Sum(Distances_Towards(Locate(b)), Locate(a));
}

bool Is_Blocked(const CPN_Marking& a, const CPN_Marking& b,
                const Utils::Obstacles_List& obstacles) {
  const Blocked_Roads blocked = Prepare_Obstacles(obstacles);
  Utils::Require(!blocked.invalid, "obstacle outside 0..11");
  return Moves_Along(Watch(a, blocked), b);
}

CPN_Marking Get_Current_Marking() {
  return planner.current;
}

void Set_Current_Marking(const CPN_Marking& marking) {
  PetriNet::Coloured::Check_Colours(marking);
  planner.current = marking;
}

CPN_Marking Get_Goal_Marking() {
  return planner.goal;
}

void Set_Goal_Marking(const CPN_Marking& marking) {
  PetriNet::Coloured::Check_Colours(marking);
  planner.goal = marking;
  planner.key_modifier = 0;
}

CPN_Marking Get_Next_Marking() {
  return planner.next;
}

CPN_Marking Get_Step_Marking(std::int64_t step) {
  if (step < 0) return planner.current;
  const Key_CPN start = Graph::Compute_Key_CPN(planner.current);
  const std::int64_t vertices = Graph::Vertex_Bound();
  if (step <= vertices) return Walk_Links(start, step).marking;
  // More links than the graph can hold vertices go round a loop, which the walk has entered after
  // that many links: the rest of the way is taken modulo the loop's length.
  const Walk_End on_loop = Walk_Links(start, vertices);
  const Walk_End round = Walk(on_loop.parent, vertices,
                              [&on_loop](const Walk_End& at) { return at.key == on_loop.key; });
  return Walk_Links(on_loop.key, (step - vertices) % (round.links + 1)).marking;
}

std::int32_t Get_Number_Of_Steps() {
  if (!planner.solution_found || planner.current == planner.goal) return 0;
  const Walk_End end = Walk_To_Goal(Graph::Compute_Key_CPN(planner.current));
  Utils::Require(!end.missing, "key missing from the coloured graph");
  Utils::Require(end.stopped, "plan does not reach the goal");
  return static_cast<std::int32_t>(end.links);
}

bool Goal_Reached() {
  return planner.current == planner.goal;
}

bool Moved_Forward() {
  const bool at_goal = Goal_Reached();
  Log_Parts(Severity::DEBUG, "Goal reached: ", at_goal ? "TRUE" : "FALSE");
  Log_Parts(Severity::DEBUG, "Search status: ", planner.solution_found ? "TRUE" : "FALSE");
  if (at_goal || !planner.solution_found) return at_goal;
  Log_Parts(Severity::DEBUG, "Current is: ", Label(planner.current));
  const Walk_End p = Walk_Links(Graph::Compute_Key_CPN(planner.current), 1);
  const Cost moved = Marking_Distance(planner.current, p.marking);
  planner.key_modifier = Utils::Cost_Add(planner.key_modifier, moved);
  planner.current = p.marking;
  const bool result = planner.current == planner.goal;
  // A plan that ends on a vertex never linked (one a computation on top of earlier values
  // found as its goal) has no marking beyond it: the next marking stays as it was.
  const Walk_End next = Walk(p.parent, 0, [](const Walk_End&) { return false; });
  if (!next.missing) planner.next = next.marking;
  Log_Parts(Severity::DEBUG, "Current updated to: ", Label(planner.current));
  Log_Parts(Severity::DEBUG, "Next updated to: ", Label(planner.next));
  return result;
}

int Get_Number_Of_Vehicles() {
  return Graph::Number_Of_Vehicles();
}

void Set_Max_RAM(std::int32_t megabytes) {
  planner.max_ram = megabytes;
}

void Set_Timeout(std::int32_t milliseconds) {
  const float seconds = static_cast<float>(milliseconds) / 1000.0f;
  planner.timeout = std::llround(static_cast<double>(seconds) * 1.0e9);
}

Utils::Search_Statistics Get_Statistics() {
  return planner.statistics;
}
void Set_Statistics(const Utils::Search_Statistics& statistics) {
  planner.statistics = statistics;
}
std::int32_t Get_Max_RAM() {
  return planner.max_ram;
}
std::int64_t Get_Timeout() {
  return planner.timeout;
}
Cost Get_Key_Modifier() {
  return planner.key_modifier;
}
bool Get_Solution_Found() {
  return planner.solution_found;
}
int Queue_Length() {
  return static_cast<int>(planner.queue.Size());
}

void Set_Pause(bool enabled) {
  pause_enabled = enabled;
}

void Reset() {
  planner = Planner_State{};
  Graph::Clear_Graph();
}

}  // namespace Search::DStarLite
