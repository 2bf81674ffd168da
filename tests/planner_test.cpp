// The mission planner in-process: cost arithmetic, queue order, blocked steps, the bounded
// plan walk, the move bookkeeping, the limits and the coloured graph's dumps.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "controller/mova.hpp"
#include "petrinet/petrinet-coloured.hpp"
#include "reachability/reachabilitygraph-coloured.hpp"
#include "search/search-dstarlite.hpp"
#include "support/markings.hpp"
#include "support/plan_checker.hpp"
#include "support/scratch.hpp"
#include "support/transcript.hpp"
#include "utils/utils-logger.hpp"
#include "utils/utils-types.hpp"

namespace {

namespace Planner = Search::DStarLite;
namespace Graph = ReachabilityGraph::Coloured;
using PetriNet::Coloured::Colour;
using PetriNet::Coloured::CPN_Marking;

CPN_Marking M(int v1, int v2, int v3) {
  return Testing::Vehicles(v1, v2, v3);
}

using Testing::Road_Kind;

// Every test starts from the state at program start, in its own working directory (the log
// file lands there), without the pause after each computation.
class PlannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Mova::Reset_All();
    Planner::Set_Pause(false);
  }
  void TearDown() override { Mova::Reset_All(); }

  static void Place(const CPN_Marking& current, const CPN_Marking& goal) {
    Planner::Set_Current_Marking(current);
    Planner::Set_Goal_Marking(goal);
  }
  std::string Log_Text() const { return Testing::Read_File(scratch_.File("mova.log")); }

  Testing::Scratch_Directory scratch_{Testing::Scratch_Directory::Mode::Enter};
};

const Utils::Obstacles_List No_Obstacles;

void Worked_Example() {
  Testing::Build_Roads({{Road_Kind::One_Lane, 0, 1}});
  Planner::Set_Current_Marking(M(0, 5, 9));
  Planner::Set_Goal_Marking(M(1, 5, 9));
}

// One-lane line 0-1-2-3, vehicle 1 from 0 to 3, vehicles 2 and 3 on positions without roads.
void Line() {
  Testing::Build_Roads(
      {{Road_Kind::One_Lane, 0, 1}, {Road_Kind::One_Lane, 1, 2}, {Road_Kind::One_Lane, 2, 3}});
  Planner::Set_Current_Marking(M(0, 5, 9));
  Planner::Set_Goal_Marking(M(3, 5, 9));
}

Graph::CPN_Vertex Vertex(const CPN_Marking& m) {
  return Graph::Get_Vertex(Graph::Compute_Key_CPN(m));
}

TEST_F(PlannerTest, WorkedExampleCostsWrapAndTheMoveAddsTheTableDistances) {
  Worked_Example();
  // Ranks worked out by hand: V1 on 0, V2 on 5, V3 on 9 is 990 + 30 + 2.
  ASSERT_EQ(Graph::Compute_Key_CPN(M(0, 5, 9)), 1022);
  ASSERT_EQ(Graph::Compute_Key_CPN(M(1, 5, 9)), 752);
  EXPECT_TRUE(Planner::Compute_Solution(No_Obstacles));
  const Utils::Search_Statistics s = Planner::Get_Statistics();
  EXPECT_EQ(s.Evaluations, 1);
  EXPECT_EQ(s.Queue_Size, 1);
  EXPECT_EQ(s.RAM_Usage, 0);
  EXPECT_EQ(Planner::Queue_Length(), 1);
  // The goal keeps G 32767 and links to itself; one move from it wraps to G 0, and the
  // heuristic 0 + 32767 + 32767 wraps to 32766.
  const Graph::CPN_Vertex goal = Vertex(M(1, 5, 9));
  EXPECT_EQ(goal.G, 32767);
  EXPECT_EQ(goal.F, 32767);
  EXPECT_EQ(goal.PARENT, 752);
  const Graph::CPN_Vertex current = Vertex(M(0, 5, 9));
  EXPECT_EQ(current.G, 0);
  EXPECT_EQ(current.F, 32766);
  EXPECT_EQ(current.H, 32767);  // never written by the search
  EXPECT_EQ(current.PARENT, 752);
  EXPECT_EQ(Planner::Get_Next_Marking(), M(1, 5, 9));
  EXPECT_EQ(Planner::Get_Number_Of_Steps(), 1);

  EXPECT_EQ(Planner::Get_Key_Modifier(), 0);
  EXPECT_TRUE(Planner::Moved_Forward());
  EXPECT_EQ(Planner::Get_Key_Modifier(), 32767);  // 1 + 32767 + 32767 modulo 32768
  EXPECT_EQ(Planner::Get_Current_Marking(), M(1, 5, 9));
  EXPECT_EQ(Planner::Get_Next_Marking(), M(1, 5, 9));
  EXPECT_TRUE(Planner::Get_Solution_Found());
  // Setting the same goal again still resets the modifier.
  Planner::Set_Goal_Marking(M(1, 5, 9));
  EXPECT_EQ(Planner::Get_Key_Modifier(), 0);
}

