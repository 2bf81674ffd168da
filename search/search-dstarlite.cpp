// The mission planner and its plan queries.
#include "search/search-dstarlite.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <queue>
#include <thread>
#include <unordered_map>

#include "petrinet/math-linearalgebra.hpp"
#include "utils/utils-logger.hpp"

namespace Search::DStarLite {
namespace {

namespace Graph = ReachabilityGraph::Coloured;
using Graph::Key_CPN;
using PetriNet::Max_Places;
using PetriNet::Coloured::Colour;
using PetriNet::Coloured::Label;
using Utils::Cost;
using Utils::Logger::Log;
using Utils::Logger::Log_Parts;
using Utils::Logger::Severity;

// Greater PRIORITY first; equal priorities in insertion order. The wide field first, so that a
// node takes 16 bytes.
struct Queue_Node {
  std::int64_t SEQUENCE_NUMBER;
  std::int32_t PRIORITY;
  Key_CPN CONTENT;
};
struct Queue_Order {
  bool operator()(const Queue_Node& a, const Queue_Node& b) const {
    if (a.PRIORITY != b.PRIORITY) return a.PRIORITY < b.PRIORITY;
    return a.SEQUENCE_NUMBER > b.SEQUENCE_NUMBER;
  }
};
using Search_CPN_Priority_Queue =
    std::priority_queue<Queue_Node, std::vector<Queue_Node>, Queue_Order>;

struct Planner_State {
  CPN_Marking current = PetriNet::Coloured::Empty_Marking();
  CPN_Marking goal = PetriNet::Coloured::Empty_Marking();
  CPN_Marking next = PetriNet::Coloured::Empty_Marking();
  Cost key_modifier = 0;
  bool solution_found = false;
  std::int32_t max_ram = 2048;
  std::int64_t timeout = 1000000000;
  Math::LinearAlgebra::Matrix distances = Math::LinearAlgebra::Zero_Matrix(12, 12);
  Search_CPN_Priority_Queue queue;
  std::int64_t sequence = 0;
  Search_Statistics statistics;
  // The graph may hold vertices expanded on an earlier net (Net_Changed).
  bool built_on_old_net = false;
};

Planner_State planner;
bool pause_enabled = true;

std::int32_t Round_Entry(std::int32_t from, std::int32_t to, double upper) {
  Utils::Require(from >= 0 && from < Max_Places && to >= 0 && to < Max_Places,
                 "distance index outside 0..11");
  const float entry = Math::LinearAlgebra::Element(planner.distances, from, to);
  Utils::Require(entry > -0.5f && static_cast<double>(entry) < upper,
                 "distance entry out of range");
  return static_cast<std::int32_t>(std::lround(entry));
}

Cost Distance_Sum(const CPN_Marking& a, const CPN_Marking& b) {
  Cost sum = 0;
  for (int v = 1; v <= PetriNet::Coloured::Number_Of_Vehicles; ++v) {
    const Colour colour = PetriNet::Coloured::Vehicle_Colour(v);
    const std::int32_t entry = Round_Entry(PetriNet::Coloured::Position(a, colour),
                                           PetriNet::Coloured::Position(b, colour), 32767.5);
    sum = Utils::Cost_Add(sum, entry);
  }
  return sum;
}

bool Misses_A_Vehicle(const CPN_Marking& m) {
  for (int v = 1; v <= PetriNet::Coloured::Number_Of_Vehicles; ++v)
    if (PetriNet::Coloured::Position(m, PetriNet::Coloured::Vehicle_Colour(v)) < 0) return true;
  return false;
}

// Heuristic(s) for one computation: the current marking and the distance table stay fixed
// while it runs, so each vehicle's column of the table is checked and rounded once. An entry
// that Round_Entry would refuse stays refused and raises Range_Error when it is needed.
struct Heuristic_Columns {
  std::array<std::array<std::int32_t, Max_Places>, 3> value{};
  std::array<std::array<bool, Max_Places>, 3> valid{};
};

Heuristic_Columns Prepare_Heuristic() {
  Heuristic_Columns columns;
  for (int v = 0; v < 3; ++v) {
    const int to =
        PetriNet::Coloured::Position(planner.current, PetriNet::Coloured::Vehicle_Colour(v + 1));
    if (to < 0) continue;
    const auto vi = static_cast<std::size_t>(v);
    for (int from = 0; from < Max_Places; ++from) {
      const auto fi = static_cast<std::size_t>(from);
      const float entry = Math::LinearAlgebra::Element(planner.distances, from, to);
      columns.valid[vi][fi] = entry > -0.5f && static_cast<double>(entry) < 32767.5;
      if (columns.valid[vi][fi])
        columns.value[vi][fi] = static_cast<std::int32_t>(std::lround(entry));
    }
  }
  return columns;
}

// A read of the clock takes about 50 ns, the work of several successors; 256 successors take a
// few microseconds, far below the millisecond steps of the time limit. A power of two.
constexpr std::uint32_t Successors_Per_Clock_Read = 256;

// The heuristic sum for V1, V2 and V3 on `places` over the prepared columns, with the refusals
// of Heuristic.
Cost Places_Heuristic(const int places[3], const Heuristic_Columns& columns) {
  Cost sum = 0;
  for (int v = 0; v < 3; ++v) {
    const int from = places[v];
    Utils::Require(from >= 0, "distance index outside 0..11");
    const auto vi = static_cast<std::size_t>(v);
    const auto fi = static_cast<std::size_t>(from);
    Utils::Require(columns.valid[vi][fi], "distance entry out of range");
    sum = Utils::Cost_Add(sum, columns.value[vi][fi]);
  }
  return sum;
}

// Heuristic(marking) over the prepared columns: the same sum and the same refusals.
Cost Fast_Heuristic(const CPN_Marking& m, const Heuristic_Columns& columns) {
  int highest[4] = {-1, -1, -1, -1};  // the highest place of each colour
  for (int p = 0; p < Max_Places; ++p)
    highest[static_cast<int>(m[static_cast<std::size_t>(p)]) & 3] = p;
  return Places_Heuristic(highest + 1, columns);
}

// What the running computation has learnt per vertex key below Known_Keys: the heuristic value
// of its marking and its F as last read or written (Unknown: not yet). A vertex keeps its marking
// for as long as a computation runs, and within one only the search loop changes an F, writing
// it here too; so both stay true. Other keys take the graph's figures each time.
constexpr Key_CPN Known_Keys = 2048;
constexpr Cost Unknown = 0xFFFF;
struct Known_Figures {
  Cost heuristic = Unknown;
  Cost f = Unknown;
};
std::array<Known_Figures, Known_Keys> known;

bool Knowable(Key_CPN key) {
  return key >= 0 && key < Known_Keys;
}

// Fast_Heuristic of the marking of vertex `key`, from its placement code when it has one.
Cost Vertex_Heuristic(Key_CPN key, const Heuristic_Columns& columns) {
  const int code = Graph::Placement_Code(key);
  if (code < 0) return Fast_Heuristic(Graph::Get_Marking(key), columns);
  const int places[3] = {code / 144, code / 12 % 12, code % 12};
  return Places_Heuristic(places, columns);
}

Cost Cached_Heuristic(Key_CPN key, const Heuristic_Columns& columns) {
  if (!Knowable(key)) return Vertex_Heuristic(key, columns);
  Cost& cached = known[static_cast<std::size_t>(key)].heuristic;
  if (cached == Unknown) cached = Vertex_Heuristic(key, columns);
  return cached;
}

Cost Known_F(Key_CPN key) {
  if (!Knowable(key)) return Graph::Get_F(key);
  Cost& cached = known[static_cast<std::size_t>(key)].f;
  if (cached == Unknown) cached = Graph::Get_F(key);
  return cached;
}

void Set_Known_F(Key_CPN key, Cost f) {
  if (Knowable(key)) known[static_cast<std::size_t>(key)].f = f;
}

// The obstacle list as the main loop needs it: a blocked pair of places in either direction,
// and whether some obstacle lies outside the places (every check then fails).
struct Blocked_Roads {
  std::array<std::uint16_t, Max_Places> pairs{};  // bit d of pairs[o]: o-d is blocked
  bool invalid = false;
  bool any = false;  // some obstacle at all; without one no step is blocked
};

Blocked_Roads Prepare_Obstacles(const Obstacles::Obstacles_List& obstacles) {
  Blocked_Roads blocked;
  for (const Obstacles::Obstacle& o : obstacles) {
    blocked.any = true;
    if (o.ORIGIN < 0 || o.ORIGIN >= Max_Places || o.DESTINY < 0 || o.DESTINY >= Max_Places) {
      blocked.invalid = true;
      continue;
    }
    blocked.pairs[static_cast<std::size_t>(o.ORIGIN)] |=
        static_cast<std::uint16_t>(1u << o.DESTINY);
    blocked.pairs[static_cast<std::size_t>(o.DESTINY)] |=
        static_cast<std::uint16_t>(1u << o.ORIGIN);
  }
  return blocked;
}

// The vehicles of one marking that stand at the end of some obstacle, with the places on the
// other ends: Blocked(a, b) in a few steps for a fixed `a`.
struct Watched_Vehicles {
  std::array<std::uint16_t, 3> ends_of{};  // per vehicle V1..V3: the far ends, one bit each
  std::array<Colour, Max_Places> other{};  // tokens of no vehicle colour, rare
  std::array<std::uint16_t, Max_Places> other_ends{};
  int others = 0;
  bool any = false;
};

Watched_Vehicles Watch(const CPN_Marking& a, const Blocked_Roads& blocked) {
  Watched_Vehicles watched;
  for (int o = 0; o < Max_Places; ++o) {
    const std::uint16_t ends = blocked.pairs[static_cast<std::size_t>(o)];
    const Colour vehicle = a[static_cast<std::size_t>(o)];
    if (ends == 0 || vehicle == Colour::EMPTY) continue;
    watched.any = true;
    if (vehicle == Colour::V1 || vehicle == Colour::V2 || vehicle == Colour::V3) {
      watched.ends_of[static_cast<std::size_t>(static_cast<int>(vehicle) - 1)] |= ends;
      continue;
    }
    const auto i = static_cast<std::size_t>(watched.others++);
    watched.other[i] = vehicle;
    watched.other_ends[i] = ends;
  }
  return watched;
}

// Per vertex key, the places that hold V1, V2 and V3 in its marking, one bit per place; worked
// out when first needed in a computation (Unknown_Places: not yet), like the heuristic values.
using Vehicle_Places = std::array<std::uint16_t, 3>;
constexpr std::uint16_t Unknown_Places = 0xFFFF;
std::array<Vehicle_Places, Known_Keys> places_cache;

Vehicle_Places Places_Of(const CPN_Marking& m) {
  Vehicle_Places places{0, 0, 0};
  for (int p = 0; p < Max_Places; ++p) {
    const Colour c = m[static_cast<std::size_t>(p)];
    if (c == Colour::V1 || c == Colour::V2 || c == Colour::V3)
      places[static_cast<std::size_t>(static_cast<int>(c) - 1)] |=
          static_cast<std::uint16_t>(1u << p);
  }
  return places;
}

// Places_Of the marking of vertex `key`, from its placement code when it has one.
Vehicle_Places Vertex_Places(Key_CPN key) {
  const int code = Graph::Placement_Code(key);
  if (code < 0) return Places_Of(Graph::Get_Marking(key));
  return {static_cast<std::uint16_t>(1u << (code / 144)),
          static_cast<std::uint16_t>(1u << (code / 12 % 12)),
          static_cast<std::uint16_t>(1u << (code % 12))};
}

Vehicle_Places Cached_Places(Key_CPN key) {
  if (!Knowable(key)) return Vertex_Places(key);
  Vehicle_Places& cached = places_cache[static_cast<std::size_t>(key)];
  if (cached[0] == Unknown_Places) cached = Vertex_Places(key);
  return cached;
}

// Whether a token of no vehicle colour in `a` stands on o, and the same code on d in the marking
// of vertex `b`, for a blocked pair (o, d); such markings come only from outside the console.
[[gnu::noinline]] bool Blocked_Other_Token(const Watched_Vehicles& a, Key_CPN b) {
  const CPN_Marking m = Graph::Get_Marking(b);
  for (int i = 0; i < a.others; ++i)
    for (unsigned ends = a.other_ends[static_cast<std::size_t>(i)]; ends != 0; ends &= ends - 1)
      if (m[static_cast<std::size_t>(__builtin_ctz(ends))] == a.other[static_cast<std::size_t>(i)])
        return true;
  return false;
}

// Is_Blocked over the prepared list for the step into the marking of vertex `b`: some vehicle
// stands on o in a and on d in b for a blocked pair (o, d). The marking of `b` is read only when
// some vehicle of `a` stands at the end of an obstacle.
[[gnu::always_inline]] inline bool Blocked(const Watched_Vehicles& a, Key_CPN b,
                                           const Blocked_Roads& blocked) {
  Utils::Require(!blocked.invalid, "obstacle outside 0..11");
  if (!a.any) return false;
  const Vehicle_Places places = Cached_Places(b);
  if (((places[0] & a.ends_of[0]) | (places[1] & a.ends_of[1]) | (places[2] & a.ends_of[2])) != 0)
    return true;
  return a.others != 0 && Blocked_Other_Token(a, b);
}

std::int64_t Nanoseconds_Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              start)
      .count();
}

