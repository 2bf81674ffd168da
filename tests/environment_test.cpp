// Roads, the environment build with its distance table, and the information lines and notice
// files, through the real binary.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "controller/mova.hpp"
#include "mova_build_id.hpp"
#include "search/search-dijkstra.hpp"
#include "support/exchanges.hpp"
#include "support/transcript.hpp"

namespace {

using Testing::Lines;
using Testing::Read_File;
using Testing::Run_Mova;

constexpr int kNone = 32767;
using Table = std::array<std::array<int, 12>, 12>;

// The commands that read the whole distance table through vehicle 1.
std::vector<std::string> Table_Queries() {
  std::vector<std::string> lines;
  for (int i = 0; i < 12; ++i) {
    lines.push_back("VEHICLE_SET_CURRENT_POS 1 " + std::to_string(i));
    for (int j = 0; j < 12; ++j) lines.push_back("VEHICLE_GET_DIS_TO_POS 1 " + std::to_string(j));
  }
  return lines;
}

Table Read_Table(const std::vector<std::string>& out, std::size_t first) {
  Table table{};
  EXPECT_GE(out.size(), first + 144);
  if (out.size() < first + 144) return table;
  for (std::size_t k = 0; k < 144; ++k) {
    EXPECT_TRUE(std::regex_match(out[first + k], std::regex(" [0-9]+"))) << out[first + k];
    table[k / 12][k % 12] = std::stoi(out[first + k]);
  }
  return table;
}

struct Built {
  Table table{};
  int evaluations = -1;
  Testing::Transcript transcript;
};

// Cleans, adds `roads`, builds, asks the evaluations and reads the table.
Built Build(const std::vector<std::string>& roads) {
  std::vector<std::string> input = {"SETTINGS_ENABLE_LOGGING", "ENVIRONMENT_CLEAN"};
  input.insert(input.end(), roads.begin(), roads.end());
  input.push_back("ENVIRONMENT_BUILD");
  input.push_back("MONITORING_GET_EVALUATIONS");
  const std::vector<std::string> queries = Table_Queries();
  input.insert(input.end(), queries.begin(), queries.end());
  Built built;
  built.transcript = Run_Mova(Lines(input));
  const std::vector<std::string> out = Testing::Split_Lines(built.transcript.out);
  EXPECT_EQ(out.size(), 145u);
  if (!out.empty()) built.evaluations = std::stoi(out[0]);
  built.table = Read_Table(out, 1);
  return built;
}

// Road moves between positions as the roads describe them: breadth first from each origin. A
// position counts as reaching itself (distance 0) only when a road sequence leads back to it.
Table Reference(const std::vector<std::array<int, 3>>& roads) {  // {kind, a, b}; kind 0 one-way
  std::vector<std::vector<int>> next(12);
  for (const auto& [kind, a, b] : roads) {
    next[static_cast<std::size_t>(a)].push_back(b);
    if (kind != 0) next[static_cast<std::size_t>(b)].push_back(a);
  }
  Table table{};
  for (int i = 0; i < 12; ++i) {
    std::array<int, 12> d;
    d.fill(kNone);
    std::deque<int> queue;
    bool back_to_self = false;
    d[static_cast<std::size_t>(i)] = 0;
    queue.push_back(i);
    while (!queue.empty()) {
      const int u = queue.front();
      queue.pop_front();
      for (int s : next[static_cast<std::size_t>(u)]) {
        if (s == i) back_to_self = true;
        if (d[static_cast<std::size_t>(s)] == kNone) {
          d[static_cast<std::size_t>(s)] = d[static_cast<std::size_t>(u)] + 1;
          queue.push_back(s);
        }
      }
    }
    if (!back_to_self) d[static_cast<std::size_t>(i)] = kNone;
    table[static_cast<std::size_t>(i)] = d;
  }
  return table;
}

std::string Road_Command(const std::array<int, 3>& road) {
  static const char* const kinds[] = {"ENVIRONMENT_ADD_ONE_WAY_ROAD ",
                                      "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE ",
                                      "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES "};
  return kinds[road[0]] + std::to_string(road[1]) + " " + std::to_string(road[2]);
}

void Expect_Table(const Table& got, const Table& expected) {
  for (int i = 0; i < 12; ++i)
    for (int j = 0; j < 12; ++j)
      EXPECT_EQ(got[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)],
                expected[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)])
          << "entry (" << i << ", " << j << ")";
}