TEST_F(PlannerTest, EveryGIsOneLessThanTheMovesFromTheGoal) {
  Line();
  ASSERT_TRUE(Planner::Compute_Solution(No_Obstacles));
  EXPECT_EQ(Vertex(M(2, 5, 9)).G, 0);
  EXPECT_EQ(Vertex(M(1, 5, 9)).G, 1);
  EXPECT_EQ(Vertex(M(0, 5, 9)).G, 2);
  // The goal was improved from (2, 5, 9): one move further, F = 1 + heuristic 1.
  EXPECT_EQ(Vertex(M(3, 5, 9)).G, 1);
  EXPECT_EQ(Vertex(M(3, 5, 9)).F, 2);
  EXPECT_EQ(Vertex(M(3, 5, 9)).PARENT, Graph::Compute_Key_CPN(M(2, 5, 9)));

  // A swap on a two-lane road moves two vehicles in one step: G = 2 - 1.
  Testing::Build_Roads({{Road_Kind::Two_Lanes, 0, 1}});
  Place(M(0, 1, 9), M(1, 0, 9));
  ASSERT_TRUE(Planner::Compute_Solution(No_Obstacles));
  EXPECT_EQ(Vertex(M(0, 1, 9)).G, 1);
  EXPECT_EQ(Vertex(M(0, 1, 9)).F, 0);  // 1 + (0 + 0 + 32767)
}

TEST_F(PlannerTest, HeuristicSumsTheTableModulo32768AndRefusesBadEntries) {
  Planner::Set_Current_Marking(M(0, 1, 2));
  Planner::Set_Distance(3, 0, 32767);
  Planner::Set_Distance(4, 1, 1);
  Planner::Set_Distance(5, 2, 2);
  EXPECT_EQ(Planner::Heuristic(M(3, 4, 5)), 2);
  EXPECT_EQ(Planner::Marking_Distance(M(3, 4, 5), M(0, 1, 2)), 2);
  EXPECT_EQ(Planner::Get_Distance(3, 0), 32767);
  Planner::Set_Distance(4, 1, -1);
  EXPECT_THROW(Planner::Heuristic(M(3, 4, 5)), Utils::Range_Error);
  Planner::Set_Distance(4, 1, 32768);
  EXPECT_THROW(Planner::Heuristic(M(3, 4, 5)), Utils::Range_Error);
  EXPECT_EQ(Planner::Get_Distance(4, 1), 32768);  // the query has the wider range
  EXPECT_THROW(Planner::Set_Distance(12, 0, 1), Utils::Range_Error);
  CPN_Marking missing = M(3, 4, 5);
  missing[5] = Colour::EMPTY;
  EXPECT_THROW(Planner::Heuristic(missing), Utils::Range_Error);
  // Towards a marking that misses a vehicle there is no sum either, whatever the table holds.
  EXPECT_THROW(Planner::Marking_Distance(M(3, 4, 5), missing), Utils::Range_Error);
}

TEST_F(PlannerTest, TableIndexesAndObstacleEndsAreCheckedOnEverySide) {
  for (const auto& [from, to] : {std::pair{-1, 0}, {12, 0}, {0, -1}, {0, 12}}) {
    SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
    EXPECT_THROW(Planner::Set_Distance(from, to, 1), Utils::Range_Error);
    EXPECT_THROW(Planner::Get_Distance(from, to), Utils::Range_Error);
    // An obstacle with that end fails the check and every computation that checks a step.
    EXPECT_THROW(Planner::Is_Blocked(M(2, 5, 9), M(3, 5, 9), {{from, to}}), Utils::Range_Error);
    Testing::Build_Roads({{Road_Kind::Two_Lanes, 0, 1}});
    Place(M(0, 5, 9), M(1, 5, 9));
    EXPECT_THROW(Planner::Compute_Solution({{from, to}}), Utils::Range_Error);
    Planner::Reset_Search();
  }
  EXPECT_EQ(Planner::Get_Distance(11, 11), 32767);
}

