// Whole missions through the real binary: exact answers and exact log records for planning,
// following the plan, limits, obstacles and the corner cases of the plan queries.
#include <gtest/gtest.h>

#include <regex>

#include "support/exchanges.hpp"
#include "support/plan_checker.hpp"
#include "support/plan_search.hpp"
#include "support/plan_transcript.hpp"
#include "support/transcript.hpp"

namespace {

using Testing::Plan_Problem;
using Testing::Road_Kind;
using Strings = std::vector<std::string>;
using Rows = std::vector<Testing::Exchange>;

std::string Image(int n) {
  std::string text = std::to_string(n);
  if (n >= 0) text.insert(text.begin(), ' ');
  return text;
}

template <class List>
List Join(List a, const List& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The CPU time of a solution record is checked for its shape and then replaced by "<t>".
Strings Normalised(const Strings& log) {
  static const std::regex cpu(R"(, CPU time:  [0-9]+\.[0-9]{9} \(s\)$)");
  Strings result;
  for (const std::string& record : log)
    result.push_back(std::regex_replace(record, cpu, ", CPU time: <t> (s)"));
  return result;
}

Strings Setup_Script(const Plan_Problem& p) {
  return Join({"SETTINGS_ENABLE_LOGGING"}, Testing::Problem_Script(p));
}

// The records of SETTINGS_ENABLE_LOGGING and Problem_Script for a network without roads from a
// position to itself.
Strings Setup_Log(const Plan_Problem& p) {
  Strings log = {"INFORMATIONAL : Logging enabled", "INFORMATIONAL : Cleaning environment"};
  for (const Testing::Road& r : p.roads) {
    const char* lead = r.kind == Road_Kind::One_Way    ? "Creating one-way road from"
                       : r.kind == Road_Kind::One_Lane ? "Creating two-way road (one lane) from"
                                                       : "Creating two-way road (two lanes) from";
    log.push_back(std::string("INFORMATIONAL : ") + lead + Image(r.first) + " to" +
                  Image(r.second));
  }
  log.push_back("INFORMATIONAL : Building Environment");
  log.push_back("INFORMATIONAL : PN engine and constraints initialized");
  log.push_back("INFORMATIONAL : Environment built");
  for (int v = 0; v < 3; ++v)
    log.push_back("INFORMATIONAL : Current for vehicle " + Image(v + 1) + " is " +
                  Image(p.start[static_cast<std::size_t>(v)]));
  for (int v = 0; v < 3; ++v)
    log.push_back("INFORMATIONAL : Goal for vehicle " + Image(v + 1) + " is " +
                  Image(p.goal[static_cast<std::size_t>(v)]));
  for (const Testing::Blocked_Road& o : p.obstacles)
    log.push_back("INFORMATIONAL : Adding obstacle from " + Image(o.origin) + " to " +
                  Image(o.destiny));
  return log;
}

const std::string Started = "INFORMATIONAL : Start mission";
const std::string Computing = "INFORMATIONAL : Computing solution ";
const std::string Solved = "INFORMATIONAL : Solution computed TRUE, CPU time: <t> (s)";
const std::string Unsolved = "INFORMATIONAL : Solution computed FALSE, CPU time: <t> (s)";
std::string Evaluations(int n) {
  return "INFORMATIONAL : Evaluations requested (" + Image(n) + " )";
}

// One one-lane road 0-1; vehicle 1 from 0 to 1, vehicles 2 and 3 on positions without roads.
Plan_Problem Worked_Example() {
  Plan_Problem p;
  p.roads = {{Road_Kind::One_Lane, 0, 1}};
  p.start = {0, 5, 9};
  p.goal = {1, 5, 9};
  return p;
}

// One-lane roads 0-1, 1-2, 2-3; vehicle 1 from one end to the other.
Plan_Problem Line() {
  Plan_Problem p;
  p.roads = {{Road_Kind::One_Lane, 0, 1}, {Road_Kind::One_Lane, 1, 2}, {Road_Kind::One_Lane, 2, 3}};
  p.start = {0, 5, 9};
  p.goal = {3, 5, 9};
  return p;
}

// Two routes from 0 to 3 on two-lane roads: 0-1-3 and 0-2-4-3.
Plan_Problem Two_Routes() {
  Plan_Problem p;
  p.roads = {{Road_Kind::Two_Lanes, 0, 1},
             {Road_Kind::Two_Lanes, 1, 3},
             {Road_Kind::Two_Lanes, 0, 2},
             {Road_Kind::Two_Lanes, 2, 4},
             {Road_Kind::Two_Lanes, 4, 3}};
  p.start = {0, 10, 11};
  p.goal = {3, 10, 11};
  return p;
}

struct Mission_Run {
  Testing::Transcript t;
  Strings log;
};

// The setup of `p` (which prints nothing), then the rows, each answer checked against its row.
Mission_Run Mission(const Plan_Problem& p, const Rows& rows) {
  const Strings setup = Setup_Script(p);
  Mission_Run r{Testing::Run_Exchanges(Join(Rows(setup.begin(), setup.end()), rows)), {}};
  r.log = Normalised(r.t.log);
  EXPECT_EQ(r.t.status, 0);
  EXPECT_EQ(r.t.err, "");
  return r;
}

TEST(MissionTranscript, WorkedExampleOneEvaluationAndTheGoalLinksToItself) {
  const Plan_Problem p = Worked_Example();
  const Mission_Run r = Mission(p, {{"MOVA_START_MISSION", "TRUE"},
                                    {"MONITORING_GET_EVALUATIONS", " 1"},
                                    {"MOVA_GET_NUM_STEPS", " 1"},
                                    {"VEHICLE_GET_NEXT_POS 1", " 1"},
                                    {"VEHICLE_GET_NEXT_POS 2", " 5"},
                                    {"VEHICLE_GET_STEP_POS 1 0", " 0"},
                                    {"VEHICLE_GET_STEP_POS 1 1", " 1"},
                                    {"VEHICLE_GET_STEP_POS 1 2", " 1"},
                                    {"VEHICLE_GET_STEP_POS 3 2", " 9"},
                                    {"VEHICLE_MOVED_FORWARD", "TRUE"},
                                    {"VEHICLE_GOAL_REACHED", "TRUE"},
                                    {"VEHICLE_GET_NEXT_POS 1", " 1"},
                                    {"MOVA_GET_NUM_STEPS", " 0"},
                                    {"VEHICLE_MOVED_FORWARD", "TRUE"}});
  // Step 2 lies past the goal: the goal vertex was never improved, so it repeats.
  EXPECT_EQ(r.log, Join(Setup_Log(p), {Started, Computing, Solved, Evaluations(1),
                                       "INFORMATIONAL : Goal already reached",
                                       "INFORMATIONAL : Goal already reached"}));
}

TEST(MissionTranscript, LineIsFollowedToTheGoalAndBeyond) {
  const Plan_Problem p = Line();
  const Mission_Run r =
      Mission(p, {{"MOVA_START_MISSION", "TRUE"},     {"MONITORING_GET_EVALUATIONS", " 3"},
                  {"MOVA_GET_NUM_STEPS", " 3"},       {"VEHICLE_GET_STEP_POS 1 0", " 0"},
                  {"VEHICLE_GET_STEP_POS 1 1", " 1"}, {"VEHICLE_GET_STEP_POS 1 2", " 2"},
                  {"VEHICLE_GET_STEP_POS 1 3", " 3"}, {"VEHICLE_GET_STEP_POS 1 4", " 2"},
                  {"VEHICLE_GET_STEP_POS 1 5", " 3"}, {"VEHICLE_GET_STEP_POS 2 4", " 5"},
                  {"VEHICLE_GET_NEXT_POS 1", " 1"},   {"VEHICLE_MOVED_FORWARD", "FALSE"},
                  {"MOVA_GET_NUM_STEPS", " 2"},       {"VEHICLE_GET_NEXT_POS 1", " 2"},
                  {"VEHICLE_MOVED_FORWARD", "FALSE"}, {"VEHICLE_GET_NEXT_POS 1", " 3"},
                  {"VEHICLE_GOAL_REACHED", "FALSE"},  {"VEHICLE_MOVED_FORWARD", "TRUE"},
                  {"VEHICLE_GOAL_REACHED", "TRUE"},   {"VEHICLE_GET_NEXT_POS 1", " 2"},
                  {"MOVA_GET_NUM_STEPS", " 0"},       {"VEHICLE_MOVED_FORWARD", "TRUE"},
                  {"VEHICLE_GET_CURRENT_POS 1", " 3"}});
  // The search improved the goal vertex from (2, 5, 9), so past the goal the walk swings
  // between 2 and 3, and after the last move the next position is 2.
  EXPECT_EQ(r.log,
            Join(Setup_Log(p),
                 {Started, Computing, Solved, Evaluations(3), "INFORMATIONAL : Vehicles forwarded",
                  "INFORMATIONAL : Vehicles forwarded", "INFORMATIONAL : Goal already reached",
                  "INFORMATIONAL : Goal already reached",
                  "INFORMATIONAL : Current for vehicle  1 is  3"}));
}

TEST(MissionTranscript, RingTurnsAllThreeVehiclesInOneStep) {
  // One-way ring 0 -> 1 -> 2 -> 0 full of vehicles: the only legal step moves all three.
  Plan_Problem p;
  p.roads = {{Road_Kind::One_Way, 0, 1}, {Road_Kind::One_Way, 1, 2}, {Road_Kind::One_Way, 2, 0}};
  p.start = {0, 1, 2};
  p.goal = {1, 2, 0};
  const Testing::Plan_Readback r = Testing::Run_Plan_Readback(
      Join(Testing::Problem_Script(p), {"MOVA_START_MISSION", "MONITORING_GET_EVALUATIONS"}), 2, 3);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.script_answers, Strings({"TRUE", " 1"}));
  EXPECT_EQ(r.steps, 1);
  EXPECT_EQ(Testing::Check_Plan(p, r.plan), "");
  // Vehicle 3 on position 0 is reported as 0; past the goal the goal repeats.
  EXPECT_EQ(r.plan, Testing::Plan({{0, 1, 2}, {1, 2, 0}}));
  EXPECT_EQ(r.beyond_goal, Testing::Plan({{1, 2, 0}, {1, 2, 0}}));
}

TEST(MissionTranscript, VehiclesSwapOnTwoLanesButNeverPassOnOneLane) {
  Plan_Problem p;
  p.roads = {{Road_Kind::Two_Lanes, 0, 1}};
  p.start = {0, 1, 9};
  p.goal = {1, 0, 9};
  const Mission_Run two_lanes = Mission(p, {{"MOVA_START_MISSION", "TRUE"},
                                            {"MONITORING_GET_EVALUATIONS", " 1"},
                                            {"MOVA_GET_NUM_STEPS", " 1"},
                                            {"VEHICLE_GET_NEXT_POS 1", " 1"},
                                            {"VEHICLE_GET_NEXT_POS 2", " 0"},
                                            {"VEHICLE_MOVED_FORWARD", "TRUE"}});
  EXPECT_EQ(two_lanes.log, Join(Setup_Log(p), {Started, Computing, Solved, Evaluations(1),
                                               "INFORMATIONAL : Goal already reached"}));

  p.roads = {{Road_Kind::One_Lane, 0, 1}};
  const Mission_Run one_lane = Mission(p, {{"MOVA_START_MISSION", "FALSE"},
                                           {"MONITORING_GET_EVALUATIONS", " 1"},
                                           {"MOVA_GET_NUM_STEPS", " 0"},
                                           {"VEHICLE_GET_NEXT_POS 1", " 0"},
                                           {"VEHICLE_GET_NEXT_POS 2", " 0"},
                                           {"VEHICLE_MOVED_FORWARD", "FALSE"}});
  EXPECT_EQ(one_lane.log, Join(Setup_Log(p), {Started, Computing, Unsolved, Evaluations(1),
                                              "INFORMATIONAL : Vehicles forwarded"}));
}

TEST(MissionTranscript, CorridorWithSidingGivesALegalPlanNoShorterThanTheBest) {
  // One-lane corridor 0-1-2-3 with a two-lane siding 2-4; vehicles 1 and 2 change ends while
  // vehicle 3 takes a one-way road elsewhere.
  Plan_Problem p;
  p.roads = {{Road_Kind::One_Lane, 0, 1},
             {Road_Kind::One_Lane, 1, 2},
             {Road_Kind::One_Lane, 2, 3},
             {Road_Kind::Two_Lanes, 2, 4},
             {Road_Kind::One_Way, 10, 11}};
  p.start = {0, 3, 10};
  p.goal = {3, 0, 11};
  const Testing::Plan_Readback r =
      Testing::Run_Plan_Readback(Join(Testing::Problem_Script(p), {"MOVA_START_MISSION"}), 1, 30);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.script_answers, Strings({"TRUE"}));
  EXPECT_EQ(Testing::Check_Plan(p, r.plan), "");
  const Testing::Plan best = Testing::Shortest_Plan(p);
  ASSERT_FALSE(best.empty());
  EXPECT_EQ(Testing::Check_Plan(p, best), "");
  EXPECT_GE(r.plan.size(), best.size());
}

