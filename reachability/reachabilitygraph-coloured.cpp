// The lazily explored coloured reachability graph.
#include "reachability/reachabilitygraph-coloured.hpp"

#include <array>
#include <iostream>

#include "petrinet/math-combinatorics.hpp"
#include "utils/utils-keymap.hpp"
#include "utils/utils-logger.hpp"

namespace ReachabilityGraph::Coloured {
namespace {

using PetriNet::Max_Places;
using PetriNet::Coloured::Colour;
using Utils::Integer_Image;
using Utils::Logger::Severity;

Utils::Key_Map<CPN_Vertex> graph;

CPN_Vertex& Stored(Key_CPN key) {
  CPN_Vertex* vertex = graph.Find(key);
  Utils::Require(vertex != nullptr, "key missing from the coloured graph");
  return *vertex;
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

// The ranks of the consistent markings by the places of V1, V2 and V3.
const std::array<std::int16_t, 12 * 12 * 12>& Consistent_Ranks() {
  static const auto table = [] {
    std::array<std::int16_t, 12 * 12 * 12> ranks{};
    for (int a = 0; a < Max_Places; ++a)
      for (int b = 0; b < Max_Places; ++b)
        for (int c = 0; c < Max_Places; ++c) {
          if (a == b || a == c || b == c) continue;
          CPN_Marking m = PetriNet::Coloured::Empty_Marking();
          m[static_cast<std::size_t>(a)] = Colour::V1;
          m[static_cast<std::size_t>(b)] = Colour::V2;
          m[static_cast<std::size_t>(c)] = Colour::V3;
          ranks[static_cast<std::size_t>((a * 12 + b) * 12 + c)] =
              static_cast<std::int16_t>(Rank(m));
        }
    return ranks;
  }();
  return table;
}

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

// Reused between expansions.
PetriNet::Firings_List firings_buffer;

}  // namespace

Key_CPN Compute_Key_CPN(const CPN_Marking& marking) {
  int places[3];
  if (Vehicle_Places(marking, places))
    return Consistent_Ranks()[static_cast<std::size_t>((places[0] * 12 + places[1]) * 12 +
                                                       places[2])];
  return Rank(marking);
}

Key_CPN Init_Vertex(const CPN_Marking& marking) {
  const Key_CPN key = Compute_Key_CPN(marking);
  if (CPN_Vertex* vertex = graph.Find(key)) {
    vertex->G = vertex->H = vertex->F = Utils::Infinite_Cost;
  } else {
    CPN_Vertex root;
    root.CPN_MARKING = marking;
    root.PARENT = key;
    graph.Insert(key, std::move(root));
  }
  return key;
}

CPN_Successor_List Compute_Successors(const CPN_Marking& marking) {
  const Firing activated = PetriNet::Coloured::Reverse_Activated_Transitions(marking);
  PetriNet::Feasible_Firings_Into(activated, firings_buffer);
  CPN_Successor_List groups[3];
  for (auto f = firings_buffer.rbegin(); f != firings_buffer.rend(); ++f) {
    const PetriNet::Coloured::Firing_Outcome outcome =
        PetriNet::Coloured::Reverse_Fire(marking, *f);
    int places[3];
    if (!Vehicle_Places(outcome.Marking, places)) continue;
    const Key_CPN key = Consistent_Ranks()[static_cast<std::size_t>(
        (places[0] * 12 + places[1]) * 12 + places[2])];
    if (graph.Find(key) == nullptr) {
      CPN_Vertex fresh;
      fresh.CPN_MARKING = outcome.Marking;
      graph.Insert(key, std::move(fresh));
    }
    if (outcome.Movements >= 1 && outcome.Movements <= 3)
      groups[outcome.Movements - 1].push_back({key, outcome.Movements, *f});
  }
  CPN_Successor_List result = std::move(groups[0]);
  result.insert(result.end(), groups[1].begin(), groups[1].end());
  result.insert(result.end(), groups[2].begin(), groups[2].end());
  return result;
}

void Expand_Vertex(Key_CPN key) {
  const CPN_Marking marking = Stored(key).CPN_MARKING;
  CPN_Successor_List successors = Compute_Successors(marking);
  // Compute_Successors may have grown the map; look the vertex up again.
  Stored(key).CPN_SUCCESSORS = std::move(successors);
}

bool Successors_Empty(Key_CPN key) { return Stored(key).CPN_SUCCESSORS.empty(); }

CPN_Vertex Get_Vertex(Key_CPN key) { return Stored(key); }

void Replace_Vertex(Key_CPN key, const CPN_Vertex& vertex) { Stored(key) = vertex; }

CPN_Values Get_Values(Key_CPN key) {
  const CPN_Vertex& v = Stored(key);
  return {v.CPN_MARKING, v.PARENT, v.G, v.H, v.F};
}

void Replace_Values(Key_CPN key, const CPN_Values& values) {
  CPN_Vertex& v = Stored(key);
  v.PARENT = values.PARENT;
  v.G = values.G;
  v.H = values.H;
  v.F = values.F;
}

void Copy_Successors(Key_CPN key, CPN_Successor_List& into) {
  const CPN_Vertex& v = Stored(key);
  into.assign(v.CPN_SUCCESSORS.begin(), v.CPN_SUCCESSORS.end());
}

bool Contains(Key_CPN key) { return graph.Find(key) != nullptr; }

void Delete_Vertex(Key_CPN key) {
  Utils::Require(graph.Erase(key), "key missing from the coloured graph");
}

int Graph_Length() { return static_cast<int>(graph.Size()); }

void Clear_Graph() { graph.Clear(); }

void Init_Graph() { Utils::Logger::Log(Severity::INFORMATIONAL, "Graph initialized"); }

int Number_Of_Vehicles() { return PetriNet::Coloured::Number_Of_Vehicles; }

int Graph_RAM_Usage() { return 0; }

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

void Print_Graph() {
  std::cout << "\n\nPrinting CPN Graph Contents\n\n";
  if (graph.Size() == 0) {
    Utils::Logger::Log(Severity::ERROR, "Graph empty");
    return;
  }
  graph.For_Each([](Key_CPN key, const CPN_Vertex& vertex) {
    std::cout << "\n-----------------\nCPN_Vertex: " << Integer_Image(key) << '\n';
    Print_Vertex(vertex);
    std::cout << "-----------------\n";
  });
}

}  // namespace ReachabilityGraph::Coloured