TEST_F(PlannerTest, QueueReleasesSmallestFFirstAndEqualFInInsertionOrder) {
  // Everyone on the goal, two-lane roads 0-1, 5-6, 9-10. The goal's one-move predecessors all
  // get F 1 and are queued in list order: vehicle 3 stepped to 10 first. Taking that one next
  // finds the goal again as its successor, so the plan runs over (1, 5, 10).
  Testing::Build_Roads(
      {{Road_Kind::Two_Lanes, 0, 1}, {Road_Kind::Two_Lanes, 5, 6}, {Road_Kind::Two_Lanes, 9, 10}});
  Place(M(1, 5, 9), M(1, 5, 9));
  ASSERT_TRUE(Planner::Compute_Solution(No_Obstacles));
  EXPECT_EQ(Planner::Get_Statistics().Evaluations, 2);
  EXPECT_EQ(Planner::Get_Next_Marking(), M(1, 5, 10));
  EXPECT_EQ(Vertex(M(1, 5, 9)).PARENT, Graph::Compute_Key_CPN(M(1, 5, 10)));
  EXPECT_EQ(Planner::Get_Number_Of_Steps(), 0);
  // 7 queued from the goal, one taken, the goal queued again.
  EXPECT_EQ(Planner::Get_Statistics().Queue_Size, 7);
}

TEST_F(PlannerTest, BlockedStepsInEitherDirectionAndEveryObstacleIsChecked) {
  const CPN_Marking a = M(2, 5, 9);
  const CPN_Marking b = M(3, 5, 9);
  EXPECT_TRUE(Planner::Is_Blocked(a, b, {{2, 3}}));
  EXPECT_TRUE(Planner::Is_Blocked(a, b, {{3, 2}}));
  EXPECT_TRUE(Planner::Is_Blocked(b, a, {{2, 3}}));
  EXPECT_FALSE(Planner::Is_Blocked(a, b, {{2, 4}, {5, 6}}));
  EXPECT_FALSE(Planner::Is_Blocked(a, b, {}));
  // A vehicle standing on an obstacle's end is not blocked by it.
  EXPECT_FALSE(Planner::Is_Blocked(M(2, 5, 9), M(1, 5, 9), {{5, 6}}));
  // The list is examined to its end, also after a hit.
  EXPECT_THROW(Planner::Is_Blocked(a, b, {{2, 3}, {12, 0}}), Utils::Range_Error);
}

TEST_F(PlannerTest, MarkingsWithAColourOfNoVehicleAreRefusedWhereTheyEnter) {
  CPN_Marking odd = M(1, 5, 9);
  odd[4] = static_cast<Colour>(4);
  Place(M(0, 5, 9), M(2, 5, 9));
  EXPECT_THROW(Planner::Set_Current_Marking(odd), Utils::Range_Error);
  EXPECT_THROW(Planner::Set_Goal_Marking(odd), Utils::Range_Error);
  EXPECT_EQ(Planner::Get_Current_Marking(), M(0, 5, 9));
  EXPECT_EQ(Planner::Get_Goal_Marking(), M(2, 5, 9));

  EXPECT_THROW(Graph::Init_Vertex(odd), Utils::Range_Error);
  EXPECT_THROW(Graph::Compute_Successors(odd), Utils::Range_Error);
  EXPECT_EQ(Graph::Graph_Length(), 0);
  const Graph::Key_CPN key = Graph::Init_Vertex(M(1, 5, 9));
  Graph::CPN_Vertex v = Graph::Get_Vertex(key);
  v.CPN_MARKING = odd;
  v.PARENT = 7;
  EXPECT_THROW(Graph::Replace_Vertex(key, v), Utils::Range_Error);
  EXPECT_EQ(Graph::Get_Vertex(key).CPN_MARKING, M(1, 5, 9));
  EXPECT_EQ(Graph::Get_Vertex(key).PARENT, key);
}

TEST_F(PlannerTest, PlanWalkThatNeverReachesTheGoalRaisesRangeError) {
  Worked_Example();
  ASSERT_TRUE(Planner::Compute_Solution(No_Obstacles));
  const Graph::Key_CPN current = Graph::Compute_Key_CPN(M(0, 5, 9));
  Graph::CPN_Vertex v = Graph::Get_Vertex(current);
  v.PARENT = current;  // a chain that loops without the goal
  Graph::Replace_Vertex(current, v);
  EXPECT_THROW(Planner::Get_Number_Of_Steps(), Utils::Range_Error);
  // The step walk of such a loop still answers, however far.
  EXPECT_EQ(Planner::Get_Step_Marking(1000000), M(0, 5, 9));
  EXPECT_EQ(Planner::Get_Step_Marking(-1), M(0, 5, 9));
}

