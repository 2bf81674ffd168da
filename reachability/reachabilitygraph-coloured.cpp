// The lazily explored coloured reachability graph. From the top: where the vertices are kept,
// the marking keys, the graph's operations, the in-place access of the planner, and last how
// the predecessors of a marking are found.
#include "reachability/reachabilitygraph-coloured.hpp"

#include <algorithm>
#include <iostream>

#include "petrinet/math-combinatorics.hpp"
#include "utils/utils-keymap.hpp"
#include "utils/utils-logger.hpp"

namespace ReachabilityGraph::Coloured {
namespace {

using PetriNet::Max_Places;
using PetriNet::Coloured::Locate;
using Utils::Integer_Image;
using Utils::Logger::Severity;

// ---------------------------------------------------------------------------------------------
// The vertices, all owned here. The keys of the consistent markings index one array; any other
// key, which only a marking that is not consistent has, lives in a small map hashed by Key_Hash.
struct Vertex_Store {
  std::array<Stored_Vertex, Consistent_Keys> dense;
  std::vector<Key_CPN> dense_keys;  // the keys in use in `dense`, in order of insertion
  Utils::Key_Map<Stored_Vertex> others;
};
Vertex_Store graph;

bool Dense(Key_CPN key) {
  return key >= 0 && key < Consistent_Keys;
}

Stored_Vertex* Find(Key_CPN key) {
  if (!Dense(key)) return graph.others.Find(key);
  Stored_Vertex& v = graph.dense[static_cast<std::size_t>(key)];
  return v.present ? &v : nullptr;
}

// Stores a new vertex under the absent key `key`: no successors, infinite costs.
Stored_Vertex& Insert(Key_CPN key, const CPN_Marking& marking, const Placement& placement,
                      Key_CPN parent) {
  Stored_Vertex* v = nullptr;
  if (Dense(key)) {
    v = &graph.dense[static_cast<std::size_t>(key)];
    graph.dense_keys.push_back(key);
  } else {
    v = &graph.others.Insert(key, {});
  }
  *v = Stored_Vertex{};
  v->CPN_MARKING = marking;
  v->PARENT = parent;
  v->placement = placement;
  v->present = true;
  return *v;
}

// ---------------------------------------------------------------------------------------------
// Keys. The rank formula gives every marking its key; the consistent ones are read from tables
// built with it at start-up.

Key_CPN Rank(const CPN_Marking& m) {
  std::int32_t key = 0;
  for (int i = 0; i < Max_Places - 1; ++i) {
    const int code = static_cast<int>(m[static_cast<std::size_t>(i)]);
    int smaller = 0;
    int empties = 0;
    for (int j = i + 1; j < Max_Places; ++j) {
      const int other = static_cast<int>(m[static_cast<std::size_t>(j)]);
      if (other < code) ++smaller;
      if (other == 0) ++empties;
    }
    key += smaller * Math::Combinatorics::Factorial_Quotient(Max_Places - 1 - i, empties);
  }
  return key;
}

struct Key_Tables {
  std::array<std::int16_t, Placement::Codes> key_of_code{};  // consistent placements only
  std::array<std::int16_t, Consistent_Keys> code_of_key{};
};

Key_Tables Build_Key_Tables() {
  Key_Tables tables;
  for (int code = 0; code < Placement::Codes; ++code) {
    const Placement placement = Placement::Of_Code(code);
    if (!placement.consistent) continue;
    const Key_CPN key = Rank(placement.Marking());
    tables.key_of_code[static_cast<std::size_t>(code)] = static_cast<std::int16_t>(key);
    tables.code_of_key[static_cast<std::size_t>(key)] = static_cast<std::int16_t>(code);
  }
  return tables;
}
const Key_Tables key_tables = Build_Key_Tables();

// The key of a consistent placement.
Key_CPN Key_Of(const Placement& placement) {
  return key_tables.key_of_code[static_cast<std::size_t>(placement.Code())];
}

// Adds the vertex of the consistent marking with key `key`.
[[gnu::noinline]] void Insert_Consistent(Key_CPN key) {
  const Placement placement =
      Placement::Of_Code(key_tables.code_of_key[static_cast<std::size_t>(key)]);
  Insert(key, placement.Marking(), placement, -1);
}

// The successor list of `marking`, whose placement is `placement`, with a vertex added for every
// new predecessor; below the graph's operations.
std::shared_ptr<const CPN_Successor_List> Find_Successors(const CPN_Marking& marking,
                                                          const Placement& placement);

}  // namespace

// ---------------------------------------------------------------------------------------------
// The graph's operations.

Key_CPN Compute_Key_CPN(const CPN_Marking& marking) {
  const Placement placement = Locate(marking);
  return placement.consistent ? Key_Of(placement) : Rank(marking);
}

Key_CPN Init_Vertex(const CPN_Marking& marking) {
  PetriNet::Coloured::Check_Colours(marking);
  const Key_CPN key = Compute_Key_CPN(marking);
  if (Stored_Vertex* v = Find(key)) {
    v->G = v->H = v->F = Utils::Infinite_Cost;
  } else {
    Insert(key, marking, Locate(marking), key);
  }
  return key;
}

CPN_Successor_List Compute_Successors(const CPN_Marking& marking) {
  PetriNet::Coloured::Check_Colours(marking);
  const std::shared_ptr<const CPN_Successor_List> list = Find_Successors(marking, Locate(marking));
  return list ? *list : CPN_Successor_List{};
}

void Expand_Vertex(Key_CPN key) {
  // Finding the successors adds consistent vertices only, which leaves `v` where it is.
  Stored_Vertex& v = Stored(key);
  v.successors = Find_Successors(v.CPN_MARKING, v.placement);
}

bool Successors_Empty(Key_CPN key) {
  return Stored(key).Successors().empty();
}

CPN_Vertex Get_Vertex(Key_CPN key) {
  const Stored_Vertex& v = Stored(key);
  return {v.CPN_MARKING, v.Successors(), v.PARENT, v.G, v.H, v.F};
}

void Replace_Vertex(Key_CPN key, const CPN_Vertex& vertex) {
  Stored_Vertex& v = Stored(key);
  PetriNet::Coloured::Check_Colours(vertex.CPN_MARKING);
  v.CPN_MARKING = vertex.CPN_MARKING;
  v.successors = nullptr;
  if (!vertex.CPN_SUCCESSORS.empty())
    v.successors = std::make_shared<const CPN_Successor_List>(vertex.CPN_SUCCESSORS);
  v.PARENT = vertex.PARENT;
  v.G = vertex.G;
  v.H = vertex.H;
  v.F = vertex.F;
  v.placement = Locate(vertex.CPN_MARKING);
}

bool Contains(Key_CPN key) {
  return Find(key) != nullptr;
}

void Delete_Vertex(Key_CPN key) {
  if (!Dense(key)) {
    Utils::Require(graph.others.Erase(key), "key missing from the coloured graph");
    return;
  }
  Stored(key) = {};
  std::erase(graph.dense_keys, key);
}

int Graph_Length() {
  return static_cast<int>(graph.dense_keys.size() + graph.others.Size());
}

void Clear_Graph() {
  for (const Key_CPN key : graph.dense_keys) graph.dense[static_cast<std::size_t>(key)] = {};
  graph.dense_keys.clear();
  graph.others.Clear();
}

void Init_Graph() {
  Utils::Logger::Log(Severity::INFORMATIONAL, "Graph initialized");
}

int Number_Of_Vehicles() {
  return PetriNet::Coloured::Number_Of_Vehicles;
}

int Graph_RAM_Usage() {
  return 0;
}

void Init_PN_Engine() {
  PetriNet::Initialize();
  PetriNet::Compute_Constraints();
  Utils::Logger::Log(Severity::INFORMATIONAL, "PN engine and constraints initialized");
}

void Print_Successors(const CPN_Successor_List& list) {
  if (list.empty()) {
    Utils::Logger::Log(Severity::ERROR, "Successor list empty");
    return;
  }
  std::cout << "Number of successors: " << Integer_Image(static_cast<std::int64_t>(list.size()))
            << "\n\n";
  for (const CPN_Successor& s : list)
    std::cout << "CPN Successor " << Integer_Image(s.SUCCESSOR_KEY) << "    "
              << PetriNet::Coloured::Label(Stored(s.SUCCESSOR_KEY).CPN_MARKING) << '\n';
}

void Print_Vertex(const CPN_Vertex& vertex) {
  std::cout << "CPN Marking: \n" << PetriNet::Coloured::Label(vertex.CPN_MARKING) << "\n\n";
  std::cout << "CPN Successors:\n";
  Print_Successors(vertex.CPN_SUCCESSORS);
  std::cout << "\nCPN Parent:\n" << Integer_Image(vertex.PARENT) << "\n\n";
}

// The vertices of the consistent markings in the order they were added, then the others in the
// order of the map's buckets.
void Print_Graph() {
  std::cout << "\n\nPrinting CPN Graph Contents\n\n";
  if (Graph_Length() == 0) {
    Utils::Logger::Log(Severity::ERROR, "Graph empty");
    return;
  }
  const auto print = [](Key_CPN key, const Stored_Vertex&) {
    std::cout << "\n-----------------\nCPN_Vertex: " << Integer_Image(key) << '\n';
    Print_Vertex(Get_Vertex(key));
    std::cout << "-----------------\n";
  };
  for (const Key_CPN key : graph.dense_keys) print(key, graph.dense[static_cast<std::size_t>(key)]);
  graph.others.For_Each(print);
}

// ---------------------------------------------------------------------------------------------
// In place.

Stored_Vertex& Stored(Key_CPN key) {
  Stored_Vertex* v = Find(key);
  Utils::Require(v != nullptr, "key missing from the coloured graph");
  return *v;
}

Stored_Vertex& Expanded(Key_CPN key) {
  Stored_Vertex& v = Stored(key);
  if (v.Successors().empty()) Expand_Vertex(key);
  return v;
}

const CPN_Successor_List Stored_Vertex::None;

In_Place::In_Place() : dense_(graph.dense.data()) {}

// ---------------------------------------------------------------------------------------------
// The predecessors of a marking: the markings from which one feasible firing leads to it.
namespace {

// What one search for predecessors finds: the successor list of Compute_Successors, grouped by
// MOVEMENTS, and the keys of the consistent predecessors whose MOVEMENTS are not stored. An
// expansion adds a vertex for each of both.
struct Predecessors {
  CPN_Successor_List successors;
  std::vector<Key_CPN> unlisted;
};

// Compute_Successors as defined: each feasible firing of the transitions activated backwards,
// from the last to the first, stepped back; the outcomes that are not consistent are dropped.
Predecessors Define_Predecessors(const CPN_Marking& marking) {
  std::array<CPN_Successor_List, 3> groups;
  Predecessors found;
  const PetriNet::Firings_List firings =
      PetriNet::Feasible_Firings(PetriNet::Coloured::Reverse_Activated_Transitions(marking));
  for (auto f = firings.rbegin(); f != firings.rend(); ++f) {
    const PetriNet::Coloured::Firing_Outcome outcome =
        PetriNet::Coloured::Reverse_Fire(marking, *f);
    const Placement at = Locate(outcome.Marking);
    if (!at.consistent) continue;
    const std::int32_t m = outcome.Movements;
    if (m >= 1 && m <= 3)
      groups[static_cast<std::size_t>(m - 1)].push_back({Key_Of(at), m, *f});
    else
      found.unlisted.push_back(Key_Of(at));
  }
  for (const CPN_Successor_List& group : groups)
    found.successors.insert(found.successors.end(), group.begin(), group.end());
  return found;
}

bool Enumerate_Predecessors(const Placement& placement, Predecessors& found);

// What was found for each consistent placement, by key, kept while the net stays the same:
// expanding the placement again (the graph is cleared between missions) replays it, adding the
// same vertices and handing out the same list.
struct Remembered {
  std::uint64_t net_version = 0;  // 0: nothing remembered
  // Shared with the vertices that hold its list; filled again in place when none does.
  std::shared_ptr<Predecessors> found;
};
std::array<Remembered, Consistent_Keys> remembered;

const std::shared_ptr<Predecessors>& Remembered_Predecessors(const Placement& placement) {
  Remembered& memory = remembered[static_cast<std::size_t>(Key_Of(placement))];
  if (memory.net_version == PetriNet::Version()) return memory.found;
  if (!memory.found || memory.found.use_count() != 1)
    memory.found = std::make_shared<Predecessors>();
  if (!Enumerate_Predecessors(placement, *memory.found))
    *memory.found = Define_Predecessors(placement.Marking());
  memory.net_version = PetriNet::Version();
  return memory.found;
}

void Add_Vertices(const Predecessors& found) {
  for (const CPN_Successor& s : found.successors)
    if (!graph.dense[static_cast<std::size_t>(s.SUCCESSOR_KEY)].present) [[unlikely]]
      Insert_Consistent(s.SUCCESSOR_KEY);
  for (const Key_CPN key : found.unlisted)
    if (!graph.dense[static_cast<std::size_t>(key)].present) Insert_Consistent(key);
}

// The list of `found` for a vertex, sharing the ownership of `found`, after adding the vertices
// that it names.
std::shared_ptr<const CPN_Successor_List> Take(const std::shared_ptr<Predecessors>& found) {
  Add_Vertices(*found);
  if (found->successors.empty()) return nullptr;
  return {found, &found->successors};
}

std::shared_ptr<const CPN_Successor_List> Find_Successors(const CPN_Marking& marking,
                                                          const Placement& placement) {
  if (placement.consistent) return Take(Remembered_Predecessors(placement));
  return Take(std::make_shared<Predecessors>(Define_Predecessors(marking)));
}

// ---------------------------------------------------------------------------------------------
// The enumeration, for nets of the shape that roads give: the same predecessors in the same
// order as Define_Predecessors, found without building the firings.
//
// A vehicle steps back along a transition entering its place. Per version of the net, each
// place is usable when every transition entering it has it as its destination or lacks an end,
// and any two entering it conflict, so that a feasible firing steps its vehicle back at most
// once. A transition that conflicts with itself can never fire and is no step.
struct Place_Steps {
  std::uint32_t entering = 0;  // every transition entering the place
  std::uint32_t steps = 0;     // those that are steps
  bool usable = false;
};
struct Transition_Step {
  std::uint32_t conflicts = 0;
  std::int8_t from = 0;   // the source, when it moves; it enters only its destination then
  std::int8_t moves = 0;  // 1 when the vehicle moves, else 0 (it may enter several places)
};
struct Net_Steps {
  std::uint64_t version = 0;  // 0: not worked out
  std::array<Place_Steps, Max_Places> place;
  std::array<Transition_Step, PetriNet::Max_Transitions> transition;
};

void Work_Out_Place(int p, Net_Steps& net) {
  Place_Steps& ps = net.place[static_cast<std::size_t>(p)];
  ps = {PetriNet::Post_Transitions(p).bits, 0, true};
  for (std::uint32_t rest = ps.entering; rest != 0; rest &= rest - 1) {
    const int t = __builtin_ctz(rest);
    const std::uint32_t bit = 1u << t;
    const std::uint32_t conflicts = PetriNet::Conflicts(t).bits;
    const std::uint32_t lower = ps.entering & (bit - 1u);
    const PetriNet::Transition_Ends ends = PetriNet::Ends(t);
    const bool moves = ends.source >= 0 && ends.destination >= 0;
    if ((conflicts & lower) != lower || (moves && ends.destination != p)) ps.usable = false;
    if ((conflicts & bit) != 0) continue;
    ps.steps |= bit;
    net.transition[static_cast<std::size_t>(t)] = {
        conflicts, static_cast<std::int8_t>(moves ? ends.source : p),
        static_cast<std::int8_t>(moves ? 1 : 0)};
  }
}

const Net_Steps& Current_Net_Steps() {
  static Net_Steps net;
  if (net.version == PetriNet::Version()) return net;
  for (int p = 0; p < Max_Places; ++p) Work_Out_Place(p, net);
  net.version = PetriNet::Version();
  return net;
}

// The steps back of the three vehicles of one placement, as bit sets of transitions and per
// transition.
struct Step {
  std::uint32_t conflicts;  // of the transition
  std::int16_t shift;       // what the step adds to the placement code
  std::int8_t vehicle;      // 0..2 for V1..V3
  std::int8_t from;         // where the vehicle comes from (its own place when it does not move)
  std::int8_t moves;        // 1 when the vehicle moves, else 0
};
struct Steps_Table {
  std::uint32_t all = 0;                      // every step
  std::uint32_t of_vehicle[3] = {0, 0, 0};    // the steps of V1, V2, V3
  std::uint32_t from_place[Max_Places] = {};  // the steps whose vehicle comes from a place
  std::array<Step, PetriNet::Max_Transitions> step;
  bool all_move = true;  // every step moves its vehicle
};

// The steps back of the vehicles on `placement`; false when a place is not usable or a
// transition enters two of the places.
bool Steps_Back(const Placement& placement, Steps_Table& table) {
  const Net_Steps& net = Current_Net_Steps();
  const Place_Steps* ps[3];
  for (int v = 0; v < 3; ++v) {
    ps[v] = &net.place[static_cast<std::size_t>(placement.place[static_cast<std::size_t>(v)])];
    if (!ps[v]->usable) return false;
  }
  if ((ps[0]->entering & ps[1]->entering) != 0 || (ps[0]->entering & ps[2]->entering) != 0 ||
      (ps[1]->entering & ps[2]->entering) != 0)
    return false;
  for (int v = 0; v < 3; ++v) {
    const int at = placement.place[static_cast<std::size_t>(v)];
    table.of_vehicle[v] = ps[v]->steps;
    table.all |= ps[v]->steps;
    for (std::uint32_t rest = ps[v]->steps; rest != 0; rest &= rest - 1) {
      const int t = __builtin_ctz(rest);
      const Transition_Step& ts = net.transition[static_cast<std::size_t>(t)];
      const int from = ts.moves == 1 ? ts.from : at;
      table.step[static_cast<std::size_t>(t)] = {
          ts.conflicts, static_cast<std::int16_t>(Placement::Code_Shift(v, at, from)),
          static_cast<std::int8_t>(v), static_cast<std::int8_t>(from), ts.moves};
      table.all_move = table.all_move && ts.moves == 1;
      table.from_place[from] |= 1u << t;
    }
  }
  return true;
}

// Room for the entries of one enumeration, by MOVEMENTS 0..3, each filled from its start. At
// most one step back per vehicle on transitions entering disjoint places: at most
// (1 + 10)^3 - 1 firings.
struct Room {
  static constexpr std::size_t Capacity = 11 * 11 * 11;
  std::array<std::vector<CPN_Successor>, 4> by_movements;
  std::array<CPN_Successor*, 4> tail;

