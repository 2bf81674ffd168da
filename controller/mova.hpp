// The controller facade: one operation per console command, the controller state (environment
// lock, road count) and the translation between vehicles, positions and planner markings.
#pragma once

#include <cstdint>

#include "petrinet/petrinet-coloured.hpp"
#include "petrinet/petrinet.hpp"

namespace Mova {

// The positions are the places of the net, the vehicles those of the coloured net.
inline constexpr int Max_Pos = PetriNet::Max_Places;
inline constexpr int Max_Roads = 15;
inline constexpr int Number_Of_Vehicles = PetriNet::Coloured::Number_Of_Vehicles;
static_assert(2 * Max_Roads <= PetriNet::Max_Transitions, "a road takes two transitions");

// Mission and vehicles. Positions outside 0..11 raise Utils::Range_Error; the vehicle number
// (1..3) is checked by the console.
void Init();
bool Start_Mission();
void End_Mission();
std::int32_t Get_Num_Steps();
void Vehicle_Set_Current_Pos(std::int32_t vehicle, std::int32_t position);
std::int32_t Vehicle_Get_Current_Pos(std::int32_t vehicle);
std::int32_t Vehicle_Get_Dis_To_Pos(std::int32_t vehicle, std::int32_t position);
void Vehicle_Set_Goal_Pos(std::int32_t vehicle, std::int32_t position);
std::int32_t Vehicle_Get_Next_Pos(std::int32_t vehicle);
std::int32_t Vehicle_Get_Step_Pos(std::int32_t vehicle, std::int32_t step);
bool Vehicle_Moved_Forward();
bool Vehicle_Goal_Reached();

// The environment.
void Environment_Clean();
void Environment_Build();
std::int32_t Environment_Get_Max_Pos();
std::int32_t Environment_Get_Max_Roads();
void Environment_Add_One_Way_Road(std::int32_t origin, std::int32_t destination);
void Environment_Add_Two_Way_Road_One_Lane(std::int32_t first, std::int32_t second);
void Environment_Add_Two_Way_Road_Two_Lanes(std::int32_t first, std::int32_t second);

// Obstacles (ends 0 or more; no upper bound here).
void Obstacles_Clean();
void Obstacles_Add_Obstacle(std::int32_t origin, std::int32_t destination);
std::int32_t Obstacles_Get_Num();
bool Obstacles_Present(std::int32_t a, std::int32_t b);
bool Obstacles_Confirm();

// Settings.
void Settings_Set_Max_RAM(std::int32_t megabytes);
void Settings_Set_Timeout(std::int32_t milliseconds);
void Settings_Enable_Logging();
void Settings_Disable_Logging();

// Monitoring: the figures the last search left.
std::int32_t Monitoring_Get_Num_Vehicles();
float Monitoring_Get_CPU_Time();
std::int32_t Monitoring_Get_RAM_Usage();
std::int32_t Monitoring_Get_Evaluations();

// Information lines, each written to standard output by the operation itself.
void Generation();
void Build_Version();
void Information_Get_Author();
void Information_Get_Org();
void Information_Get_Copyright();
void Information_Get_Watermark();

// The fixed texts behind the information lines and the notice files.
extern const char* const Author_Text;
extern const char* const Org_Text;
extern const char* const Copyright_Text;
extern const char* const Watermark_Text;
extern const char* const Disclaimer_Text;
extern const char* const Safety_Text;
const char* Build_Id();

// Whether the environment is locked against new roads, and how many roads it holds.
bool Environment_Locked();
std::int32_t Number_Of_Roads();

// Switches the pause of Init on (the default) or off. Only tests and fuzzing switch it off.
void Set_Init_Pause(bool enabled);

// Every module of the controller and below back to its state at program start.
void Reset_All();

}  // namespace Mova
