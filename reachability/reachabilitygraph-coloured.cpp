// The lazily explored coloured reachability graph. From the top: the marking keys, where the
// vertices are kept, how the predecessors of a marking are found, and the graph's operations.
#include "reachability/reachabilitygraph-coloured.hpp"

#include <algorithm>
#include <cstring>
#include <iostream>

#include "petrinet/math-combinatorics.hpp"
#include "utils/utils-keymap.hpp"
#include "utils/utils-logger.hpp"

namespace ReachabilityGraph::Coloured {
namespace {

using PetriNet::Max_Places;
using PetriNet::Max_Transitions;
using PetriNet::Coloured::Locate;
using PetriNet::Coloured::Number_Of_Vehicles;
using Utils::Integer_Image;
using Utils::Logger::Severity;

// ---------------------------------------------------------------------------------------------
// Keys. The rank formula gives every marking its key; the consistent ones are read from tables
// built with it at start-up.

Key_CPN Rank(const CPN_Marking& m) {
  std::int32_t key = 0;
  for (int i = 0; i < Max_Places - 1; ++i) {
    const int code = static_cast<int>(m[Utils::Index(i)]);
    int smaller = 0;
    int empties = 0;
    for (int j = i + 1; j < Max_Places; ++j) {
      const int other = static_cast<int>(m[Utils::Index(j)]);
      if (other < code) ++smaller;
      if (other == 0) ++empties;
    }
    key += smaller * Math::Combinatorics::Factorial_Quotient(Max_Places - 1 - i, empties);
  }
  return key;
}

// A set of three places, and the order of the vehicles on them: the predecessors of a placement
// are found on its set of places alone (which vehicle stands where changes only their keys).
constexpr int Place_Sets = Max_Places * (Max_Places - 1) * (Max_Places - 2) / 6;
constexpr int Vehicle_Orders = 6;

struct Key_Tables {
  std::array<std::int16_t, Placement::Codes> key_of_code{};  // consistent placements only
  std::array<Placement, Consistent_Keys> placement_of_key{};
  // Per key: its set of places, and the order of its vehicles on them.
  std::array<std::uint8_t, Consistent_Keys> place_set_of_key{};
  std::array<std::uint8_t, Consistent_Keys> order_of_key{};
  // Per set: the vehicles V1, V2, V3 on its places in ascending order.
  std::array<Placement, Place_Sets> ordered_placement{};
  // Per order and code of a placement of the ordered vehicles: the key of the placement that
  // puts the vehicles of the order where those stand (the rank code of a predecessor, read for
  // the vehicles of a key's order).
  std::array<std::array<Group_Key, Placement::Codes>, Vehicle_Orders> key_by_order{};
};

// The order of vehicles whose places rank `rank` among the three: 0..5, one each.
int Order_Index(const std::array<int, Number_Of_Vehicles>& rank) {
  return rank[0] * 2 + (rank[1] > rank[2] ? 1 : 0);
}

void Build_Orders(Key_Tables& tables) {
  for (int r0 = 0; r0 < Number_Of_Vehicles; ++r0) {
    for (int r1 = 0; r1 < Number_Of_Vehicles; ++r1) {
      const int r2 = 3 - r0 - r1;
      if (r1 == r0 || r2 == r0 || r2 == r1) continue;
      auto& keys = tables.key_by_order[Utils::Index(Order_Index({r0, r1, r2}))];
      for (int code = 0; code < Placement::Codes; ++code) {
        const Placement ranked = Placement::Of_Code(code);
        if (!ranked.consistent) continue;
        const Placement ordered{{ranked.place[Utils::Index(r0)], ranked.place[Utils::Index(r1)],
                                 ranked.place[Utils::Index(r2)]},
                                true};
        keys[Utils::Index(code)] =
            static_cast<Group_Key>(tables.key_of_code[Utils::Index(ordered.Code())]);
      }
    }
  }
}

Key_Tables Build_Key_Tables() {
  Key_Tables tables;
  std::array<std::int16_t, Placement::Codes> set_of_code;
  int sets = 0;
  for (int code = 0; code < Placement::Codes; ++code) {
    const Placement placement = Placement::Of_Code(code);
    if (!placement.consistent) continue;
    const Key_CPN key = Rank(placement.Marking());
    tables.key_of_code[Utils::Index(code)] = static_cast<std::int16_t>(key);
    tables.placement_of_key[Utils::Index(key)] = placement;
    if (placement.place[0] < placement.place[1] && placement.place[1] < placement.place[2]) {
      set_of_code[Utils::Index(code)] = static_cast<std::int16_t>(sets);
      tables.ordered_placement[Utils::Index(sets++)] = placement;
    }
  }
  for (Key_CPN key = 0; key < Consistent_Keys; ++key) {
    const Placement& placement = tables.placement_of_key[Utils::Index(key)];
    std::array<int, Number_Of_Vehicles> rank{};
    for (std::size_t v = 0; v < rank.size(); ++v)
      for (std::size_t w = 0; w < rank.size(); ++w)
        rank[v] += placement.place[w] < placement.place[v] ? 1 : 0;
    std::array<std::int8_t, Number_Of_Vehicles> ascending{};
    for (std::size_t v = 0; v < rank.size(); ++v)
      ascending[Utils::Index(rank[v])] = placement.place[v];
    const Placement ordered{ascending, true};
    tables.place_set_of_key[Utils::Index(key)] =
        static_cast<std::uint8_t>(set_of_code[Utils::Index(ordered.Code())]);
    tables.order_of_key[Utils::Index(key)] = static_cast<std::uint8_t>(Order_Index(rank));
  }
  Build_Orders(tables);
  return tables;
}
const Key_Tables key_tables = Build_Key_Tables();

// The key of a consistent placement.
Key_CPN Key_Of(const Placement& placement) {
  return key_tables.key_of_code[Utils::Index(placement.Code())];
}

bool Consistent_Range(Key_CPN key) {
  return key >= 0 && key < Consistent_Keys;
}

// ---------------------------------------------------------------------------------------------
// The vertices, all owned here. The vertex of a consistent marking lives in arrays indexed by
// its key: the marking is the key's own, so that only the search values, whether the vertex is
// present and where its successor list comes from are kept. Any other marking, whose key may
// equal the key of a consistent one, lives in a small map hashed by Key_Hash, with everything
// spelt out. A key has one vertex at most, in one of the two places.

// Where the successor list of a vertex of a consistent marking comes from.
enum class List : std::uint8_t {
  None,           // it is empty
  Listed,         // the successors the enumeration gives on the tables of the net as it is
  Listed_Before,  // those it gives on the tables of the version before
  Own,            // the list kept in `own_lists`
};

struct Other_Vertex {
  CPN_Marking marking{};
  Placement placement{};  // Locate(marking)
  CPN_Successor_List successors;
  Search_Values values;
  Utils::Cost h = Utils::Infinite_Cost;
};

// Whether the vertex of a key of a consistent marking exists. A type of its own, so that the
// compiler need not assume that storing one changes other values (as a byte could).
enum class Presence : std::uint8_t { Absent, Present };

constexpr std::array<Utils::Cost, Consistent_Keys> Infinite_Costs() {
  std::array<Utils::Cost, Consistent_Keys> costs;
  costs.fill(Utils::Infinite_Cost);
  return costs;
}

struct Vertex_Store {
  std::array<Search_Values, Consistent_Keys> values;  // the defaults where no vertex is present
  std::array<Utils::Cost, Consistent_Keys> h = Infinite_Costs();  // H, apart from the others
  std::array<Presence, Consistent_Keys> present{};  // whether the key's vertex holds its marking
  std::array<List, Consistent_Keys> list{};
  Utils::Key_Map<CPN_Successor_List> own_lists;
  Utils::Key_Map<Other_Vertex> others;
  // Vertices of consistent markings expanded with the lists of their set of places whose
  // predecessors' vertices are not marked present yet: they are when presence is asked about.
  // Until then the predecessors the planner improved tell by their F (below Infinite_Cost).
  std::vector<Key_CPN> pending;
  int shadows = 0;       // vertices in `others` under a key of a consistent marking
  int length = 0;        // the number of vertices; -1 when it is to be counted again
  bool deleted = false;  // a vertex was deleted since the graph was last cleared
  bool listed = false;   // some vertex may be listed on the tables of a net (or the one before)
};
Vertex_Store graph;

void Mark_Pending();

bool Dense_Present(Key_CPN key) {
  if (!Consistent_Range(key)) return false;
  const auto k = Utils::Index(key);
  if (graph.present[k] == Presence::Present || graph.values[k].F != Utils::Infinite_Cost)
    return true;
  if (graph.pending.empty()) return false;
  Mark_Pending();
  return graph.present[k] == Presence::Present;
}

// The vertex under `key` that lives in the map, or nullptr.
Other_Vertex* Find_Other(Key_CPN key) {
  return graph.others.Find(key);
}

void Require_Vertex(bool found) {
  Utils::Require(found, "key missing from the coloured graph");
}

// Adds the vertex of a predecessor: the consistent marking with key `key`, unless the key has a
// vertex already.
void Insert_Consistent(Key_CPN key) {
  if (graph.shadows > 0 && Find_Other(key) != nullptr) return;
  graph.present[Utils::Index(key)] = Presence::Present;
  graph.length = -1;
}

// Stores a new vertex for `marking` under the absent key `key`.
void Insert(Key_CPN key, const CPN_Marking& marking, const CPN_Successor_List& successors,
            const Search_Values& values, Utils::Cost h) {
  graph.length = -1;
  const Placement placement = Locate(marking);
  if (placement.consistent && Key_Of(placement) == key) {
    const auto k = Utils::Index(key);
    graph.present[k] = Presence::Present;
    graph.values[k] = values;
    graph.h[k] = h;
    if (!successors.empty()) {
      graph.list[k] = List::Own;
      graph.own_lists.Insert(key, successors);
    }
    return;
  }
  graph.others.Insert(key, {marking, placement, successors, values, h});
  if (Consistent_Range(key)) ++graph.shadows;
}

// Removes the vertex under `key`; false when there is none.
bool Remove(Key_CPN key) {
  graph.length = -1;
  if (Dense_Present(key)) {
    const auto k = Utils::Index(key);
    if (graph.list[k] == List::Own) graph.own_lists.Erase(key);
    graph.present[k] = Presence::Absent;
    graph.list[k] = List::None;
    graph.values[k] = {};
    graph.h[k] = Utils::Infinite_Cost;
    return true;
  }
  if (!graph.others.Erase(key)) return false;
  if (Consistent_Range(key)) --graph.shadows;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The predecessors of a marking: the markings from which one feasible firing leads to it.
namespace {

// What one search for predecessors finds as a list: the successor list of Compute_Successors,
// grouped by MOVEMENTS, and the keys of the consistent predecessors whose MOVEMENTS are not
// listed. An expansion adds a vertex for each of both.
struct Predecessors {
  CPN_Successor_List successors;
  std::vector<Key_CPN> unlisted;
};

// Compute_Successors as defined: each feasible firing of the transitions activated backwards,
// from the last to the first, stepped back; the outcomes that are not consistent are dropped.
Predecessors Define_Predecessors(const CPN_Marking& marking) {
  std::array<CPN_Successor_List, Number_Of_Vehicles> groups;
  Predecessors found;
  const PetriNet::Firings_List firings =
      PetriNet::Feasible_Firings(PetriNet::Coloured::Reverse_Activated_Transitions(marking));
  for (auto f = firings.rbegin(); f != firings.rend(); ++f) {
    const PetriNet::Coloured::Firing_Outcome outcome =
        PetriNet::Coloured::Reverse_Fire(marking, *f);
    const Placement at = Locate(outcome.Marking);
    if (!at.consistent) continue;
    const std::int32_t m = outcome.Movements;
    if (m >= 1 && m <= Number_Of_Vehicles)
      groups[Utils::Index(m - 1)].push_back({Key_Of(at), m, *f});
    else
      found.unlisted.push_back(Key_Of(at));
  }
  for (const CPN_Successor_List& group : groups)
    found.successors.insert(found.successors.end(), group.begin(), group.end());
  return found;
}

// ---------------------------------------------------------------------------------------------
// The enumeration, for nets of the shape that roads give: the same predecessors in the same
// order as Define_Predecessors, found without building the firings.
//
// A vehicle steps back along a transition entering its place. Per version of the net, each
// place is usable when every transition entering it has it as its destination or lacks an end,
// and any two entering it conflict, so that a feasible firing steps its vehicle back at most
// once. A transition that conflicts with itself can never fire and is no step.

// The width of a bit set of transitions.
constexpr int Transition_Bits = 32;
static_assert(Max_Transitions <= Transition_Bits);

// The tables below number a transition t turned round, as Transition_Bits - 1 - t, in bit sets
// too: the highest transition of a set is then its lowest bit, which is the cheaper one to take,
// and the enumeration takes them highest first.
constexpr int Turned(int t) {
  return Transition_Bits - 1 - t;
}

// A set of transitions turned round (and back).
constexpr std::uint32_t Turned_Set(std::uint32_t set) {
  std::uint32_t turned = 0;
  for (; set != 0; set &= set - 1) turned |= 1u << Turned(__builtin_ctz(set));
  return turned;
}

// The turned transitions above turned transition r: the transitions below r's own.
constexpr std::uint32_t Above(int r) {
  return ~((2u << r) - 1u);
}

// The lowest turned transition in `set` (the highest transition), which leaves the set.
int Take_Lowest(std::uint32_t& set) {
  const int r = __builtin_ctz(set);
  set &= set - 1;
  return r;
}

// Sets of turned transitions, per place.
struct Place_Steps {
  std::uint32_t entering = 0;  // every transition entering the place
  std::uint32_t steps = 0;     // those that are steps
  std::uint32_t staying = 0;   // the steps that move no vehicle (the transition lacks an end)
  std::uint32_t arriving = 0;  // the steps that move a vehicle here from their source
  bool usable = false;
};

// The tables of one version of the net, worked out when the net has changed. What the
// combination of steps reads about each step that moves a vehicle into a usable place, and about
// each pair of such steps x > y of two vehicles, by turned transition; a step that moves no
// vehicle leaves it on its own place, which only a placement tells, so that its entries are
// worked out per placement.
struct Net_Steps {
  using Per_Step = std::array<std::uint32_t, Transition_Bits>;
  std::uint64_t version = 0;  // 0: not worked out
  std::array<Place_Steps, Max_Places> place;
  Per_Step conflicts{};
  std::array<std::int8_t, Transition_Bits> from{};   // where its vehicle comes from
  std::array<std::int8_t, Transition_Bits> moves{};  // 1 when it moves its vehicle
  std::array<std::int8_t, Transition_Bits> delta{};  // from - destination
  // The moving steps whose vehicle comes from a place.
  std::array<std::uint32_t, Max_Places> from_place{};
  Per_Step from_bit{};  // where its vehicle comes from, as a place bit
  Per_Step own{};       // the steps of its vehicle's place
  // The steps that cannot join it as a step of another vehicle: its conflicts and the steps
  // whose vehicle comes from where its own does; with those of its own vehicle for a pair.
  Per_Step exclude_third{};
  Per_Step exclude_pair{};
  Per_Step pair_candidates{};  // the lower steps of other vehicles that may join it
  // For x > y: the steps of neither's place below y that neither excludes, for a third vehicle.
  std::array<Per_Step, Transition_Bits> third_candidates{};
  // For x > y: the places their vehicles come from, less their own: a pair without a step of
  // the third vehicle is possible unless the third stands on one of them.
  std::array<std::array<std::uint16_t, Transition_Bits>, Transition_Bits> pair_blocked_by{};
};

// The tables of the net as it is now, and those of the version before, on which the successors
// of the vertices listed before the net last changed were enumerated.
Net_Steps net_steps;
Net_Steps previous_net_steps;

// The steps of the place, and what the moving steps into it tell on their own.
void Work_Out_Place(int p, Net_Steps& net) {
  Place_Steps& ps = net.place[Utils::Index(p)];
  const std::uint32_t entering = PetriNet::Post_Transitions(p).bits;
  ps = {Turned_Set(entering), 0, 0, 0, true};
  for (std::uint32_t rest = entering; rest != 0; rest &= rest - 1) {
    const int t = __builtin_ctz(rest);
    const auto r = Utils::Index(Turned(t));
    const std::uint32_t bit = 1u << r;
    const std::uint32_t conflicts = PetriNet::Conflicts(t).bits;
    const std::uint32_t lower = entering & ((1u << t) - 1u);
    const PetriNet::Transition_Ends ends = PetriNet::Ends(t);
    const bool moves = ends.source >= 0 && ends.destination >= 0;
    if ((conflicts & lower) != lower || (moves && ends.destination != p)) ps.usable = false;
    if ((conflicts >> t) & 1u) continue;
    ps.steps |= bit;
    net.conflicts[r] = Turned_Set(conflicts);
    if (!moves) {
      ps.staying |= bit;
      continue;
    }
    net.from_place[Utils::Index(ends.source)] |= bit;
    // A moving step belongs to its destination (any other place it enters is not usable).
    if (ends.destination != p) continue;
    ps.arriving |= bit;
    net.from[r] = ends.source;
    net.moves[r] = 1;
    net.delta[r] = static_cast<std::int8_t>(ends.source - p);
  }
}

// What the moving steps into the place tell with the other places' steps.
void Work_Out_Exclusions(int p, Net_Steps& net) {
  const Place_Steps& ps = net.place[Utils::Index(p)];
  for (std::uint32_t rest = ps.arriving; rest != 0; rest &= rest - 1) {
    const int r = __builtin_ctz(rest);
    const auto i = Utils::Index(r);
    const auto from = Utils::Index(net.from[i]);
    net.from_bit[i] = 1u << from;
    net.own[i] = ps.steps;
    net.exclude_third[i] = net.conflicts[i] | net.from_place[from];
    net.exclude_pair[i] = net.exclude_third[i] | ps.steps;
    net.pair_candidates[i] = Above(r) & ~net.exclude_pair[i];
  }
}

// What each pair of moving steps x > y of two vehicles tells.
void Work_Out_Pairs(std::uint32_t moving, Net_Steps& net) {
  for (std::uint32_t xs = moving; xs != 0; xs &= xs - 1) {
    const auto x = Utils::Index(__builtin_ctz(xs));
    for (std::uint32_t ys = moving & net.pair_candidates[x]; ys != 0; ys &= ys - 1) {
      const int ry = __builtin_ctz(ys);
      const auto y = Utils::Index(ry);
      net.third_candidates[x][y] =
          Above(ry) & ~(net.exclude_third[x] | net.exclude_third[y]) & ~(net.own[x] | net.own[y]);
      const std::uint32_t own_places =
          (1u << (net.from[x] - net.delta[x])) | (1u << (net.from[y] - net.delta[y]));
      net.pair_blocked_by[x][y] =
          static_cast<std::uint16_t>((net.from_bit[x] | net.from_bit[y]) & ~own_places);
    }
  }
}

void Keep_Before_Lists();
struct Net_Steps;
void Work_Out_Lists(const Net_Steps& net);

// The tables of the net as it is now; the tables replaced become those of the version before,
// and the successors enumerated on the version before that are kept as lists first.
const Net_Steps& Current_Net_Steps() {
  if (net_steps.version == PetriNet::Version()) return net_steps;
  if (!graph.pending.empty()) Mark_Pending();
  // The tables before are kept only for vertices listed on them.
  if (graph.listed) {
    Keep_Before_Lists();
    previous_net_steps = net_steps;
  }
  // What the tables gather over the places, and what a step that moves no vehicle must read as
  // zero; the rest is written for the steps and pairs of steps that read it.
  net_steps.conflicts = {};
  net_steps.from = {};
  net_steps.moves = {};
  net_steps.delta = {};
  net_steps.from_place = {};
  std::uint32_t moving = 0;
  for (int p = 0; p < Max_Places; ++p) {
    Work_Out_Place(p, net_steps);
    moving |= net_steps.place[Utils::Index(p)].arriving;
  }
  for (int p = 0; p < Max_Places; ++p) Work_Out_Exclusions(p, net_steps);
  Work_Out_Pairs(moving, net_steps);
  net_steps.version = PetriNet::Version();
  Work_Out_Lists(net_steps);
  return net_steps;
}

// The most predecessors one enumeration finds: at most one step back per vehicle, on
// transitions entering three disjoint places, at most Max_Transitions / 3 each.
constexpr std::size_t Max_Predecessors = (1 + Max_Transitions / Number_Of_Vehicles) *
                                             (1 + Max_Transitions / Number_Of_Vehicles) *
                                             (1 + Max_Transitions / Number_Of_Vehicles) -
                                         1;

// What one enumeration found, by MOVEMENTS 0..3, each in list order: the keys and (when asked
// for) the firings.
struct Batch {
  std::array<std::array<Group_Key, Max_Predecessors>, Number_Of_Vehicles + 1> keys;
  std::array<std::array<std::uint32_t, Max_Predecessors>, Number_Of_Vehicles + 1> firings;
  std::array<std::size_t, Number_Of_Vehicles + 1> count;
};
Batch batch;

// What an enumeration writes for each predecessor, by MOVEMENTS 0..3. Listing: the key and the
// firing, for successor lists. Coding: the placement code and the firing's turned transitions,
// for the lists shared by the placements of one set of places (below).
struct Listing {
  Group_Key Value(int at) const {
    return static_cast<Group_Key>(key_tables.key_of_code[Utils::Index(at)]);
  }
  std::uint32_t Firing_Bits(std::uint32_t turned) const { return Turned_Set(turned); }
};
struct Coding {
  Group_Key Value(int at) const { return static_cast<Group_Key>(at); }
  std::uint32_t Firing_Bits(std::uint32_t turned) const { return turned; }
};

// Where an enumeration writes, by MOVEMENTS 0..3: the next value and the next firing.
struct Tails {
  std::array<Group_Key*, Number_Of_Vehicles + 1> value;
  std::array<std::uint32_t*, Number_Of_Vehicles + 1> firing;
};

// The start of the batch.
Tails Batch_Tails() {
  Tails tails;
  for (std::size_t m = 0; m < tails.value.size(); ++m) {
    tails.value[m] = batch.keys[m].data();
    tails.firing[m] = batch.firings[m].data();
  }
  return tails;
}

// The batch's counts, from the tails an enumeration left.
void Count_Batch(const Tails& tails) {
  for (std::size_t m = 0; m < tails.value.size(); ++m)
    batch.count[m] = Utils::Index(tails.value[m] - batch.keys[m].data());
}

// Writes through the tails.
template <class Output>
struct Tails_Writer {
  const Output& output;
  Tails& tails;
  // The predecessor with placement code `at`, reached by firing the turned transitions `turned`
  // backwards.
  void Add(int at, std::uint32_t turned, int movements) {
    const auto m = Utils::Index(movements);
    *tails.value[m]++ = output.Value(at);
    *tails.firing[m]++ = output.Firing_Bits(turned);
  }
};

// The vehicles' indexes 0, 1 and 2 add up to this: the third of two vehicles is what is left.
constexpr std::size_t Vehicle_Index_Sum = Number_Of_Vehicles * (Number_Of_Vehicles - 1) / 2;

// The steps back of the three vehicles of one placement, as sets of turned transitions, and
// what the placement adds to the net's tables: where a vehicle's steps lead on the placement
// code.
struct Steps_Table {
  std::uint32_t all = 0;                                       // every step
  std::array<std::uint32_t, Number_Of_Vehicles> of_vehicle{};  // the steps of V1, V2, V3
  std::uint32_t placed = 0;                                    // the places of the vehicles
  std::uint32_t staying = 0;                                   // the steps that move no vehicle
  std::array<std::int32_t, Transition_Bits> shift;             // per step, what it adds to the code
};

// The weight of a vehicle's place in the placement code.
constexpr int Code_Weight(std::size_t vehicle) {
  return vehicle == 0 ? Max_Places * Max_Places : vehicle == 1 ? Max_Places : 1;
}

// The steps back of the vehicles on `placement`; false when a place is not usable or a
// transition enters two of the places.
inline bool Steps_Back(const Placement& placement, const Net_Steps& net, Steps_Table& table) {
  std::array<const Place_Steps*, Number_Of_Vehicles> ps;
  for (std::size_t v = 0; v < ps.size(); ++v) {
    ps[v] = &net.place[Utils::Index(placement.place[v])];
    if (!ps[v]->usable) return false;
  }
  if ((ps[0]->entering & ps[1]->entering) != 0 || (ps[0]->entering & ps[2]->entering) != 0 ||
      (ps[1]->entering & ps[2]->entering) != 0)
    return false;
  for (std::size_t v = 0; v < ps.size(); ++v) {
    table.of_vehicle[v] = ps[v]->steps;
    table.all |= ps[v]->steps;
    table.placed |= 1u << placement.place[v];
    table.staying |= ps[v]->staying;
    for (std::uint32_t rest = ps[v]->steps; rest != 0; rest &= rest - 1) {
      const auto r = Utils::Index(__builtin_ctz(rest));
      table.shift[r] = net.delta[r] * Code_Weight(v);
    }
  }
  return true;
}

// The predecessors of the vehicles on `placement`, through `tails`, when every step of its vehicles
// moves one: Reverse_Fire over every feasible firing, the inconsistent outcomes left out, in
// descending order of the firings. A firing holds at most one step back per vehicle, so that its
// movements are its number of steps. Ordered by their highest transition, then the next, the
// firings {x, y, z} with x > y > z come before {x, y}, which comes before {x, y'} for y' < y, and
// {x} closes the firings whose highest transition is x. A vehicle that steps back onto a place
// stays overrun unless the vehicle there steps back too, so such outcomes are left out as soon as
// no lower step can free the place. What a step or a pair of steps excludes comes from the net's
// tables.
template <class Output>
void Combine_Moving_Steps(const Steps_Table& table, const Placement& placement,
                          const Net_Steps& net, const Output& output, Tails& tails) {
  const int code = placement.Code();
  // The tails of the groups of one, two and three movements, held apart so that they can stay
  // in registers.
  Group_Key* singles = tails.value[1];
  Group_Key* pairs = tails.value[2];
  Group_Key* triples = tails.value[3];
  std::uint32_t* single_firings = tails.firing[1];
  std::uint32_t* pair_firings = tails.firing[2];
  std::uint32_t* triple_firings = tails.firing[3];
  for (std::uint32_t xs = table.all; xs != 0;) {
    const int rx = Take_Lowest(xs);
    const auto x = Utils::Index(rx);
    const int x_code = code + table.shift[x];
    const std::uint32_t* const third_candidates = net.third_candidates[x].data();
    const std::uint16_t* const pair_blocked_by = net.pair_blocked_by[x].data();
    for (std::uint32_t ys = table.all & net.pair_candidates[x]; ys != 0;) {
      const int ry = Take_Lowest(ys);
      const auto y = Utils::Index(ry);
      const int xy_code = x_code + table.shift[y];
      const std::uint32_t xy = (1u << rx) | (1u << ry);
      for (std::uint32_t zs = table.all & third_candidates[y]; zs != 0;) {
        const int rz = Take_Lowest(zs);
        *triples++ = output.Value(xy_code + table.shift[Utils::Index(rz)]);
        *triple_firings++ = output.Firing_Bits(xy | (1u << rz));
      }
      if ((table.placed & pair_blocked_by[y]) == 0) {
        *pairs++ = output.Value(xy_code);
        *pair_firings++ = output.Firing_Bits(xy);
      }
    }
    if ((net.from_bit[x] & table.placed) == 0) {
      *singles++ = output.Value(x_code);
      *single_firings++ = output.Firing_Bits(1u << rx);
    }
  }
  tails.value = {tails.value[0], singles, pairs, triples};
  tails.firing = {tails.firing[0], single_firings, pair_firings, triple_firings};
}

// What the combination reads about each step of a placement where some step moves no vehicle:
// such a step leaves its vehicle on its own place.
struct Placement_Entries {
  std::array<std::int8_t, Transition_Bits> vehicle;  // 0..2 for V1..V3
  std::array<std::uint32_t, Transition_Bits> exclude_pair;
  std::array<std::uint32_t, Transition_Bits> exclude_third;
  std::array<std::uint32_t, Transition_Bits> from_bit;
};

Placement_Entries Entries_Of(const Steps_Table& table, const Placement& placement,
                             const Net_Steps& net) {
  Placement_Entries entries;
  std::array<std::uint32_t, Max_Places> from_place = net.from_place;
  for (std::size_t v = 0; v < table.of_vehicle.size(); ++v)
    from_place[Utils::Index(placement.place[v])] |= table.of_vehicle[v] & table.staying;
  for (std::size_t v = 0; v < table.of_vehicle.size(); ++v) {
    for (std::uint32_t rest = table.of_vehicle[v]; rest != 0; rest &= rest - 1) {
      const auto r = Utils::Index(__builtin_ctz(rest));
      const int from = net.moves[r] != 0 ? net.from[r] : placement.place[v];
      entries.vehicle[r] = static_cast<std::int8_t>(v);
      entries.exclude_third[r] = net.conflicts[r] | from_place[Utils::Index(from)];
      entries.exclude_pair[r] = entries.exclude_third[r] | table.of_vehicle[v];
      entries.from_bit[r] = 1u << from;
    }
  }
  return entries;
}

// As Combine_Moving_Steps, where some step moves no vehicle: a firing's movements are the steps
// that move one, and a step that moves none stays possible on its own.
template <class Writer>
void Combine_Any_Steps(const Steps_Table& table, const Placement& placement, const Net_Steps& net,
                       Writer out) {
  const Placement_Entries e = Entries_Of(table, placement, net);
  const int code = placement.Code();
  const auto moves = [&net](std::size_t r) { return static_cast<int>(net.moves[r]); };
  for (std::uint32_t xs = table.all; xs != 0;) {
    const int rx = Take_Lowest(xs);
    const auto x = Utils::Index(rx);
    const auto vx = Utils::Index(e.vehicle[x]);
    const int x_code = code + table.shift[x];
    for (std::uint32_t ys = table.all & Above(rx) & ~e.exclude_pair[x]; ys != 0;) {
      const int ry = Take_Lowest(ys);
      const auto y = Utils::Index(ry);
      const std::size_t third = Vehicle_Index_Sum - vx - Utils::Index(e.vehicle[y]);
      const int xy_code = x_code + table.shift[y];
      const std::uint32_t xy = (1u << rx) | (1u << ry);
      for (std::uint32_t zs =
               table.of_vehicle[third] & Above(ry) & ~(e.exclude_third[x] | e.exclude_third[y]);
           zs != 0;) {
        const auto z = Utils::Index(Take_Lowest(zs));
        out.Add(xy_code + table.shift[z], xy | (1u << z), moves(x) + moves(y) + moves(z));
      }
      // Without a step of the third vehicle: x and y must not bring theirs onto its place.
      if (((1u << placement.place[third]) & (e.from_bit[x] | e.from_bit[y])) == 0)
        out.Add(xy_code, xy, moves(x) + moves(y));
    }
    if (moves(x) == 0 || (e.from_bit[x] & table.placed) == 0) out.Add(x_code, 1u << rx, moves(x));
  }
}

// Writes the predecessors of the vehicles on the consistent `placement`, enumerated on the tables
// `net`, through `tails`; false when the net does not have the shape the enumeration needs there.
template <class Output>
bool Enumerate(const Placement& placement, const Net_Steps& net, const Output& output,
               Tails& tails) {
  Steps_Table table;
  if (!Steps_Back(placement, net, table)) return false;
  if (table.staying == 0) {
    Combine_Moving_Steps(table, placement, net, output, tails);
  } else {
    Combine_Any_Steps(table, placement, net, Tails_Writer<Output>{output, tails});
  }
  return true;
}

// Fills the batch with the keys and firings of the predecessors of the vehicles on `placement`,
// enumerated on the tables `net`; false when the net does not have the shape the enumeration
// needs there.
bool Enumerate_Into_Batch(const Placement& placement, const Net_Steps& net) {
  Tails tails = Batch_Tails();
  const bool enumerated = Enumerate(placement, net, Listing{}, tails);
  Count_Batch(tails);
  return enumerated;
}

// The listed predecessors of the batch (MOVEMENTS 1 to 3) as a successor list.
CPN_Successor_List Batch_List() {
  CPN_Successor_List list;
  for (std::size_t m = 1; m < batch.count.size(); ++m)
    for (std::size_t i = 0; i < batch.count[m]; ++i)
      list.push_back({batch.keys[m][i], static_cast<std::int32_t>(m), Firing{batch.firings[m][i]}});
  return list;
}

// Adds a vertex for every predecessor of the batch that has none.
void Insert_Batch() {
  for (std::size_t m = 0; m < batch.count.size(); ++m)
    for (std::size_t i = 0; i < batch.count[m]; ++i) Insert_Consistent(batch.keys[m][i]);
}

// Before the tables are replaced: the vertices listed on the version before get their lists to
// keep, and those listed on the tables being replaced become listed on the version before.
void Keep_Before_Lists() {
  for (Key_CPN key = 0; key < Consistent_Keys; ++key) {
    List& list = graph.list[Utils::Index(key)];
    if (list == List::Listed) {
      list = List::Listed_Before;
    } else if (list == List::Listed_Before) {
      Enumerate_Into_Batch(key_tables.placement_of_key[Utils::Index(key)], previous_net_steps);
      graph.own_lists.Insert(key, Batch_List());
      list = List::Own;
    }
  }
}

// The predecessors of `marking` by the enumeration where it applies, else by the definition;
// the vertices of the predecessors are added. Sets `enumerated` accordingly.
Predecessors Find_Predecessors(const CPN_Marking& marking, bool& enumerated) {
  const Placement placement = Locate(marking);
  enumerated = placement.consistent && Enumerate_Into_Batch(placement, Current_Net_Steps());
  if (!enumerated) {
    Predecessors found = Define_Predecessors(marking);
    for (const CPN_Successor& s : found.successors) Insert_Consistent(s.SUCCESSOR_KEY);
    for (const Key_CPN key : found.unlisted) Insert_Consistent(key);
    return found;
  }
  Insert_Batch();
  return {Batch_List(), {}};
}

// ---------------------------------------------------------------------------------------------
// The predecessors of the placements of one set of places, worked out with the tables of the net:
// enumerated with V1, V2 and V3 on the places in ascending order, as placement codes (rank
// codes) with their firings; for the vehicles of a placement in another order the codes are
// read through that order's key table.

struct Set_Lists {
  bool enumerated = false;  // false: the net lacks the shape of roads on these places
  std::uint32_t steps = 0;  // every step into the places (turned)
  // Into Net_Lists::codes and ::firings, by MOVEMENTS 0..3.
  std::array<std::uint32_t, Number_Of_Vehicles + 1> offset{};
  std::array<std::uint16_t, Number_Of_Vehicles + 1> count{};
  Successor_Lists view;  // MOVEMENTS 1..3, as the planner reads them
};

struct Net_Lists {
  std::uint64_t version = 0;  // of the net they were enumerated on; 0: none
  std::array<Set_Lists, Place_Sets> sets;
  std::vector<Group_Key> codes;
  std::vector<std::uint32_t> firings;  // turned
};
Net_Lists net_lists;

// The number of bits set.
std::uint32_t Count_Bits(std::uint32_t bits) {
  std::uint32_t count = 0;
  for (; bits != 0; bits &= bits - 1) ++count;
  return count;
}

// How the lists of a set of places are worked out: not at all (a place is not usable, or a
// transition enters two of the places), by the enumeration for any steps (some step moves no
// vehicle), or by combining moving steps off the net's tables (every step moves one). In this
// order, so that a set's kind is the least of its places'.
enum class Set_Kind : std::uint8_t { None, Own, Roads };

// What the lists of the sets of roads are combined from: per step into a place of the net, what
// it adds to the placement code of a set when that place ranks first, second or third in it.
struct Rank_Shifts {
  std::array<std::array<std::int32_t, Transition_Bits>, Number_Of_Vehicles> shift{};
};

Rank_Shifts Rank_Shifts_Of(const Net_Steps& net) {
  Rank_Shifts shifts;
  for (std::size_t p = 0; p < net.place.size(); ++p)
    for (std::uint32_t rest = net.place[p].steps; rest != 0;) {
      const auto r = Utils::Index(Take_Lowest(rest));
      for (std::size_t k = 0; k < shifts.shift.size(); ++k)
        shifts.shift[k][r] = net.delta[r] * Code_Weight(k);
    }
  return shifts;
}

// What the sets of places read of each place: its steps and their number, how its lists can be
// worked out, and the transitions entering it.
struct Place_Lists_Table {
  std::array<std::uint32_t, Max_Places> steps{};
  std::array<std::uint32_t, Max_Places> count{};  // the number of its steps
  std::array<Set_Kind, Max_Places> kind{};        // Roads, Own or None for the place alone
  std::array<std::uint32_t, Max_Places> entering{};
};

// The lists of a set of roads, every step into whose places moves a vehicle, written from
// `lists.offset` on: as Combine_Moving_Steps enumerates them for the vehicles on its places in
// ascending order, with the steps of each place read off the net's tables.
void Combine_Roads_Set(const Placement& ordered, const Net_Steps& net, const Rank_Shifts& shifts,
                       Set_Lists& lists) {
  std::array<std::int32_t, Transition_Bits> shift;
  std::uint32_t all = 0;
  std::uint32_t placed = 0;
  for (std::size_t k = 0; k < ordered.place.size(); ++k) {
    const auto p = Utils::Index(ordered.place[k]);
    all |= net.place[p].steps;
    placed |= 1u << p;
    for (std::uint32_t rest = net.place[p].steps; rest != 0;) {
      const auto r = Utils::Index(Take_Lowest(rest));
      shift[r] = shifts.shift[k][r];
    }
  }
  const int code = ordered.Code();
  Group_Key* const codes = net_lists.codes.data();
  std::uint32_t* const firings = net_lists.firings.data();
  std::uint32_t singles = lists.offset[1];
  std::uint32_t pairs = lists.offset[2];
  std::uint32_t triples = lists.offset[3];
  for (std::uint32_t xs = all; xs != 0;) {
    const int rx = Take_Lowest(xs);
    const auto x = Utils::Index(rx);
    const int x_code = code + shift[x];
    const std::uint32_t* const third_candidates = net.third_candidates[x].data();
    const std::uint16_t* const pair_blocked_by = net.pair_blocked_by[x].data();
    for (std::uint32_t ys = all & net.pair_candidates[x]; ys != 0;) {
      const int ry = Take_Lowest(ys);
      const auto y = Utils::Index(ry);
      const int xy_code = x_code + shift[y];
      const std::uint32_t xy = (1u << rx) | (1u << ry);
      for (std::uint32_t zs = all & third_candidates[y]; zs != 0; ++triples) {
        const int rz = Take_Lowest(zs);
        codes[triples] = static_cast<Group_Key>(xy_code + shift[Utils::Index(rz)]);
        firings[triples] = xy | (1u << rz);
      }
      if ((placed & pair_blocked_by[y]) == 0) {
        codes[pairs] = static_cast<Group_Key>(xy_code);
        firings[pairs++] = xy;
      }
    }
    if ((net.from_bit[x] & placed) == 0) {
      codes[singles] = static_cast<Group_Key>(x_code);
      firings[singles++] = 1u << rx;
    }
  }
  lists.count = {0, static_cast<std::uint16_t>(singles - lists.offset[1]),
                 static_cast<std::uint16_t>(pairs - lists.offset[2]),
                 static_cast<std::uint16_t>(triples - lists.offset[3])};
}

// The lists of a set where some step moves no vehicle, written from `lists.offset` on.
void Enumerate_Set(const Placement& ordered, const Net_Steps& net, Set_Lists& lists) {
  Tails tails;
  for (std::size_t m = 0; m < tails.value.size(); ++m) {
    tails.value[m] = net_lists.codes.data() + lists.offset[m];
    tails.firing[m] = net_lists.firings.data() + lists.offset[m];
  }
  Enumerate(ordered, net, Coding{}, tails);
  for (std::size_t m = 0; m < tails.value.size(); ++m)
    lists.count[m] =
        static_cast<std::uint16_t>(tails.value[m] - net_lists.codes.data() - lists.offset[m]);
}

// The room of a set's lists by MOVEMENTS: every choice of one step each for one, two or three of
// its places; where some step moves no vehicle (the number of movements is not that of the
// steps), every choice in each group.
std::array<std::uint32_t, Number_Of_Vehicles + 1> Room(Set_Kind kind, std::uint32_t na,
                                                       std::uint32_t nb, std::uint32_t nc) {
  if (kind == Set_Kind::None) return {};
  if (kind == Set_Kind::Own) {
    const std::uint32_t every = (1 + na) * (1 + nb) * (1 + nc) - 1;
    return {every, every, every, every};
  }
  return {0, na + nb + nc, na * nb + na * nc + nb * nc, na * nb * nc};
}

// What the sets of places read of each place.
Place_Lists_Table Place_Lists_Table_Of(const Net_Steps& net) {
  Place_Lists_Table table;
  for (std::size_t p = 0; p < table.steps.size(); ++p) {
    const Place_Steps& ps = net.place[p];
    table.steps[p] = ps.steps;
    table.entering[p] = ps.entering;
    table.count[p] = Count_Bits(ps.steps);
    table.kind[p] = !ps.usable ? Set_Kind::None : ps.staying != 0 ? Set_Kind::Own : Set_Kind::Roads;
  }
  return table;
}

// The lists of every set of places, with the vehicles on them in ascending order.
void Work_Out_Lists(const Net_Steps& net) {
  net_lists.version = net.version;
  const Place_Lists_Table places = Place_Lists_Table_Of(net);
  std::array<Set_Kind, Place_Sets> kind;
  std::uint32_t total = 0;
  for (std::size_t set = 0; set < net_lists.sets.size(); ++set) {
    Set_Lists& lists = net_lists.sets[set];
    const Placement& ordered = key_tables.ordered_placement[set];
    const auto a = Utils::Index(ordered.place[0]);
    const auto b = Utils::Index(ordered.place[1]);
    const auto c = Utils::Index(ordered.place[2]);
    // None before Own before Roads: the lowest kind of the three places.
    kind[set] = std::min({places.kind[a], places.kind[b], places.kind[c]});
    if ((places.entering[a] & places.entering[b]) != 0 ||
        (places.entering[a] & places.entering[c]) != 0 ||
        (places.entering[b] & places.entering[c]) != 0)
      kind[set] = Set_Kind::None;
    lists.enumerated = kind[set] != Set_Kind::None;
    lists.steps = places.steps[a] | places.steps[b] | places.steps[c];
    lists.count = {};
    const std::array<std::uint32_t, Number_Of_Vehicles + 1> room =
        Room(kind[set], places.count[a], places.count[b], places.count[c]);
    for (std::size_t m = 0; m < room.size(); ++m) {
      lists.offset[m] = total;
      total += room[m];
    }
  }
  if (net_lists.codes.size() < total) {
    net_lists.codes.resize(total);
    net_lists.firings.resize(total);
  }
  const Rank_Shifts shifts = Rank_Shifts_Of(net);
  for (std::size_t set = 0; set < net_lists.sets.size(); ++set) {
    Set_Lists& lists = net_lists.sets[set];
    if (kind[set] == Set_Kind::Roads)
      Combine_Roads_Set(key_tables.ordered_placement[set], net, shifts, lists);
    else if (kind[set] == Set_Kind::Own)
      Enumerate_Set(key_tables.ordered_placement[set], net, lists);
    lists.view.transitions = lists.steps;
    for (std::size_t m = 1; m < lists.count.size(); ++m) {
      lists.view.codes[m - 1] = {net_lists.codes.data() + lists.offset[m], lists.count[m]};
      lists.view.firings[m - 1] = net_lists.firings.data() + lists.offset[m];
    }
  }
}

// The vertices of the predecessors of the vertex under `key`, listed with the lists of its set of
// places, are added.
void Mark_Predecessors(Key_CPN key) {
  const auto k = Utils::Index(key);
  const Set_Lists& lists = net_lists.sets[key_tables.place_set_of_key[k]];
  const Group_Key* const key_of = key_tables.key_by_order[key_tables.order_of_key[k]].data();
  for (std::size_t m = 0; m < lists.count.size(); ++m) {
    const Group_Key* code = net_lists.codes.data() + lists.offset[m];
    for (const Group_Key* const end = code + lists.count[m]; code != end; ++code)
      graph.present[key_of[*code]] = Presence::Present;
  }
}

// The vertices of the predecessors of every pending vertex are added.
void Mark_Pending() {
  for (const Key_CPN key : graph.pending) Mark_Predecessors(key);
  graph.pending.clear();
  graph.length = -1;
}

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
  if (Contains(key)) {
    Search_Values& v = Values(key);
    v.G = v.F = Utils::Infinite_Cost;
    if (Other_Vertex* other = Find_Other(key))
      other->h = Utils::Infinite_Cost;
    else
      graph.h[Utils::Index(key)] = Utils::Infinite_Cost;
  } else {
    Insert(key, marking, {}, {key, Utils::Infinite_Cost, Utils::Infinite_Cost},
           Utils::Infinite_Cost);
  }
  return key;
}

CPN_Successor_List Compute_Successors(const CPN_Marking& marking) {
  PetriNet::Coloured::Check_Colours(marking);
  bool enumerated = false;
  return Find_Predecessors(marking, enumerated).successors;
}

void Expand_Vertex(Key_CPN key) {
  if (Other_Vertex* other = Find_Other(key)) {
    bool enumerated = false;
    CPN_Successor_List list = Find_Predecessors(other->marking, enumerated).successors;
    // Adding consistent vertices leaves the map, and `other` in it, as it is.
    other->successors = std::move(list);
    return;
  }
  Require_Vertex(Dense_Present(key));
  const auto k = Utils::Index(key);
  if (graph.list[k] == List::Own) graph.own_lists.Erase(key);
  graph.list[k] = List::None;
  bool enumerated = false;
  CPN_Successor_List list =
      Find_Predecessors(key_tables.placement_of_key[k].Marking(), enumerated).successors;
  if (list.empty()) return;
  if (enumerated) {
    graph.list[k] = List::Listed;
    graph.listed = true;
  } else {
    graph.list[k] = List::Own;
    graph.own_lists.Insert(key, std::move(list));
  }
}

bool Successors_Empty(Key_CPN key) {
  if (const Other_Vertex* other = Find_Other(key)) return other->successors.empty();
  Require_Vertex(Dense_Present(key));
  return graph.list[Utils::Index(key)] == List::None;
}

namespace {

// The successor list of the vertex of a consistent marking under `key`.
CPN_Successor_List Dense_List(Key_CPN key) {
  const List list = graph.list[Utils::Index(key)];
  if (list == List::Own) return *graph.own_lists.Find(key);
  if (list == List::None) return {};
  Enumerate_Into_Batch(key_tables.placement_of_key[Utils::Index(key)],
                       list == List::Listed ? net_steps : previous_net_steps);
  return Batch_List();
}

}  // namespace

CPN_Vertex Get_Vertex(Key_CPN key) {
  if (const Other_Vertex* other = Find_Other(key)) {
    const Search_Values& v = other->values;
    return {other->marking, other->successors, v.PARENT, v.G, other->h, v.F};
  }
  Require_Vertex(Dense_Present(key));
  const auto k = Utils::Index(key);
  const Search_Values& v = graph.values[k];
  return {
      key_tables.placement_of_key[k].Marking(), Dense_List(key), v.PARENT, v.G, graph.h[k], v.F};
}

void Replace_Vertex(Key_CPN key, const CPN_Vertex& vertex) {
  Require_Vertex(Contains(key));
  PetriNet::Coloured::Check_Colours(vertex.CPN_MARKING);
  Remove(key);
  Insert(key, vertex.CPN_MARKING, vertex.CPN_SUCCESSORS, {vertex.PARENT, vertex.G, vertex.F},
         vertex.H);
}

bool Contains(Key_CPN key) {
  return Dense_Present(key) || Find_Other(key) != nullptr;
}

void Delete_Vertex(Key_CPN key) {
  Require_Vertex(Remove(key));
  graph.deleted = true;
}

int Graph_Length() {
  if (!graph.pending.empty()) Mark_Pending();
  if (graph.length < 0) {
    // Eight presences (0 or 1 each) at a time: their sum is the top byte of the product.
    static_assert(sizeof(Presence) == 1 && static_cast<int>(Presence::Present) == 1);
    static_assert(Consistent_Keys % 8 == 0);
    int present = 0;
    for (std::size_t k = 0; k < graph.present.size(); k += 8) {
      std::uint64_t eight;
      std::memcpy(&eight, graph.present.data() + k, sizeof eight);
      present += static_cast<int>((eight * 0x0101010101010101u) >> 56);
    }
    graph.length = static_cast<int>(graph.others.Size()) + present;
  }
  return graph.length;
}

int Vertex_Bound() {
  return Consistent_Keys + static_cast<int>(graph.others.Size());
}

void Clear_Graph() {
  // Whole: a vertex improved by the planner may be present by its F alone.
  graph.present.fill(Presence::Absent);
  graph.list.fill(List::None);
  graph.values.fill(Search_Values{});
  graph.h.fill(Utils::Infinite_Cost);
  graph.own_lists.Clear();
  graph.pending.clear();
  graph.others.Clear();
  graph.shadows = 0;
  graph.length = 0;
  graph.deleted = false;
  graph.listed = false;
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
  // The tables of the predecessor search, so that the first search on this net finds them.
  Current_Net_Steps();
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
              << PetriNet::Coloured::Label(Get_Vertex(s.SUCCESSOR_KEY).CPN_MARKING) << '\n';
}

void Print_Vertex(const CPN_Vertex& vertex) {
  std::cout << "CPN Marking: \n" << PetriNet::Coloured::Label(vertex.CPN_MARKING) << "\n\n";
  std::cout << "CPN Successors:\n";
  Print_Successors(vertex.CPN_SUCCESSORS);
  std::cout << "\nCPN Parent:\n" << Integer_Image(vertex.PARENT) << "\n\n";
}

// The vertices of consistent markings in the order of their keys, then the others in the order
// of the map's buckets.
void Print_Graph() {
  std::cout << "\n\nPrinting CPN Graph Contents\n\n";
  if (Graph_Length() == 0) {
    Utils::Logger::Log(Severity::ERROR, "Graph empty");
    return;
  }
  const auto print = [](Key_CPN key) {
    std::cout << "\n-----------------\nCPN_Vertex: " << Integer_Image(key) << '\n';
    Print_Vertex(Get_Vertex(key));
    std::cout << "-----------------\n";
  };
  for (Key_CPN key = 0; key < Consistent_Keys; ++key)
    if (Dense_Present(key)) print(key);
  graph.others.For_Each([&print](Key_CPN key, const Other_Vertex&) { print(key); });
}

// ---------------------------------------------------------------------------------------------
// For the planner.

Search_Values& Values(Key_CPN key) {
  if (Other_Vertex* other = Find_Other(key)) return other->values;
  Require_Vertex(Dense_Present(key));
  return graph.values[Utils::Index(key)];
}

std::span<Search_Values, Consistent_Keys> Consistent_Values() {
  return graph.values;
}

Placement Placement_Of(Key_CPN key) {
  if (const Other_Vertex* other = Find_Other(key)) return other->placement;
  Require_Vertex(Dense_Present(key));
  return key_tables.placement_of_key[Utils::Index(key)];
}

std::span<const Placement, Consistent_Keys> Consistent_Placements() {
  return key_tables.placement_of_key;
}

Vertex_Link Link_Of(Key_CPN key) {
  if (const Other_Vertex* other = Find_Other(key))
    return {true, other->marking, other->values.PARENT};
  if (!Dense_Present(key)) return {};
  return {true, key_tables.placement_of_key[Utils::Index(key)].Marking(),
          graph.values[Utils::Index(key)].PARENT};
}

namespace {

// Expanded_Groups where the lists cannot serve: none, after the checks.
Successor_Groups Listed_Only(Key_CPN key) {
  if (!Dense_Present(key)) Require_Vertex(Find_Other(key) != nullptr);
  return {};
}

}  // namespace

Successor_Groups Expanded_Groups(Key_CPN key) {
  // A vertex listed on the version before, or holding its own list, is read as a list; so is any
  // vertex while a key of a consistent marking is held by another marking or a vertex was
  // deleted (the vertices the lists name could be missing or another's).
  if (!Consistent_Range(key) || graph.shadows > 0 || graph.deleted) return Listed_Only(key);
  const auto k = Utils::Index(key);
  if (!Dense_Present(key)) return Listed_Only(key);
  if (net_steps.version != PetriNet::Version()) Current_Net_Steps();
  const List list = graph.list[k];
  if (list == List::Own || list == List::Listed_Before) return {};
  const Set_Lists& lists = net_lists.sets[key_tables.place_set_of_key[k]];
  if (!lists.enumerated) return {};
  if (list == List::None && lists.count[1] + lists.count[2] + lists.count[3] != 0) {
    graph.list[k] = List::Listed;
    graph.listed = true;
    graph.pending.push_back(key);
  }
  return {&lists.view, key_tables.key_by_order[key_tables.order_of_key[k]].data()};
}

Step_Set Steps_Of(Firing firing) {
  return Turned_Set(firing.bits);
}

Firing Steps_Between(int a, int b) {
  Firing steps;
  for (int t = 0; t < Max_Transitions; ++t) {
    const PetriNet::Transition_Ends ends = PetriNet::Ends(t);
    if ((ends.source == a && ends.destination == b) || (ends.source == b && ends.destination == a))
      steps.Set(t);
  }
  return steps;
}

}  // namespace ReachabilityGraph::Coloured
