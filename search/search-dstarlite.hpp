// The mission planner: a backward search over the coloured reachability graph from the goal
// marking to the current marking, the plan queries on its result and the planner's limits.
#pragma once

#include <cstdint>

#include "petrinet/petrinet-coloured.hpp"
#include "utils/utils-types.hpp"

namespace Search::DStarLite {

using PetriNet::Coloured::CPN_Marking;

inline constexpr int Max_Evaluations = 30000;
// CPU_Time = elapsed wall-clock time x 4.371.
inline constexpr std::int64_t CPU_Time_Factor_Per_Mille = 4371;

// Searches backwards from the goal until the current marking turns up as a successor whose
// links lead to the goal, the queue runs empty, 30000 evaluations were made, or the time or
// memory limit is hit (ERROR "Timeout" / "Out of memory"). Returns true only when the current
// marking was reached; then Next_Marking is the marking one step ahead. Writes the statistics
// and sleeps for CPU_Time. A current marking that misses a vehicle makes no search and returns
// false. Range_Error (no statistics, no sleep) for an obstacle end outside 0..11 or a heuristic
// entry out of range.
bool Compute_Solution(const Utils::Obstacles_List& obstacles);

// Empties the planner queue and the coloured graph.
void Reset_Search();

// Marks the search as built on a net that has changed since (the environment was cleaned or
// built again): the next Compute_Solution first empties the queue and the graph as Reset_Search
// does, without a record. Reset_Search clears the mark. Until then the step queries still read
// the plan the last computation left.
void Net_Changed();

// The distance table: entries are whole numbers of road moves, 32767 for no path.
void Clear_Distances();
// Range_Error for an index outside 0..11.
void Set_Distance(std::int32_t from, std::int32_t to, std::int32_t steps);
// The entry rounded to the nearest whole number; Range_Error for an index outside 0..11 or an
// entry outside (-0.5, 2147483648.0).
std::int32_t Get_Distance(std::int32_t from, std::int32_t to);

// Sum modulo 32768 of the table distances from each vehicle's place in `marking` to its place
// in the current marking. Range_Error when a vehicle is missing or an entry is outside
// (-0.5, 32767.5).
Utils::Cost Heuristic(const CPN_Marking& marking);
// The same sum from the places in `a` to those in `b`.
Utils::Cost Marking_Distance(const CPN_Marking& a, const CPN_Marking& b);

// Whether a vehicle moves along an obstacle road, either way, from `a` to `b`. Range_Error for
// an obstacle end outside 0..11.
bool Is_Blocked(const CPN_Marking& a, const CPN_Marking& b, const Utils::Obstacles_List& obstacles);

// The markings; Range_Error, and nothing set, for a colour of no vehicle.
CPN_Marking Get_Current_Marking();
void Set_Current_Marking(const CPN_Marking& marking);
CPN_Marking Get_Goal_Marking();
// Also sets Key_Modifier back to 0.
void Set_Goal_Marking(const CPN_Marking& marking);
CPN_Marking Get_Next_Marking();

// The marking n PARENT links ahead of the current marking (the current marking for n < 0).
// Range_Error when the walk meets a key missing from the graph.
CPN_Marking Get_Step_Marking(std::int64_t step);

// The number of links from the current marking to the goal marking; 0 without a solution.
// Range_Error when the walk meets a missing key or takes more links than the graph has vertices.
std::int32_t Get_Number_Of_Steps();

// True when the current marking equals the goal marking on all 12 places.
bool Goal_Reached();

// Follows the plan one link: the current marking becomes its parent's marking, Key_Modifier
// grows by the distances moved, and the next marking becomes the marking one link further on
// (kept as it was when that link leads nowhere). Returns whether the vehicles then stand on
// their goals; does nothing when they already do or there is no solution.
bool Moved_Forward();

int Get_Number_Of_Vehicles();

void Set_Max_RAM(std::int32_t megabytes);
// n / 1000 seconds formed in single precision, in whole nanoseconds rounded to nearest.
void Set_Timeout(std::int32_t milliseconds);

// The figures of the last search, read by the monitoring commands and written by the distance
// search too.
Utils::Search_Statistics Get_Statistics();
void Set_Statistics(const Utils::Search_Statistics& statistics);

// Read access for the tests.
std::int32_t Get_Max_RAM();
std::int64_t Get_Timeout();  // nanoseconds
Utils::Cost Get_Key_Modifier();
bool Get_Solution_Found();
int Queue_Length();

// Switches the pause after each computation on (the default) or off. Only tests and
// benchmarks switch it off.
void Set_Pause(bool enabled);

// Back to the state at program start (markings EMPTY, table zero, limits 2048 MB and 1 s,
// key modifier 0, queue empty, statistics zero); the coloured graph is cleared too.
void Reset();

}  // namespace Search::DStarLite