TEST(MissionTranscript, ObstacleOnThePlannedRouteForcesTheOtherAndCuttingBothFails) {
  const Plan_Problem p = Two_Routes();
  const Mission_Run r = Mission(p, {{"MOVA_START_MISSION", "TRUE"},
                                    {"MONITORING_GET_EVALUATIONS", " 3"},
                                    {"MOVA_GET_NUM_STEPS", " 3"},
                                    {"VEHICLE_GET_STEP_POS 1 1", " 2"},
                                    {"VEHICLE_GET_STEP_POS 1 2", " 4"},
                                    {"VEHICLE_GET_STEP_POS 1 3", " 3"},
                                    {"OBSTACLES_ADD_OBSTACLE 4 2"},
                                    {"OBSTACLES_CONFIRM", "TRUE"},
                                    {"MONITORING_GET_EVALUATIONS", " 4"},
                                    {"MOVA_GET_NUM_STEPS", " 2"},
                                    {"VEHICLE_GET_STEP_POS 1 1", " 1"},
                                    {"VEHICLE_GET_STEP_POS 1 2", " 3"},
                                    {"VEHICLE_GET_NEXT_POS 1", " 1"},
                                    {"OBSTACLES_ADD_OBSTACLE 1 3"},
                                    {"OBSTACLES_CONFIRM", "FALSE"},
                                    {"MONITORING_GET_EVALUATIONS", " 3"},
                                    {"MOVA_GET_NUM_STEPS", " 0"},
                                    {"VEHICLE_GET_NEXT_POS 1", " 1"},
                                    {"VEHICLE_MOVED_FORWARD", "FALSE"}});
  // With both vehicles 2 and 3 on positions without a road cycle the costs wrap, and the
  // first plan takes the longer route; the obstacle sends vehicle 1 along 0-1-3. Once both
  // routes are cut the search runs dry; the next position stays that of the last plan.
  EXPECT_EQ(r.log,
            Join(Setup_Log(p), {Started, Computing, Solved, Evaluations(3),
                                "INFORMATIONAL : Adding obstacle from  4 to  2",
                                "INFORMATIONAL : Obstacles confirmed", Computing,
                                "INFORMATIONAL : Solution recomputed TRUE, CPU time: <t> (s)",
                                Evaluations(4), "INFORMATIONAL : Adding obstacle from  1 to  3",
                                "INFORMATIONAL : Obstacles confirmed", Computing,
                                "INFORMATIONAL : Solution recomputed FALSE, CPU time: <t> (s)",
                                Evaluations(3), "INFORMATIONAL : Vehicles forwarded"}));
}

