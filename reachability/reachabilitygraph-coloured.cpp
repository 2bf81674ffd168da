// The lazily explored coloured reachability graph.
#include "reachability/reachabilitygraph-coloured.hpp"

#include <array>
#include <cstring>
#include <iostream>
#include <memory>

#include "petrinet/math-combinatorics.hpp"
#include "utils/utils-keymap.hpp"
#include "utils/utils-logger.hpp"

namespace ReachabilityGraph::Coloured {
namespace {

using PetriNet::Max_Places;
using PetriNet::Coloured::Colour;
using Utils::Integer_Image;
using Utils::Logger::Severity;

// A vertex as the map keeps it. Successor lists are shared and never change once made: a vertex
// expanded through the enumeration holds the list remembered for its placement, so expanding it
// copies nothing, and an enumeration for a changed net makes a new list.
using Shared_List = std::shared_ptr<const CPN_Successor_List>;
struct Stored_Vertex {
  CPN_Marking marking{};
  Shared_List successors;  // null: no successors
  std::int16_t code = -1;  // a * 144 + b * 12 + c for exactly V1, V2, V3 on a, b, c; else -1
  Key_CPN PARENT = -1;
  Utils::Cost G = Utils::Infinite_Cost;
  Utils::Cost H = Utils::Infinite_Cost;
  Utils::Cost F = Utils::Infinite_Cost;
};

Utils::Key_Map<Stored_Vertex> graph;
const CPN_Successor_List no_successors;

const CPN_Successor_List& List_Of(const Stored_Vertex& v) {
  return v.successors ? *v.successors : no_successors;
}

Stored_Vertex& Stored(Key_CPN key) {
  Stored_Vertex* vertex = graph.Find(key);
  Utils::Require(vertex != nullptr, "key missing from the coloured graph");
  return *vertex;
}

// The search figures of the vertices with keys 0..2047 (every consistent marking) are kept in
// one compact array beside the map, since the planner reads them for every successor it
// looks at; the figure fields of such a vertex in the map are not used. Vertices with other
// keys keep their figures in the map.
constexpr Key_CPN Compact_Keys = 2048;
std::array<CPN_Costs, Compact_Keys> compact_figures;

bool Compact(Key_CPN key) {
  return key >= 0 && key < Compact_Keys;
}

CPN_Costs Figures(Key_CPN key, const Stored_Vertex& v) {
  if (Compact(key)) return compact_figures[static_cast<std::size_t>(key)];
  return {v.PARENT, v.G, v.H, v.F};
}

void Set_Figures(Key_CPN key, Stored_Vertex& v, const CPN_Costs& f) {
  if (Compact(key)) {
    compact_figures[static_cast<std::size_t>(key)] = f;
    return;
  }
  v.PARENT = f.PARENT;
  v.G = f.G;
  v.H = f.H;
  v.F = f.F;
}

// A stored vertex as callers see it, figures and a copy of its successor list included.
CPN_Vertex Whole(Key_CPN key, const Stored_Vertex& v) {
  CPN_Vertex whole;
  whole.CPN_MARKING = v.marking;
  whole.CPN_SUCCESSORS = List_Of(v);
  const CPN_Costs f = Figures(key, v);
  whole.PARENT = f.PARENT;
  whole.G = f.G;
  whole.H = f.H;
  whole.F = f.F;
  return whole;
}

// Stores a new vertex with `marking` (placement code `code`), no successors, PARENT `parent` and
// infinite costs.
void Insert_Vertex(Key_CPN key, const CPN_Marking& marking, int code, Key_CPN parent = -1) {
  Stored_Vertex fresh;
  fresh.marking = marking;
  fresh.code = static_cast<std::int16_t>(code);
  Set_Figures(key, graph.Insert(key, std::move(fresh)),
              {parent, Utils::Infinite_Cost, Utils::Infinite_Cost, Utils::Infinite_Cost});
}

// The rank formula, for any marking.
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

// The ranks of the consistent markings by the places of V1, V2 and V3, built at start-up.
std::array<std::int16_t, 12 * 12 * 12> Build_Consistent_Ranks() {
  std::array<std::int16_t, 12 * 12 * 12> ranks{};
  for (int a = 0; a < Max_Places; ++a)
    for (int b = 0; b < Max_Places; ++b)
      for (int c = 0; c < Max_Places; ++c) {
        if (a == b || a == c || b == c) continue;
        CPN_Marking m = PetriNet::Coloured::Empty_Marking();
        m[static_cast<std::size_t>(a)] = Colour::V1;
        m[static_cast<std::size_t>(b)] = Colour::V2;
        m[static_cast<std::size_t>(c)] = Colour::V3;
        ranks[static_cast<std::size_t>((a * 12 + b) * 12 + c)] = static_cast<std::int16_t>(Rank(m));
      }
  return ranks;
}
const std::array<std::int16_t, 12 * 12 * 12> consistent_ranks = Build_Consistent_Ranks();

// The other way round: the placement code of each consistent key 0..1319.
constexpr int Consistent_Keys = 12 * 11 * 10;
std::array<std::int16_t, Consistent_Keys> Build_Consistent_Codes() {
  std::array<std::int16_t, Consistent_Keys> codes{};
  for (int code = 0; code < 12 * 12 * 12; ++code) {
    const int a = code / 144, b = code / 12 % 12, c = code % 12;
    if (a == b || a == c || b == c) continue;
    codes[static_cast<std::size_t>(consistent_ranks[static_cast<std::size_t>(code)])] =
        static_cast<std::int16_t>(code);
  }
  return codes;
}
const std::array<std::int16_t, Consistent_Keys> consistent_codes = Build_Consistent_Codes();

// Places of V1, V2, V3 when each stands exactly once; false otherwise.
bool Vehicle_Places(const CPN_Marking& m, int places[3]) {
  int counts[4] = {0, 0, 0, 0};
  for (int p = 0; p < Max_Places; ++p) {
    const int code = static_cast<int>(m[static_cast<std::size_t>(p)]) & 3;
    ++counts[code];
    if (code != 0) places[code - 1] = p;
  }
  return counts[1] == 1 && counts[2] == 1 && counts[3] == 1;
}

// Exactly V1, V2 and V3 once each and every other place EMPTY; their places in `places`.
bool Three_Vehicles(const CPN_Marking& m, int places[3]) {
  int counts[4] = {0, 0, 0, 0};
  for (int p = 0; p < Max_Places; ++p) {
    const int code = static_cast<int>(m[static_cast<std::size_t>(p)]);
    if (code > 3) return false;
    ++counts[code];
    if (code != 0) places[code - 1] = p;
  }
  return counts[1] == 1 && counts[2] == 1 && counts[3] == 1;
}

// The placement code of a marking that holds exactly V1, V2 and V3 and nothing else; else -1.
int Placement_Code(const CPN_Marking& m) {
  int places[3];
  if (!Three_Vehicles(m, places)) return -1;
  return places[0] * 144 + places[1] * 12 + places[2];
}

// The steps back of one placement: transitions entering the three vehicles' places, each of
// which, fired backwards, brings its vehicle back to `from` (or leaves it where it is when the
// transition lacks an end). As bit sets, and per transition.
struct Steps_Table {
  std::uint32_t all = 0;                           // every step
  std::uint32_t of_vehicle[3] = {0, 0, 0};         // the steps of V1, V2, V3
  std::uint32_t from_place[Max_Places] = {};       // the steps whose vehicle comes from a place
  std::int16_t shift[PetriNet::Max_Transitions];   // what the step adds to the placement code
  std::int8_t vehicle[PetriNet::Max_Transitions];  // 0..2 for V1..V3
  std::int8_t from[PetriNet::Max_Transitions];
  std::int8_t moves[PetriNet::Max_Transitions];  // 1 when the vehicle moves, else 0
  bool all_move = true;                          // every step moves its vehicle
};

// At most one step back per vehicle and transitions entering disjoint places: at most
// (1 + 10)^3 - 1 firings with a consistent outcome.
constexpr int Max_Fast_Successors = 11 * 11 * 11;

// Reused between expansions.
PetriNet::Firings_List firings_buffer;
CPN_Successor_List groups[3];  // successors with 1, 2 and 3 movements, in order
std::array<CPN_Successor, Max_Fast_Successors> fast_groups[3];
int fast_count[3] = {0, 0, 0};
bool fast_used = false;
// The keys of every consistent predecessor the enumeration found, in order.
std::array<std::int16_t, Max_Fast_Successors> found_keys;
int found_count = 0;

// What the enumeration found for a placement of the three vehicles, kept while the net stays
// the same: the successor list and, in the order their vertices are added, the keys
// of every consistent predecessor. Replaying them adds the same vertices in the same order as
// enumerating again would.
struct Remembered {
  std::uint64_t net_version = 0;  // 0: nothing remembered
  // Handed out to vertices as Shared_List; filled again in place only when no vertex holds it.
  std::shared_ptr<CPN_Successor_List> successors;
  std::vector<std::int16_t> keys;
};
std::vector<Remembered> remembered;  // by placement code, once used

constexpr int Code_Weight[3] = {144, 12, 1};

// The transitions entering each place as steps back for a vehicle there, worked out once per
// version of the net: per place whether it has the shape the enumeration relies on (every
// transition entering it has it as its destination or lacks an end, and any two entering it
// conflict, so that a feasible firing moves the vehicle there at most once), and per transition
// entering a usable place the place the vehicle comes from (its own when the transition lacks an
// end). A transition that conflicts with itself can never fire and is no step.
struct Place_Steps {
  std::uint32_t entering = 0;  // every transition entering the place
  std::uint32_t steps = 0;     // those that are steps
  bool usable = false;
};
struct Transition_Step {
  std::uint32_t conflicts = 0;
  std::int8_t from = 0;   // when it moves; it enters only its destination then
  std::int8_t moves = 0;  // 1 when the vehicle moves, else 0 (it may enter several places)
};
std::array<Place_Steps, Max_Places> place_steps;
std::array<Transition_Step, PetriNet::Max_Transitions> transition_steps;
std::uint64_t place_steps_version = 0;  // 0: not worked out

void Prepare_Place_Steps() {
  for (int p = 0; p < Max_Places; ++p) {
    Place_Steps& ps = place_steps[static_cast<std::size_t>(p)];
    ps.entering = PetriNet::Post_Transitions(p).bits;
    ps.steps = 0;
    ps.usable = true;
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
      Transition_Step& ts = transition_steps[static_cast<std::size_t>(t)];
      ts.conflicts = conflicts;
      ts.from = static_cast<std::int8_t>(moves ? ends.source : p);
      ts.moves = static_cast<std::int8_t>(moves ? 1 : 0);
    }
  }
  place_steps_version = PetriNet::Version();
}

// The steps back of the three vehicles on `places`; false when a place is not usable or a
// transition enters two of the places.
bool Steps_Back(const int places[3], Steps_Table& table) {
  if (place_steps_version != PetriNet::Version()) Prepare_Place_Steps();
  const Place_Steps* ps[3];
  for (int v = 0; v < 3; ++v) {
    ps[v] = &place_steps[static_cast<std::size_t>(places[v])];
    if (!ps[v]->usable) return false;
  }
  if ((ps[0]->entering & ps[1]->entering) != 0 || (ps[0]->entering & ps[2]->entering) != 0 ||
      (ps[1]->entering & ps[2]->entering) != 0)
    return false;
  for (int v = 0; v < 3; ++v) {
    table.of_vehicle[v] = ps[v]->steps;
    table.all |= ps[v]->steps;
    for (std::uint32_t rest = ps[v]->steps; rest != 0; rest &= rest - 1) {
      const int t = __builtin_ctz(rest);
      const auto i = static_cast<std::size_t>(t);
      const Transition_Step& ts = transition_steps[i];
      const int from = ts.moves == 1 ? ts.from : places[v];
      table.shift[i] = static_cast<std::int16_t>((from - places[v]) * Code_Weight[v]);
      table.vehicle[i] = static_cast<std::int8_t>(v);
      table.from[i] = static_cast<std::int8_t>(from);
      table.moves[i] = ts.moves;
      table.all_move = table.all_move && ts.moves == 1;
      table.from_place[from] |= 1u << t;
    }
  }
  return true;
}

// Adds the vertex of the consistent marking with placement code `code` unless it is stored;
// returns its key. Consistent keys lie in 0..1319, so the small-key look-up applies.
[[gnu::noinline]] void Insert_Consistent(Key_CPN key, int code) {
  CPN_Marking marking = PetriNet::Coloured::Empty_Marking();
  marking[static_cast<std::size_t>(code / 144)] = Colour::V1;
  marking[static_cast<std::size_t>(code / 12 % 12)] = Colour::V2;
  marking[static_cast<std::size_t>(code % 12)] = Colour::V3;
  Insert_Vertex(key, marking, code);
}

[[gnu::always_inline]] inline Key_CPN Ensure_Vertex(int code) {
  const Key_CPN key = consistent_ranks[static_cast<std::size_t>(code)];
  if (!graph.Contains_Small(key)) [[unlikely]]
    Insert_Consistent(key, code);
  return key;
}

// The same for a consistent key.
[[gnu::always_inline]] inline void Ensure_Key(Key_CPN key) {
  if (!graph.Contains_Small(key)) Ensure_Vertex(consistent_codes[static_cast<std::size_t>(key)]);
}

// The consistent predecessors of a marking with the three vehicles on `places`: the outcome of
// Reverse_Fire over every feasible firing with the inconsistent ones left out, taken in
// descending order of the firings (the reverse of Feasible_Firings). A firing holds at most one
// step back per vehicle. Ordered by their highest transition, then the next, the firings
// {x, y, z} with x > y > z come before {x, y}, which comes before {x, y'} for y' < y, and {x}
// closes the firings whose highest transition is x. A vehicle that steps back onto a place
// stays overrun unless the vehicle there steps back too, so such outcomes are left out as soon
// as no lower step can free the place. With All_Move, every step moves its vehicle, so that a
// firing's movements are its number of steps.
template <bool All_Move>
void Combine_Steps(const Steps_Table& table, const int places[3]) {
  // Kept in locals so that the compiler can hold them in registers.
  CPN_Successor* tail1 = fast_groups[0].data();
  CPN_Successor* tail2 = fast_groups[1].data();
  CPN_Successor* tail3 = fast_groups[2].data();
  std::int16_t* keys = found_keys.data();
  const int code = places[0] * 144 + places[1] * 12 + places[2];
  const std::uint32_t place_bit[3] = {1u << places[0], 1u << places[1], 1u << places[2]};
  const std::uint32_t placed = place_bit[0] | place_bit[1] | place_bit[2];
  // Records the predecessor with placement code `at`, reached by firing `bits` backwards.
  const auto add = [&](int at, std::uint32_t bits, int movements) {
    const Key_CPN key = Ensure_Vertex(at);
    *keys++ = static_cast<std::int16_t>(key);
    switch (movements) {
      case 1:
        *tail1++ = {key, 1, Firing{bits}};
        break;
      case 2:
        *tail2++ = {key, 2, Firing{bits}};
        break;
      case 3:
        *tail3++ = {key, 3, Firing{bits}};
        break;
      default:
        break;
    }
  };
  const auto highest = [](std::uint32_t bits) { return 31 - __builtin_clz(bits); };
  for (std::uint32_t xs = table.all; xs != 0;) {
    const int tx = highest(xs);
    const std::uint32_t bx = 1u << tx;
    xs ^= bx;
    const auto ix = static_cast<std::size_t>(tx);
    const std::uint32_t cx = transition_steps[ix].conflicts;
    const int vx = table.vehicle[ix];
    const int fx = table.from[ix];
    const int at_x = code + table.shift[ix];
    // Lower steps of another vehicle that x does not conflict with and that do not bring their
    // vehicle to x's place of origin too.
    for (std::uint32_t ys =
             table.all & (bx - 1u) & ~cx & ~table.of_vehicle[vx] & ~table.from_place[fx];
         ys != 0;) {
      const int ty = highest(ys);
      const std::uint32_t by = 1u << ty;
      ys ^= by;
      const auto iy = static_cast<std::size_t>(ty);
      const int fy = table.from[iy];
      const int zv = 3 - vx - table.vehicle[iy];
      const int at_xy = at_x + table.shift[iy];
      for (std::uint32_t zs = table.of_vehicle[zv] & (by - 1u) &
                              ~(cx | transition_steps[iy].conflicts) & ~table.from_place[fx] &
                              ~table.from_place[fy];
           zs != 0;) {
        const int tz = highest(zs);
        const std::uint32_t bz = 1u << tz;
        zs ^= bz;
        const auto iz = static_cast<std::size_t>(tz);
        add(at_xy + table.shift[iz], bx | by | bz,
            All_Move ? 3 : table.moves[ix] + table.moves[iy] + table.moves[iz]);
      }
      // Without a step of the third vehicle: x and y must not bring theirs onto its place.
      if ((place_bit[zv] & ((1u << fx) | (1u << fy))) == 0)
        add(at_xy, bx | by, All_Move ? 2 : table.moves[ix] + table.moves[iy]);
    }
    if (table.moves[ix] == 0 || ((1u << fx) & placed) == 0)
      add(at_x, bx, All_Move ? 1 : table.moves[ix]);
  }
  fast_count[0] = static_cast<int>(tail1 - fast_groups[0].data());
  fast_count[1] = static_cast<int>(tail2 - fast_groups[1].data());
  fast_count[2] = static_cast<int>(tail3 - fast_groups[2].data());
  found_count = static_cast<int>(keys - found_keys.data());
}

// Combine_Steps for the vehicles on `places`; false when the enumeration does not apply.
bool Enumerate_Predecessors(const int places[3]) {
  Steps_Table table;
  if (!Steps_Back(places, table)) return false;
  if (table.all_move)
    Combine_Steps<true>(table, places);
  else
    Combine_Steps<false>(table, places);
  return true;
}

// Compute_Successors into `groups`.
void Successors_Into_Groups(const CPN_Marking& marking, const int places[3], bool three) {
  fast_used = three && Enumerate_Predecessors(places);
  if (fast_used) return;
  for (CPN_Successor_List& g : groups) g.clear();
  const Firing activated = PetriNet::Coloured::Reverse_Activated_Transitions(marking);
  PetriNet::Feasible_Firings_Into(activated, firings_buffer);
  for (auto f = firings_buffer.rbegin(); f != firings_buffer.rend(); ++f) {
    const PetriNet::Coloured::Firing_Outcome outcome =
        PetriNet::Coloured::Reverse_Fire(marking, *f);
    int at[3];
    if (!Vehicle_Places(outcome.Marking, at)) continue;
    const Key_CPN key =
        consistent_ranks[static_cast<std::size_t>((at[0] * 12 + at[1]) * 12 + at[2])];
    if (!graph.Contains(key)) Insert_Vertex(key, outcome.Marking, Placement_Code(outcome.Marking));
    if (outcome.Movements >= 1 && outcome.Movements <= 3)
      groups[outcome.Movements - 1].push_back({key, outcome.Movements, *f});
  }
}

// The groups one after the other.
void Join_Groups(CPN_Successor_List& out) {
  const CPN_Successor* parts[3];
  std::size_t sizes[3];
  for (int g = 0; g < 3; ++g) {
    parts[g] = fast_used ? fast_groups[g].data() : groups[g].data();
    sizes[g] = fast_used ? static_cast<std::size_t>(fast_count[g]) : groups[g].size();
  }
  out.resize(sizes[0] + sizes[1] + sizes[2]);
  CPN_Successor* into = out.data();
  for (int g = 0; g < 3; ++g) {
    if (sizes[g] != 0) std::memcpy(into, parts[g], sizes[g] * sizeof(CPN_Successor));
    into += sizes[g];
  }
}

// Compute_Successors of a marking with placement code `code`, from what is remembered for it when
// the net has not changed since.
Shared_List Find_Successors(const CPN_Marking& marking, int code) {
  const bool three = code >= 0;
  const int places[3] = {code / 144, code / 12 % 12, code % 12};
  Remembered* memory = nullptr;
  if (three) {
    if (remembered.empty()) remembered.resize(12 * 12 * 12);
    memory = &remembered[static_cast<std::size_t>(code)];
    if (memory->net_version == PetriNet::Version()) {
      for (const std::int16_t key : memory->keys) Ensure_Key(key);
      return memory->successors;
    }
  }
  Successors_Into_Groups(marking, places, three);
  if (!fast_used) {
    auto found = std::make_shared<CPN_Successor_List>();
    Join_Groups(*found);
    return found;
  }
  // A list no vertex holds any more (the graph was cleared since) is filled again in place.
  if (!memory->successors || memory->successors.use_count() != 1)
    memory->successors = std::make_shared<CPN_Successor_List>();
  Join_Groups(*memory->successors);
  memory->net_version = PetriNet::Version();
  memory->keys.assign(found_keys.begin(), found_keys.begin() + found_count);
  return memory->successors;
}

}  // namespace