// Whether the PARENT links from `key` lead to a vertex holding the goal marking. Costs taken
// modulo 32768 can improve a vertex from one of its own descendants, which closes a loop of
// links that never meets the goal; such a chain is no plan.
bool Plan_Reaches_Goal(Key_CPN key) {
  const int bound = Graph::Graph_Length();
  for (int links = 0; links <= bound; ++links) {
    if (!Graph::Contains(key)) return false;
    const Graph::CPN_Values v = Graph::Get_Values(key);
    if (v.CPN_MARKING == planner.goal) return true;
    key = v.PARENT;
  }
  return false;
}

void Enqueue(std::int32_t priority, Key_CPN key) {
  planner.queue.push({planner.sequence++, priority, key});
}

}  // namespace

bool Compute_Solution(const Obstacles::Obstacles_List& obstacles) {
  // Successor lists and links from an earlier net would lead over roads that no longer exist.
  if (planner.built_on_old_net) Reset_Search();
  const auto start = std::chrono::steady_clock::now();
  planner.solution_found = false;
  const Key_CPN start_key = Graph::Compute_Key_CPN(planner.current);

  Log(Severity::INFORMATIONAL, "Computing solution ");
  Log_Parts(Severity::DEBUG, "Current Marking is:  ", Label(planner.current));
  if (!PetriNet::Coloured::Is_Consistent(planner.current))
    Log(Severity::ERROR, "Inconsistent current vehicle positions");
  if (!PetriNet::Coloured::Is_Consistent(planner.goal))
    Log(Severity::ERROR, "Inconsistent goal vehicle positions");

  int evaluations = 0;
  if (!Misses_A_Vehicle(planner.current)) {
    const Blocked_Roads blocked = Prepare_Obstacles(obstacles);
    const Heuristic_Columns heuristic = Prepare_Heuristic();
    known.fill({});
    if (blocked.any) places_cache.fill({Unknown_Places, Unknown_Places, Unknown_Places});
    const Key_CPN goal_key = Graph::Init_Vertex(planner.goal);
    Log_Parts(Severity::DEBUG, "Goal Marking is:  ", Label(planner.goal));
    Enqueue(Utils::Infinite_Cost, goal_key);

    // The clock is read before every Successors_Per_Clock_Read-th successor, starting with the
    // first.
    std::uint32_t successors_seen = 0;
    bool stop = false;
    while (evaluations < Max_Evaluations && !stop && !planner.queue.empty()) {
      ++evaluations;
      const Key_CPN key = planner.queue.top().CONTENT;
      planner.queue.pop();
      // Nothing in the loop below adds, removes or replaces a vertex: the list stays valid and
      // the graph's memory use stays what it is now.
      const Graph::CPN_Successor_List& successors = Graph::Expanded_Successors(key);
      const Graph::CPN_Costs u = Graph::Get_Costs(key);
      const Watched_Vehicles watched =
          blocked.any ? Watch(Graph::Get_Marking(key), blocked) : Watched_Vehicles{};
      // Without a vehicle at an obstacle's end no step from here is blocked; an obstacle outside
      // the places still fails the check.
      const bool check_blocked = blocked.any && (watched.any || blocked.invalid);
      const bool out_of_memory = planner.max_ram <= Graph::Graph_RAM_Usage();
      const int base = planner.key_modifier + u.G;

      // One successor: true when it is the current marking, linked to the goal.
      const auto visit = [&](const Graph::CPN_Successor& e) __attribute__((always_inline)) {
        // Most successors are not improved; their other figures are read only when needed.
        const Cost s_f = Known_F(e.SUCCESSOR_KEY);
        if (check_blocked && Blocked(watched, e.SUCCESSOR_KEY, blocked)) return false;
        // key_modifier + (G + movements) + heuristic, every sum modulo 32768.
        const Cost f =
            Utils::Cost_Add(base + e.MOVEMENTS, Cached_Heuristic(e.SUCCESSOR_KEY, heuristic));
        Key_CPN s_parent = -1;
        bool parent_known = false;
        if (f < s_f) {
          Graph::CPN_Costs s = Graph::Get_Costs(e.SUCCESSOR_KEY);
          s.G = Utils::Cost_Add(u.G, e.MOVEMENTS);
          s.F = f;
          s.PARENT = key;
          Graph::Replace_Costs(e.SUCCESSOR_KEY, s);
          Set_Known_F(e.SUCCESSOR_KEY, f);
          Enqueue(Utils::Infinite_Cost - f, e.SUCCESSOR_KEY);
          s_parent = key;
          parent_known = true;
        }
        // The current marking counts only once it is linked to a parent and its chain of
        // links leads to the goal.
        if (e.SUCCESSOR_KEY != start_key) return false;
        if (!parent_known) s_parent = Graph::Get_Costs(e.SUCCESSOR_KEY).PARENT;
        if (s_parent == -1 || !Plan_Reaches_Goal(start_key)) return false;
        planner.solution_found = true;
        Log(Severity::DEBUG, "Search OK");
        planner.next = Graph::Get_Values(s_parent).CPN_MARKING;
        return true;
      };

      const Graph::CPN_Successor* e = successors.data();
      const Graph::CPN_Successor* const end = e + successors.size();
      while (!stop && e != end) {
        // A successor with the limit checks; a limit hit stops the search after it.
        bool limit = false;
        if ((successors_seen++ & (Successors_Per_Clock_Read - 1)) == 0 &&
            Nanoseconds_Since(start) >= planner.timeout) {
          Log(Severity::ERROR, "Timeout");
          limit = true;
        }
        if (out_of_memory) {
          Log(Severity::ERROR, "Out of memory");
          limit = true;
        }
        stop = visit(*e++) || limit;
        // Then the successors before the next clock read, which need no check: the memory
        // limit was not hit, or the search has stopped.
        auto run = std::min<std::ptrdiff_t>(
            end - e,
            (Successors_Per_Clock_Read - (successors_seen & (Successors_Per_Clock_Read - 1))) &
                (Successors_Per_Clock_Read - 1));
        successors_seen += static_cast<std::uint32_t>(run);
        for (; !stop && run > 0; --run) stop = visit(*e++);
      }
    }
  }

  Search_Statistics& stats = planner.statistics;
  stats.Evaluations = evaluations;
  stats.CPU_Time = Nanoseconds_Since(start) * CPU_Time_Factor_Per_Mille / 1000;
  stats.Time_Per_Evaluation =
      evaluations == 0 ? 0.0f : Utils::Seconds(stats.CPU_Time) / static_cast<float>(evaluations);
  if (pause_enabled && stats.CPU_Time > 0)
    std::this_thread::sleep_for(std::chrono::nanoseconds(stats.CPU_Time));
  stats.RAM_Usage = Graph::Graph_RAM_Usage();
  stats.Queue_Size = static_cast<std::int32_t>(planner.queue.size());
  Log_Parts(Severity::DEBUG, "Search Evaluations: ", stats.Evaluations);
  Log_Parts(Severity::DEBUG, "Search CPU time: ", Utils::Duration_Image(stats.CPU_Time));
  return planner.solution_found;
}