TEST(MissionTranscript, LimitsStopAtTheFirstSuccessorAndOnlyTheCurrentMarkingCountsAsSolved) {
  // On the line the first successor is not the current marking: FALSE, no plan, no move.
  const Rows line_rows = {{"MOVA_START_MISSION", "FALSE"},
                          {"MONITORING_GET_EVALUATIONS", " 1"},
                          {"MOVA_GET_NUM_STEPS", " 0"},
                          {"VEHICLE_GET_NEXT_POS 1", " 0"},
                          {"VEHICLE_MOVED_FORWARD", "FALSE"}};
  const Mission_Run timeout = Mission(Line(), Join(Rows{{"SETTINGS_SET_TIMEOUT 0"}}, line_rows));
  EXPECT_EQ(timeout.log,
            Join(Setup_Log(Line()),
                 {"INFORMATIONAL : Timeout set to  0 ms", Started, Computing, "ERROR : Timeout",
                  Unsolved, Evaluations(1), "INFORMATIONAL : Vehicles forwarded"}));

  const Mission_Run memory = Mission(Line(), Join(Rows{{"SETTINGS_SET_MAX_RAM 0"}}, line_rows));
  EXPECT_EQ(memory.log,
            Join(Setup_Log(Line()), {"INFORMATIONAL : Max RAM set to  0 Mb", Started, Computing,
                                     "ERROR : Out of memory", Unsolved, Evaluations(1),
                                     "INFORMATIONAL : Vehicles forwarded"}));

  // In the worked example the first successor is the current marking: both limits are
  // reported for it and the plan stands.
  const Mission_Run both = Mission(Worked_Example(), {{"SETTINGS_SET_TIMEOUT 0"},
                                                      {"SETTINGS_SET_MAX_RAM 0"},
                                                      {"MOVA_START_MISSION", "TRUE"},
                                                      {"MONITORING_GET_EVALUATIONS", " 1"},
                                                      {"MOVA_GET_NUM_STEPS", " 1"},
                                                      {"VEHICLE_GET_NEXT_POS 1", " 1"}});
  EXPECT_EQ(both.log, Join(Setup_Log(Worked_Example()),
                           {"INFORMATIONAL : Timeout set to  0 ms",
                            "INFORMATIONAL : Max RAM set to  0 Mb", Started, Computing,
                            "ERROR : Timeout", "ERROR : Out of memory", Solved, Evaluations(1)}));
}