Key_CPN Compute_Key_CPN(const CPN_Marking& marking) {
  int places[3];
  if (Vehicle_Places(marking, places))
    return consistent_ranks[static_cast<std::size_t>((places[0] * 12 + places[1]) * 12 +
                                                     places[2])];
  return Rank(marking);
}

Key_CPN Init_Vertex(const CPN_Marking& marking) {
  const Key_CPN key = Compute_Key_CPN(marking);
  if (Stored_Vertex* vertex = graph.Find(key)) {
    CPN_Costs f = Figures(key, *vertex);
    f.G = f.H = f.F = Utils::Infinite_Cost;
    Set_Figures(key, *vertex, f);
  } else {
    Insert_Vertex(key, marking, Placement_Code(marking), key);
  }
  return key;
}

CPN_Successor_List Compute_Successors(const CPN_Marking& marking) {
  return *Find_Successors(marking, Placement_Code(marking));
}

void Expand_Vertex(Key_CPN key) {
  // Copied out: finding the successors may grow the map and move the vertex.
  const Stored_Vertex& v = Stored(key);
  const CPN_Marking marking = v.marking;
  const int code = v.code;
  Shared_List found = Find_Successors(marking, code);
  // Finding the successors may have grown the map; look the vertex up again.
  Stored(key).successors = std::move(found);
}

