// The net in-process: factorial quotients, arcs and conflicts, the two firing builders, the
// simple net with its reachability graph, and the backward step of the coloured net.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "controller/mova.hpp"
#include "petrinet/math-combinatorics.hpp"
#include "petrinet/math-linearalgebra.hpp"
#include "petrinet/petrinet-coloured.hpp"
#include "petrinet/petrinet-simple.hpp"
#include "petrinet/petrinet.hpp"
#include "reachability/reachabilitygraph-simple.hpp"
#include "support/markings.hpp"
#include "support/scratch.hpp"
#include "support/transcript.hpp"
#include "utils/utils-logger.hpp"

namespace {

using PetriNet::Firing;
using PetriNet::Coloured::Colour;
using PetriNet::Coloured::CPN_Marking;
namespace Simple = PetriNet::Simple;
namespace SGraph = ReachabilityGraph::Simple;

Firing F(std::initializer_list<int> transitions) {
  Firing f;
  for (int t : transitions) f.Set(t);
  return f;
}

std::vector<int> Members(Firing f) {
  std::vector<int> members;
  for (int t = 0; t < PetriNet::Max_Transitions; ++t)
    if (f.Test(t)) members.push_back(t);
  return members;
}

std::vector<std::vector<int>> Members(const PetriNet::Firings_List& list) {
  std::vector<std::vector<int>> result;
  for (Firing f : list) result.push_back(Members(f));
  return result;
}

std::vector<int> Constraints(int t) {
  const PetriNet::Constraints_Firings_List list = PetriNet::Constraints(t);
  return {list.items.begin(), list.items.begin() + list.count};
}

using Testing::Road_Kind;
Simple::PN_Marking Tokens(std::initializer_list<int> places) {
  Simple::PN_Marking m = Simple::Empty_Marking();
  for (int p : places) m[static_cast<std::size_t>(p)] = true;
  return m;
}

using Testing::Vehicles;

// Runs a block with logging on at threshold DEBUG in a temporary directory and returns the
// messages of the records it wrote.
template <class Body>
std::vector<std::string> Logged(Body body) {
  const Testing::Scratch_Directory scratch(Testing::Scratch_Directory::Mode::Enter);
  Utils::Logger::Enable();
  Utils::Logger::Set_Threshold(Utils::Logger::Severity::DEBUG);
  body();
  Utils::Logger::Reset();
  const std::string text = Testing::Read_File("mova.log");
  std::vector<std::string> messages;
  std::string line;
  for (char c : text) {
    if (c != '\n') {
      line.push_back(c);
      continue;
    }
    // "stamp : DAEMON : SEVERITY : message  "
    const std::size_t severity = line.find(" : ", 22) + 3;
    const std::size_t third = line.find(" : ", severity);
    messages.push_back(line.substr(severity, third - severity) + " : " +
                       line.substr(third + 3, line.size() - third - 5));
    line.clear();
  }
  return messages;
}

TEST(Matrix, IndexesAreCheckedAgainstEachRangeEndAndSubtractionNeedsCoveringRanges) {
  namespace LA = Math::LinearAlgebra;
  LA::Matrix m = LA::Zero_Matrix(3, 4);
  LA::Set_Element(m, 2, 3, 5.0f);
  LA::Set_Element(m, 0, 0, 1.0f);
  EXPECT_EQ(LA::Element(m, 2, 3), 5.0f);
  EXPECT_EQ(LA::Element(m, 0, 0), 1.0f);
  EXPECT_EQ(LA::Element(m, 1, 2), 0.0f);
  // One past each end of each range is refused.
  EXPECT_THROW(LA::Element(m, -1, 0), Utils::Range_Error);
  EXPECT_THROW(LA::Element(m, 3, 0), Utils::Range_Error);
  EXPECT_THROW(LA::Element(m, 0, -1), Utils::Range_Error);
  EXPECT_THROW(LA::Set_Element(m, 0, 4, 1.0f), Utils::Range_Error);
  EXPECT_THROW(LA::Zero_Matrix(-1, 2), Utils::Range_Error);
  EXPECT_THROW(LA::Zero_Matrix(2, -1), Utils::Range_Error);
  EXPECT_TRUE(LA::Zero_Matrix(0, 0).elements.empty());

  // Ranges that do not start at 0 are honoured.
  LA::Matrix shifted = m;
  shifted.first_row = 1;
  shifted.last_row = 3;
  EXPECT_EQ(LA::Element(shifted, 3, 3), 5.0f);
  EXPECT_THROW(LA::Element(shifted, 0, 0), Utils::Range_Error);

  // left - right over left's ranges; right must cover them on every side.
  LA::Matrix right = LA::Zero_Matrix(3, 4);
  LA::Set_Element(right, 2, 3, 2.0f);
  const LA::Matrix difference = LA::Subtract(m, right);
  EXPECT_EQ(LA::Element(difference, 2, 3), 3.0f);
  EXPECT_EQ(LA::Element(difference, 0, 0), 1.0f);
  for (int side = 0; side < 4; ++side) {
    LA::Matrix narrow = right;
    (side == 0   ? narrow.first_row
     : side == 1 ? narrow.last_row
     : side == 2 ? narrow.first_column
                 : narrow.last_column) += side % 2 == 0 ? 1 : -1;
    EXPECT_THROW(LA::Subtract(m, narrow), Utils::Range_Error) << "side " << side;
  }
  EXPECT_NO_THROW(LA::Subtract(LA::Zero_Matrix(2, 2), right));
}

TEST(Combinatorics, FactorialQuotients) {
  using Math::Combinatorics::Factorial_Quotient;
  EXPECT_EQ(Factorial_Quotient(5, 2), 60);
  EXPECT_EQ(Factorial_Quotient(3, 3), 1);
  EXPECT_EQ(Factorial_Quotient(0, 4), 1);
  EXPECT_EQ(Factorial_Quotient(11, 0), 39916800);
  EXPECT_EQ(Factorial_Quotient(11, 8), 990);
  EXPECT_EQ(Factorial_Quotient(12, 0), 479001600);
  EXPECT_EQ(Factorial_Quotient(12, 11), 12);
  EXPECT_EQ(Factorial_Quotient(1, 0), 1);
  EXPECT_THROW(Factorial_Quotient(13, 0), Utils::Range_Error);  // 6227020800
  EXPECT_THROW(Factorial_Quotient(13, 1), Utils::Range_Error);
  EXPECT_THROW(Factorial_Quotient(13, 2), Utils::Range_Error);  // 3113510400
  EXPECT_EQ(Factorial_Quotient(13, 3), 1037836800);
}

TEST(Net, ArcsConstraintsAndTheirRecords) {
  Mova::Reset_All();
  const std::vector<std::string> records = Logged([] {
    PetriNet::Add_Pre(3, 4);
    PetriNet::Add_Pre(3, 4);
    PetriNet::Add_Post(11, 29);
    PetriNet::Add_Constraint(4, 5);
    PetriNet::Add_Constraint(4, 5);
    EXPECT_THROW(PetriNet::Add_Pre(12, 0), Utils::Range_Error);
    EXPECT_THROW(PetriNet::Add_Pre(-1, 0), Utils::Range_Error);
    EXPECT_THROW(PetriNet::Add_Post(0, 30), Utils::Range_Error);
    EXPECT_THROW(PetriNet::Add_Constraint(30, 0), Utils::Range_Error);
    EXPECT_THROW(PetriNet::Add_Constraint(0, -1), Utils::Range_Error);
  });
  EXPECT_EQ(records, (std::vector<std::string>{
                         "DEBUG : Adding Pre  3  4 = 1", "DEBUG : Adding Pre  3  4 = 1",
                         "DEBUG : Adding Post  11  29 = 1",
                         "DEBUG : Adding constraint between transitions  4  and   5"}));
  EXPECT_EQ(PetriNet::Pre(3, 4), 1.0f);
  EXPECT_EQ(PetriNet::Post(11, 29), 1.0f);
  EXPECT_EQ(Constraints(4), std::vector<int>{5});
  EXPECT_TRUE(Constraints(5).empty());
  EXPECT_TRUE(Constraints(0).empty());
  float sum = 0.0f;
  for (int p = 0; p < 12; ++p)
    for (int t = 0; t < 30; ++t) sum += PetriNet::Pre(p, t) + PetriNet::Post(p, t);
  EXPECT_EQ(sum, 2.0f);  // the refused calls changed nothing
}

TEST(Net, RoadsBecomeTransitionsAndBuildDerivesConflicts) {
  Testing::Build_Roads({{Road_Kind::One_Way, 0, 1},
                        {Road_Kind::One_Way, 0, 2},
                        {Road_Kind::One_Lane, 3, 4},
                        {Road_Kind::One_Way, 6, 5},
                        {Road_Kind::One_Way, 7, 5},
                        {Road_Kind::Two_Lanes, 9, 10},
                        {Road_Kind::One_Way, 8, 8}});
  // Road k owns transitions 2k (first end to second) and 2k + 1 (back, two-way roads only).
  EXPECT_EQ(PetriNet::Pre(0, 0), 1.0f);
  EXPECT_EQ(PetriNet::Post(1, 0), 1.0f);
  EXPECT_EQ(PetriNet::Pre(3, 4), 1.0f);
  EXPECT_EQ(PetriNet::Post(4, 4), 1.0f);
  EXPECT_EQ(PetriNet::Pre(4, 5), 1.0f);
  EXPECT_EQ(PetriNet::Post(3, 5), 1.0f);
  EXPECT_EQ(PetriNet::Pre(10, 11), 1.0f);
  EXPECT_EQ(PetriNet::Post(9, 11), 1.0f);
  for (int p = 0; p < 12; ++p) {
    EXPECT_EQ(PetriNet::Pre(p, 1), 0.0f);  // one-way roads have no way back
    EXPECT_EQ(PetriNet::Post(p, 3), 0.0f);
    EXPECT_EQ(PetriNet::C(p, 12), 0.0f) << "the road from 8 to 8 moves nothing";
  }
  EXPECT_EQ(PetriNet::Pre(8, 12), 1.0f);
  EXPECT_EQ(PetriNet::Post(8, 12), 1.0f);
  EXPECT_EQ(PetriNet::C(0, 0), -1.0f);
  EXPECT_EQ(PetriNet::C(1, 0), 1.0f);
  EXPECT_EQ(PetriNet::C(10, 11), -1.0f);
  EXPECT_EQ(PetriNet::C(9, 11), 1.0f);

  EXPECT_EQ(Constraints(0), std::vector<int>{2});  // leaving the same place
  EXPECT_EQ(Constraints(2), std::vector<int>{0});
  EXPECT_EQ(Constraints(4), std::vector<int>{5});  // the two directions of one lane
  EXPECT_EQ(Constraints(5), std::vector<int>{4});
  EXPECT_EQ(Constraints(6), std::vector<int>{8});  // entering the same place
  EXPECT_EQ(Constraints(8), std::vector<int>{6});
  EXPECT_TRUE(Constraints(10).empty());  // two lanes allow both ways at once
  EXPECT_TRUE(Constraints(11).empty());
  EXPECT_TRUE(Constraints(1).empty());
  EXPECT_TRUE(Constraints(12).empty());

  // A second build adds nothing twice.
  Mova::Environment_Build();
  EXPECT_EQ(Constraints(0), std::vector<int>{2});
  EXPECT_EQ(Constraints(4), std::vector<int>{5});

  // Cleaning empties Pre, Post and the conflicts but leaves C until the next build.
  Mova::Environment_Clean();
  EXPECT_EQ(PetriNet::Pre(0, 0), 0.0f);
  EXPECT_TRUE(Constraints(0).empty());
  EXPECT_TRUE(Constraints(4).empty());
  EXPECT_EQ(PetriNet::C(0, 0), -1.0f);
  Mova::Environment_Build();
  EXPECT_EQ(PetriNet::C(0, 0), 0.0f);
  Mova::Reset_All();
}

TEST(Net, FiringBuildersCountInBinaryAndLeaveConflictsOut) {
  Mova::Reset_All();
  using List = std::vector<std::vector<int>>;
  EXPECT_EQ(Members(PetriNet::Activated_Firings(F({7, 2}))), (List{{2}, {7}}));
  EXPECT_TRUE(PetriNet::Activated_Firings(F({})).empty());
  EXPECT_TRUE(PetriNet::Feasible_Firings(F({})).empty());
  EXPECT_EQ(Members(PetriNet::Feasible_Firings(F({3}))), (List{{3}}));
  EXPECT_EQ(Members(PetriNet::Feasible_Firings(F({1, 4, 7}))),
            (List{{1}, {4}, {1, 4}, {7}, {1, 7}, {4, 7}, {1, 4, 7}}));

  // Only the conflicts listed for the transition being added are consulted.
  PetriNet::Add_Constraint(5, 9);
  EXPECT_EQ(Members(PetriNet::Feasible_Firings(F({2, 5, 9}))),
            (List{{2}, {5}, {2, 5}, {9}, {2, 9}, {5, 9}, {2, 5, 9}}));
  PetriNet::Add_Constraint(9, 5);
  EXPECT_EQ(Members(PetriNet::Feasible_Firings(F({2, 5, 9}))),
            (List{{2}, {5}, {2, 5}, {9}, {2, 9}}));
  PetriNet::Add_Constraint(0, 1);
  PetriNet::Add_Constraint(1, 0);
  EXPECT_EQ(Members(PetriNet::Feasible_Firings(F({0, 1}))), (List{{0}, {1}}));
  EXPECT_EQ(PetriNet::Feasible_Firings(F({29, 0})).size(), 3u);
  EXPECT_EQ(Members(PetriNet::Feasible_Firings(F({29, 0})).back()), (std::vector<int>{0, 29}));
  Mova::Reset_All();
}

TEST(SimpleNet, ActivationAndFiringOfSingleTokens) {
  Testing::Build_Roads(
      {{Road_Kind::One_Way, 1, 4}, {Road_Kind::One_Lane, 2, 3}, {Road_Kind::One_Way, 5, 5}});
  EXPECT_EQ(Members(Simple::Activated_Transitions(Tokens({1}))), std::vector<int>{0});
  EXPECT_EQ(Simple::Fire(Tokens({1}), F({0})), Tokens({4}));
  EXPECT_TRUE(Simple::Activated_Transitions(Tokens({4})).Empty());  // never backwards
  EXPECT_EQ(Members(Simple::Activated_Transitions(Tokens({3}))), std::vector<int>{3});
  EXPECT_EQ(Simple::Fire(Tokens({3}), F({3})), Tokens({2}));
  EXPECT_TRUE(Simple::Activated_Transitions(Simple::Empty_Marking()).Empty());
  EXPECT_EQ(Members(Simple::Activated_Transitions(Tokens({5}))), std::vector<int>{4});
  Simple::PN_Marking fired{};
  const std::vector<std::string> records =
      Logged([&fired] { fired = Simple::Fire(Tokens({5}), F({4})); });
  EXPECT_EQ(fired, Tokens({5}));
  EXPECT_EQ(records,
            std::vector<std::string>{"INFORMATIONAL : Probably same road origin and destiny."});
  Mova::Reset_All();
}

struct Successor {
  int key;
  std::vector<int> firing;
  bool operator==(const Successor&) const = default;
};

std::vector<Successor> Successors_Of(int key) {
  const SGraph::PN_Vertex v = SGraph::Get_Vertex(key);
  std::vector<Successor> result;
  for (int i = 0; i < v.PN_SUCCESSORS.count; ++i) {
    const SGraph::PN_Successor& s = v.PN_SUCCESSORS.items[static_cast<std::size_t>(i)];
    result.push_back({s.SUCCESSOR_KEY, Members(s.FIRING)});
  }
  return result;
}

TEST(SimpleGraph, OneVertexPerPositionWithSuccessorsByAscendingTransition) {
  using S = std::vector<Successor>;
  Testing::Build_Roads({{Road_Kind::One_Way, 1, 4}, {Road_Kind::One_Lane, 4, 2}});
  EXPECT_EQ(SGraph::Graph_Length(), 12);
  EXPECT_EQ(Successors_Of(1), (S{{4, {0}}}));
  EXPECT_EQ(Successors_Of(4), (S{{2, {2}}}));
  EXPECT_EQ(Successors_Of(2), (S{{4, {3}}}));
  for (int p : {0, 3, 5, 6, 7, 8, 9, 10, 11}) EXPECT_TRUE(Successors_Of(p).empty()) << p;
  // The build's distance searches leave parents behind; a fresh graph has none.
  SGraph::Build_Graph();
  for (int p = 0; p < 12; ++p) {
    const SGraph::PN_Vertex v = SGraph::Get_Vertex(p);
    EXPECT_EQ(v.PN_MARKING, Tokens({p}));
    EXPECT_EQ(v.PARENT, -1);
    EXPECT_EQ(v.F, 32767);
  }
  EXPECT_THROW(SGraph::Get_Vertex(12), Utils::Range_Error);
  EXPECT_THROW(SGraph::Get_Vertex(-1), Utils::Range_Error);

  Testing::Build_Roads({{Road_Kind::One_Way, 3, 5}, {Road_Kind::Two_Lanes, 1, 3}});
  EXPECT_EQ(Successors_Of(3), (S{{5, {0}}, {1, {3}}}));
  EXPECT_EQ(Successors_Of(1), (S{{3, {2}}}));

  Testing::Build_Roads({{Road_Kind::One_Way, 1, 4}, {Road_Kind::One_Way, 1, 4}});
  EXPECT_EQ(Successors_Of(1), (S{{4, {0}}, {4, {2}}}));

  Testing::Build_Roads({{Road_Kind::One_Way, 5, 5}});
  EXPECT_EQ(Successors_Of(5), (S{{5, {0}}}));

  Testing::Build_Roads({});
  EXPECT_EQ(SGraph::Graph_Length(), 12);
  for (int p = 0; p < 12; ++p) EXPECT_TRUE(Successors_Of(p).empty()) << p;

  // Search values: Reset_Distances restores F only; a new build restores both.
  SGraph::Replace_Values(7, 3, 5);
  SGraph::Reset_Distances();
  EXPECT_EQ(SGraph::Get_Vertex(7).PARENT, 3);
  EXPECT_EQ(SGraph::Get_Vertex(7).F, 32767);
  SGraph::Build_Graph();
  EXPECT_EQ(SGraph::Get_Vertex(7).PARENT, -1);

  Mova::Reset_All();
  EXPECT_THROW(SGraph::Get_Vertex(0), Utils::Range_Error);  // nothing before the first build

  EXPECT_EQ(SGraph::Compute_Key_PN(Tokens({0})), 0);
  EXPECT_EQ(SGraph::Compute_Key_PN(Tokens({11})), 11);
  EXPECT_EQ(SGraph::Compute_Key_PN(Tokens({3, 7})), 7);
  int empty_key = 0;
  const std::vector<std::string> records =
      Logged([&empty_key] { empty_key = SGraph::Compute_Key_PN(Simple::Empty_Marking()); });
  EXPECT_EQ(empty_key, -1);
  EXPECT_EQ(records,
            std::vector<std::string>{"ERROR : Key_PN not correctly computed (empty Marking)."});
}

TEST(ColouredNet, ConsistencyBackwardStepAndLabel) {
  namespace C = PetriNet::Coloured;
  Mova::Reset_All();
  EXPECT_FALSE(C::Is_Consistent(C::Empty_Marking()));
  EXPECT_FALSE(C::Is_Consistent(Vehicles(0, 1, -1)));
  CPN_Marking twice = Vehicles(0, 1, 2);
  twice[5] = Colour::V1;
  EXPECT_FALSE(C::Is_Consistent(twice));
  EXPECT_TRUE(C::Is_Consistent(Vehicles(11, 0, 6)));

  // One-way road from 1 to 4.
  Testing::Build_Roads({{Road_Kind::One_Way, 1, 4}});
  EXPECT_EQ(Members(C::Reverse_Activated_Transitions(Vehicles(4, 0, 9))), std::vector<int>{0});
  C::Firing_Outcome o = C::Reverse_Fire(Vehicles(4, 0, 9), F({0}));
  EXPECT_EQ(o.Marking, Vehicles(1, 0, 9));
  EXPECT_EQ(o.Movements, 1);
  o = C::Reverse_Fire(Vehicles(4, 1, 9), F({0}));  // steps back onto vehicle 2
  EXPECT_FALSE(C::Is_Consistent(o.Marking));
  EXPECT_TRUE(C::Reverse_Activated_Transitions(Vehicles(1, 0, 9)).Empty());

  // Two lanes between 2 and 3: a swap in one step.
  Testing::Build_Roads({{Road_Kind::Two_Lanes, 2, 3}});
  EXPECT_EQ(Members(C::Reverse_Activated_Transitions(Vehicles(2, 3, 9))), (std::vector<int>{0, 1}));
  o = C::Reverse_Fire(Vehicles(2, 3, 9), F({0, 1}));
  EXPECT_EQ(o.Marking, Vehicles(3, 2, 9));
  EXPECT_EQ(o.Movements, 2);
  Testing::Build_Roads({{Road_Kind::One_Lane, 2, 3}});
  EXPECT_EQ(
      Members(PetriNet::Feasible_Firings(C::Reverse_Activated_Transitions(Vehicles(2, 3, 9)))),
      (std::vector<std::vector<int>>{{0}, {1}}));

  // A chain 1 -> 2 -> 3 with vehicles following each other.
  Testing::Build_Roads({{Road_Kind::One_Way, 1, 2}, {Road_Kind::One_Way, 2, 3}});
  o = C::Reverse_Fire(Vehicles(2, 3, 9), F({0, 2}));
  EXPECT_EQ(o.Marking, Vehicles(1, 2, 9));
  EXPECT_EQ(o.Movements, 2);
  o = C::Reverse_Fire(Vehicles(2, 3, 9), F({0}));
  EXPECT_EQ(o.Marking, Vehicles(1, 3, 9));  // place 2 left empty, vehicle 2 stays
  EXPECT_EQ(o.Movements, 1);
  o = C::Reverse_Fire(Vehicles(2, 3, 9), F({2}));
  EXPECT_FALSE(C::Is_Consistent(o.Marking));

  // A road from a place to itself is skipped.
  Testing::Build_Roads({{Road_Kind::One_Way, 6, 6}});
  o = C::Reverse_Fire(Vehicles(6, 0, 9), F({0}));
  EXPECT_EQ(o.Marking, Vehicles(6, 0, 9));
  EXPECT_EQ(o.Movements, 0);

  EXPECT_EQ(C::Label(Vehicles(5, 7, 11)), "01:05,02:07,03:11");
  EXPECT_EQ(C::Label(Vehicles(0, 10, 9)), "01:00,02:10,03:09");
  EXPECT_EQ(C::Label(twice), "01:05,02:01,03:02");  // the highest place counts
  EXPECT_EQ(C::Label(C::Empty_Marking()).size(), 17u);
  Mova::Reset_All();
}

}  // namespace
