// The fuzz input decoded into a well-formed mission (roads, build, placements, goals,
// obstacles, start, moves, confirm) so that the planner is reached on every input; every plan
// the program reports is checked with the tests' plan checker.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "console/launcher.hpp"
#include "console/utils-argparser.hpp"
#include "controller/mova.hpp"
#include "controller/obstacles.hpp"
#include "fuzz_common.hpp"
#include "search/search-dstarlite.hpp"
#include "support/plan_checker.hpp"
#include "utils/utils-types.hpp"

namespace {

namespace DStar = Search::DStarLite;
using PetriNet::Coloured::Colour;
using PetriNet::Coloured::CPN_Marking;

std::ostringstream answers;

// Figures printed at the end when MOVA_FUZZ_STATS is set: inputs run, plans checked.
long inputs_run = 0;
long plans_checked = 0;

void Print_Figures() {
  std::fprintf(stderr, "mova fuzz: %ld inputs, %ld plans checked\n", inputs_run, plans_checked);
}

// Hands out the input bytes one at a time; zero once they are used up.
struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;

  int Pick(int choices) { return at < size ? data[at++] % choices : 0; }
  // A position as the console sees it: mostly 0..11, now and then -1 or 12.
  int Position() { return Pick(14) - 1; }
};

// Runs one command line through the console and returns what it printed ("" for a line that
// was dropped).
std::string Ask(const std::string& line) {
  answers.str("");
  try {
    Launcher::Execute(line);
  } catch (const Utils::Range_Error&) {
    return "";
  }
  return answers.str();
}

std::string Line(const char* command, int a, int b) {
  return std::string(command) + " " + std::to_string(a) + " " + std::to_string(b);
}

// The positions of vehicles 1..3 in `marking`, -1 for a vehicle that is missing.
Testing::Joint_Position Joint(const CPN_Marking& marking) {
  Testing::Joint_Position joint{-1, -1, -1};
  for (int p = 0; p < Testing::Plan_Positions; ++p) {
    const auto colour = static_cast<int>(marking[static_cast<std::size_t>(p)]);
    if (colour >= 1 && colour <= 3) joint[static_cast<std::size_t>(colour - 1)] = p;
  }
  return joint;
}

bool Complete(const Testing::Joint_Position& joint) {
  return joint[0] >= 0 && joint[1] >= 0 && joint[2] >= 0;
}

std::string Describe(const Testing::Plan_Problem& problem, const Testing::Plan& plan) {
  std::string text = "roads";
  for (const Testing::Road& road : problem.roads)
    text += " " + std::to_string(static_cast<int>(road.kind)) + ":" + std::to_string(road.first) +
            "-" + std::to_string(road.second);
  text += "; obstacles";
  for (const Testing::Blocked_Road& o : problem.obstacles)
    text += " " + std::to_string(o.origin) + "-" + std::to_string(o.destiny);
  text += "; start " + Testing::Joint_Image(problem.start) + " goal " +
          Testing::Joint_Image(problem.goal) + "; plan";
  for (const Testing::Joint_Position& step : plan) text += " " + Testing::Joint_Image(step);
  return text;
}

// Reads the plan the planner holds from the current marking on and checks it; returns it.
Testing::Plan Check_Current_Plan(Testing::Plan_Problem problem, const char* after) {
  problem.start = Joint(DStar::Get_Current_Marking());
  problem.goal = Joint(DStar::Get_Goal_Marking());
  problem.obstacles.clear();
  for (const Utils::Obstacle& o : Obstacles::List())
    problem.obstacles.push_back({o.ORIGIN, o.DESTINY});
  Testing::Plan plan;
  try {
    const std::int32_t steps = DStar::Get_Number_Of_Steps();
    for (std::int32_t i = 0; i <= steps; ++i) plan.push_back(Joint(DStar::Get_Step_Marking(i)));
  } catch (const Utils::Range_Error& error) {
    Fuzz::Fail(std::string(after) + " answered TRUE but its plan cannot be read: " + error.reason);
  }
  ++plans_checked;
  const std::string verdict = Testing::Check_Plan(problem, plan);
  if (!verdict.empty())
    Fuzz::Fail(std::string(after) + " gave a bad plan: " + verdict + " [" +
               Describe(problem, plan) + "]");
  return plan;
}

bool Obstacle_Ends_Valid() {
  for (const Utils::Obstacle& o : Obstacles::List())
    if (o.ORIGIN > 11 || o.DESTINY > 11) return false;
  return true;
}

// A mission computation must answer TRUE or FALSE unless an obstacle end lies outside the
// positions, and FALSE when a vehicle has no current position.
std::string Compute(const char* command) {
  const bool placed = Complete(Joint(DStar::Get_Current_Marking()));
  const std::string answer = Ask(command);
  if (answer.empty() && Obstacle_Ends_Valid()) Fuzz::Fail(std::string(command) + " gave no answer");
  if (!answer.empty() && answer != "TRUE\n" && answer != "FALSE\n")
    Fuzz::Fail(std::string(command) + " answered [" + answer + "]");
  if (!placed && answer == "TRUE\n")
    Fuzz::Fail(std::string(command) + " answered TRUE with a vehicle missing");
  return answer;
}