bool Successors_Empty(Key_CPN key) {
  return List_Of(Stored(key)).empty();
}

CPN_Vertex Get_Vertex(Key_CPN key) {
  return Whole(key, Stored(key));
}

void Replace_Vertex(Key_CPN key, const CPN_Vertex& vertex) {
  Stored_Vertex& v = Stored(key);
  v.marking = vertex.CPN_MARKING;
  v.code = static_cast<std::int16_t>(Placement_Code(vertex.CPN_MARKING));
  v.successors = vertex.CPN_SUCCESSORS.empty()
                     ? nullptr
                     : std::make_shared<const CPN_Successor_List>(vertex.CPN_SUCCESSORS);
  Set_Figures(key, v, {vertex.PARENT, vertex.G, vertex.H, vertex.F});
}

CPN_Values Get_Values(Key_CPN key) {
  const Stored_Vertex& v = Stored(key);
  const CPN_Costs f = Figures(key, v);
  return {v.marking, f.PARENT, f.G, f.H, f.F};
}

void Replace_Values(Key_CPN key, const CPN_Values& values) {
  Set_Figures(key, Stored(key), {values.PARENT, values.G, values.H, values.F});
}

// The figures of a compact key are read and written without touching its slot in the map;
// other keys go the long way, kept out of line so that the common case stays short.
namespace {
[[gnu::noinline]] CPN_Costs Stored_Costs(Key_CPN key) {
  return Figures(key, Stored(key));
}
[[gnu::noinline]] void Store_Costs(Key_CPN key, const CPN_Costs& costs) {
  Set_Figures(key, Stored(key), costs);
}
}  // namespace