TEST_F(PlannerTest, StepWalkIntoALoopWithATailGoesRoundTheLoop) {
  // The plan 0 -> 1 -> 2 -> 3 of vehicle 1, with the goal linked back to the first step: a tail
  // of one link and a loop of three. Steps far beyond the graph's size land where walking link
  // by link would.
  Line();
  ASSERT_TRUE(Planner::Compute_Solution(No_Obstacles));
  const CPN_Marking plan[] = {M(0, 5, 9), M(1, 5, 9), M(2, 5, 9), M(3, 5, 9)};
  for (std::int64_t n = 0; n < 4; ++n) EXPECT_EQ(Planner::Get_Step_Marking(n), plan[n]);
  const Graph::Key_CPN goal = Graph::Compute_Key_CPN(plan[3]);
  Graph::CPN_Vertex v = Graph::Get_Vertex(goal);
  v.PARENT = Graph::Compute_Key_CPN(plan[1]);
  Graph::Replace_Vertex(goal, v);
  const std::int64_t size = Graph::Graph_Length();
  for (std::int64_t n = 1; n < 3 * size + 5; ++n)
    ASSERT_EQ(Planner::Get_Step_Marking(n), plan[1 + (n - 1) % 3]) << "step " << n;
  EXPECT_EQ(Planner::Get_Step_Marking(1000000000), plan[1 + (1000000000 - 1) % 3]);
  EXPECT_EQ(Planner::Get_Number_Of_Steps(), 3);
}

TEST_F(PlannerTest, UnlinkedCurrentMarkingDoesNotCountAndTheSearchGoesOn) {
  // Position 0 lies on no road cycle: the current marking met as the goal's first-level
  // successor costs 0 + (32767 + 0 + 0) = 32767, is not improved and stays unlinked. Reached
  // again through (1, 5, 10) with two moves it is improved and linked.
  Testing::Plan_Problem problem;
  problem.roads = {
      {Road_Kind::One_Way, 0, 1}, {Road_Kind::Two_Lanes, 5, 6}, {Road_Kind::Two_Lanes, 9, 10}};
  problem.start = {0, 5, 9};
  problem.goal = {1, 5, 9};
  Testing::Build_Roads(problem.roads);
  Place(M(0, 5, 9), M(1, 5, 9));
  ASSERT_TRUE(Planner::Compute_Solution(No_Obstacles));
  EXPECT_EQ(Planner::Get_Statistics().Evaluations, 2);
  EXPECT_EQ(Planner::Get_Next_Marking(), M(1, 5, 10));
  const Graph::CPN_Vertex current = Vertex(M(0, 5, 9));
  EXPECT_EQ(current.G, 2);
  EXPECT_EQ(current.F, 1);
  EXPECT_EQ(current.PARENT, Graph::Compute_Key_CPN(M(1, 5, 10)));
  EXPECT_EQ(Planner::Get_Number_Of_Steps(), 2);
  EXPECT_EQ(Testing::Check_Plan(problem, {{0, 5, 9}, {1, 5, 10}, {1, 5, 9}}), "");
  EXPECT_EQ(Planner::Get_Step_Marking(1), M(1, 5, 10));
  EXPECT_EQ(Planner::Get_Step_Marking(2), M(1, 5, 9));
}

TEST_F(PlannerTest, LoopOfLinksFromModularCostsIsNotReportedAsAPlan) {
  // Vehicles 2 and 3 stand where no road cycle passes, so every heuristic wraps. (0, 11, 10)
  // is queued from the goal with F 32766; its predecessor (5, 11, 10) gets F 0 and, expanded,
  // offers (0, 11, 10) the wrapped F 2 + 32766 = 0: it is improved from its own descendant.
  // The current marking is then linked to (5, 11, 10), whose links swing between the two
  // without the goal. That link is no plan: the search must not answer TRUE on it.
  Testing::Build_Roads({{Road_Kind::One_Way, 6, 2},
                        {Road_Kind::Two_Lanes, 7, 0},
                        {Road_Kind::One_Lane, 0, 5},
                        {Road_Kind::One_Way, 9, 11}});
  Place(M(0, 9, 10), M(7, 11, 10));
  // The queue then runs empty without another link to the current marking.
  EXPECT_FALSE(Planner::Compute_Solution(No_Obstacles));
  EXPECT_EQ(Planner::Get_Statistics().Evaluations, 8);
  const Graph::Key_CPN a = Graph::Compute_Key_CPN(M(5, 11, 10));
  const Graph::Key_CPN b = Graph::Compute_Key_CPN(M(0, 11, 10));
  EXPECT_EQ(Graph::Get_Vertex(b).PARENT, a);
  EXPECT_EQ(Graph::Get_Vertex(a).PARENT, b);
  EXPECT_EQ(Planner::Get_Number_Of_Steps(), 0);
  EXPECT_EQ(Planner::Get_Next_Marking(), PetriNet::Coloured::Empty_Marking());
}

