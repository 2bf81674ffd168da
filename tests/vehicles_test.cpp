// Vehicle positions and goals, the obstacle list, the settings and the monitoring queries.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "controller/mova.hpp"
#include "search/search-dstarlite.hpp"
#include "support/exchanges.hpp"
#include "support/transcript.hpp"

namespace {

using Testing::Lines;
using Testing::Run_Exchanges;
using Testing::Run_Mova;

TEST(Vehicles, CurrentPositionsAndGoals) {
  const auto t = Run_Exchanges({
      {"SETTINGS_ENABLE_LOGGING"},
      {"VEHICLE_GET_CURRENT_POS 1", "-1"},  // nobody placed yet
      {"VEHICLE_GET_CURRENT_POS 2", "-1"},
      {"VEHICLE_GET_CURRENT_POS 3", "-1"},
      {"VEHICLE_GOAL_REACHED", "TRUE"},  // both markings empty
      {"VEHICLE_GET_DIS_TO_POS 2 3"},    // no current position: no answer
      {"VEHICLE_SET_CURRENT_POS 1 4"},
      {"VEHICLE_SET_CURRENT_POS 1 6"},  // moves, does not copy
      {"VEHICLE_GET_CURRENT_POS 1", " 6"},
      {"VEHICLE_GOAL_REACHED", "FALSE"},
      {"VEHICLE_SET_CURRENT_POS 2 6"},  // overwrites vehicle 1
      {"VEHICLE_GET_CURRENT_POS 1", "-1"},
      {"VEHICLE_GET_CURRENT_POS 2", " 6"},
      {"VEHICLE_GET_DIS_TO_POS 2 12"},  // refused after the current-position record
      {"VEHICLE_GET_DIS_TO_POS 2 -1"},
      {"VEHICLE_SET_GOAL_POS 1 3"},
      {"VEHICLE_SET_GOAL_POS 1 3"},  // its own goal: refused as well
      {"VEHICLE_SET_GOAL_POS 2 7"},
      {"VEHICLE_SET_GOAL_POS 2 3"},   // vehicle 1's goal: refused, 7 stays
      {"VEHICLE_SET_GOAL_POS 3 12"},  // refused by the facade, no record
      {"VEHICLE_SET_GOAL_POS 3 -1"},
      {"VEHICLE_SET_GOAL_POS 1 8"},  // moves vehicle 1's goal and frees 3
      {"VEHICLE_SET_GOAL_POS 3 3"},
      {"VEHICLE_SET_CURRENT_POS 1 8"},
      {"VEHICLE_SET_CURRENT_POS 2 7"},
      {"VEHICLE_SET_CURRENT_POS 3 3"},
      {"VEHICLE_GOAL_REACHED", "TRUE"},
      {"VEHICLE_SET_CURRENT_POS 3 2"},
      {"VEHICLE_GOAL_REACHED", "FALSE"},
      {"VEHICLE_GET_DIS_TO_POS 3 11", " 0"},  // no build yet: the table is zero
      {"VEHICLE_SET_CURRENT_POS 3 12"},       // refused: vehicle 3 stays on 2
      {"VEHICLE_GET_CURRENT_POS 3", " 2"},
  });
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.log,
            (std::vector<std::string>{
                "INFORMATIONAL : Logging enabled",
                "INFORMATIONAL : Current for vehicle  1 is -1",
                "INFORMATIONAL : Current for vehicle  2 is -1",
                "INFORMATIONAL : Current for vehicle  3 is -1",
                "INFORMATIONAL : Current for vehicle  2 is -1",
                "INFORMATIONAL : Current for vehicle  1 is  4",
                "INFORMATIONAL : Current for vehicle  1 is  6",
                "INFORMATIONAL : Current for vehicle  1 is  6",
                "INFORMATIONAL : Current for vehicle  2 is  6",
                "INFORMATIONAL : Current for vehicle  1 is -1",
                "INFORMATIONAL : Current for vehicle  2 is  6",
                "INFORMATIONAL : Current for vehicle  2 is  6",
                "INFORMATIONAL : Current for vehicle  2 is  6",
                "INFORMATIONAL : Goal for vehicle  1 is  3",
                "ERROR : Goal position not empty",
                "INFORMATIONAL : Goal for vehicle  2 is  7",
                "ERROR : Goal position not empty",
                "INFORMATIONAL : Goal for vehicle  1 is  8",
                "INFORMATIONAL : Goal for vehicle  3 is  3",
                "INFORMATIONAL : Current for vehicle  1 is  8",
                "INFORMATIONAL : Current for vehicle  2 is  7",
                "INFORMATIONAL : Current for vehicle  3 is  3",
                "INFORMATIONAL : Current for vehicle  3 is  2",
                "INFORMATIONAL : Current for vehicle  3 is  2",
                "INFORMATIONAL : Dis. to pos for vehicle  3 (currently in pos 2) to pos 11 is  0",
                "INFORMATIONAL : Current for vehicle  3 is  2",
            }));
}