void Reset_Search() {
  while (!planner.queue.empty()) planner.queue.pop();
  Graph::Clear_Graph();
  planner.built_on_old_net = false;
}

void Net_Changed() {
  planner.built_on_old_net = true;
}

void Clear_Distances() {
  planner.distances = Math::LinearAlgebra::Zero_Matrix(12, 12);
}

void Set_Distance(std::int32_t from, std::int32_t to, std::int32_t steps) {
  Utils::Require(from >= 0 && from < Max_Places && to >= 0 && to < Max_Places,
                 "distance index outside 0..11");
  Math::LinearAlgebra::Set_Element(planner.distances, from, to, static_cast<float>(steps));
}

std::int32_t Get_Distance(std::int32_t from, std::int32_t to) {
  return Round_Entry(from, to, 2147483648.0);
}

Cost Heuristic(const CPN_Marking& marking) {
  return Distance_Sum(marking, planner.current);
}

Cost Marking_Distance(const CPN_Marking& a, const CPN_Marking& b) {
  return Distance_Sum(a, b);
}

bool Is_Blocked(const CPN_Marking& a, const CPN_Marking& b,
                const Obstacles::Obstacles_List& obstacles) {
  bool result = false;
  for (const Obstacles::Obstacle& o : obstacles) {
    Utils::Require(
        o.ORIGIN >= 0 && o.ORIGIN < Max_Places && o.DESTINY >= 0 && o.DESTINY < Max_Places,
        "obstacle outside 0..11");
    const auto origin = static_cast<std::size_t>(o.ORIGIN);
    const auto destiny = static_cast<std::size_t>(o.DESTINY);
    if (a[origin] != Colour::EMPTY && b[destiny] == a[origin]) result = true;
    if (a[destiny] != Colour::EMPTY && b[origin] == a[destiny]) result = true;
  }
  return result;
}

