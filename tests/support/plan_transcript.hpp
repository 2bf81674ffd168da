// Runs a mission through the real binary and reads the plan back with the step queries.
#pragma once

#include <string>
#include <vector>

#include "support/plan_checker.hpp"
#include "support/transcript.hpp"

namespace Testing {

// The command lines that describe `problem` to the program: clean, the roads in order, build,
// the current positions, the goals and the obstacles (no mission command).
std::vector<std::string> Problem_Script(const Plan_Problem& problem);

struct Plan_Readback {
  Transcript transcript;
  // The answer lines of the script itself (everything before the step count).
  std::vector<std::string> script_answers;
  int steps = -1;     // the answer to MOVA_GET_NUM_STEPS
  Plan plan;          // steps 0..steps as the step queries report them
  Plan beyond_goal;   // the steps queried after the last one
  std::string error;  // why the answers could not be read, "" when they could
};

// Runs `script`, whose commands print `script_answer_count` lines, then MOVA_GET_NUM_STEPS and
// VEHICLE_GET_STEP_POS for vehicles 1..3 and steps 0..max_steps. A vehicle reported on 0 is
// taken to stand on position 0 (the only reading under which a plan can be consistent).
Plan_Readback Run_Plan_Readback(const std::vector<std::string>& script,
                                std::size_t script_answer_count, int max_steps = 24);

}  // namespace Testing
