// Hostile command streams through the real binary: huge lines, NUL bytes, invalid UTF-8, lone
// carriage returns, floods of empty lines, numbers at and past the 32-bit limits and every
// command with every wrong argument shape. Each run ends with status 0, a dropped line prints
// nothing, and memory stays bounded however many huge lines arrive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/scratch.hpp"
#include "support/transcript.hpp"

namespace {

using Testing::Lines;
using Testing::Run_Mova;

constexpr std::size_t kTenMegabytes = 10u << 20;

// Places vehicle 2 on position 7 with logging on; the probe then answers " 7".
const std::string kSetUp = "SETTINGS_ENABLE_LOGGING\nVEHICLE_SET_CURRENT_POS 2 7\n";
const std::string kProbe = "VEHICLE_GET_CURRENT_POS 2\n";

// The input `kSetUp`, then each of `lines` followed by the probe. Every line of `lines` is
// expected to be dropped: the answers are the probe's only.
void Expect_All_Dropped(const std::vector<std::string>& lines, int timeout_seconds = 120) {
  std::string input = kSetUp;
  for (const std::string& line : lines) input += line + kProbe;
  Testing::Transcript_Options options;
  options.timeout_seconds = timeout_seconds;
  const auto t = Run_Mova(input, options);
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.err, "");
  std::string answers;
  for (std::size_t i = 0; i < lines.size(); ++i) answers += " 7\n";
  EXPECT_EQ(t.out, answers);
  // Only the probes reach the facade.
  std::vector<std::string> log = {"INFORMATIONAL : Logging enabled",
                                  "INFORMATIONAL : Current for vehicle  2 is  7"};
  for (std::size_t i = 0; i < lines.size(); ++i)
    log.push_back("INFORMATIONAL : Current for vehicle  2 is  7");
  EXPECT_EQ(t.log, log);
}

TEST(Hostile, TenMegabyteLinesAreReadWholeAndDroppedOrExecuted) {
  const std::string letters(kTenMegabytes, 'A');
  const std::string blanks(kTenMegabytes, ' ');
  const std::string digits(kTenMegabytes, '1');
  // Dropped: an unknown 10 MB word, 10 MB of blanks, a 10 MB argument, a command word followed
  // by 10 MB without a separator.
  Expect_All_Dropped({letters + "\n", blanks + "\n", "VEHICLE_GET_CURRENT_POS " + digits + "\n",
                      "VEHICLE_GET_CURRENT_POS" + letters + "\n"});

  // A command with 10 MB of further words is executed: words after the arguments are ignored.
  const auto t = Run_Mova(kSetUp + "VEHICLE_GET_CURRENT_POS 2 " + blanks + "x\n" + kProbe);
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.out, " 7\n 7\n");
  EXPECT_EQ(t.err, "");
}

TEST(Hostile, LinesPastSixteenMebibytesAreDroppedWholeEvenWhenValid) {
  const std::string tail((16u << 20) + 1, ' ');
  // A valid command followed by blanks up to one character past the limit: dropped, also as
  // the last line of the input without a line feed.
  const auto t = Run_Mova(kSetUp + "VEHICLE_GET_CURRENT_POS 2" + tail + "\n" + kProbe +
                          "VEHICLE_GET_CURRENT_POS 2" + tail);
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.out, " 7\n");
  EXPECT_EQ(t.err, "");
  // A line exactly at the limit is still executed.
  const std::string command = "VEHICLE_GET_CURRENT_POS 2 ";
  const auto at_limit =
      Run_Mova(kSetUp + command + std::string((16u << 20) - command.size(), ' ') + "\n");
  EXPECT_EQ(at_limit.status, 0);
  EXPECT_EQ(at_limit.out, " 7\n");
}

