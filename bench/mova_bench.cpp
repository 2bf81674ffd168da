// Benchmarks: the environment build, the mission computation from an empty graph (right after
// the build and as a re-plan) and again without a reset, the reference breadth-first search, and
// the console through a pipe.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "controller/mova.hpp"
#include "controller/obstacles.hpp"
#include "networks.hpp"
#include "petrinet/petrinet-coloured.hpp"
#include "reachability/reachabilitygraph-coloured.hpp"
#include "reference_bfs.hpp"
#include "search/search-dstarlite.hpp"

namespace {

namespace DStar = Search::DStarLite;
using Clock = std::chrono::steady_clock;
using Bench::Mission;
using Bench::Network;

double Seconds_Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Start_Fresh(const Network& network) {
  Mova::Reset_All();
  DStar::Set_Pause(false);
  Bench::Load_Network(network);
}

Utils::Obstacles_List Obstacles_Of(const Mission& mission) {
  Utils::Obstacles_List list;
  for (const Bench::Blocked_Pair& p : mission.obstacles) list.push_back({p.first, p.second});
  return list;
}

Bench::Placement Placement_Of(const PetriNet::Coloured::CPN_Marking& m) {
  const PetriNet::Coloured::Placement located = PetriNet::Coloured::Locate(m);
  return {located.place[0], located.place[1], located.place[2]};
}

// Mean seconds of one reference search, over at least 5 ms of repeated runs.
double Reference_Seconds(const Network& network, const Mission& mission) {
  const Bench::Reference_Net net = Bench::Prepare_Reference(network, mission.obstacles);
  int runs = 0;
  const auto start = Clock::now();
  do {
    benchmark::DoNotOptimize(Bench::Reference_Search(net, mission.current, mission.goal));
    ++runs;
  } while (Seconds_Since(start) < 0.005);
  return Seconds_Since(start) / runs;
}

// Whether every link of the plan is one legal step; the plan must end on the goal.
bool Plan_Is_Legal(const Network& network, const Mission& mission, int steps) {
  Bench::Placement before = Placement_Of(DStar::Get_Step_Marking(0));
  if (before != mission.current) return false;
  for (int s = 1; s <= steps; ++s) {
    const Bench::Placement after = Placement_Of(DStar::Get_Step_Marking(s));
    if (!Bench::Is_Step(network, mission.obstacles, before, after)) return false;
    before = after;
  }
  return before == mission.goal;
}

void BM_Environment_Build(benchmark::State& state, const Network* network) {
  Start_Fresh(*network);
  for (auto _ : state) Mova::Environment_Build();
  state.counters["searches"] = Mova::Max_Pos;  // one per source
}

// What comes before the timed computation.
enum class Start {
  After_Build,  // an empty graph, first computation since the net was (re)initialised
  Replan,       // an empty graph, the net unchanged since an earlier computation (what a
                // re-plan after OBSTACLES_CONFIRM or a new mission on the same roads meets)
  Second,       // on top of a first computation of the same mission, without a reset
};

void BM_Compute(benchmark::State& state, const Network* network, const Mission* mission,
                Start start_kind) {
  Start_Fresh(*network);
  Bench::Load_Mission(*mission);
  const Utils::Obstacles_List obstacles = Obstacles_Of(*mission);
  double total = 0.0;
  bool found = false;
  for (auto _ : state) {
    DStar::Reset_Search();
    // What a build does to the net (C, the conflicts, the tables of the predecessor search)
    // changes nothing in it but makes it count as new.
    if (start_kind == Start::After_Build) ReachabilityGraph::Coloured::Init_PN_Engine();
    if (start_kind != Start::After_Build) DStar::Compute_Solution(obstacles);
    if (start_kind == Start::Replan) DStar::Reset_Search();
    const auto start = Clock::now();
    found = DStar::Compute_Solution(obstacles);
    const double elapsed = Seconds_Since(start);
    state.SetIterationTime(elapsed);
    total += elapsed;
  }
  const Bench::Reference_Result reference = Bench::Reference_Search(
      Bench::Prepare_Reference(*network, mission->obstacles), mission->current, mission->goal);
  const int steps = found ? DStar::Get_Number_Of_Steps() : -1;
  state.counters["evals"] = DStar::Get_Statistics().Evaluations;
  state.counters["steps"] = steps;
  state.counters["optimum"] = reference.steps;
  state.counters["states"] = reference.states;
  state.counters["legal"] = found ? (Plan_Is_Legal(*network, *mission, steps) ? 1 : 0) : -1;
  const double mean = total / static_cast<double>(state.iterations());
  state.counters["ratio"] = mean / Reference_Seconds(*network, *mission);
}

void BM_Reference(benchmark::State& state, const Network* network, const Mission* mission) {
  const Bench::Reference_Net net = Bench::Prepare_Reference(*network, mission->obstacles);
  Bench::Reference_Result result;
  for (auto _ : state) {
    result = Bench::Reference_Search(net, mission->current, mission->goal);
    benchmark::DoNotOptimize(result);
  }
  state.counters["optimum"] = result.steps;
  state.counters["states"] = result.states;
}

// The console: a built dense network, one mission, then `lines` queries through a pipe.
std::string Console_Input(int lines, bool logging) {
  std::string in;
  if (logging) in += "SETTINGS_ENABLE_LOGGING\n";
  in += "ENVIRONMENT_CLEAN\n";
  for (const Bench::Road& r : Bench::Networks()[3].roads) {
    const char* command = r.kind == Bench::Road_Kind::One_Way ? "ENVIRONMENT_ADD_ONE_WAY_ROAD"
                          : r.kind == Bench::Road_Kind::One_Lane
                              ? "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE"
                              : "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES";
    in += std::string(command) + " " + std::to_string(r.first) + " " + std::to_string(r.second) +
          "\n";
  }
  in += "ENVIRONMENT_BUILD\n";
  in += "VEHICLE_SET_CURRENT_POS 1 0\nVEHICLE_SET_CURRENT_POS 2 3\nVEHICLE_SET_CURRENT_POS 3 8\n";
  in += "VEHICLE_SET_GOAL_POS 1 10\nVEHICLE_SET_GOAL_POS 2 8\nVEHICLE_SET_GOAL_POS 3 3\n";
  in += "MOVA_START_MISSION\n";
  static const char* const queries[] = {
      "VEHICLE_GET_CURRENT_POS 1\n",  "VEHICLE_GET_NEXT_POS 2\n", "VEHICLE_GET_STEP_POS 3 2\n",
      "VEHICLE_GET_DIS_TO_POS 1 7\n", "MOVA_GET_NUM_STEPS\n",     "VEHICLE_GOAL_REACHED\n",
      "OBSTACLES_GET_NUM\n",          "OBSTACLES_PRESENT 0 1\n",  "ENVIRONMENT_GET_MAX_POS\n",
      "MONITORING_GET_EVALUATIONS\n"};
  for (int i = 0; i < lines; ++i) in += queries[i % 10];
  return in;
}

struct Console_Run {
  double seconds = 0.0;
  long answers = 0;
  long records = 0;
  bool ok = false;
};

Console_Run Run_Console(const std::string& input) {
  Console_Run run;
  char pattern[] = "/tmp/mova-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return run;
  const std::string directory = pattern;
  int to_child[2];
  int from_child[2];
  if (pipe(to_child) != 0 || pipe(from_child) != 0) return run;
  const auto start = Clock::now();
  const pid_t child = fork();
  if (child == 0) {
    dup2(to_child[0], 0);
    dup2(from_child[1], 1);
    close(to_child[0]);
    close(to_child[1]);
    close(from_child[0]);
    close(from_child[1]);
    if (chdir(directory.c_str()) != 0) _exit(126);
    execl(MOVA_BINARY, MOVA_BINARY, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(to_child[0]);
  close(from_child[1]);
  std::thread writer([&] {
    std::size_t done = 0;
    while (done < input.size()) {
      const ssize_t n = write(to_child[1], input.data() + done, input.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(to_child[1]);
  });
  std::vector<char> buffer(1 << 16);
  while (true) {
    const ssize_t n = read(from_child[0], buffer.data(), buffer.size());
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i)
      if (buffer[static_cast<std::size_t>(i)] == '\n') ++run.answers;
  }
  writer.join();
  close(from_child[0]);
  int status = 0;
  waitpid(child, &status, 0);
  run.seconds = Seconds_Since(start);
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::ifstream log(directory + "/mova.log");
  std::string line;
  while (std::getline(log, line)) ++run.records;
  std::filesystem::remove_all(directory);
  return run;
}

void BM_Console(benchmark::State& state, int lines, bool logging) {
  const std::string input = Console_Input(lines, logging);
  Console_Run run;
  for (auto _ : state) {
    run = Run_Console(input);
    if (!run.ok || run.answers != lines + 1) {
      state.SkipWithError("console run failed or answered a wrong number of lines");
      return;
    }
    state.SetIterationTime(run.seconds);
  }
  state.counters["lines_per_s"] = static_cast<double>(lines) / run.seconds;
  if (logging) state.counters["records_per_s"] = static_cast<double>(run.records) / run.seconds;
}

}  // namespace

// Each timed computation needs an untimed reset (and for the second one an untimed first
// computation), so the number of runs is fixed instead of the timed total.
constexpr benchmark::IterationCount Compute_Iterations = 300;

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (const Network& network : Bench::Networks()) {
    benchmark::RegisterBenchmark(("Environment_Build/" + network.name).c_str(),
                                 BM_Environment_Build, &network)
        ->Unit(benchmark::kMicrosecond);
    for (const Mission& mission : network.missions) {
      const std::string tail = network.name + "/" + mission.name;
      benchmark::RegisterBenchmark(("Compute_First/" + tail).c_str(), BM_Compute, &network,
                                   &mission, Start::After_Build)
          ->UseManualTime()
          ->Iterations(Compute_Iterations)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("Compute_Replan/" + tail).c_str(), BM_Compute, &network,
                                   &mission, Start::Replan)
          ->UseManualTime()
          ->Iterations(Compute_Iterations)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("Compute_Second/" + tail).c_str(), BM_Compute, &network,
                                   &mission, Start::Second)
          ->UseManualTime()
          ->Iterations(Compute_Iterations)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("Reference_BFS/" + tail).c_str(), BM_Reference, &network,
                                   &mission)
          ->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::RegisterBenchmark("Console/logging_off/1000000_lines", BM_Console, 1000000, false)
      ->UseManualTime()
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Console/logging_on/100000_lines", BM_Console, 100000, true)
      ->UseManualTime()
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
