// The command loop: words to commands, argument checks, the facade call and the answer line.
#include "console/launcher.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <iostream>
#include <limits>
#include <new>
#include <string>

#include "console/utils-argparser.hpp"
#include "controller/mova.hpp"
#include "utils/utils-io.hpp"
#include "utils/utils-types.hpp"

namespace Launcher {
namespace {

// The argument kinds, each with the range the console accepts.
enum class Kind : std::uint8_t { Vehicle, Position, Step, Amount };

using Arguments = std::array<std::int32_t, 2>;

void Print(bool value) {
  std::cout << (value ? "TRUE\n" : "FALSE\n");
}
void Print(std::int32_t value) {
  std::cout << Utils::Integer_Image(value) << '\n';
}

// A command: its word, the kinds of its arguments in word order, and what it does with them.
struct Command {
  std::string_view name;
  std::uint8_t arity;
  std::array<Kind, 2> kinds;
  void (*run)(const Arguments& a);
};

using K = Kind;
using A = const Arguments&;
// The commands; a command's number is its place in the table (kept as written, one entry a row).
// clang-format off
constexpr Command Commands[] = {
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
// clang-format on

// The length of the longest command word.
constexpr std::size_t Longest_Name = std::max_element(std::begin(Commands), std::end(Commands),
                                                      [](const Command& a, const Command& b) {
                                                        return a.name.size() < b.name.size();
                                                      })
                                         ->name.size();

std::string_view Trim_Blanks(std::string_view word) {
  while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
  while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
  return word;
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool In_Range(Kind kind, std::int32_t value) {
  switch (kind) {
    case Kind::Vehicle:
      return value >= 1 && value <= Mova::Number_Of_Vehicles;
    case Kind::Position:
      // One beyond the positions either way: the facade refuses those itself.
      return value >= -1 && value <= Mova::Max_Pos;
    case Kind::Step:
    case Kind::Amount:
      return value >= 0;
  }
  return false;
}

// Word n of the parsed line as a view into it; empty beyond the last word.
std::string_view Word(std::string_view line, int n) {
  if (n >= Utils::ArgParser::Get_Count()) return {};
  const Utils::ArgParser::Word_Slice slice = Utils::ArgParser::Get_Slice(n);
  return line.substr(Utils::Index(slice.INIT - 1), Utils::Index(slice.FINAL - slice.INIT + 1));
}

// Argument n of the parsed line, when it is an integer in the kind's range.
std::optional<std::int32_t> Argument(std::string_view line, int n, Kind kind) {
  const std::optional<std::int32_t> value = To_Integer(Word(line, n));
  if (!value.has_value() || !In_Range(kind, *value)) return std::nullopt;
  return value;
}

// Standard input read straight from its descriptor. A descriptor in non-blocking mode is waited
// on when it has nothing to read; a read error throws Fatal_Error.
class Descriptor_Input : public std::streambuf {
 public:
  explicit Descriptor_Input(int fd) : fd_(fd) {}

 protected:
  int_type underflow() override {
    while (true) {
      const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
      if (n > 0) {
        setg(buffer_.data(), buffer_.data(), buffer_.data() + n);
        return traits_type::to_int_type(buffer_[0]);
      }
      if (n == 0) return traits_type::eof();
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK)
        throw Utils::Fatal_Error{std::string("cannot read standard input: ") +
                                 std::strerror(errno)};
      pollfd ready{fd_, POLLIN, 0};
      ::poll(&ready, 1, -1);
    }
  }

 private:
  int fd_;
  std::array<char, 65536> buffer_{};
};

// Standard output written straight to its descriptor, waited on when it is in non-blocking mode
// and full. A write error is kept (Failure) and everything after it dropped; a host that closed
// the pipe ends the program by the broken-pipe signal or, with that signal ignored, loses the
// answers quietly.
class Descriptor_Output : public std::streambuf {
 public:
  explicit Descriptor_Output(int fd) : fd_(fd) { Reset_Area(); }

  // The errno of the write that failed, 0 while none has.
  int Failure() const { return failure_; }

 protected:
  int_type overflow(int_type c) override {
    Drain();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }

  int sync() override {
    Drain();
    return 0;
  }

 private:
  void Reset_Area() { setp(buffer_.data(), buffer_.data() + buffer_.size()); }

  void Drain() {
    if (!dropping_) {
      const int error =
          Utils::Write_All(fd_, std::string_view(pbase(), Utils::Index(pptr() - pbase())));
      if (error != 0 && error != EPIPE) failure_ = error;
      dropping_ = error != 0;
    }
    Reset_Area();
  }

  int fd_;
  int failure_ = 0;
  bool dropping_ = false;
  std::array<char, 65536> buffer_{};
};

Descriptor_Input standard_input(STDIN_FILENO);
Descriptor_Output standard_output(STDOUT_FILENO);

// The standard output of Main, whose write errors end the program.
Descriptor_Output* checked_output = nullptr;

// Throws Fatal_Error when writing to standard output has failed.
void Check_Output() {
  if (checked_output != nullptr && checked_output->Failure() != 0)
    throw Utils::Fatal_Error{std::string("cannot write standard output: ") +
                             std::strerror(checked_output->Failure())};
}

// Hands every answer so far to the host.
void Flush_Answers() {
  std::cout.flush();
  Check_Output();
}

// The lines of a stream buffer. What the buffer holds is taken in blocks and searched for line
// feeds; standard output is flushed only before the buffer has to be filled, which may wait.
class Line_Reader {
 public:
  explicit Line_Reader(std::streambuf& input) : input_(input) {}

  // Reads one line without its line feed (and one carriage return before it) into `line`.
  // False at the end of input with nothing read. A line longer than Max_Line_Length is read to
  // its end and reported through `too_long`.
  bool Next(std::string& line, bool& too_long) {
    line.clear();
    too_long = false;
    bool any = false;
    while (next_ != end_ || Refill()) {
      any = true;
      const std::size_t held = Utils::Index(end_ - next_);
      const char* feed = static_cast<const char*>(std::memchr(next_, '\n', held));
      const std::size_t length = feed != nullptr ? Utils::Index(feed - next_) : held;
      const std::size_t room = Max_Line_Length - line.size();
      line.append(next_, std::min(length, room));
      too_long = too_long || length > room;
      next_ += length;
      if (feed != nullptr) {
        ++next_;
        break;
      }
    }
    if (!line.empty() && line.back() == '\r' && !too_long) line.pop_back();
    return any;
  }

 private:
  // Takes the next block from the buffer, after handing the answers so far to the host when the
  // buffer is empty. False at the end of input.
  bool Refill() {
    std::streamsize held = input_.in_avail();
    if (held <= 0) {
      Flush_Answers();
      if (input_.sgetc() == std::char_traits<char>::eof()) return false;
      held = std::max<std::streamsize>(input_.in_avail(), 1);  // 1 for an unbuffered one
    }
    const std::streamsize taken =
        input_.sgetn(block_.data(), std::min<std::streamsize>(held, Block_Size));
    next_ = block_.data();
    end_ = block_.data() + taken;
    return taken > 0;
  }

  std::streambuf& input_;
  static constexpr std::streamsize Block_Size = 8192;
  std::array<char, Block_Size> block_;
  const char* next_ = nullptr;
  const char* end_ = nullptr;
};

}  // namespace

std::optional<int> Find_Command(std::string_view word) {
  word = Trim_Blanks(word);
  std::array<char, Longest_Name> upper;
  if (word.size() > upper.size()) return std::nullopt;
  std::transform(word.begin(), word.end(), upper.begin(), Upper);
  const std::string_view key(upper.data(), word.size());
  for (std::size_t i = 0; i < std::size(Commands); ++i)
    if (Commands[i].name == key) return static_cast<int>(i);
  return std::nullopt;
}

std::optional<std::int32_t> To_Integer(std::string_view word) {
  word = Trim_Blanks(word);
  const bool negative = !word.empty() && word.front() == '-';
  if (!word.empty() && (negative || word.front() == '+')) word.remove_prefix(1);
  // Digits only from here on (from_chars would take a second minus sign).
  if (word.empty() || word.front() < '0' || word.front() > '9') return std::nullopt;
  std::int64_t magnitude = 0;
  const char* const end = word.data() + word.size();
  const auto [stop, error] = std::from_chars(word.data(), end, magnitude);
  if (error != std::errc{} || stop != end) return std::nullopt;
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(value);
}

namespace {

// Executes one command line; false, with nothing done, for a line the console itself drops (an
// unknown command word, a missing or bad argument). Range_Error from the operation propagates.
// Dropping a line this way raises nothing: the console meets such lines often.
bool Run_Line(std::string_view line) {
  Utils::ArgParser::Parse(line);
  const std::optional<int> number = Find_Command(Word(line, 0));
  if (!number.has_value()) return false;
  const Command& command = Commands[*number];
  Arguments arguments{0, 0};
  for (std::size_t n = 0; n < command.arity; ++n) {
    const std::optional<std::int32_t> value =
        Argument(line, static_cast<int>(n) + 1, command.kinds[n]);
    if (!value.has_value()) return false;
    arguments[n] = *value;
  }
  command.run(arguments);
  return true;
}

}  // namespace

void Execute(std::string_view line) {
  Utils::Require(Run_Line(line), "command word or argument refused");
}

int Run(std::istream& input) {
  std::string line;
  try {
    Mova::Reset_All();
    Utils::ArgParser::Reset();
    Mova::Settings_Disable_Logging();
    Utils::ArgParser::Set_Separator(' ');
    Line_Reader lines(*input.rdbuf());
    bool too_long = false;
    while (true) {
      if (!lines.Next(line, too_long)) break;
      if (!too_long) {
        try {
          Run_Line(line);
        } catch (const Utils::Range_Error&) {
          // The line is dropped; what its operation did before stays done.
        }
      }
      Check_Output();
      if (line.capacity() > 65536) std::string().swap(line);
    }
    Flush_Answers();
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

int Main() {
  // Past the file-size limit a write fails with its error instead of killing the program.
  std::signal(SIGXFSZ, SIG_IGN);
  std::streambuf* const previous = std::cout.rdbuf(&standard_output);
  checked_output = &standard_output;
  std::istream input(&standard_input);
  const int status = Run(input);
  std::cout.rdbuf(previous);
  checked_output = nullptr;
  return status;
}

}  // namespace Launcher
