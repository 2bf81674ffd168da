// The worked example of one road: a whole mission through the real binary.
#include <gtest/gtest.h>

#include "support/exchanges.hpp"

namespace {

TEST(Mission, OneRoadWorkedExampleLinksCurrentToGoalInOneEvaluation) {
  const auto t = Testing::Run_Exchanges({{"SETTINGS_ENABLE_LOGGING"},
                                         {"ENVIRONMENT_CLEAN"},
                                         {"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 1"},
                                         {"ENVIRONMENT_BUILD"},
                                         {"VEHICLE_SET_CURRENT_POS 1 0"},
                                         {"VEHICLE_SET_CURRENT_POS 2 5"},
                                         {"VEHICLE_SET_CURRENT_POS 3 9"},
                                         {"VEHICLE_SET_GOAL_POS 1 1"},
                                         {"VEHICLE_SET_GOAL_POS 2 5"},
                                         {"VEHICLE_SET_GOAL_POS 3 9"},
                                         {"MOVA_START_MISSION", "TRUE"},
                                         {"MONITORING_GET_EVALUATIONS", " 1"},
                                         {"MOVA_GET_NUM_STEPS", " 1"},
                                         {"VEHICLE_GET_NEXT_POS 1", " 1"},
                                         {"VEHICLE_MOVED_FORWARD", "TRUE"},
                                         {"VEHICLE_GOAL_REACHED", "TRUE"}});
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.err, "");
  ASSERT_GE(t.log.size(), 3u);
  EXPECT_EQ(t.log.front(), "INFORMATIONAL : Logging enabled");
  EXPECT_EQ(t.log.back(), "INFORMATIONAL : Goal already reached");
}

}  // namespace
