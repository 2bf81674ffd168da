// Reading a plan back from the real binary.
#include "support/plan_transcript.hpp"

#include <sstream>

namespace Testing {
namespace {

std::vector<std::string> Output_Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

// " 7" -> 7; false for anything that is not a blank (or minus) and digits.
bool Read_Integer(const std::string& text, int& value) {
  if (text.size() < 2 || (text[0] != ' ' && text[0] != '-')) return false;
  int result = 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    result = result * 10 + (text[i] - '0');
  }
  value = text[0] == '-' ? -result : result;
  return true;
}

const char* Road_Command(Road_Kind kind) {
  switch (kind) {
    case Road_Kind::One_Way:
      return "ENVIRONMENT_ADD_ONE_WAY_ROAD ";
    case Road_Kind::One_Lane:
      return "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE ";
    case Road_Kind::Two_Lanes:
      break;
  }
  return "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES ";
}

}  // namespace

std::vector<std::string> Problem_Script(const Plan_Problem& problem) {
  std::vector<std::string> lines = {"ENVIRONMENT_CLEAN"};
  for (const Road& road : problem.roads)
    lines.push_back(Road_Command(road.kind) + std::to_string(road.first) + " " +
                    std::to_string(road.second));
  lines.push_back("ENVIRONMENT_BUILD");
  for (std::size_t v = 0; v < 3; ++v)
    lines.push_back("VEHICLE_SET_CURRENT_POS " + std::to_string(v + 1) + " " +
                    std::to_string(problem.start[v]));
  for (std::size_t v = 0; v < 3; ++v)
    lines.push_back("VEHICLE_SET_GOAL_POS " + std::to_string(v + 1) + " " +
                    std::to_string(problem.goal[v]));
  for (const Blocked_Road& o : problem.obstacles)
    lines.push_back("OBSTACLES_ADD_OBSTACLE " + std::to_string(o.origin) + " " +
                    std::to_string(o.destiny));
  return lines;
}

Plan_Readback Run_Plan_Readback(const std::vector<std::string>& script,
                                std::size_t script_answer_count, int max_steps) {
  std::vector<std::string> input = script;
  input.push_back("MOVA_GET_NUM_STEPS");
  for (int n = 0; n <= max_steps; ++n)
    for (int v = 1; v <= 3; ++v)
      input.push_back("VEHICLE_GET_STEP_POS " + std::to_string(v) + " " + std::to_string(n));

  Plan_Readback r;
  r.transcript = Run_Mova(Lines(input));
  const std::vector<std::string> out = Output_Lines(r.transcript.out);
  const std::size_t expected =
      script_answer_count + 1 + 3 * static_cast<std::size_t>(max_steps + 1);
  if (out.size() != expected) {
    r.error =
        "expected " + std::to_string(expected) + " answer lines, got " + std::to_string(out.size());
    return r;
  }
  r.script_answers.assign(out.begin(),
                          out.begin() + static_cast<std::ptrdiff_t>(script_answer_count));
  std::size_t at = script_answer_count;
  if (!Read_Integer(out[at++], r.steps) || r.steps < 0 || r.steps > max_steps) {
    r.error = "unreadable or too large step count '" + out[at - 1] + "'";
    return r;
  }
  for (int n = 0; n <= max_steps; ++n) {
    Joint_Position p{};
    for (std::size_t v = 0; v < 3; ++v) {
      if (!Read_Integer(out[at++], p[v])) {
        r.error = "unreadable step position '" + out[at - 1] + "'";
        return r;
      }
    }
    (n <= r.steps ? r.plan : r.beyond_goal).push_back(p);
  }
  return r;
}

}  // namespace Testing
