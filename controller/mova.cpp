// The controller facade behind the console commands.
#include "controller/mova.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

#include "controller/obstacles.hpp"
#include "petrinet/petrinet-coloured.hpp"
#include "petrinet/petrinet-simple.hpp"
#include "petrinet/petrinet.hpp"
#include "reachability/reachabilitygraph-coloured.hpp"
#include "reachability/reachabilitygraph-simple.hpp"
#include "search/search-dijkstra.hpp"
#include "search/search-dstarlite.hpp"
#include "utils/utils-io.hpp"
#include "utils/utils-logger.hpp"
#include "utils/utils-types.hpp"

// The build writes the commit it builds from into this header; a build without it (the fuzz
// targets) names no commit.
#if __has_include("mova_build_id.hpp")
#include "mova_build_id.hpp"
#else
#define MOVA_BUILD_ID "0000000000000000000000000000000000000000"
#endif

namespace Mova {

const char* const Author_Text = "The MOVA Traffic Controller Team";
const char* const Org_Text = "MOVA";
// The copyright line and the two notices agree with LICENSE and NOTICE at the top of the
// source tree (a test compares them).
const char* const Copyright_Text =
    "Copyright (C) 2024 The MOVA Traffic Controller Team. Licensed under the Apache License, "
    "Version 2.0.";
const char* const Watermark_Text = "MOVA traffic controller, by The MOVA Traffic Controller Team. ";
const char* const Disclaimer_Text =
    "Distributed under the Apache License, Version 2.0, on an \"AS IS\" BASIS, WITHOUT "
    "WARRANTIES OR CONDITIONS OF ANY KIND, either express or implied.";
const char* const Safety_Text =
    "This software is not to be used in safety-critical applications: it is not designed, "
    "tested or certified for them. This is a warning, not a condition of the License.";

const char* Build_Id() {
  return MOVA_BUILD_ID;
}

namespace {

namespace DStar = Search::DStarLite;
using PetriNet::Coloured::Colour;
using PetriNet::Coloured::CPN_Marking;
using Utils::Logger::Log;
using Utils::Logger::Log_Parts;
using Utils::Logger::Severity;

struct Controller_State {
  bool Environment_Locked = true;
  std::int32_t Number_Of_Roads = 0;
};

Controller_State controller;
bool init_pause = true;

constexpr auto Init_Pause = std::chrono::milliseconds(369);

void Check_Position(std::int32_t position) {
  Utils::Require(position >= 0 && position < Max_Pos, "position outside 0..11");
}

// The place of the vehicle in `m` (the highest when it stands on several) when it is at least
// `lowest`, else `none`.
std::int32_t Position(const CPN_Marking& m, std::int32_t vehicle, int lowest, std::int32_t none) {
  const int place = PetriNet::Coloured::Locate(m).place[Utils::Index(vehicle - 1)];
  return place >= lowest ? place : none;
}

void Remove_Vehicle(CPN_Marking& m, std::int32_t vehicle) {
  const Colour colour = PetriNet::Coloured::Vehicle_Colour(vehicle);
  for (Colour& c : m)
    if (c == colour) c = Colour::EMPTY;
}

enum class Road_Kind { One_Way, One_Lane, Two_Lanes };

void Add_Road(Road_Kind kind, std::int32_t a, std::int32_t b) {
  if (controller.Environment_Locked) {
    Log(Severity::ERROR, "Environment locked");
    return;
  }
  if (controller.Number_Of_Roads >= Max_Roads) {
    Log(Severity::ERROR, "Number max. of roads reached");
    return;
  }
  const char* lead = kind == Road_Kind::One_Way    ? "Creating one-way road from"
                     : kind == Road_Kind::One_Lane ? "Creating two-way road (one lane) from"
                                                   : "Creating two-way road (two lanes) from";
  Log_Parts(Severity::INFORMATIONAL, lead, a, " to", b);
  Check_Position(a);
  Check_Position(b);
  const int k = controller.Number_Of_Roads;
  PetriNet::Add_Pre(a, 2 * k);
  PetriNet::Add_Post(b, 2 * k);
  if (kind != Road_Kind::One_Way) {
    PetriNet::Add_Pre(b, 2 * k + 1);
    PetriNet::Add_Post(a, 2 * k + 1);
  }
  if (kind == Road_Kind::One_Lane) {
    PetriNet::Add_Constraint(2 * k, 2 * k + 1);
    PetriNet::Add_Constraint(2 * k + 1, 2 * k);
  }
  ++controller.Number_Of_Roads;
  Log_Parts(Severity::DEBUG, "Current Road number ", controller.Number_Of_Roads);
}

// Creates `name` with `lines` unless a file of that name exists; a failure ends the program.
// The text is written whole or the file is removed again, so that a later Init writes it anew.
void Write_Notice(const char* name, std::initializer_list<const char*> lines) {
  std::error_code exists_error;
  if (std::filesystem::exists(name, exists_error)) return;
  std::string text;
  for (const char* line : lines) text.append(line).push_back('\n');
  const int fd =
      ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0)
    throw Utils::Fatal_Error{std::string("cannot create notice file ") + name + ": " +
                             std::strerror(errno)};
  int error = Utils::Write_All(fd, text);
  if (error != 0) {
    [[maybe_unused]] const int cut = ::ftruncate(fd, 0);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) {
    ::unlink(name);
    throw Utils::Fatal_Error{std::string("cannot write notice file ") + name + ": " +
                             std::strerror(error)};
  }
}

void Print_Line(const char* text) {
  std::cout << text << '\n';
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Mission and vehicles

void Init() {
  DStar::Clear_Distances();
  Log(Severity::INFORMATIONAL, "Initializing MOVA");
  if (init_pause) std::this_thread::sleep_for(Init_Pause);
  Log_Parts(Severity::INFORMATIONAL, "# Pos: ", Max_Pos);
  Log_Parts(Severity::INFORMATIONAL, "# Roads: ", Max_Roads);
  Log_Parts(Severity::INFORMATIONAL, "# Vehicles: ", DStar::Get_Number_Of_Vehicles());
  Write_Notice("MOVA_Disclaimer.txt", {Disclaimer_Text, "", Safety_Text});
  Write_Notice("MOVA_Copyright.txt", {Copyright_Text});
}

bool Start_Mission() {
  Log(Severity::INFORMATIONAL, "Start mission");
  const bool result = DStar::Compute_Solution(Obstacles::List());
  const Utils::Search_Statistics stats = DStar::Get_Statistics();
  Log_Parts(Severity::INFORMATIONAL, "Solution computed ", result ? "TRUE" : "FALSE",
            ", CPU time: ", Utils::Duration_Image(stats.CPU_Time), " (s)");
  return result;
}

void End_Mission() {
  DStar::Reset_Search();
  Log(Severity::INFORMATIONAL, "Mission end");
}

std::int32_t Get_Num_Steps() {
  return DStar::Get_Number_Of_Steps();
}

void Vehicle_Set_Current_Pos(std::int32_t vehicle, std::int32_t position) {
  CPN_Marking m = DStar::Get_Current_Marking();
  Remove_Vehicle(m, vehicle);
  Check_Position(position);
  m[Utils::Index(position)] = PetriNet::Coloured::Vehicle_Colour(vehicle);
  DStar::Set_Current_Marking(m);
  Log_Parts(Severity::INFORMATIONAL, "Current for vehicle ", vehicle, " is ", position);
}

std::int32_t Vehicle_Get_Current_Pos(std::int32_t vehicle) {
  const std::int32_t position = Position(DStar::Get_Current_Marking(), vehicle, 0, -1);
  Log_Parts(Severity::INFORMATIONAL, "Current for vehicle ", vehicle, " is ", position);
  return position;
}

std::int32_t Vehicle_Get_Dis_To_Pos(std::int32_t vehicle, std::int32_t position) {
  const std::int32_t current = Vehicle_Get_Current_Pos(vehicle);
  Check_Position(current);
  Check_Position(position);
  const std::int32_t distance = DStar::Get_Distance(current, position);
  Log_Parts(Severity::INFORMATIONAL, "Dis. to pos for vehicle ", vehicle, " (currently in pos",
            current, ") to pos", position, " is ", distance);
  return distance;
}

void Vehicle_Set_Goal_Pos(std::int32_t vehicle, std::int32_t position) {
  CPN_Marking m = DStar::Get_Goal_Marking();
  Check_Position(position);
  if (m[Utils::Index(position)] != Colour::EMPTY) {
    Log(Severity::ERROR, "Goal position not empty");
    return;
  }
  Remove_Vehicle(m, vehicle);
  m[Utils::Index(position)] = PetriNet::Coloured::Vehicle_Colour(vehicle);
  DStar::Set_Goal_Marking(m);
  Log_Parts(Severity::INFORMATIONAL, "Goal for vehicle ", vehicle, " is ", position);
}

std::int32_t Vehicle_Get_Next_Pos(std::int32_t vehicle) {
  return Position(DStar::Get_Next_Marking(), vehicle, 1, 0);
}

std::int32_t Vehicle_Get_Step_Pos(std::int32_t vehicle, std::int32_t step) {
  return Position(DStar::Get_Step_Marking(step), vehicle, 1, 0);
}

bool Vehicle_Moved_Forward() {
  const bool result = DStar::Moved_Forward();
  Log(Severity::INFORMATIONAL, result ? "Goal already reached" : "Vehicles forwarded");
  return result;
}

bool Vehicle_Goal_Reached() {
  return DStar::Goal_Reached();
}

// ---------------------------------------------------------------------------------------------
// The environment

void Environment_Clean() {
  Log(Severity::INFORMATIONAL, "Cleaning environment");
  controller.Environment_Locked = false;
  DStar::Net_Changed();
  PetriNet::Clear();
  controller.Number_Of_Roads = 0;
}

namespace {

// The key of the single-token marking with its token on position `p`.
ReachabilityGraph::Simple::Key_PN Position_Key(int p) {
  PetriNet::Simple::PN_Marking marking = PetriNet::Simple::Empty_Marking();
  marking[Utils::Index(p)] = true;
  return ReachabilityGraph::Simple::Compute_Key_PN(marking);
}

// The figures of a distance search become the search statistics; the two fields that only a
// mission computation writes keep their values.
void Record_Distance_Figures(const Search::Dijkstra::Search_Figures& figures) {
  Utils::Search_Statistics statistics = DStar::Get_Statistics();
  statistics.Evaluations = figures.Evaluations;
  statistics.CPU_Time = figures.CPU_Time;
  statistics.Queue_Size = figures.Queue_Size;
  DStar::Set_Statistics(statistics);
}

}  // namespace

void Environment_Build() {
  Log(Severity::INFORMATIONAL, "Building Environment");
  controller.Environment_Locked = true;
  DStar::Net_Changed();
  ReachabilityGraph::Coloured::Init_PN_Engine();
  Search::Dijkstra::Prepare();
  DStar::Clear_Distances();
  // One search per source fills its row. The statistics are those of the last pair's search
  // (11 to 11), which the search from 11 reports for its target.
  Search::Dijkstra::Set_Target(Position_Key(Max_Pos - 1));
  for (int i = 0; i < Max_Pos; ++i) {
    Search::Dijkstra::Set_Source(Position_Key(i));
    const Search::Dijkstra::Source_Search search = Search::Dijkstra::Distances_From_Source();
    for (int j = 0; j < Max_Pos; ++j) DStar::Set_Distance(i, j, search.distances[Utils::Index(j)]);
    Search::Dijkstra::Reset_Values();
    if (i == Max_Pos - 1) Record_Distance_Figures(search.target_figures);
  }
  Log(Severity::INFORMATIONAL, "Environment built");
}

std::int32_t Environment_Get_Max_Pos() {
  Log(Severity::INFORMATIONAL, "Obtaining MAX number of pos");
  return Max_Pos;
}

std::int32_t Environment_Get_Max_Roads() {
  Log(Severity::INFORMATIONAL, "Obtaining MAX number of roads");
  return Max_Roads;
}

void Environment_Add_One_Way_Road(std::int32_t origin, std::int32_t destination) {
  Add_Road(Road_Kind::One_Way, origin, destination);
}

void Environment_Add_Two_Way_Road_One_Lane(std::int32_t first, std::int32_t second) {
  Add_Road(Road_Kind::One_Lane, first, second);
}

void Environment_Add_Two_Way_Road_Two_Lanes(std::int32_t first, std::int32_t second) {
  Add_Road(Road_Kind::Two_Lanes, first, second);
}

bool Environment_Locked() {
  return controller.Environment_Locked;
}
std::int32_t Number_Of_Roads() {
  return controller.Number_Of_Roads;
}

// ---------------------------------------------------------------------------------------------
// Obstacles

void Obstacles_Clean() {
  Log(Severity::INFORMATIONAL, "Cleaning obstacles");
  Obstacles::Clean();
}

void Obstacles_Add_Obstacle(std::int32_t origin, std::int32_t destination) {
  Log_Parts(Severity::INFORMATIONAL, "Adding obstacle from ", origin, " to ", destination);
  Utils::Require(origin >= 0, "negative obstacle end");
  Utils::Require(destination >= 0, "negative obstacle end");
  Obstacles::Add(origin, destination);
}

std::int32_t Obstacles_Get_Num() {
  return Obstacles::Count();
}

bool Obstacles_Present(std::int32_t a, std::int32_t b) {
  const bool present = Obstacles::Present(a, b);
  Log_Parts(Severity::INFORMATIONAL, "Checking obstacle from ", a, " to ", b,
            ", result is: ", present ? "TRUE" : "FALSE");
  return present;
}

bool Obstacles_Confirm() {
  Log(Severity::INFORMATIONAL, "Obstacles confirmed");
  DStar::Reset_Search();
  const bool result = DStar::Compute_Solution(Obstacles::List());
  const Utils::Search_Statistics stats = DStar::Get_Statistics();
  Log_Parts(Severity::INFORMATIONAL, "Solution recomputed ", result ? "TRUE" : "FALSE",
            ", CPU time: ", Utils::Duration_Image(stats.CPU_Time), " (s)");
  return result;
}

// ---------------------------------------------------------------------------------------------
// Settings

void Settings_Set_Max_RAM(std::int32_t megabytes) {
  DStar::Set_Max_RAM(megabytes);
  Log_Parts(Severity::INFORMATIONAL, "Max RAM set to ", megabytes, " Mb");
}

void Settings_Set_Timeout(std::int32_t milliseconds) {
  DStar::Set_Timeout(milliseconds);
  Log_Parts(Severity::INFORMATIONAL, "Timeout set to ", milliseconds, " ms");
}

void Settings_Enable_Logging() {
  Utils::Logger::Enable();
  Log(Severity::INFORMATIONAL, "Logging enabled");
}

void Settings_Disable_Logging() {
  Utils::Logger::Disable();
}

// ---------------------------------------------------------------------------------------------
// Monitoring

std::int32_t Monitoring_Get_Num_Vehicles() {
  return DStar::Get_Number_Of_Vehicles();
}

float Monitoring_Get_CPU_Time() {
  const float seconds = Utils::Seconds(DStar::Get_Statistics().CPU_Time);
  Log_Parts(Severity::INFORMATIONAL, "CPU time requested (", Utils::Float_Image(seconds), " s)");
  return seconds;
}

std::int32_t Monitoring_Get_RAM_Usage() {
  const std::int32_t value = DStar::Get_Statistics().RAM_Usage;
  Log_Parts(Severity::INFORMATIONAL, "RAM usage requested (", value, " Mb)");
  return value;
}

std::int32_t Monitoring_Get_Evaluations() {
  const std::int32_t value = DStar::Get_Statistics().Evaluations;
  Log_Parts(Severity::INFORMATIONAL, "Evaluations requested (", value, " )");
  return value;
}

// ---------------------------------------------------------------------------------------------
// Information

void Generation() {
  Print_Line("2024");
}
void Build_Version() {
  Print_Line(Build_Id());
}
void Information_Get_Author() {
  Print_Line(Author_Text);
}
void Information_Get_Org() {
  Print_Line(Org_Text);
}
void Information_Get_Copyright() {
  Print_Line(Copyright_Text);
}
void Information_Get_Watermark() {
  Print_Line(Watermark_Text);
}

void Set_Init_Pause(bool enabled) {
  init_pause = enabled;
}

void Reset_All() {
  controller = Controller_State{};
  Obstacles::Clean();
  PetriNet::Reset();
  ReachabilityGraph::Simple::Clear_Graph();
  DStar::Reset();
  Utils::Logger::Reset();
}

}  // namespace Mova