TEST_F(PlannerTest, CurrentMarkingMissingAVehicleMakesNoSearch) {
  Worked_Example();
  CPN_Marking missing = M(0, 5, 9);
  missing[5] = Colour::EMPTY;
  Planner::Set_Current_Marking(missing);
  Planner::Set_Statistics({7, 5, 1.0f, 3, 4});
  EXPECT_FALSE(Planner::Compute_Solution(No_Obstacles));
  const Utils::Search_Statistics s = Planner::Get_Statistics();
  EXPECT_EQ(s.Evaluations, 0);
  EXPECT_EQ(s.Time_Per_Evaluation, 0.0f);
  EXPECT_EQ(s.RAM_Usage, 0);
  EXPECT_EQ(s.Queue_Size, 0);
  EXPECT_EQ(Graph::Graph_Length(), 0);
}

TEST_F(PlannerTest, ListsLeftByAGoalMissingAVehicleHonourObstacles) {
  // A goal without vehicle 2 leaves its vertex and its predecessors' lists in the graph; the
  // next goal's search meets them without a reset. On the ring 0-5-6-7-8-0 with the road 0-5
  // blocked, vehicle 3 goes the long way round, as it does on a fresh graph.
  Testing::Build_Roads({{Road_Kind::Two_Lanes, 0, 5},
                        {Road_Kind::Two_Lanes, 5, 6},
                        {Road_Kind::Two_Lanes, 6, 7},
                        {Road_Kind::Two_Lanes, 7, 8},
                        {Road_Kind::Two_Lanes, 8, 0}});
  std::vector<std::pair<bool, std::int32_t>> results;
  for (const bool left_over : {true, false}) {
    Planner::Reset_Search();
    Place(M(5, 8, 0), M(6, -1, 5));
    if (left_over) {
      EXPECT_FALSE(Planner::Compute_Solution(No_Obstacles));
    }
    Place(M(5, 8, 0), M(6, 7, 5));
    const bool found = Planner::Compute_Solution({{5, 0}});
    results.emplace_back(found, Planner::Get_Number_Of_Steps());
  }
  EXPECT_EQ(results[0], results[1]);
  EXPECT_TRUE(results[0].first);
  Planner::Reset_Search();
  ASSERT_TRUE(Planner::Compute_Solution(No_Obstacles));
  EXPECT_GT(results[0].second, Planner::Get_Number_Of_Steps());
}

TEST_F(PlannerTest, DebugRecordsNameBothMarkingsAndTheSearchTime) {
  Worked_Example();
  Utils::Logger::Enable();
  Utils::Logger::Set_Threshold(Utils::Logger::Severity::DEBUG);
  ASSERT_TRUE(Planner::Compute_Solution(No_Obstacles));
  Utils::Logger::Reset();
  const std::string log = Log_Text();
  for (const char* record : {"DEBUG : Current Marking is:  ", "DEBUG : Goal Marking is:  ",
                             "DEBUG : Search Evaluations: ", "DEBUG : Search CPU time: "})
    EXPECT_NE(log.find(record), std::string::npos) << record << " missing in\n" << log;
  EXPECT_LT(log.find("Current Marking is:"), log.find("Goal Marking is:"));
  EXPECT_LT(log.find("Goal Marking is:"), log.find("Search CPU time:"));
}

TEST_F(PlannerTest, TimeoutIsMillisecondsInSinglePrecisionRoundedToNanoseconds) {
  EXPECT_EQ(Planner::Get_Timeout(), 1000000000);
  const std::pair<std::int32_t, std::int64_t> cases[] = {{1000, 1000000000}, {1, 1000000},
                                                         {250, 250000000},   {100, 100000001},
                                                         {1500, 1500000000}, {0, 0}};
  for (const auto& [milliseconds, nanoseconds] : cases) {
    Planner::Set_Timeout(milliseconds);
    EXPECT_EQ(Planner::Get_Timeout(), nanoseconds) << milliseconds << " ms";
  }
  Planner::Set_Max_RAM(0);
  EXPECT_EQ(Planner::Get_Max_RAM(), 0);
}

