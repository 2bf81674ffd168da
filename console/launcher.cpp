// The command loop: words to commands, argument checks, the facade call and the answer line.
#include "console/launcher.hpp"

#include <array>
#include <iostream>
#include <limits>
#include <new>
#include <string>

#include "console/utils-argparser.hpp"
#include "controller/mova.hpp"
#include "utils/utils-types.hpp"

namespace Launcher {
namespace {

// The argument kinds, each with the range the console accepts.
enum class Kind : std::uint8_t { Vehicle, Position, Step, Amount };

using Arguments = std::array<std::int32_t, 2>;

void Print(bool value) { std::cout << (value ? "TRUE\n" : "FALSE\n"); }
void Print(std::int32_t value) { std::cout << Utils::Integer_Image(value) << '\n'; }

// A command: its word, the kinds of its arguments in word order, and what it does with them.
struct Command {
  std::string_view name;
  std::uint8_t arity;
  std::array<Kind, 2> kinds;
  void (*run)(const Arguments& a);
};

using K = Kind;
using A = const Arguments&;
// The commands; a command's number is its place in the table.
constexpr Command kCommands[] = {
    {"MOVA_INIT", 0, {}, [](A) { Mova::Init(); }},
    {"MOVA_GENERATION", 0, {}, [](A) { Mova::Generation(); }},
    {"MOVA_BUILD_VERSION", 0, {}, [](A) { Mova::Build_Version(); }},
    {"MOVA_START_MISSION", 0, {}, [](A) { Print(Mova::Start_Mission()); }},
    {"MOVA_GET_NUM_STEPS", 0, {}, [](A) { Print(Mova::Get_Num_Steps()); }},
    {"MOVA_END_MISSION", 0, {}, [](A) { Mova::End_Mission(); }},
    {"VEHICLE_SET_CURRENT_POS", 2, {K::Vehicle, K::Position},
     [](A a) { Mova::Vehicle_Set_Current_Pos(a[0], a[1]); }},
    {"VEHICLE_GET_CURRENT_POS", 1, {K::Vehicle},
     [](A a) { Print(Mova::Vehicle_Get_Current_Pos(a[0])); }},
    {"VEHICLE_GET_DIS_TO_POS", 2, {K::Vehicle, K::Position},
     [](A a) { Print(Mova::Vehicle_Get_Dis_To_Pos(a[0], a[1])); }},
    {"VEHICLE_SET_GOAL_POS", 2, {K::Vehicle, K::Position},
     [](A a) { Mova::Vehicle_Set_Goal_Pos(a[0], a[1]); }},
    {"VEHICLE_GET_NEXT_POS", 1, {K::Vehicle}, [](A a) { Print(Mova::Vehicle_Get_Next_Pos(a[0])); }},
    {"VEHICLE_GET_STEP_POS", 2, {K::Vehicle, K::Step},
     [](A a) { Print(Mova::Vehicle_Get_Step_Pos(a[0], a[1])); }},
    {"VEHICLE_MOVED_FORWARD", 0, {}, [](A) { Print(Mova::Vehicle_Moved_Forward()); }},
    {"VEHICLE_GOAL_REACHED", 0, {}, [](A) { Print(Mova::Vehicle_Goal_Reached()); }},
    {"ENVIRONMENT_CLEAN", 0, {}, [](A) { Mova::Environment_Clean(); }},
    {"ENVIRONMENT_BUILD", 0, {}, [](A) { Mova::Environment_Build(); }},
    {"ENVIRONMENT_GET_MAX_POS", 0, {}, [](A) { Print(Mova::Environment_Get_Max_Pos()); }},
    {"ENVIRONMENT_GET_MAX_ROADS", 0, {}, [](A) { Print(Mova::Environment_Get_Max_Roads()); }},
    {"ENVIRONMENT_ADD_ONE_WAY_ROAD", 2, {K::Position, K::Position},
     [](A a) { Mova::Environment_Add_One_Way_Road(a[0], a[1]); }},
    {"ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE", 2, {K::Position, K::Position},
     [](A a) { Mova::Environment_Add_Two_Way_Road_One_Lane(a[0], a[1]); }},
    {"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES", 2, {K::Position, K::Position},
     [](A a) { Mova::Environment_Add_Two_Way_Road_Two_Lanes(a[0], a[1]); }},
    {"OBSTACLES_CLEAN", 0, {}, [](A) { Mova::Obstacles_Clean(); }},
    {"OBSTACLES_ADD_OBSTACLE", 2, {K::Position, K::Position},
     [](A a) { Mova::Obstacles_Add_Obstacle(a[0], a[1]); }},
    {"OBSTACLES_GET_NUM", 0, {}, [](A) { Print(Mova::Obstacles_Get_Num()); }},
    {"OBSTACLES_PRESENT", 2, {K::Position, K::Position},
     [](A a) { Print(Mova::Obstacles_Present(a[0], a[1])); }},
    {"OBSTACLES_CONFIRM", 0, {}, [](A) { Print(Mova::Obstacles_Confirm()); }},
    {"SETTINGS_SET_MAX_RAM", 1, {K::Amount}, [](A a) { Mova::Settings_Set_Max_RAM(a[0]); }},
    {"SETTINGS_SET_TIMEOUT", 1, {K::Amount}, [](A a) { Mova::Settings_Set_Timeout(a[0]); }},
    {"SETTINGS_ENABLE_LOGGING", 0, {}, [](A) { Mova::Settings_Enable_Logging(); }},
    {"SETTINGS_DISABLE_LOGGING", 0, {}, [](A) { Mova::Settings_Disable_Logging(); }},
    {"MONITORING_GET_NUM_VEHICLES", 0, {}, [](A) { Print(Mova::Monitoring_Get_Num_Vehicles()); }},
    {"MONITORING_GET_CPU_TIME", 0, {},
     [](A) { std::cout << Utils::Fixed_Image(Mova::Monitoring_Get_CPU_Time()) << '\n'; }},
    {"MONITORING_GET_RAM_USAGE", 0, {}, [](A) { Print(Mova::Monitoring_Get_RAM_Usage()); }},
    {"MONITORING_GET_EVALUATIONS", 0, {}, [](A) { Print(Mova::Monitoring_Get_Evaluations()); }},
    {"INFORMATION_GET_AUTHOR", 0, {}, [](A) { Mova::Information_Get_Author(); }},
    {"INFORMATION_GET_ORG", 0, {}, [](A) { Mova::Information_Get_Org(); }},
    {"INFORMATION_GET_COPYRIGHT", 0, {}, [](A) { Mova::Information_Get_Copyright(); }},
    {"INFORMATION_GET_WATERMARK", 0, {}, [](A) { Mova::Information_Get_Watermark(); }},
};

std::string_view Trim_Blanks(std::string_view word) {
  while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
  while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
  return word;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The command named by `word`, compared without regard to letter case after blanks around it
// are removed; nullptr for any other word.
const Command* Find_Command(std::string_view word) {
  word = Trim_Blanks(word);
  for (const Command& command : kCommands) {
    if (command.name.size() != word.size()) continue;
    bool same = true;
    for (std::size_t j = 0; same && j < word.size(); ++j) same = Upper(word[j]) == command.name[j];
    if (same) return &command;
  }
  return nullptr;
}

bool In_Range(Kind kind, std::int32_t value) {
  switch (kind) {
    case Kind::Vehicle:
      return value >= 1 && value <= 3;
    case Kind::Position:
      return value >= -1 && value <= 12;
    case Kind::Step:
    case Kind::Amount:
      return value >= 0;
  }
  return false;
}

std::int32_t Argument(std::string_view line, int n, Kind kind) {
  const std::optional<std::int32_t> value = To_Integer(Utils::ArgParser::Get_Argument(line, n));
  Utils::Require(value.has_value(), "argument is not a 32-bit integer");
  Utils::Require(In_Range(kind, *value), "argument out of range");
  return *value;
}

// Reads one line without its line feed (and one carriage return before it) into `line`.
// False at the end of input with nothing read. A line longer than Max_Line_Length is read to
// its end and reported through `too_long`.
bool Read_Line(std::streambuf& input, std::string& line, bool& too_long) {
  line.clear();
  too_long = false;
  bool any = false;
  while (true) {
    if (input.in_avail() <= 0) std::cout.flush();
    const int c = input.sbumpc();
    if (c == std::char_traits<char>::eof()) break;
    any = true;
    if (c == '\n') break;
    if (line.size() < Max_Line_Length) {
      line.push_back(static_cast<char>(c));
    } else {
      too_long = true;
    }
  }
  if (!line.empty() && line.back() == '\r' && !too_long) line.pop_back();
  return any;
}

}  // namespace

std::optional<std::int32_t> To_Integer(std::string_view word) {
  word = Trim_Blanks(word);
  bool negative = false;
  if (!word.empty() && (word.front() == '+' || word.front() == '-')) {
    negative = word.front() == '-';
    word.remove_prefix(1);
  }
  if (word.empty()) return std::nullopt;
  std::int64_t magnitude = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > kLimit) return std::nullopt;
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

void Execute(std::string_view line) {
  Utils::ArgParser::Parse(line);
  const Command* command = Find_Command(Utils::ArgParser::Get_Argument(line, 0));
  Utils::Require(command != nullptr, "unknown command");
  Arguments arguments{0, 0};
  for (int n = 0; n < command->arity; ++n)
    arguments[static_cast<std::size_t>(n)] =
        Argument(line, n + 1, command->kinds[static_cast<std::size_t>(n)]);
  command->run(arguments);
}

int Run(std::istream& input) {
  std::string line;
  try {
    Mova::Reset_All();
    Utils::ArgParser::Reset();
    Mova::Settings_Disable_Logging();
    Utils::ArgParser::Set_Separator(' ');
    std::streambuf* buffer = input.rdbuf();
    if (buffer == nullptr) throw Utils::Fatal_Error{"cannot read standard input"};
    bool too_long = false;
    while (true) {
      bool more = false;
      try {
        more = Read_Line(*buffer, line, too_long);
      } catch (const std::ios_base::failure&) {
        throw Utils::Fatal_Error{"cannot read standard input"};
      }
      if (!more) break;
      if (!too_long) {
        try {
          Execute(line);
        } catch (const Utils::Range_Error&) {
          // The line is dropped; what its operation did before stays done.
        }
      }
      if (line.capacity() > 65536) std::string().swap(line);
    }
    std::cout.flush();
    return 0;
  } catch (const Utils::Fatal_Error& failure) {
    std::cout.flush();
    std::cerr << "mova: " << failure.message << std::endl;
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::cerr << "mova: out of memory" << std::endl;
  }
  return 1;
}

}  // namespace Launcher
