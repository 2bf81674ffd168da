// The command console: reads command lines, calls one facade operation per line and prints its
// result. The program's entry point runs it on standard input.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string_view>

namespace Launcher {

enum class Command : std::uint8_t {
  MOVA_INIT, MOVA_GENERATION, MOVA_BUILD_VERSION, MOVA_START_MISSION, MOVA_GET_NUM_STEPS,
  MOVA_END_MISSION, VEHICLE_SET_CURRENT_POS, VEHICLE_GET_CURRENT_POS, VEHICLE_GET_DIS_TO_POS,
  VEHICLE_SET_GOAL_POS, VEHICLE_GET_NEXT_POS, VEHICLE_GET_STEP_POS, VEHICLE_MOVED_FORWARD,
  VEHICLE_GOAL_REACHED, ENVIRONMENT_CLEAN, ENVIRONMENT_BUILD, ENVIRONMENT_GET_MAX_POS,
  ENVIRONMENT_GET_MAX_ROADS, ENVIRONMENT_ADD_ONE_WAY_ROAD, ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE,
  ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES, OBSTACLES_CLEAN, OBSTACLES_ADD_OBSTACLE,
  OBSTACLES_GET_NUM, OBSTACLES_PRESENT, OBSTACLES_CONFIRM, SETTINGS_SET_MAX_RAM,
  SETTINGS_SET_TIMEOUT, SETTINGS_ENABLE_LOGGING, SETTINGS_DISABLE_LOGGING,
  MONITORING_GET_NUM_VEHICLES, MONITORING_GET_CPU_TIME, MONITORING_GET_RAM_USAGE,
  MONITORING_GET_EVALUATIONS, INFORMATION_GET_AUTHOR, INFORMATION_GET_ORG,
  INFORMATION_GET_COPYRIGHT, INFORMATION_GET_WATERMARK
};

inline constexpr int Number_Of_Commands = 38;

// Lines longer than this are dropped whole; the rest of such a line is read and discarded.
inline constexpr std::size_t Max_Line_Length = 16u << 20;

// The command named by `word`, compared without regard to letter case after blanks around it
// are removed; nothing for any other word.
std::optional<Command> Find_Command(std::string_view word);

// `word` as a 32-bit signed integer: an optional sign and decimal digits, blanks around it
// ignored; nothing for anything else or a value that does not fit.
std::optional<std::int32_t> To_Integer(std::string_view word);

// Executes one command line, writing its result to standard output. Raises Utils::Range_Error
// for a line that is dropped (what the operation did before stays done).
void Execute(std::string_view line);

// Start-up (every module to its initial state, logging off, the blank as word separator),
// then executes the lines of `input` (which must have a buffer) until it ends. Standard output is
// flushed before each read that may wait. Returns the exit status: 0 at the end of input; after a
// failure that ends the program (unwritable log or notice file, unreadable input or output,
// exhausted memory) hands every answer so far to standard output, writes a one-line diagnostic to
// standard error and returns 1.
int Run(std::istream& input);

// The program: Run on the process's standard input and output, read and written through their
// descriptors (waited on in non-blocking mode); a write error on standard output other than a
// closed pipe ends the program as a failure, and so does the file-size limit (the signal it
// raises is ignored, so that the write fails instead).
int Main();

}  // namespace Launcher