TEST(MissionTranscript, SecondStartWithoutResetWorksOnTheOldValues) {
  // The old values are not improved again: on the line the second run drains the queue
  // without meeting an improvable current marking; the old plan can still be read.
  const Mission_Run line = Mission(Line(), {{"MOVA_START_MISSION", "TRUE"},
                                            {"MOVA_START_MISSION", "FALSE"},
                                            {"MONITORING_GET_EVALUATIONS", " 3"},
                                            {"MOVA_GET_NUM_STEPS", " 0"},
                                            {"VEHICLE_GET_STEP_POS 1 1", " 1"},
                                            {"VEHICLE_GET_NEXT_POS 1", " 1"}});
  EXPECT_EQ(line.log, Join(Setup_Log(Line()), {Started, Computing, Solved, Started, Computing,
                                               Unsolved, Evaluations(3)}));
  // In the worked example the current marking is already linked and counts again.
  const Mission_Run worked = Mission(Worked_Example(), {{"MOVA_START_MISSION", "TRUE"},
                                                        {"MOVA_START_MISSION", "TRUE"},
                                                        {"MONITORING_GET_EVALUATIONS", " 1"},
                                                        {"MOVA_GET_NUM_STEPS", " 1"}});
}

TEST(MissionTranscript, CurrentEqualToGoalNeedsAWayAwayAndBack) {
  // Two-lane roads 0-1, 5-6, 9-10 and every vehicle on its goal: vehicle 3 steps to 10 and
  // back, found on the second evaluation.
  Plan_Problem p;
  p.roads = {
      {Road_Kind::Two_Lanes, 0, 1}, {Road_Kind::Two_Lanes, 5, 6}, {Road_Kind::Two_Lanes, 9, 10}};
  p.start = {1, 5, 9};
  p.goal = {1, 5, 9};
  const Mission_Run away = Mission(p, {{"MOVA_START_MISSION", "TRUE"},
                                       {"MONITORING_GET_EVALUATIONS", " 2"},
                                       {"MOVA_GET_NUM_STEPS", " 0"},
                                       {"VEHICLE_GET_NEXT_POS 3", " 10"},
                                       {"VEHICLE_GET_STEP_POS 3 0", " 9"},
                                       {"VEHICLE_GET_STEP_POS 3 1", " 10"},
                                       {"VEHICLE_GET_STEP_POS 3 2", " 9"},
                                       {"VEHICLE_GOAL_REACHED", "TRUE"},
                                       {"VEHICLE_MOVED_FORWARD", "TRUE"}});
  EXPECT_EQ(away.log, Join(Setup_Log(p), {Started, Computing, Solved, Evaluations(2),
                                          "INFORMATIONAL : Goal already reached"}));

  // A one-way road gives no way back.
  Plan_Problem stuck;
  stuck.roads = {{Road_Kind::One_Way, 0, 1}};
  stuck.start = {1, 5, 9};
  stuck.goal = {1, 5, 9};
  const Mission_Run none = Mission(stuck, {{"MOVA_START_MISSION", "FALSE"},
                                           {"MONITORING_GET_EVALUATIONS", " 1"},
                                           {"MOVA_GET_NUM_STEPS", " 0"},
                                           {"VEHICLE_GOAL_REACHED", "TRUE"}});
}