CPN_Marking Get_Current_Marking() {
  return planner.current;
}
void Set_Current_Marking(const CPN_Marking& marking) {
  planner.current = marking;
}
CPN_Marking Get_Goal_Marking() {
  return planner.goal;
}
void Set_Goal_Marking(const CPN_Marking& marking) {
  planner.goal = marking;
  planner.key_modifier = 0;
}
CPN_Marking Get_Next_Marking() {
  return planner.next;
}

CPN_Marking Get_Step_Marking(std::int64_t step) {
  if (step < 0) return planner.current;
  // The walk repeats as soon as a key comes back; the rest of it is then taken modulo the
  // length of the cycle, so that a far step costs no more than the graph's size.
  std::unordered_map<Key_CPN, std::int64_t> visited;
  std::vector<CPN_Marking> markings;
  Key_CPN key = Graph::Compute_Key_CPN(planner.current);
  for (std::int64_t i = 0; i <= step; ++i) {
    const auto seen = visited.find(key);
    if (seen != visited.end()) {
      const std::int64_t first = seen->second;
      const std::int64_t cycle = i - first;
      return markings[static_cast<std::size_t>(first + (step - first) % cycle)];
    }
    visited.emplace(key, i);
    const Graph::CPN_Values v = Graph::Get_Values(key);
    markings.push_back(v.CPN_MARKING);
    key = v.PARENT;
  }
  return markings.back();
}