int Count(const std::vector<std::string>& log, const std::string& record) {
  return static_cast<int>(std::count(log.begin(), log.end(), record));
}

// ---------------------------------------------------------------------------------------------
// Roads

TEST(Roads, LockedAtStartUnlockedByCleanAndLimitedToFifteen) {
  std::vector<std::string> input = {"SETTINGS_ENABLE_LOGGING",
                                    "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1",
                                    "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE 0 1",
                                    "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 1",
                                    "ENVIRONMENT_GET_MAX_POS",
                                    "ENVIRONMENT_GET_MAX_ROADS",
                                    "ENVIRONMENT_CLEAN",
                                    "ENVIRONMENT_ADD_ONE_WAY_ROAD 2 5",
                                    "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE 3 4",
                                    "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 11"};
  // Twelve more roads make fifteen; the sixteenth is refused before its record.
  for (int k = 0; k < 12; ++k) input.push_back("ENVIRONMENT_ADD_ONE_WAY_ROAD 6 7");
  input.push_back("ENVIRONMENT_ADD_ONE_WAY_ROAD 9 10");
  input.push_back("ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 9 10");
  input.push_back("ENVIRONMENT_GET_MAX_POS");
  input.push_back("ENVIRONMENT_GET_MAX_ROADS");
  const auto t = Run_Mova(Lines(input));
  EXPECT_EQ(t.out, Lines({" 12", " 15", " 12", " 15"}));
  std::vector<std::string> expected = {
      "INFORMATIONAL : Logging enabled",
      "ERROR : Environment locked",
      "ERROR : Environment locked",
      "ERROR : Environment locked",
      "INFORMATIONAL : Obtaining MAX number of pos",
      "INFORMATIONAL : Obtaining MAX number of roads",
      "INFORMATIONAL : Cleaning environment",
      "INFORMATIONAL : Creating one-way road from 2 to 5",
      "INFORMATIONAL : Creating two-way road (one lane) from 3 to 4",
      "INFORMATIONAL : Creating two-way road (two lanes) from 0 to 11"};
  for (int k = 0; k < 12; ++k)
    expected.push_back("INFORMATIONAL : Creating one-way road from 6 to 7");
  expected.push_back("ERROR : Number max. of roads reached");
  expected.push_back("ERROR : Number max. of roads reached");
  expected.push_back("INFORMATIONAL : Obtaining MAX number of pos");
  expected.push_back("INFORMATIONAL : Obtaining MAX number of roads");
  EXPECT_EQ(t.log, expected);
}