TEST(Hostile, NulBytesInvalidUtf8AndLoneCarriageReturnsAreDropped) {
  const std::string nul(1, '\0');
  Expect_All_Dropped({
      nul + "\n",
      std::string(1u << 20, '\0') + "\n",
      nul + "VEHICLE_GET_CURRENT_POS 2\n",
      "VEHICLE_GET_CURRENT_POS" + nul + "2\n",
      "VEHICLE_GET_CURRENT_POS " + nul + "\n",
      "VEHICLE_GET_CURRENT_POS 2" + nul + "\n",
      "\xFF\xFE\n",
      "\xFF\xFE"
      "VEHICLE_GET_CURRENT_POS 2\n",  // a UTF-16 byte order mark
      "\xEF\xBB\xBF"
      "VEHICLE_GET_CURRENT_POS 2\n",             // a UTF-8 byte order mark
      "\xC0\xAF\x80\xBF\xF8\x88\x80\x80\x80\n",  // overlong, lone continuations, 5 bytes
      "VEHICLE_GET_CURRENT_PO\xD3 2\n",          // no letter outside ASCII is upper-cased
      "vehicle_get_current_pos \xC2\xB2\n",      // a superscript two
      "VEHICLE_GET_CURRENT_POS \xED\xA0\x80\n",  // an encoded surrogate
      "\r\n",                                    // empty once its carriage return goes
      "\r\r\r\n",
      "\rVEHICLE_GET_CURRENT_POS 2\n",  // a lone carriage return does not end a line
      "VEHICLE_GET_CURRENT_POS 2\rVEHICLE_GET_CURRENT_POS 2\n",
      "VEHICLE_GET_CURRENT_POS\r2\n",
      "VEHICLE_GET_CURRENT_POS 2\r\r\n",
  });
  // Lone carriage returns as the only line ends make the whole input one dropped line; one
  // carriage return before the line feed is stripped.
  const auto mac = Run_Mova(kSetUp + "VEHICLE_GET_CURRENT_POS 2\rVEHICLE_GET_CURRENT_POS 2\r");
  EXPECT_EQ(mac.status, 0);
  EXPECT_EQ(mac.out, "");
  const auto crlf = Run_Mova(kSetUp + "VEHICLE_GET_CURRENT_POS 2\r\nVEHICLE_GET_CURRENT_POS 2\r");
  EXPECT_EQ(crlf.status, 0);
  EXPECT_EQ(crlf.out, " 7\n 7\n");
}

TEST(Hostile, HundredThousandEmptyLinesPrintNothing) {
  std::string input = kSetUp;
  for (int i = 0; i < 100000; ++i) input += "\n";
  for (int i = 0; i < 100000; ++i) input += "\r\n";
  for (int i = 0; i < 100000; ++i) input += " \n";
  input += kProbe;
  const auto t = Run_Mova(input);
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.out, " 7\n");
  EXPECT_EQ(t.err, "");
  EXPECT_EQ(t.log.size(), 3u);
}

TEST(Hostile, NumbersAtAndBeyondTheThirtyTwoBitLimits) {
  const auto t = Run_Mova(Lines({
      "SETTINGS_ENABLE_LOGGING",
      "SETTINGS_SET_TIMEOUT 2147483647",  // accepted
      "SETTINGS_SET_TIMEOUT +2147483647",
      "SETTINGS_SET_TIMEOUT 000000000000000000000002147483647",
      "SETTINGS_SET_TIMEOUT 2147483648",  // dropped
      "SETTINGS_SET_TIMEOUT 4294967295",
      "SETTINGS_SET_TIMEOUT 4294967296",
      "SETTINGS_SET_TIMEOUT 18446744073709551617",
      "SETTINGS_SET_TIMEOUT 99999999999999999999999999999999999999999",
      "SETTINGS_SET_TIMEOUT -2147483648",  // fits, but amounts are 0 or more
      "SETTINGS_SET_TIMEOUT -2147483649",
      "SETTINGS_SET_MAX_RAM -0",  // accepted as 0
      "SETTINGS_SET_MAX_RAM 2147483647",
      "SETTINGS_SET_MAX_RAM 2147483648",
      "VEHICLE_GET_CURRENT_POS 2147483649",  // 2^31 + 1 would wrap to a valid vehicle
      "VEHICLE_GET_CURRENT_POS 4294967297",  // 2^32 + 1 likewise
      "VEHICLE_GET_CURRENT_POS -4294967295",
      "VEHICLE_SET_CURRENT_POS 1 4294967301",  // 2^32 + 5
      "VEHICLE_GET_STEP_POS 1 2147483648",
      "VEHICLE_GET_STEP_POS 1 -2147483648",
      "OBSTACLES_PRESENT 4294967296 4294967297",
  }));
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.out, "");
  EXPECT_EQ(t.err, "");
  EXPECT_EQ(t.log, (std::vector<std::string>{"INFORMATIONAL : Logging enabled",
                                             "INFORMATIONAL : Timeout set to  2147483647 ms",
                                             "INFORMATIONAL : Timeout set to  2147483647 ms",
                                             "INFORMATIONAL : Timeout set to  2147483647 ms",
                                             "INFORMATIONAL : Max RAM set to  0 Mb",
                                             "INFORMATIONAL : Max RAM set to  2147483647 Mb"}));

  // The largest step on a plan of one link answers at once with the goal position.
  const auto far = Run_Mova(
      Lines({"ENVIRONMENT_CLEAN", "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 1", "ENVIRONMENT_BUILD",
             "VEHICLE_SET_CURRENT_POS 1 0", "VEHICLE_SET_CURRENT_POS 2 5",
             "VEHICLE_SET_CURRENT_POS 3 9", "VEHICLE_SET_GOAL_POS 1 1", "VEHICLE_SET_GOAL_POS 2 5",
             "VEHICLE_SET_GOAL_POS 3 9", "MOVA_START_MISSION", "VEHICLE_GET_STEP_POS 1 2147483647",
             "VEHICLE_GET_STEP_POS 2 2147483647"}));
  EXPECT_EQ(far.status, 0);
  EXPECT_EQ(far.out, "TRUE\n 1\n 5\n");
}

