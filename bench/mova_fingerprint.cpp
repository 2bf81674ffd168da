// Runs a fixed batch of missions on every benchmark network and prints everything they leave
// behind: answers, statistics, plans, the whole coloured graph (as a hash) and the log records
// (as a hash, without time stamps and CPU times). Two builds that print the same text behave
// the same on this batch.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "controller/mova.hpp"
#include "controller/obstacles.hpp"
#include "networks.hpp"
#include "petrinet/petrinet-coloured.hpp"
#include "reachability/reachabilitygraph-coloured.hpp"
#include "search/search-dstarlite.hpp"
#include "utils/utils-logger.hpp"
#include "utils/utils-types.hpp"

namespace {

namespace DStar = Search::DStarLite;
namespace Graph = ReachabilityGraph::Coloured;
using PetriNet::Coloured::Label;

std::uint64_t Hash(const std::string& text) {
  std::uint64_t h = 1469598103934665603ull;
  for (char c : text) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return h;
}

std::string Graph_Text() {
  std::ostringstream out;
  out << Graph::Graph_Length() << '\n';
  for (Graph::Key_CPN k = -1; k < 1320; ++k) {
    if (!Graph::Contains(k)) continue;
    const Graph::CPN_Vertex v = Graph::Get_Vertex(k);
    out << k << ' ' << Label(v.CPN_MARKING) << ' ' << v.PARENT << ' ' << v.G << ' ' << v.H << ' '
        << v.F << ':';
    for (const Graph::CPN_Successor& s : v.CPN_SUCCESSORS)
      out << ' ' << s.SUCCESSOR_KEY << '/' << s.MOVEMENTS << '/' << s.FIRING.bits;
    out << '\n';
  }
  return out.str();
}

// The records written since the last call, without time stamps and CPU times.
std::string Take_Log() {
  std::ifstream in("mova.log");
  std::string line;
  std::string kept;
  while (std::getline(in, line)) {
    const std::string body = line.size() > 22 ? line.substr(22) : line;
    if (body.find("Search CPU time") != std::string::npos) continue;
    kept += body + '\n';
  }
  in.close();
  std::filesystem::remove("mova.log");
  return kept;
}

std::string Run_Computation(const Utils::Obstacles_List& obstacles) {
  std::ostringstream out;
  bool result = false;
  try {
    result = DStar::Compute_Solution(obstacles);
  } catch (const Utils::Range_Error& e) {
    out << "range-error(" << e.reason << ") ";
  }
  const Utils::Search_Statistics s = DStar::Get_Statistics();
  out << (result ? "T" : "F") << " found=" << DStar::Get_Solution_Found()
      << " evals=" << s.Evaluations << " queue=" << s.Queue_Size << " ram=" << s.RAM_Usage
      << " next=" << Label(DStar::Get_Next_Marking());
  if (DStar::Get_Solution_Found()) {
    const std::int32_t steps = DStar::Get_Number_Of_Steps();
    out << " steps=" << steps << " plan=";
    for (std::int32_t i = 0; i <= steps + 1; ++i) out << Label(DStar::Get_Step_Marking(i)) << ';';
  }
  out << " graph=" << std::hex << Hash(Graph_Text()) << std::dec;
  return out.str();
}

struct Lcg {
  std::uint32_t state = 12345;
  int Next(int n) {
    state = state * 1664525u + 1013904223u;
    return static_cast<int>((state >> 8) % static_cast<std::uint32_t>(n));
  }
};

Bench::Placement Random_Placement(Lcg& random) {
  Bench::Placement p{};
  p[0] = random.Next(12);
  do p[1] = random.Next(12);
  while (p[1] == p[0]);
  do p[2] = random.Next(12);
  while (p[2] == p[0] || p[2] == p[1]);
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  const int random_missions = argc > 1 ? std::atoi(argv[1]) : 120;
  char pattern[] = "/tmp/mova-fingerprint-XXXXXX";
  if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) return 1;
  Lcg random;
  std::uint64_t total = 1469598103934665603ull;
  auto emit = [&total](const std::string& line) {
    std::cout << line << '\n';
    total = (total ^ Hash(line)) * 1099511628211ull;
  };
  for (const Bench::Network& network : Bench::Networks()) {
    Mova::Reset_All();
    DStar::Set_Pause(false);
    Utils::Logger::Enable();
    Utils::Logger::Set_Threshold(Utils::Logger::Severity::DEBUG);
    Bench::Load_Network(network);
    std::string table;
    for (int i = 0; i < 12; ++i)
      for (int j = 0; j < 12; ++j) table += std::to_string(DStar::Get_Distance(i, j)) + ',';
    emit(network.name + " table=" + table + " log=" + std::to_string(Hash(Take_Log())));

    std::vector<Bench::Mission> missions = network.missions;
    for (int i = 0; i < random_missions; ++i) {
      Bench::Mission m{
          "random" + std::to_string(i), Random_Placement(random), Random_Placement(random), {}};
      if (i % 5 == 4) {
        const Bench::Road& r = network.roads[static_cast<std::size_t>(
            random.Next(static_cast<int>(network.roads.size())))];
        m.obstacles.push_back({r.first, r.second});
      }
      missions.push_back(m);
    }
    int index = 0;
    for (const Bench::Mission& mission : missions) {
      Utils::Obstacles_List obstacles;
      for (const Bench::Blocked_Pair& p : mission.obstacles)
        obstacles.push_back({p.first, p.second});
      DStar::Reset_Search();
      Bench::Load_Mission(mission);
      DStar::Set_Timeout(1000);
      DStar::Set_Max_RAM(2048);
      if (index % 17 == 16) DStar::Set_Timeout(0);
      if (index % 19 == 18) DStar::Set_Max_RAM(0);
      ++index;
      std::string line =
          network.name + "/" + mission.name + " first: " + Run_Computation(obstacles);
      DStar::Set_Timeout(1000);
      DStar::Set_Max_RAM(2048);
      line += " | again: " + Run_Computation(obstacles);
      // Two moves along the plan, then a computation on top of everything left so far.
      for (int step = 0; step < 2; ++step) {
        try {
          line += DStar::Moved_Forward() ? " moved:T" : " moved:F";
        } catch (const Utils::Range_Error&) {
          line += " moved:range-error";
        }
        line += " km=" + std::to_string(DStar::Get_Key_Modifier());
      }
      line += " | after-moves: " + Run_Computation(obstacles);
      line += " log=" + std::to_string(Hash(Take_Log()));
      emit(line);
    }
  }
  std::cout << "total " << std::hex << total << '\n';
  std::filesystem::current_path("/");
  std::filesystem::remove_all(pattern);
  return 0;
}