CPN_Costs Get_Costs(Key_CPN key) {
  if (Compact(key) && graph.Contains(key)) return compact_figures[static_cast<std::size_t>(key)];
  return Stored_Costs(key);
}

void Replace_Costs(Key_CPN key, const CPN_Costs& costs) {
  if (Compact(key) && graph.Contains(key)) {
    compact_figures[static_cast<std::size_t>(key)] = costs;
    return;
  }
  Store_Costs(key, costs);
}

Utils::Cost Get_F(Key_CPN key) {
  return Get_Costs(key).F;
}

const CPN_Successor_List& Successors(Key_CPN key) {
  return List_Of(Stored(key));
}

const CPN_Successor_List& Expanded_Successors(Key_CPN key) {
  const Stored_Vertex& v = Stored(key);
  if (!List_Of(v).empty()) return List_Of(v);
  Expand_Vertex(key);
  return List_Of(Stored(key));
}

int Placement_Code(Key_CPN key) {
  return Stored(key).code;
}

CPN_Marking Get_Marking(Key_CPN key) {
  return Stored(key).marking;
}

bool Contains(Key_CPN key) {
  return graph.Contains(key);
}

void Delete_Vertex(Key_CPN key) {
  Utils::Require(graph.Erase(key), "key missing from the coloured graph");
}

int Graph_Length() {
  return static_cast<int>(graph.Size());
}

void Clear_Graph() {
  graph.Clear();
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
              << PetriNet::Coloured::Label(Stored(s.SUCCESSOR_KEY).marking) << '\n';
}

void Print_Vertex(const CPN_Vertex& vertex) {
  std::cout << "CPN Marking: \n" << PetriNet::Coloured::Label(vertex.CPN_MARKING) << "\n\n";
  std::cout << "CPN Successors:\n";
  Print_Successors(vertex.CPN_SUCCESSORS);
  std::cout << "\nCPN Parent:\n" << Integer_Image(vertex.PARENT) << "\n\n";
}

void Print_Graph() {
  std::cout << "\n\nPrinting CPN Graph Contents\n\n";
  if (graph.Size() == 0) {
    Utils::Logger::Log(Severity::ERROR, "Graph empty");
    return;
  }
  graph.For_Each([](Key_CPN key, const Stored_Vertex& vertex) {
    std::cout << "\n-----------------\nCPN_Vertex: " << Integer_Image(key) << '\n';
    Print_Vertex(Whole(key, vertex));
    std::cout << "-----------------\n";
  });
}

}  // namespace ReachabilityGraph::Coloured