struct Command_Shape {
  const char* name;
  // Argument kinds in word order: 'v' vehicle, 'p' position, 's' step, 'a' amount.
  const char* kinds;
};

const Command_Shape Command_Shapes[] = {
    {"MOVA_INIT", ""},
    {"MOVA_GENERATION", ""},
    {"MOVA_BUILD_VERSION", ""},
    {"MOVA_START_MISSION", ""},
    {"MOVA_GET_NUM_STEPS", ""},
    {"MOVA_END_MISSION", ""},
    {"VEHICLE_SET_CURRENT_POS", "vp"},
    {"VEHICLE_GET_CURRENT_POS", "v"},
    {"VEHICLE_GET_DIS_TO_POS", "vp"},
    {"VEHICLE_SET_GOAL_POS", "vp"},
    {"VEHICLE_GET_NEXT_POS", "v"},
    {"VEHICLE_GET_STEP_POS", "vs"},
    {"VEHICLE_MOVED_FORWARD", ""},
    {"VEHICLE_GOAL_REACHED", ""},
    {"ENVIRONMENT_CLEAN", ""},
    {"ENVIRONMENT_BUILD", ""},
    {"ENVIRONMENT_GET_MAX_POS", ""},
    {"ENVIRONMENT_GET_MAX_ROADS", ""},
    {"ENVIRONMENT_ADD_ONE_WAY_ROAD", "pp"},
    {"ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE", "pp"},
    {"ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES", "pp"},
    {"OBSTACLES_CLEAN", ""},
    {"OBSTACLES_ADD_OBSTACLE", "pp"},
    {"OBSTACLES_GET_NUM", ""},
    {"OBSTACLES_PRESENT", "pp"},
    {"OBSTACLES_CONFIRM", ""},
    {"SETTINGS_SET_MAX_RAM", "a"},
    {"SETTINGS_SET_TIMEOUT", "a"},
    {"SETTINGS_ENABLE_LOGGING", ""},
    {"SETTINGS_DISABLE_LOGGING", ""},
    {"MONITORING_GET_NUM_VEHICLES", ""},
    {"MONITORING_GET_CPU_TIME", ""},
    {"MONITORING_GET_RAM_USAGE", ""},
    {"MONITORING_GET_EVALUATIONS", ""},
    {"INFORMATION_GET_AUTHOR", ""},
    {"INFORMATION_GET_ORG", ""},
    {"INFORMATION_GET_COPYRIGHT", ""},
    {"INFORMATION_GET_WATERMARK", ""},
};

std::string Valid_Value(char kind) {
  switch (kind) {
    case 'v':
      return "1";
    case 'p':
      return "5";
    default:
      return "3";
  }
}

// Values of `kind` that the console refuses before the facade is called.
std::vector<std::string> Refused_Values(char kind) {
  std::vector<std::string> values = {"x",
                                     "1x",
                                     "x1",
                                     "0x1",
                                     "1.0",
                                     "1e0",
                                     "+",
                                     "-",
                                     "+-1",
                                     "--1",
                                     "1_0",
                                     "\t1",
                                     "1\t",
                                     std::string("1") + '\0',
                                     "\xEF\xBC\x91",
                                     "2147483648",
                                     "-2147483649",
                                     "99999999999999999999"};
  switch (kind) {
    case 'v':
      values.insert(values.end(), {"0", "4", "-1", "2147483647", "-2147483648"});
      break;
    case 'p':
      values.insert(values.end(), {"-2", "13", "2147483647", "-2147483648"});
      break;
    default:
      values.insert(values.end(), {"-1", "-2147483648"});
      break;
  }
  return values;
}