TEST(Roads, RefusedRoadsLeaveNoArcAndKeepTheRoadCount) {
  // A one-way road from 3 to 12 and one from -1 to 3 are refused after their records. Had the
  // first left its arc at 3 in transition 0, the road 5 -> 6 that takes transition 0 next
  // would also lead from 3 to 6. Fifteen valid roads still fit after the refused ones.
  std::vector<std::string> roads = {
      "ENVIRONMENT_ADD_ONE_WAY_ROAD 3 12", "ENVIRONMENT_ADD_ONE_WAY_ROAD -1 3",
      "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 3 12", "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE 12 3",
      "ENVIRONMENT_ADD_ONE_WAY_ROAD 5 6"};
  for (int k = 0; k < 13; ++k) roads.push_back("ENVIRONMENT_ADD_ONE_WAY_ROAD 8 9");
  roads.push_back("ENVIRONMENT_ADD_ONE_WAY_ROAD 10 11");  // the fifteenth road
  roads.push_back("ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1");    // the sixteenth: refused
  const Built b = Build(roads);
  Expect_Table(b.table, Reference({{0, 5, 6}, {0, 8, 9}, {0, 10, 11}}));
  EXPECT_EQ(b.table[3][6], kNone);
  const auto& log = b.transcript.log;
  EXPECT_EQ(Count(log, "INFORMATIONAL : Creating one-way road from 3 to 12"), 1);
  EXPECT_EQ(Count(log, "INFORMATIONAL : Creating one-way road from-1 to 3"), 1);
  EXPECT_EQ(Count(log, "INFORMATIONAL : Creating two-way road (two lanes) from 3 to 12"), 1);
  EXPECT_EQ(Count(log, "INFORMATIONAL : Creating two-way road (one lane) from 12 to 3"), 1);
  EXPECT_EQ(Count(log, "INFORMATIONAL : Creating one-way road from 10 to 11"), 1);
  EXPECT_EQ(Count(log, "INFORMATIONAL : Creating one-way road from 0 to 1"), 0);
  EXPECT_EQ(Count(log, "ERROR : Number max. of roads reached"), 1);
}

