// The fixed road networks and missions that the benchmarks and the result fingerprint run.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace Bench {

enum class Road_Kind { One_Way, One_Lane, Two_Lanes };

struct Road {
  int first;
  int second;
  Road_Kind kind;
};

struct Blocked_Pair {
  int first;
  int second;
};

// Positions of vehicles 1, 2 and 3.
using Placement = std::array<int, 3>;

struct Mission {
  std::string name;
  Placement current;
  Placement goal;
  std::vector<Blocked_Pair> obstacles;
};

struct Network {
  std::string name;
  std::vector<Road> roads;
  // near, far, unsolvable (every joint state that can reach the goal is explored), at-goal.
  std::vector<Mission> missions;
};

const std::vector<Network>& Networks();

// The roads and the goal and current markings loaded into the controller: clean, add the
// roads, build, and set the planner's markings. Logging and pauses are the caller's business.
void Load_Network(const Network& network);
void Load_Mission(const Mission& mission);

}  // namespace Bench