TEST(MissionTranscript, MarkingsMissingAVehicleAreReportedAndFail) {
  // Vehicle 2 put onto vehicle 1's position: no search at all.
  const Plan_Problem p = Worked_Example();
  const Mission_Run current = Mission(p, {{"VEHICLE_SET_CURRENT_POS 2 0"},
                                          {"MOVA_START_MISSION", "FALSE"},
                                          {"MONITORING_GET_EVALUATIONS", " 0"},
                                          {"MOVA_GET_NUM_STEPS", " 0"},
                                          {"VEHICLE_GET_CURRENT_POS 1", "-1"}});
  EXPECT_EQ(current.log,
            Join(Setup_Log(p), {"INFORMATIONAL : Current for vehicle  2 is  0", Started, Computing,
                                "ERROR : Inconsistent current vehicle positions", Unsolved,
                                Evaluations(0), "INFORMATIONAL : Current for vehicle  1 is -1"}));

  // A goal without vehicle 3: the goal is expanded once and has no consistent predecessor.
  const Strings setup = {"SETTINGS_ENABLE_LOGGING",
                         "ENVIRONMENT_CLEAN",
                         "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE 0 1",
                         "ENVIRONMENT_BUILD",
                         "VEHICLE_SET_CURRENT_POS 1 0",
                         "VEHICLE_SET_CURRENT_POS 2 5",
                         "VEHICLE_SET_CURRENT_POS 3 9",
                         "VEHICLE_SET_GOAL_POS 1 1",
                         "VEHICLE_SET_GOAL_POS 2 5"};
  const Testing::Transcript goal = Testing::Run_Exchanges(
      Join(Rows(setup.begin(), setup.end()),
           Rows{{"MOVA_START_MISSION", "FALSE"}, {"MONITORING_GET_EVALUATIONS", " 1"}}));
  const Strings log = Normalised(goal.log);
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(Strings(log.end() - 6, log.end()),
            Strings({"INFORMATIONAL : Goal for vehicle  2 is  5", Started, Computing,
                     "ERROR : Inconsistent goal vehicle positions", Unsolved, Evaluations(1)}));
}