TEST_F(PlannerTest, MovesAlongTheLineAddTheirDistancesAndStopAtTheGoal) {
  Line();
  ASSERT_TRUE(Planner::Compute_Solution(No_Obstacles));
  const Utils::Cost expected_modifier[] = {32767, 32766, 32765};
  const bool expected_result[] = {false, false, true};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Planner::Moved_Forward(), expected_result[i]) << "move " << i;
    EXPECT_EQ(Planner::Get_Current_Marking(), M(i + 1, 5, 9));
    EXPECT_EQ(Planner::Get_Key_Modifier(), expected_modifier[i]);
    EXPECT_EQ(Planner::Get_Number_Of_Steps(), 2 - i);
  }
  // The goal vertex links back to (2, 5, 9).
  EXPECT_EQ(Planner::Get_Next_Marking(), M(2, 5, 9));
  EXPECT_TRUE(Planner::Moved_Forward());
  EXPECT_EQ(Planner::Get_Current_Marking(), M(3, 5, 9));
  EXPECT_EQ(Planner::Get_Key_Modifier(), 32765);
}

TEST_F(PlannerTest, ComputationEndedByALimitLeavesNothingToFollow) {
  Line();
  Planner::Set_Timeout(0);
  EXPECT_FALSE(Planner::Compute_Solution(No_Obstacles));
  EXPECT_FALSE(Planner::Get_Solution_Found());
  EXPECT_EQ(Planner::Get_Statistics().Evaluations, 1);
  EXPECT_FALSE(Planner::Moved_Forward());
  EXPECT_EQ(Planner::Get_Current_Marking(), M(0, 5, 9));
  EXPECT_EQ(Planner::Get_Key_Modifier(), 0);
  EXPECT_EQ(Planner::Get_Next_Marking(), PetriNet::Coloured::Empty_Marking());
  EXPECT_EQ(Planner::Get_Number_Of_Steps(), 0);
}

TEST_F(PlannerTest, GraphDumpsListVerticesSuccessorsAndParents) {
  Utils::Logger::Enable();
  EXPECT_EQ(Testing::Captured(Graph::Print_Graph), "\n\nPrinting CPN Graph Contents\n\n");
  EXPECT_NE(Log_Text().find(" : DAEMON : ERROR : Graph empty  \n"), std::string::npos);

  Worked_Example();  // builds from the start state: logging is off again
  Utils::Logger::Enable();
  ASSERT_TRUE(Planner::Compute_Solution(No_Obstacles));
  const std::string goal_vertex =
      "CPN Marking: \n01:01,02:05,03:09\n\nCPN Successors:\nNumber of successors:  1\n\n"
      "CPN Successor  1022    01:00,02:05,03:09\n\nCPN Parent:\n 752\n\n";
  // The current marking was never expanded: its successor list prints nothing.
  const std::string current_vertex =
      "CPN Marking: \n01:00,02:05,03:09\n\nCPN Successors:\n\nCPN Parent:\n 752\n\n";
  EXPECT_EQ(Testing::Captured([] { Graph::Print_Vertex(Vertex(M(1, 5, 9))); }), goal_vertex);
  EXPECT_EQ(Testing::Captured([] { Graph::Print_Vertex(Vertex(M(0, 5, 9))); }), current_vertex);

  const std::string goal_block =
      "\n-----------------\nCPN_Vertex:  752\n" + goal_vertex + "-----------------\n";
  const std::string current_block =
      "\n-----------------\nCPN_Vertex:  1022\n" + current_vertex + "-----------------\n";
  const std::string header = "\n\nPrinting CPN Graph Contents\n\n";
  const std::string graph = Testing::Captured(Graph::Print_Graph);
  EXPECT_TRUE(graph == header + goal_block + current_block ||
              graph == header + current_block + goal_block)
      << graph;

  const std::size_t before = Log_Text().size();
  EXPECT_EQ(Testing::Captured([] { Graph::Print_Successors({}); }), "");
  EXPECT_NE(Log_Text().find(" : DAEMON : ERROR : Successor list empty  \n", before),
            std::string::npos);
}

}  // namespace