TEST(Hostile, EveryCommandWithEveryWrongArgumentShapeIsDroppedBeforeTheFacade) {
  std::vector<std::string> lines;
  for (const Command_Shape& command : Command_Shapes) {
    const std::string name = command.name;
    const std::string kinds = command.kinds;
    // Command word shapes that match nothing.
    lines.insert(lines.end(),
                 {" " + name, name + "\t", name + std::string(1, '\0'), name + "X",
                  name.substr(0, name.size() - 1), "X" + name, name + "\r\r", name + "\xC2\xA0"});
    for (std::size_t i = 0; i < kinds.size(); ++i) {
      std::string before = name;
      for (std::size_t j = 0; j < i; ++j) before += " " + Valid_Value(kinds[j]);
      std::string after;
      for (std::size_t j = i + 1; j < kinds.size(); ++j) after += " " + Valid_Value(kinds[j]);
      lines.push_back(before);        // the argument is missing
      lines.push_back(before + " ");  // it is the empty word at the end
      lines.push_back(before + "  " + Valid_Value(kinds[i]) + after);  // empty between blanks
      for (const std::string& value : Refused_Values(kinds[i]))
        lines.push_back(before + " " + value + after);
    }
  }
  ASSERT_GT(lines.size(), 700u);
  std::string input = "SETTINGS_ENABLE_LOGGING\n";
  for (const std::string& line : lines) input += line + "\n";
  input += "VEHICLE_GET_CURRENT_POS 1\n";
  const auto t = Run_Mova(input);
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.err, "");
  // No line reached its operation: nothing printed, nothing logged, logging still on.
  EXPECT_EQ(t.out, "-1\n");
  EXPECT_EQ(t.log, (std::vector<std::string>{"INFORMATIONAL : Logging enabled",
                                             "INFORMATIONAL : Current for vehicle  1 is -1"}));
}

// Runs the binary on `input` in a fresh directory and returns its peak resident memory in
// kilobytes, or -1 when it did not end with status 0. Freed memory is not held back by the
// address sanitizer, so that the figure means the same in sanitized builds.
long Peak_Memory_Kilobytes(const std::string& input) {
  const Testing::Scratch_Directory scratch;
  const std::string& directory = scratch.Path();
  const std::string input_path = scratch.File(".stdin");
  std::ofstream(input_path, std::ios::binary) << input;
  const pid_t child = fork();
  if (child == 0) {
    const int in = open(input_path.c_str(), O_RDONLY);
    const int null = open("/dev/null", O_WRONLY);
    if (in < 0 || null < 0 || chdir(directory.c_str()) != 0) _exit(126);
    dup2(in, 0);
    dup2(null, 1);
    dup2(null, 2);
    std::string asan = "quarantine_size_mb=0";
    if (const char* given = std::getenv("ASAN_OPTIONS")) asan = std::string(given) + ":" + asan;
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    execl(MOVA_BINARY, MOVA_BINARY, static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  const bool waited = child > 0 && wait4(child, &status, 0, &usage) == child;
  if (!waited || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss;
}

TEST(Hostile, MemoryStaysBoundedHoweverManyHugeLinesArrive) {
  // Lines of blanks are the worst case: each blank ends a word of the splitter's list.
  const std::string huge = "VEHICLE_GET_CURRENT_POS 1" + std::string(kTenMegabytes, ' ') + "\n";
  const std::string queries = "VEHICLE_GET_CURRENT_POS 1\nMOVA_GENERATION\n";
  std::string one = huge + queries;
  std::string eight;
  for (int i = 0; i < 8; ++i) eight += huge + queries;
  const long peak_one = Peak_Memory_Kilobytes(one);
  const long peak_eight = Peak_Memory_Kilobytes(eight);
  ASSERT_GT(peak_one, 0);
  ASSERT_GT(peak_eight, 0);
  // Eight such lines take no more room than one: nothing of a line is kept after its command.
  EXPECT_LT(peak_eight, peak_one + peak_one / 4)
      << "one line " << peak_one << " kB, eight " << peak_eight << " kB";
}

}  // namespace