TEST(Vehicles, NextAndStepPositionsNeverReportPositionZero) {
  // Before any plan the next marking is empty: 0, not -1; step queries have no graph to walk.
  Run_Exchanges({{"VEHICLE_SET_CURRENT_POS 1 4"},
                 {"VEHICLE_GET_NEXT_POS 1", " 0"},
                 {"VEHICLE_GET_NEXT_POS 2", " 0"},
                 {"VEHICLE_GET_STEP_POS 1 0"},
                 {"VEHICLE_GET_STEP_POS 1 3"},
                 {"MOVA_GET_NUM_STEPS", " 0"}});

  // Vehicle 1 moves from 1 to 0 in one step; 2 and 3 stay on isolated positions.
  Run_Exchanges({{"ENVIRONMENT_CLEAN"},
                 {"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 1"},
                 {"ENVIRONMENT_BUILD"},
                 {"VEHICLE_SET_CURRENT_POS 1 1"},
                 {"VEHICLE_SET_CURRENT_POS 2 5"},
                 {"VEHICLE_SET_CURRENT_POS 3 9"},
                 {"VEHICLE_SET_GOAL_POS 1 0"},
                 {"VEHICLE_SET_GOAL_POS 2 5"},
                 {"VEHICLE_SET_GOAL_POS 3 9"},
                 {"MOVA_START_MISSION", "TRUE"},
                 {"VEHICLE_GET_NEXT_POS 1", " 0"},
                 {"VEHICLE_GET_NEXT_POS 2", " 5"},
                 {"VEHICLE_GET_NEXT_POS 3", " 9"},
                 {"VEHICLE_GET_STEP_POS 1 0", " 1"},
                 {"VEHICLE_GET_STEP_POS 1 1", " 0"},
                 {"VEHICLE_GET_STEP_POS 3 1", " 9"},
                 {"VEHICLE_GET_DIS_TO_POS 1 0", " 1"}});
}

TEST(Obstacles, ListRecordsAndBothDirections) {
  const auto t = Run_Exchanges({
      {"SETTINGS_ENABLE_LOGGING"},
      {"OBSTACLES_PRESENT 2 3", "FALSE"},  // empty list
      {"OBSTACLES_GET_NUM", " 0"},
      {"OBSTACLES_ADD_OBSTACLE 2 3"},
      {"OBSTACLES_PRESENT 3 2", "TRUE"},
      {"OBSTACLES_PRESENT 2 3", "TRUE"},
      {"OBSTACLES_PRESENT 2 4", "FALSE"},
      {"OBSTACLES_ADD_OBSTACLE 2 3"},  // duplicates count
      {"OBSTACLES_GET_NUM", " 2"},
      {"OBSTACLES_ADD_OBSTACLE 12 0"},  // no upper bound here
      {"OBSTACLES_GET_NUM", " 3"},
      {"OBSTACLES_PRESENT 0 12", "TRUE"},
      {"OBSTACLES_ADD_OBSTACLE -1 0"},  // refused after its record
      {"OBSTACLES_ADD_OBSTACLE 0 -1"},
      {"OBSTACLES_GET_NUM", " 3"},
      {"OBSTACLES_PRESENT -1 0", "FALSE"},  // not validated
      {"OBSTACLES_CLEAN"},
      {"OBSTACLES_GET_NUM", " 0"},
      {"OBSTACLES_PRESENT 3 2", "FALSE"},
  });
  EXPECT_EQ(t.log, (std::vector<std::string>{
                       "INFORMATIONAL : Logging enabled",
                       "INFORMATIONAL : Checking obstacle from  2 to  3, result is: FALSE",
                       "INFORMATIONAL : Adding obstacle from  2 to  3",
                       "INFORMATIONAL : Checking obstacle from  3 to  2, result is: TRUE",
                       "INFORMATIONAL : Checking obstacle from  2 to  3, result is: TRUE",
                       "INFORMATIONAL : Checking obstacle from  2 to  4, result is: FALSE",
                       "INFORMATIONAL : Adding obstacle from  2 to  3",
                       "INFORMATIONAL : Adding obstacle from  12 to  0",
                       "INFORMATIONAL : Checking obstacle from  0 to  12, result is: TRUE",
                       "INFORMATIONAL : Adding obstacle from -1 to  0",
                       "INFORMATIONAL : Adding obstacle from  0 to -1",
                       "INFORMATIONAL : Checking obstacle from -1 to  0, result is: FALSE",
                       "INFORMATIONAL : Cleaning obstacles",
                       "INFORMATIONAL : Checking obstacle from  3 to  2, result is: FALSE",
                   }));
}

