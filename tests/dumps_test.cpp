// The diagnostic dumps to standard output: matrices, markings, firings, constraints and both
// graphs.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "controller/mova.hpp"
#include "petrinet/math-linearalgebra.hpp"
#include "petrinet/petrinet-coloured.hpp"
#include "petrinet/petrinet-simple.hpp"
#include "petrinet/petrinet.hpp"
#include "reachability/reachabilitygraph-coloured.hpp"
#include "reachability/reachabilitygraph-simple.hpp"
#include "support/scratch.hpp"
#include "support/transcript.hpp"
#include "utils/utils-logger.hpp"

namespace {

using PetriNet::Firing;
using PetriNet::Coloured::Colour;

using Testing::Captured;

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(Dumps, MatrixImageAndTheNetMatrices) {
  const std::string zero_row = Repeat(" 0.00000E+00 ", 30) + "\n";
  const std::string zero_image = "( \n" + Repeat(zero_row, 12) + ")\n";
  const std::string image =
      Captured([] { Math::LinearAlgebra::Image(Math::LinearAlgebra::Zero_Matrix(12, 30)); });
  EXPECT_EQ(image, zero_image);
  EXPECT_EQ(std::count(image.begin(), image.end(), '\n'), 14);

  // Road 0 from 1 to 0: column 0 of C holds +1 on row 0 and -1 on row 1.
  Mova::Reset_All();
  Mova::Environment_Clean();
  Mova::Environment_Add_One_Way_Road(1, 0);
  Mova::Environment_Build();
  const std::string row0 = " 1.00000E+00 " + Repeat(" 0.00000E+00 ", 29) + "\n";
  const std::string row1 = "-1.00000E+00 " + Repeat(" 0.00000E+00 ", 29) + "\n";
  EXPECT_EQ(Captured([] { PetriNet::Show_C(); }),
            "C incidence matrix is:\n( \n" + row0 + row1 + Repeat(zero_row, 10) + ")\n\n");
  const std::string one_row = " 1.00000E+00 " + Repeat(" 0.00000E+00 ", 29) + "\n";
  EXPECT_EQ(Captured([] { PetriNet::Show_Pre(); }),
            "Pre matrix is:\n( \n" + zero_row + one_row + Repeat(zero_row, 10) + ")\n\n");
  EXPECT_EQ(Captured([] { PetriNet::Show_Post(); }),
            "Post matrix is:\n( \n" + one_row + Repeat(zero_row, 11) + ")\n\n");
  Mova::Reset_All();
}

TEST(Dumps, MarkingFiringAndConstraints) {
  PetriNet::Simple::PN_Marking m = PetriNet::Simple::Empty_Marking();
  m[0] = true;
  m[2] = true;
  EXPECT_EQ(Captured([&m] { PetriNet::Simple::Show_Marking(m); }),
            "Marking is:\n\n(TRUE FALSE TRUE " + Repeat("FALSE ", 9) + ")\n");

  Firing f;
  f.Set(1);
  f.Set(29);
  const std::string booleans = "FALSE TRUE " + Repeat("FALSE ", 27) + "TRUE ";
  EXPECT_EQ(Captured([f] { PetriNet::Show_Firing(f); }), "Firing is\n\n(" + booleans + ")\n");
  EXPECT_EQ(Captured([f] { PetriNet::Show_Firing_Line(f); }), " ( " + booleans + " ) \n");
  EXPECT_EQ(Captured([f] { PetriNet::Show_Activated_Transitions(f); }),
            "\nTransitions  1 29 activated \n");
  EXPECT_EQ(Captured([] { PetriNet::Show_Activated_Transitions(Firing{}); }),
            "\nTransitions  activated \nEmpty Firing\n");
  EXPECT_EQ(Captured([f] { PetriNet::Show_Activated_Firings(f); }),
            "Activated firings are:  1  29 \n");
  EXPECT_EQ(Captured([f] { PetriNet::Show_Feasible_Transitions(f); }),
            "Firing  1 feasible\nFiring  29 feasible\n");

  Mova::Reset_All();
  PetriNet::Add_Constraint(4, 5);
  PetriNet::Add_Constraint(4, 12);
  PetriNet::Add_Constraint(5, 4);
  std::string expected = "\nShowing constraints\n\n";
  for (int t = 0; t < 30; ++t) {
    expected += "\nConstraints for Transition " + Utils::Integer_Image(t) + ":  ";
    if (t == 4) expected += " 5   12  ";
    if (t == 5) expected += " 4  ";
    expected += "\n";
  }
  EXPECT_EQ(Captured([] { PetriNet::Show_Constraints(); }), expected);
  Mova::Reset_All();
}

TEST(Dumps, SimpleGraph) {
  Mova::Reset_All();
  EXPECT_EQ(Captured([] { ReachabilityGraph::Simple::Print_Graph(); }),
            "\n\nPrinting PN Graph contents \n\nPrinting done (Count =  0)\n\n");

  Mova::Environment_Clean();
  Mova::Environment_Add_Two_Way_Road_Two_Lanes(3, 7);
  Mova::Environment_Build();
  ReachabilityGraph::Simple::Build_Graph();  // without the parents the build's searches left
  const std::string dump = Captured([] { ReachabilityGraph::Simple::Print_Graph(); });
  EXPECT_EQ(dump.rfind("\n\nPrinting PN Graph contents \n\n", 0), 0u);
  EXPECT_TRUE(dump.ends_with("-----------\nPrinting done (Count =  12)\n\n"));
  for (int n = 1; n <= 12; ++n)
    EXPECT_NE(dump.find("\n-----------\n" + Utils::Integer_Image(n) + " - PN_Vertex: "),
              std::string::npos)
        << n;

  // The vertex of position 3 after a search from 7: its parent and its one successor.
  ReachabilityGraph::Simple::Replace_Values(3, 7, 1);
  const std::string vertex = Captured(
      [] { ReachabilityGraph::Simple::Print_Vertex(ReachabilityGraph::Simple::Get_Vertex(3)); });
  EXPECT_EQ(vertex, "PN Marking: \nMarking is:\n\n(" + Repeat("FALSE ", 3) + "TRUE " +
                        Repeat("FALSE ", 8) + ")\n\nPN Successors: \nPN Successor  7\n\n" +
                        "PN Parent: \n 7\n\n");
  EXPECT_NE(dump.find("PN_Vertex:  3\nPN Marking: \nMarking is:\n\n(FALSE FALSE FALSE TRUE "),
            std::string::npos);
  EXPECT_NE(dump.find("PN Successors: \nPN Successor  3\n\nPN Parent: \n-1\n\n-----------\n"),
            std::string::npos);
  Mova::Reset_All();
}

TEST(Dumps, ColouredGraphAndItsRecords) {
  const Testing::Scratch_Directory scratch(Testing::Scratch_Directory::Mode::Enter);
  Mova::Reset_All();
  Utils::Logger::Enable();

  const std::string empty = Captured([] { ReachabilityGraph::Coloured::Print_Graph(); });
  EXPECT_EQ(empty, "\n\nPrinting CPN Graph Contents\n\n");

  PetriNet::Coloured::CPN_Marking m = PetriNet::Coloured::Empty_Marking();
  m[0] = Colour::V1;
  m[1] = Colour::V2;
  m[2] = Colour::V3;
  ReachabilityGraph::Coloured::Init_Vertex(m);  // key 1089, no successors
  const std::string one = Captured([] { ReachabilityGraph::Coloured::Print_Graph(); });
  EXPECT_EQ(one,
            "\n\nPrinting CPN Graph Contents\n\n\n-----------------\nCPN_Vertex:  1089\n"
            "CPN Marking: \n01:00,02:01,03:02\n\nCPN Successors:\n\nCPN Parent:\n 1089\n\n"
            "-----------------\n");

  // Successors print their key and the label of their vertex.
  Testing::Build_Roads({{Testing::Road_Kind::One_Way, 3, 0}});
  Utils::Logger::Enable();
  ReachabilityGraph::Coloured::Init_Vertex(m);
  ReachabilityGraph::Coloured::Expand_Vertex(1089);
  const ReachabilityGraph::Coloured::CPN_Vertex root =
      ReachabilityGraph::Coloured::Get_Vertex(1089);
  m[0] = Colour::EMPTY;
  m[3] = Colour::V1;
  const int key = ReachabilityGraph::Coloured::Compute_Key_CPN(m);
  EXPECT_EQ(
      Captured([&root] { ReachabilityGraph::Coloured::Print_Successors(root.CPN_SUCCESSORS); }),
      "Number of successors:  1\n\nCPN Successor " + Utils::Integer_Image(key) +
          "    01:03,02:01,03:02\n");
  Utils::Logger::Reset();

  const std::string log = Testing::Read_File("mova.log");
  // The two empty dumps logged their errors.
  std::vector<std::string> errors;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);)
    if (line.find(" : ERROR : ") != std::string::npos) errors.push_back(line.substr(19));
  EXPECT_EQ(errors, (std::vector<std::string>{" : DAEMON : ERROR : Graph empty  ",
                                              " : DAEMON : ERROR : Successor list empty  "}));
  Mova::Reset_All();
}

}  // namespace