TEST(MissionTranscript, GoalMissingAVehicleLeftInTheGraphDoesNotSilenceTheNextMission) {
  // The re-plan's goal misses vehicle 2; its vertex stays in the graph under the key of a
  // consistent marking. The next mission, started without MOVA_END_MISSION, meets that key as a
  // successor: it searches on and answers (vehicles 1 and 2 stand where no road is: FALSE).
  const Testing::Transcript t =
      Testing::Run_Exchanges({{"SETTINGS_ENABLE_LOGGING"},
                              {"ENVIRONMENT_CLEAN"},
                              {"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 5"},
                              {"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 5 6"},
                              {"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 6 7"},
                              {"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 7 8"},
                              {"ENVIRONMENT_BUILD"},
                              {"VEHICLE_SET_CURRENT_POS 1 10"},
                              {"VEHICLE_SET_CURRENT_POS 2 11"},
                              {"VEHICLE_SET_CURRENT_POS 3 0"},
                              {"VEHICLE_SET_GOAL_POS 1 0"},
                              {"VEHICLE_SET_GOAL_POS 3 6"},
                              {"OBSTACLES_CONFIRM", "FALSE"},
                              {"MONITORING_GET_EVALUATIONS", " 1"},
                              {"VEHICLE_SET_GOAL_POS 2 7"},
                              {"MOVA_START_MISSION", "FALSE"},
                              {"MONITORING_GET_EVALUATIONS", " 61"},
                              {"MOVA_END_MISSION"},
                              {"MOVA_START_MISSION", "FALSE"}});
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.err, "");
  const Strings log = Normalised(t.log);
  const Strings tail = {"INFORMATIONAL : Goal for vehicle  2 is  7",
                        Started,
                        Computing,
                        Unsolved,
                        Evaluations(61),
                        "INFORMATIONAL : Mission end",
                        Started,
                        Computing,
                        Unsolved};
  ASSERT_GE(log.size(), tail.size() + 2);
  EXPECT_EQ(Strings(log.end() - static_cast<std::ptrdiff_t>(tail.size()), log.end()), tail);
}