void Add_Obstacles(Reader& in, int most) {
  const int count = in.Pick(most + 1);
  for (int i = 0; i < count; ++i) Ask(Line("OBSTACLES_ADD_OBSTACLE", in.Position(), in.Position()));
}

// Cleans the environment, adds up to 16 roads decoded from the input and builds it; returns
// the roads that were accepted.
std::vector<Testing::Road> Build_Roads(Reader& in) {
  static const char* const kRoadCommands[] = {"ENVIRONMENT_ADD_ONE_WAY_ROAD",
                                              "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE",
                                              "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES"};
  static const Testing::Road_Kind kKinds[] = {
      Testing::Road_Kind::One_Way, Testing::Road_Kind::One_Lane, Testing::Road_Kind::Two_Lanes};
  std::vector<Testing::Road> accepted;
  Ask("ENVIRONMENT_CLEAN");
  const int roads = in.Pick(17);
  for (int r = 0; r < roads; ++r) {
    const int kind = in.Pick(3);
    const int a = in.Position();
    const int b = in.Position();
    const std::int32_t before = Mova::Number_Of_Roads();
    Ask(Line(kRoadCommands[kind], a, b));
    if (Mova::Number_Of_Roads() == before + 1) accepted.push_back({kKinds[kind], a, b});
  }
  Ask("ENVIRONMENT_BUILD");
  return accepted;
}

// Up to three moves along `plan` (none when empty): with a plan every move must answer and
// bring the vehicles to the plan's next step.
void Follow(Reader& in, const Testing::Plan& plan) {
  const int moves = in.Pick(4);
  for (int j = 1; j <= moves; ++j) {
    const std::string answer = Ask("VEHICLE_MOVED_FORWARD");
    if (plan.empty()) continue;
    if (answer != "TRUE\n" && answer != "FALSE\n")
      Fuzz::Fail("VEHICLE_MOVED_FORWARD answered [" + answer + "] at step " + std::to_string(j));
    const std::size_t expected = std::min(static_cast<std::size_t>(j), plan.size() - 1);
    if (Joint(DStar::Get_Current_Marking()) != plan[expected])
      Fuzz::Fail("VEHICLE_MOVED_FORWARD left the plan at step " + std::to_string(j));
    if ((answer == "TRUE\n") != (expected == plan.size() - 1))
      Fuzz::Fail("VEHICLE_MOVED_FORWARD answered " + answer + " at step " + std::to_string(j));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Fuzz::Set_Up();
  std::cout.rdbuf(answers.rdbuf());
  if (std::getenv("MOVA_FUZZ_STATS") != nullptr) std::atexit(Print_Figures);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ++inputs_run;
  Fuzz::Clear_Directory();
  Mova::Reset_All();
  Utils::ArgParser::Set_Separator(' ');
  Reader in{data, size};

  // No log here: the console target fuzzes it, and its four system calls a record took most of
  // this target's time (inputs that log were favoured for the coverage the log code adds).
  const int flags = in.Pick(256);
  if (flags & 2) Ask("MOVA_INIT");
  if (flags & 4) Ask("SETTINGS_SET_TIMEOUT " + std::to_string(in.Pick(256)));

  Testing::Plan_Problem problem;
  problem.roads = Build_Roads(in);

  for (int v = 1; v <= 3; ++v) Ask(Line("VEHICLE_SET_CURRENT_POS", v, in.Position()));
  for (int v = 1; v <= 3; ++v) Ask(Line("VEHICLE_SET_GOAL_POS", v, in.Position()));
  Add_Obstacles(in, 3);

  Testing::Plan plan;
  if (Compute("MOVA_START_MISSION") == "TRUE\n")
    plan = Check_Current_Plan(problem, "MOVA_START_MISSION");
  Follow(in, plan);

  Add_Obstacles(in, 2);
  if (Compute("OBSTACLES_CONFIRM") == "TRUE\n") Check_Current_Plan(problem, "OBSTACLES_CONFIRM");

  // A host that goes on without MOVA_END_MISSION: it may rebuild the network, move vehicles and
  // set new goals, and plans again on top of what the earlier computations left.
  const int again = in.Pick(4);
  if (again & 1) problem.roads = Build_Roads(in);
  if (again & 2) {
    for (int v = 1; v <= 3; ++v)
      if (in.Pick(2) == 1) Ask(Line("VEHICLE_SET_CURRENT_POS", v, in.Position()));
    for (int v = 1; v <= 3; ++v)
      if (in.Pick(2) == 1) Ask(Line("VEHICLE_SET_GOAL_POS", v, in.Position()));
  }
  plan.clear();
  if (Compute("MOVA_START_MISSION") == "TRUE\n")
    plan = Check_Current_Plan(problem, "MOVA_START_MISSION after a new network or mission");
  Follow(in, plan);

  Ask("MOVA_GET_NUM_STEPS");
  Ask("VEHICLE_GET_STEP_POS 1 " + std::to_string(in.Pick(256)));
  Ask("MOVA_END_MISSION");
  // What the input built is released within its run, so that the fuzzer does not take the
  // memory kept for the next input for a leak and check every such input again.
  Mova::Reset_All();
  return 0;
}