TEST(Monitoring, SettingsAndMonitoringRecords) {
  const auto t = Run_Mova(
      Lines({"SETTINGS_ENABLE_LOGGING", "SETTINGS_SET_MAX_RAM 5", "SETTINGS_SET_TIMEOUT 100",
             "MONITORING_GET_EVALUATIONS", "MONITORING_GET_CPU_TIME", "MONITORING_GET_RAM_USAGE",
             "MONITORING_GET_NUM_VEHICLES", "ENVIRONMENT_CLEAN",
             "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 10 11", "ENVIRONMENT_BUILD",
             "MONITORING_GET_EVALUATIONS", "MONITORING_GET_CPU_TIME", "MONITORING_GET_RAM_USAGE",
             "MONITORING_GET_NUM_VEHICLES", "SETTINGS_DISABLE_LOGGING", "SETTINGS_SET_MAX_RAM 6",
             "MONITORING_GET_NUM_VEHICLES"}));
  const std::vector<std::string> expected_out = {" 0", "0.00000", " 0", " 3", " 2",
                                                 "",   " 0",      " 3", " 3"};
  std::vector<std::string> out;
  std::string line;
  for (char c : t.out) {
    if (c == '\n') {
      out.push_back(line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  ASSERT_EQ(out.size(), expected_out.size()) << t.out;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (i == 5) {
      // The unscaled time of one tiny search: well below a second.
      EXPECT_TRUE(std::regex_match(out[i], std::regex("0\\.[0-9]{5}"))) << out[i];
    } else {
      EXPECT_EQ(out[i], expected_out[i]) << "answer " << i;
    }
  }
  ASSERT_EQ(t.log.size(), 14u);
  EXPECT_EQ(t.log[1], "INFORMATIONAL : Max RAM set to  5 Mb");
  EXPECT_EQ(t.log[2], "INFORMATIONAL : Timeout set to  100 ms");
  EXPECT_EQ(t.log[3], "INFORMATIONAL : Evaluations requested ( 0 )");
  EXPECT_EQ(t.log[4], "INFORMATIONAL : CPU time requested ( 0.00000E+00 s)");
  EXPECT_EQ(t.log[5], "INFORMATIONAL : RAM usage requested ( 0 Mb)");
  EXPECT_EQ(t.log[6], "INFORMATIONAL : Cleaning environment");
  EXPECT_EQ(t.log[10], "INFORMATIONAL : Environment built");
  EXPECT_EQ(t.log[11], "INFORMATIONAL : Evaluations requested ( 2 )");
  EXPECT_TRUE(std::regex_match(
      t.log[12],
      std::regex(R"(INFORMATIONAL : CPU time requested \( [1-9]\.[0-9]{5}E-[0-9]{2} s\))")))
      << t.log[12];
  EXPECT_EQ(t.log[13], "INFORMATIONAL : RAM usage requested ( 0 Mb)");
}

TEST(Settings, LimitsStartAt2048MegabytesAndOneSecondAndConvertInSinglePrecision) {
  Mova::Reset_All();
  namespace D = Search::DStarLite;
  EXPECT_EQ(D::Get_Max_RAM(), 2048);
  EXPECT_EQ(D::Get_Timeout(), 1000000000);
  Mova::Settings_Set_Max_RAM(5);
  EXPECT_EQ(D::Get_Max_RAM(), 5);
  Mova::Settings_Set_Max_RAM(0);
  EXPECT_EQ(D::Get_Max_RAM(), 0);
  const std::vector<std::pair<std::int32_t, std::int64_t>> timeouts = {
      {1500, 1500000000}, {100, 100000001}, {1000, 1000000000}, {1, 1000000},
      {250, 250000000},   {0, 0},           {3, 3000000}};
  for (const auto& [milliseconds, nanoseconds] : timeouts) {
    Mova::Settings_Set_Timeout(milliseconds);
    EXPECT_EQ(D::Get_Timeout(), nanoseconds) << milliseconds << " ms";
  }
  EXPECT_EQ(Mova::Monitoring_Get_Num_Vehicles(), 3);
  Mova::Reset_All();
}

}  // namespace