  Room() {
    for (std::vector<CPN_Successor>& entries : by_movements) entries.resize(Capacity);
  }
  void Empty() {
    for (std::size_t m = 0; m < 4; ++m) tail[m] = by_movements[m].data();
  }
  // The entries with MOVEMENTS 1, 2, 3 in this order as the successor list, those with 0 as
  // unlisted keys.
  void Move_To(Predecessors& found) const {
    std::size_t count = 0;
    for (std::size_t m = 1; m < 4; ++m)
      count += static_cast<std::size_t>(tail[m] - by_movements[m].data());
    found.successors.resize(count);
    CPN_Successor* into = found.successors.data();
    for (std::size_t m = 1; m < 4; ++m)
      into = std::copy(static_cast<const CPN_Successor*>(by_movements[m].data()),
                       static_cast<const CPN_Successor*>(tail[m]), into);
    found.unlisted.clear();
    for (const CPN_Successor* e = by_movements[0].data(); e != tail[0]; ++e)
      found.unlisted.push_back(e->SUCCESSOR_KEY);
  }
};

// The highest transition in `set`, which leaves the set.
int Take_Highest(std::uint32_t& set) {
  const int t = 31 - __builtin_clz(set);
  set ^= 1u << t;
  return t;
}

// The predecessors of the vehicles on `placement` into `room`: Reverse_Fire over every feasible
// firing, the inconsistent outcomes left out, in descending order of the firings. A firing holds
// at most one step back per vehicle. Ordered by their highest transition, then the next, the
// firings {x, y, z} with x > y > z come before {x, y}, which comes before {x, y'} for y' < y,
// and {x} closes the firings whose highest transition is x. A vehicle that steps back onto a
// place stays overrun unless the vehicle there steps back too, so such outcomes are left out as
// soon as no lower step can free the place. With All_Move, every step moves its vehicle, so
// that a firing's movements are its number of steps.
template <bool All_Move>
void Combine_Steps(const Steps_Table& table, const Placement& placement, Room& room) {
  const int code = placement.Code();
  std::uint32_t placed = 0;
  for (const std::int8_t p : placement.place) placed |= 1u << p;
  // The tails in a local, so that the compiler can hold them in registers.
  std::array<CPN_Successor*, 4> tail = room.tail;
  // The predecessor with placement code `at`, reached by firing `bits` backwards.
  const auto add = [&tail](int at, std::uint32_t bits, int movements) {
    const Key_CPN key = key_tables.key_of_code[static_cast<std::size_t>(at)];
    *tail[static_cast<std::size_t>(movements)]++ = {key, movements, Firing{bits}};
  };
  for (std::uint32_t xs = table.all; xs != 0;) {
    const int tx = Take_Highest(xs);
    const Step& x = table.step[static_cast<std::size_t>(tx)];
    // Lower steps of another vehicle that x does not conflict with and that do not bring their
    // vehicle to x's place of origin too.
    for (std::uint32_t ys = table.all & ((1u << tx) - 1u) & ~x.conflicts &
                            ~table.of_vehicle[x.vehicle] & ~table.from_place[x.from];
         ys != 0;) {
      const int ty = Take_Highest(ys);
      const Step& y = table.step[static_cast<std::size_t>(ty)];
      const int third = 3 - x.vehicle - y.vehicle;
      for (std::uint32_t zs = table.of_vehicle[third] & ((1u << ty) - 1u) &
                              ~(x.conflicts | y.conflicts) & ~table.from_place[x.from] &
                              ~table.from_place[y.from];
           zs != 0;) {
        const int tz = Take_Highest(zs);
        const Step& z = table.step[static_cast<std::size_t>(tz)];
        add(code + x.shift + y.shift + z.shift, (1u << tx) | (1u << ty) | (1u << tz),
            All_Move ? 3 : x.moves + y.moves + z.moves);
      }
      // Without a step of the third vehicle: x and y must not bring theirs onto its place.
      if (((1u << placement.place[static_cast<std::size_t>(third)]) &
           ((1u << x.from) | (1u << y.from))) == 0)
        add(code + x.shift + y.shift, (1u << tx) | (1u << ty), All_Move ? 2 : x.moves + y.moves);
    }
    if (x.moves == 0 || ((1u << x.from) & placed) == 0)
      add(code + x.shift, 1u << tx, All_Move ? 1 : x.moves);
  }
  room.tail = tail;
}

// Fills `found` with the predecessors of the vehicles on the consistent `placement`; false when
// the net does not have the shape the enumeration needs.
bool Enumerate_Predecessors(const Placement& placement, Predecessors& found) {
  Steps_Table table;
  if (!Steps_Back(placement, table)) return false;
  static Room room;  // its storage is reused by every enumeration
  room.Empty();
  if (table.all_move)
    Combine_Steps<true>(table, placement, room);
  else
    Combine_Steps<false>(table, placement, room);
  room.Move_To(found);
  return true;
}

}  // namespace

}  // namespace ReachabilityGraph::Coloured