TEST(MissionTranscript, StepQueriesAfterTheMissionEndPrintNothing) {
  // The next marking survives the reset; a new start plans from an empty graph again.
  const Mission_Run r = Mission(Line(), {{"MOVA_START_MISSION", "TRUE"},
                                         {"MOVA_END_MISSION"},
                                         {"VEHICLE_GET_STEP_POS 1 0"},
                                         {"VEHICLE_GET_STEP_POS 2 1"},
                                         {"MOVA_GET_NUM_STEPS"},
                                         {"VEHICLE_MOVED_FORWARD"},
                                         {"VEHICLE_GET_NEXT_POS 1", " 1"},
                                         {"MOVA_START_MISSION", "TRUE"},
                                         {"MOVA_GET_NUM_STEPS", " 3"}});
  EXPECT_EQ(r.log,
            Join(Setup_Log(Line()), {Started, Computing, Solved, "INFORMATIONAL : Mission end",
                                     Started, Computing, Solved}));
}

TEST(MissionTranscript, ObstacleOutsideThePositionsAbortsEveryComputation) {
  // Neither aborted computation prints or records a result, nor writes statistics.
  const Mission_Run r = Mission(Line(), {{"MOVA_START_MISSION", "TRUE"},
                                         {"OBSTACLES_ADD_OBSTACLE 12 0"},
                                         {"MOVA_START_MISSION"},
                                         {"OBSTACLES_CONFIRM"},
                                         {"MONITORING_GET_EVALUATIONS", " 3"},
                                         {"MOVA_GET_NUM_STEPS", " 0"},
                                         {"OBSTACLES_GET_NUM", " 1"},
                                         {"OBSTACLES_CLEAN"},
                                         {"OBSTACLES_CONFIRM", "TRUE"},
                                         {"MOVA_GET_NUM_STEPS", " 3"}});
  EXPECT_EQ(
      r.log,
      Join(Setup_Log(Line()),
           {Started, Computing, Solved, "INFORMATIONAL : Adding obstacle from  12 to  0", Started,
            Computing, "INFORMATIONAL : Obstacles confirmed", Computing, Evaluations(3),
            "INFORMATIONAL : Cleaning obstacles", "INFORMATIONAL : Obstacles confirmed", Computing,
            "INFORMATIONAL : Solution recomputed TRUE, CPU time: <t> (s)"}));
}

// A two-lane ring 0-1-...-11-0.
Plan_Problem Ring_Of_Twelve() {
  Plan_Problem p;
  for (int i = 0; i < 12; ++i) p.roads.push_back({Road_Kind::Two_Lanes, i, (i + 1) % 12});
  p.start = {1, 6, 9};
  p.goal = {3, 7, 10};
  return p;
}

TEST(MissionTranscript, RebuiltNetworkIsPlannedAfreshWithoutEndingTheMission) {
  // A host rebuilds the ring without the road 1-2 and starts again without MOVA_END_MISSION.
  const Plan_Problem ring = Ring_Of_Twelve();
  Plan_Problem cut = ring;
  cut.roads.erase(cut.roads.begin() + 1);
  const Strings script =
      Join(Join(Join(Testing::Problem_Script(ring), {"MOVA_START_MISSION", "MOVA_GET_NUM_STEPS"}),
                Testing::Problem_Script(cut)),
           // Until the next computation the step queries read the old plan.
           {"MOVA_GET_NUM_STEPS", "VEHICLE_GET_STEP_POS 1 1", "VEHICLE_GET_DIS_TO_POS 1 2",
            "MOVA_START_MISSION"});
  const Testing::Plan_Readback r = Testing::Run_Plan_Readback(script, 6, 24);
  ASSERT_EQ(r.error, "") << r.transcript.out;
  EXPECT_EQ(r.script_answers, Strings({"TRUE", " 2", " 2", " 2", " 11", "TRUE"}));
  // The new plan takes vehicle 1 the long way round, never over the removed road.
  EXPECT_EQ(Testing::Check_Plan(cut, r.plan), "");
  EXPECT_GE(r.steps, 10);

  // The same after a clean and a build with no roads at all: nothing can move.
  Plan_Problem empty = ring;
  empty.roads.clear();
  const Strings rebuild = Testing::Problem_Script(empty);
  const Mission_Run none = Mission(
      ring, Join(Join(Rows{{"MOVA_START_MISSION", "TRUE"}}, Rows(rebuild.begin(), rebuild.end())),
                 Rows{{"MOVA_START_MISSION", "FALSE"},
                      {"MONITORING_GET_EVALUATIONS", " 1"},
                      {"MOVA_GET_NUM_STEPS", " 0"},
                      {"VEHICLE_MOVED_FORWARD", "FALSE"},
                      {"VEHICLE_GET_CURRENT_POS 1", " 1"}}));
  const Strings tail = {Started,
                        Computing,
                        Unsolved,
                        Evaluations(1),
                        "INFORMATIONAL : Vehicles forwarded",
                        "INFORMATIONAL : Current for vehicle  1 is  1"};
  ASSERT_GE(none.log.size(), tail.size());
  EXPECT_EQ(Strings(none.log.end() - static_cast<std::ptrdiff_t>(tail.size()), none.log.end()),
            tail);
}

