// The single-token reachability graph, rebuilt at every environment build.
#include "reachability/reachabilitygraph-simple.hpp"

#include <iostream>

#include "utils/utils-keymap.hpp"
#include "utils/utils-logger.hpp"

namespace ReachabilityGraph::Simple {
namespace {

using Utils::Integer_Image;

Utils::Key_Map<PN_Vertex> graph;

PN_Vertex& Stored(Key_PN key) {
  PN_Vertex* vertex = graph.Find(key);
  Utils::Require(vertex != nullptr, "key missing from the simple graph");
  return *vertex;
}

}  // namespace

Key_PN Compute_Key_PN(const PN_Marking& marking) {
  for (int p = PetriNet::Max_Places - 1; p >= 0; --p)
    if (marking[Utils::Index(p)]) return p;
  Utils::Logger::Log(Utils::Logger::Severity::ERROR,
                     "Key_PN not correctly computed (empty Marking).");
  return -1;
}

PN_Successor_List Compute_Successors(const PN_Marking& marking) {
  PN_Successor_List result;
  // One firing per activated transition, ascending (Activated_Firings).
  const Firing activated = PetriNet::Simple::Activated_Transitions(marking);
  for (std::uint32_t rest = activated.bits; rest != 0; rest &= rest - 1) {
    const Firing f{rest & (~rest + 1)};
    const PN_Marking reached = PetriNet::Simple::Fire(marking, f);
    result.items[Utils::Index(result.count++)] = {Compute_Key_PN(reached), f};
  }
  return result;
}

void Build_Graph() {
  graph.Clear();
  graph.Reserve(PetriNet::Max_Places);
  for (int p = 0; p < PetriNet::Max_Places; ++p) {
    PN_Vertex v;
    v.PN_MARKING = PetriNet::Simple::Empty_Marking();
    v.PN_MARKING[Utils::Index(p)] = true;
    v.PN_SUCCESSORS = Compute_Successors(v.PN_MARKING);
    graph.Insert(p, v);
  }
}

PN_Vertex Get_Vertex(Key_PN key) {
  return Stored(key);
}

void Replace_Vertex(Key_PN key, const PN_Vertex& vertex) {
  Stored(key) = vertex;
}

void Replace_Values(Key_PN key, Key_PN parent, Utils::Cost f) {
  PN_Vertex& stored = Stored(key);
  stored.PARENT = parent;
  stored.F = f;
}

PN_Values Get_Values(Key_PN key) {
  const PN_Vertex& stored = Stored(key);
  return {stored.PARENT, stored.F};
}

std::int32_t Get_Successor_Keys(Key_PN key, std::array<Key_PN, PetriNet::Max_Transitions>& into) {
  const PN_Successor_List& list = Stored(key).PN_SUCCESSORS;
  for (std::int32_t i = 0; i < list.count; ++i)
    into[Utils::Index(i)] = list.items[Utils::Index(i)].SUCCESSOR_KEY;
  return list.count;
}

void Reset_Distances() {
  for (int p = 0; p < PetriNet::Max_Places; ++p)
    if (PN_Vertex* v = graph.Find(p)) v->F = Utils::Infinite_Cost;
  // Keys outside 0..11 never occur; the loop above covers every vertex Build_Graph makes.
}

int Graph_Length() {
  return static_cast<int>(graph.Size());
}

void Clear_Graph() {
  graph.Clear();
}

void Print_Successors(const PN_Successor_List& list) {
  for (std::int32_t i = 0; i < list.count; ++i)
    std::cout << "PN Successor " << Integer_Image(list.items[Utils::Index(i)].SUCCESSOR_KEY)
              << '\n';
}

void Print_Vertex(const PN_Vertex& vertex) {
  std::cout << "PN Marking: \n";
  PetriNet::Simple::Show_Marking(vertex.PN_MARKING);
  std::cout << "\nPN Successors: \n";
  Print_Successors(vertex.PN_SUCCESSORS);
  std::cout << "\nPN Parent: \n" << Integer_Image(vertex.PARENT) << "\n\n";
}

void Print_Graph() {
  std::cout << "\n\nPrinting PN Graph contents \n\n";
  int n = 0;
  graph.For_Each([&n](Key_PN key, const PN_Vertex& vertex) {
    ++n;
    std::cout << "\n-----------\n"
              << Integer_Image(n) << " - PN_Vertex: " << Integer_Image(key) << '\n';
    Print_Vertex(vertex);
    std::cout << "-----------\n";
  });
  std::cout << "Printing done (Count = " << Integer_Image(n) << ")\n\n";
}

}  // namespace ReachabilityGraph::Simple