std::int32_t Get_Number_Of_Steps() {
  if (!planner.solution_found) return 0;
  CPN_Marking m = planner.current;
  Key_CPN key = Graph::Compute_Key_CPN(m);
  std::int32_t count = 0;
  while (m != planner.goal) {
    Utils::Require(count <= Graph::Graph_Length(), "plan does not reach the goal");
    const Graph::CPN_Values v = Graph::Get_Values(key);
    m = v.CPN_MARKING;
    key = v.PARENT;
    ++count;
  }
  return count == 0 ? 0 : count - 1;
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
  const Graph::CPN_Values w = Graph::Get_Values(Graph::Compute_Key_CPN(planner.current));
  const Graph::CPN_Values p = Graph::Get_Values(w.PARENT);
  const Cost moved = Marking_Distance(planner.current, p.CPN_MARKING);
  planner.key_modifier = Utils::Cost_Add(planner.key_modifier, moved);
  planner.current = p.CPN_MARKING;
  const bool result = planner.current == planner.goal;
  // A plan that ends on a vertex never linked (one a computation on top of earlier values
  // found as its goal) has no marking beyond it: the next marking stays as it was.
  if (Graph::Contains(p.PARENT)) planner.next = Graph::Get_Values(p.PARENT).CPN_MARKING;
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

Search_Statistics Get_Statistics() {
  return planner.statistics;
}
void Set_Statistics(const Search_Statistics& statistics) {
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
  return static_cast<int>(planner.queue.size());
}

void Set_Pause(bool enabled) {
  pause_enabled = enabled;
}

void Reset() {
  planner = Planner_State{};
  Graph::Clear_Graph();
}

}  // namespace Search::DStarLite