TEST(MissionTranscript, MoveOntoAGoalThatWasNeverLinkedStillAnswers) {
  // A new mission after a confirm, without MOVA_END_MISSION: the new goal is a vertex the
  // earlier search added but never linked, so the plan ends on a vertex without a parent.
  // Vehicle 2 takes the one-way road 4 -> 0 while vehicle 3 goes 9 -> 7 -> 6 (vehicle 2 on 0
  // reads as 0). The second move reaches the goal and answers; the next marking stays the goal
  // marking.
  const Testing::Transcript t =
      Testing::Run_Exchanges({{"SETTINGS_ENABLE_LOGGING"},
                              {"ENVIRONMENT_CLEAN"},
                              {"ENVIRONMENT_ADD_ONE_WAY_ROAD 4 7"},
                              {"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 4 7"},
                              {"ENVIRONMENT_ADD_ONE_WAY_ROAD 4 0"},
                              {"ENVIRONMENT_ADD_ONE_WAY_ROAD 7 6"},
                              {"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 8 0"},
                              {"ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE 9 7"},
                              {"ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE 7 8"},
                              {"ENVIRONMENT_BUILD"},
                              {"VEHICLE_SET_CURRENT_POS 1 8"},
                              {"VEHICLE_SET_CURRENT_POS 2 4"},
                              {"VEHICLE_SET_CURRENT_POS 3 10"},
                              {"VEHICLE_SET_GOAL_POS 1 10"},
                              {"VEHICLE_SET_GOAL_POS 2 7"},
                              {"VEHICLE_SET_GOAL_POS 3 6"},
                              {"OBSTACLES_ADD_OBSTACLE 0 8"},
                              {"OBSTACLES_CONFIRM", "FALSE"},
                              {"VEHICLE_SET_CURRENT_POS 1 10"},
                              {"VEHICLE_SET_CURRENT_POS 3 9"},
                              {"VEHICLE_SET_GOAL_POS 2 0"},
                              {"MOVA_START_MISSION", "TRUE"},
                              {"MOVA_GET_NUM_STEPS", " 2"},
                              {"VEHICLE_GET_NEXT_POS 2", " 0"},
                              {"VEHICLE_MOVED_FORWARD", "FALSE"},
                              {"VEHICLE_GET_NEXT_POS 2", " 0"},
                              {"VEHICLE_MOVED_FORWARD", "TRUE"},
                              {"VEHICLE_GET_CURRENT_POS 2", " 0"},
                              {"VEHICLE_GET_CURRENT_POS 3", " 6"},
                              {"VEHICLE_GOAL_REACHED", "TRUE"},
                              {"VEHICLE_GET_NEXT_POS 2", " 0"},
                              {"MOVA_GET_NUM_STEPS", " 0"},
                              {"VEHICLE_MOVED_FORWARD", "TRUE"}});
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.err, "");
  const Strings log = Normalised(t.log);
  const Strings tail = {Started,
                        Computing,
                        Solved,
                        "INFORMATIONAL : Vehicles forwarded",
                        "INFORMATIONAL : Goal already reached",
                        "INFORMATIONAL : Current for vehicle  2 is  0",
                        "INFORMATIONAL : Current for vehicle  3 is  6",
                        "INFORMATIONAL : Goal already reached"};
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(Strings(log.end() - static_cast<std::ptrdiff_t>(tail.size()), log.end()), tail);
}

}  // namespace