TEST(Roads, CleanAfterBuildUnlocksAndStartsAgainFromRoadZero) {
  std::vector<std::string> input = {"ENVIRONMENT_BUILD", "SETTINGS_ENABLE_LOGGING",
                                    "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1", "ENVIRONMENT_CLEAN"};
  for (int k = 0; k < 15; ++k) input.push_back("ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1");
  input.push_back("ENVIRONMENT_BUILD");
  input.push_back("ENVIRONMENT_ADD_ONE_WAY_ROAD 1 2");  // locked again
  input.push_back("ENVIRONMENT_CLEAN");
  for (int k = 0; k < 15; ++k) input.push_back("ENVIRONMENT_ADD_ONE_WAY_ROAD 2 3");
  input.push_back("ENVIRONMENT_ADD_ONE_WAY_ROAD 2 3");
  std::vector<Testing::Exchange> exchanges(input.begin(), input.end());
  exchanges.insert(exchanges.end(),
                   {{"ENVIRONMENT_BUILD"},
                    {"VEHICLE_SET_CURRENT_POS 1 0"},
                    {"VEHICLE_GET_DIS_TO_POS 1 1", " 32767"},  // the first roads are gone
                    {"VEHICLE_SET_CURRENT_POS 1 2"},
                    {"VEHICLE_GET_DIS_TO_POS 1 3", " 1"}});
  const auto t = Testing::Run_Exchanges(exchanges);
  EXPECT_EQ(Count(t.log, "ERROR : Environment locked"), 2);
  EXPECT_EQ(Count(t.log, "ERROR : Number max. of roads reached"), 1);
  EXPECT_EQ(Count(t.log, "INFORMATIONAL : Creating one-way road from 0 to 1"), 15);
  EXPECT_EQ(Count(t.log, "INFORMATIONAL : Creating one-way road from 2 to 3"), 15);
  // Detail records stay below the threshold.
  for (const std::string& record : t.log) EXPECT_EQ(record.find("DEBUG"), std::string::npos);
  for (const std::string& record : t.log)
    EXPECT_EQ(record.find("Current Road number"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// The environment build and its distance table

TEST(Build, DistanceTablesOfSmallNetworks) {
  {
    SCOPED_TRACE("no roads");
    const Built b = Build({});
    Table all{};
    for (auto& row : all) row.fill(kNone);
    Expect_Table(b.table, all);
    EXPECT_EQ(b.evaluations, 1);
    EXPECT_EQ(b.transcript.log[1], "INFORMATIONAL : Cleaning environment");
    EXPECT_EQ(b.transcript.log[2], "INFORMATIONAL : Building Environment");
    EXPECT_EQ(b.transcript.log[3], "INFORMATIONAL : PN engine and constraints initialized");
    EXPECT_EQ(b.transcript.log[4], "INFORMATIONAL : Environment built");
    EXPECT_EQ(b.transcript.log[5], "INFORMATIONAL : Evaluations requested ( 1 )");
  }
  {
    SCOPED_TRACE("two-way road between 0 and 1");
    const Built b = Build({"ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE 0 1"});
    EXPECT_EQ(b.table[0][1], 1);
    EXPECT_EQ(b.table[1][0], 1);
    EXPECT_EQ(b.table[0][0], 0);
    EXPECT_EQ(b.table[1][1], 0);
    EXPECT_EQ(b.table[0][2], kNone);
    EXPECT_EQ(b.table[5][5], kNone);
    Expect_Table(b.table, Reference({{1, 0, 1}}));
    EXPECT_EQ(b.evaluations, 1);
  }
  {
    SCOPED_TRACE("one-way chain 1 -> 2 -> 3");
    const Built b = Build({"ENVIRONMENT_ADD_ONE_WAY_ROAD 1 2", "ENVIRONMENT_ADD_ONE_WAY_ROAD 2 3"});
    EXPECT_EQ(b.table[1][3], 2);
    EXPECT_EQ(b.table[3][1], kNone);
    EXPECT_EQ(b.table[1][1], kNone);
    Expect_Table(b.table, Reference({{0, 1, 2}, {0, 2, 3}}));
  }
  {
    SCOPED_TRACE("one-way road 1 -> 4");
    const Built b = Build({"ENVIRONMENT_ADD_ONE_WAY_ROAD 1 4"});
    EXPECT_EQ(b.table[1][4], 1);
    EXPECT_EQ(b.table[4][1], kNone);
    EXPECT_EQ(b.table[1][1], kNone);
    EXPECT_EQ(b.table[4][4], kNone);
    Expect_Table(b.table, Reference({{0, 1, 4}}));
  }
  {
    SCOPED_TRACE("two-way roads 0-1 and 1-2");
    const Built b = Build({"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 1",
                           "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE 1 2"});
    EXPECT_EQ(b.table[0][2], 2);
    EXPECT_EQ(b.table[2][0], 2);
    EXPECT_EQ(b.table[2][2], 0);
    Expect_Table(b.table, Reference({{2, 0, 1}, {1, 1, 2}}));
  }
  {
    SCOPED_TRACE("a road from 5 to itself");
    const Built b = Build({"ENVIRONMENT_ADD_ONE_WAY_ROAD 5 5", "ENVIRONMENT_ADD_ONE_WAY_ROAD 5 6"});
    EXPECT_EQ(b.table[5][5], 0);  // the vertex lists itself as successor
    EXPECT_EQ(b.table[5][6], 1);
    EXPECT_EQ(b.table[6][5], kNone);
    Expect_Table(b.table, Reference({{0, 5, 5}, {0, 5, 6}}));
    // The self-loop is fired once, while the graph is built.
    EXPECT_EQ(Count(b.transcript.log, "INFORMATIONAL : Probably same road origin and destiny."), 1);
    EXPECT_EQ(Count(b.transcript.log, "INFORMATIONAL : Environment built"), 1);
  }
}

TEST(Build, TablesOfRandomNetworksMatchBreadthFirstDistances) {
  std::mt19937 random(20240501u);
  for (int network = 0; network < 6; ++network) {
    SCOPED_TRACE("network " + std::to_string(network));
    std::vector<std::array<int, 3>> roads;
    std::uniform_int_distribution<int> kind(0, 2);
    std::uniform_int_distribution<int> place(0, 11);
    const int count = 4 + network * 2;
    for (int k = 0; k < count; ++k) roads.push_back({kind(random), place(random), place(random)});
    std::vector<std::string> commands;
    for (const auto& road : roads) commands.push_back(Road_Command(road));
    const Built b = Build(commands);
    Expect_Table(b.table, Reference(roads));
  }
}

TEST(Build, OneSearchPerSourceGivesWhatASearchPerPairGives) {
  // The build fills a row of the table from one search per source; a search per pair, stopped
  // at its target, must give the same number for every pair (self-loops, one-way dead ends and
  // positions on no cycle included), and the search per source the same evaluations and queue
  // entries for its target as that search.
  std::mt19937 random(20261209u);
  std::uniform_int_distribution<int> kind(0, 2);
  std::uniform_int_distribution<int> place(0, 11);
  std::uniform_int_distribution<int> count(0, 15);
  for (int network = 0; network < 300; ++network) {
    SCOPED_TRACE("network " + std::to_string(network));
    Mova::Reset_All();
    Mova::Environment_Clean();
    for (int k = count(random); k > 0; --k) {
      const int a = place(random);
      const int b = place(random);
      switch (kind(random)) {
        case 0:
          Mova::Environment_Add_One_Way_Road(a, b);
          break;
        case 1:
          Mova::Environment_Add_Two_Way_Road_One_Lane(a, b);
          break;
        default:
          Mova::Environment_Add_Two_Way_Road_Two_Lanes(a, b);
          break;
      }
    }
    Mova::Environment_Build();
    for (int i = 0; i < 12; ++i) {
      for (int j = 0; j < 12; ++j) {
        Search::Dijkstra::Set_Source(i);
        Search::Dijkstra::Set_Target(j);
        const Search::Dijkstra::Source_Search row = Search::Dijkstra::Distances_From_Source();
        Search::Dijkstra::Reset_Values();
        const Search::Dijkstra::Path_Search pair = Search::Dijkstra::Find_Path();
        const int length = pair.found ? Search::Dijkstra::Path_Length() : kNone;
        Search::Dijkstra::Reset_Values();
        EXPECT_EQ(row.distances[static_cast<std::size_t>(j)], length) << i << " to " << j;
        EXPECT_EQ(row.target_figures.Evaluations, pair.figures.Evaluations) << i << " to " << j;
        EXPECT_EQ(row.target_figures.Queue_Size, pair.figures.Queue_Size) << i << " to " << j;
      }
    }
  }
  Mova::Reset_All();
}

TEST(Build, EvaluationsAreThoseOfTheLastSearchFromElevenToEleven) {
  struct Case {
    std::string name;
    std::vector<std::string> roads;
    int evaluations;
  };
  const std::vector<Case> cases = {
      // 11 is dequeued, has no successor: one evaluation.
      {"isolated", {"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 1"}, 1},
      // 11 gives 10; 10 gives 11 back, recognised when generated.
      {"two-way 10-11", {"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 10 11"}, 2},
      // 11 -> 0 -> 1 -> 2 -> 11: four dequeues.
      {"cycle of four",
       {"ENVIRONMENT_ADD_ONE_WAY_ROAD 11 0", "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1",
        "ENVIRONMENT_ADD_ONE_WAY_ROAD 1 2", "ENVIRONMENT_ADD_ONE_WAY_ROAD 2 11"},
       4},
      // 11 gives 3 then 4 at the same distance; 3 leaves first (first in, first out) and gives
      // 5; then 4 gives 11 back.
      {"equal priorities leave in insertion order",
       {"ENVIRONMENT_ADD_ONE_WAY_ROAD 11 3", "ENVIRONMENT_ADD_ONE_WAY_ROAD 11 4",
        "ENVIRONMENT_ADD_ONE_WAY_ROAD 4 11", "ENVIRONMENT_ADD_ONE_WAY_ROAD 3 5"},
       3},
      // No way back: 11, 0, 1 are dequeued and the queue runs empty.
      {"no way back", {"ENVIRONMENT_ADD_ONE_WAY_ROAD 11 0", "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1"}, 3},
      // 2 is reached twice at distance 2 but queued once: 11, 0, 1, 2, 3.
      {"no second entry without improvement",
       {"ENVIRONMENT_ADD_ONE_WAY_ROAD 11 0", "ENVIRONMENT_ADD_ONE_WAY_ROAD 11 1",
        "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 2", "ENVIRONMENT_ADD_ONE_WAY_ROAD 1 2",
        "ENVIRONMENT_ADD_ONE_WAY_ROAD 2 3"},
       5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Built b = Build(c.roads);
    EXPECT_EQ(b.evaluations, c.evaluations);
    EXPECT_EQ(Count(b.transcript.log, "INFORMATIONAL : Evaluations requested ( " +
                                          std::to_string(c.evaluations) + " )"),
              1);
  }
}

TEST(Build, RepeatedBuildAndInitKeepOrClearTheTable) {
  std::vector<std::string> input = {"ENVIRONMENT_CLEAN", "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1",
                                    "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE 1 2",
                                    "ENVIRONMENT_ADD_ONE_WAY_ROAD 2 7", "ENVIRONMENT_BUILD"};
  std::vector<std::string> queries = Table_Queries();
  input.insert(input.end(), queries.begin(), queries.end());
  input.push_back("ENVIRONMENT_BUILD");
  input.insert(input.end(), queries.begin(), queries.end());
  input.push_back("SETTINGS_ENABLE_LOGGING");
  input.push_back("ENVIRONMENT_ADD_ONE_WAY_ROAD 7 8");  // still locked after the second build
  input.push_back("MOVA_INIT");
  input.insert(input.end(), queries.begin(), queries.end());
  input.push_back("ENVIRONMENT_BUILD");
  input.push_back("VEHICLE_GET_DIS_TO_POS 1 11");
  input.push_back("VEHICLE_SET_CURRENT_POS 1 0");
  input.push_back("VEHICLE_GET_DIS_TO_POS 1 7");
  input.push_back("VEHICLE_GET_CURRENT_POS 1");
  const auto t = Run_Mova(Lines(input));
  const std::vector<std::string> out = Testing::Split_Lines(t.out);
  ASSERT_EQ(out.size(), 3u * 144u + 3u);
  const Table expected = Reference({{0, 0, 1}, {1, 1, 2}, {0, 2, 7}});
  Expect_Table(Read_Table(out, 0), expected);
  Expect_Table(Read_Table(out, 144), expected);
  Table zero{};
  Expect_Table(Read_Table(out, 288), zero);  // MOVA_INIT empties the table until the next build
  EXPECT_EQ(out[432], " 32767");             // vehicle 1 was left on 11 by the queries
  EXPECT_EQ(out[433], " 3");
  EXPECT_EQ(out[434], " 0");
  EXPECT_EQ(Count(t.log, "ERROR : Environment locked"), 1);

  // Before any build the table is zero too.
  Testing::Run_Exchanges({{"VEHICLE_SET_CURRENT_POS 2 3"},
                          {"VEHICLE_GET_DIS_TO_POS 2 7", " 0"},
                          {"VEHICLE_GET_DIS_TO_POS 2 3", " 0"}});
}

// ---------------------------------------------------------------------------------------------
// Information lines and notice files

TEST(Information, FixedLinesAndTheNoticeFilesOfInit) {
  Testing::Transcript_Options options;
  options.keep_directory = true;
  const auto t = Run_Mova(
      Lines({"MOVA_GENERATION", "MOVA_BUILD_VERSION", "INFORMATION_GET_AUTHOR",
             "INFORMATION_GET_ORG", "INFORMATION_GET_COPYRIGHT", "INFORMATION_GET_WATERMARK",
             "SETTINGS_ENABLE_LOGGING", "VEHICLE_SET_CURRENT_POS 1 4", "MOVA_INIT",
             "VEHICLE_GET_CURRENT_POS 1", "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1"}),
      options);
  const std::vector<std::string> out = Testing::Split_Lines(t.out);
  ASSERT_EQ(out.size(), 7u);
  EXPECT_EQ(out[0], "2024");
  EXPECT_TRUE(std::regex_match(out[1], std::regex("[0-9a-f]{40}"))) << out[1];
  EXPECT_EQ(out[1], MOVA_BUILD_ID);
  EXPECT_EQ(out[2], Mova::Author_Text);
  EXPECT_FALSE(out[2].empty());
  EXPECT_EQ(out[3], Mova::Org_Text);
  EXPECT_FALSE(out[3].empty());
  EXPECT_EQ(out[4], Mova::Copyright_Text);
  EXPECT_EQ(out[5], Mova::Watermark_Text);
  ASSERT_GE(out[5].size(), 3u);
  EXPECT_EQ(out[5].substr(out[5].size() - 2), ". ");
  EXPECT_NE(out[5].find(Mova::Author_Text), std::string::npos) << "the watermark names the author";
  EXPECT_EQ(out[6], " 4");  // Init leaves the vehicles where they were

  EXPECT_EQ(t.log,
            (std::vector<std::string>{
                "INFORMATIONAL : Logging enabled", "INFORMATIONAL : Current for vehicle  1 is  4",
                "INFORMATIONAL : Initializing MOVA", "INFORMATIONAL : # Pos:  12",
                "INFORMATIONAL : # Roads:  15", "INFORMATIONAL : # Vehicles:  3",
                "INFORMATIONAL : Current for vehicle  1 is  4", "ERROR : Environment locked"}));

  const std::string disclaimer = Read_File(t.directory + "/MOVA_Disclaimer.txt");
  const std::vector<std::string> lines = Testing::Split_Lines(disclaimer);
  ASSERT_EQ(lines.size(), 3u) << disclaimer;
  EXPECT_FALSE(lines[0].empty());
  EXPECT_TRUE(lines[1].empty());
  EXPECT_FALSE(lines[2].empty());
  EXPECT_EQ(disclaimer.back(), '\n');
  EXPECT_EQ(Read_File(t.directory + "/MOVA_Copyright.txt"), out[4] + "\n");
  std::error_code error;
  std::filesystem::remove_all(t.directory, error);
}

TEST(Information, InitNeverRewritesAnExistingNoticeFile) {
  {
    SCOPED_TRACE("both present");
    Testing::Transcript_Options options;
    options.keep_directory = true;
    options.prepare = [](const std::string& directory) {
      std::ofstream(directory + "/MOVA_Disclaimer.txt") << "mine\n";
      std::ofstream(directory + "/MOVA_Copyright.txt");  // empty
    };
    const auto t = Run_Mova(Lines({"MOVA_INIT"}), options);
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(Read_File(t.directory + "/MOVA_Disclaimer.txt"), "mine\n");
    EXPECT_EQ(Read_File(t.directory + "/MOVA_Copyright.txt"), "");
    std::error_code error;
    std::filesystem::remove_all(t.directory, error);
  }
  {
    SCOPED_TRACE("only the disclaimer present, Init twice");
    Testing::Transcript_Options options;
    options.keep_directory = true;
    options.prepare = [](const std::string& directory) {
      std::ofstream(directory + "/MOVA_Disclaimer.txt") << "mine\n";
    };
    const auto t =
        Run_Mova(Lines({"MOVA_INIT", "MOVA_INIT", "INFORMATION_GET_COPYRIGHT"}), options);
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(Read_File(t.directory + "/MOVA_Disclaimer.txt"), "mine\n");
    EXPECT_EQ(Read_File(t.directory + "/MOVA_Copyright.txt"), t.out);
    std::error_code error;
    std::filesystem::remove_all(t.directory, error);
  }
}

}  // namespace
