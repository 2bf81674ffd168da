// The command console through the real binary: command words, argument checks, dropped lines,
// line ends and answer formats; the line splitter and the number images in-process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <regex>
#include <string>
#include <vector>

#include "console/launcher.hpp"
#include "console/utils-argparser.hpp"
#include "controller/mova.hpp"
#include "mova_build_id.hpp"
#include "support/exchanges.hpp"
#include "support/transcript.hpp"
#include "utils/utils-types.hpp"

namespace {

using Testing::Lines;
using Testing::Run_Mova;

// Replaces every run of digits by '#', so that records carrying timings can be compared.
std::string Without_Digits(const std::string& text) {
  return std::regex_replace(text, std::regex("[0-9]+"), "#");
}

bool Is_Subsequence(const std::vector<std::string>& whole, const std::vector<std::string>& part) {
  std::size_t i = 0;
  for (const std::string& entry : whole)
    if (i < part.size() && entry == part[i]) ++i;
  return i == part.size();
}

// A command line with its command word in lower case (style 0) or in mixed case (style 1).
std::string Recase(const std::string& line, int style) {
  std::string result = line;
  const std::size_t end = result.find(' ');
  const std::size_t length = end == std::string::npos ? result.size() : end;
  for (std::size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(result[i]);
    const bool lower = style == 0 || (style == 1 && i % 3 != 1);
    result[i] = static_cast<char>(lower ? std::tolower(c) : std::toupper(c));
  }
  return result;
}

// Every command word once, in an order that gives each an observable effect.
const std::vector<std::string> kAllCommands = {
    "SETTINGS_ENABLE_LOGGING",
    "MOVA_GENERATION",
    "MOVA_BUILD_VERSION",
    "MOVA_INIT",
    "ENVIRONMENT_GET_MAX_POS",
    "ENVIRONMENT_GET_MAX_ROADS",
    "ENVIRONMENT_CLEAN",
    "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 1",
    "ENVIRONMENT_ADD_ONE_WAY_ROAD 5 6",
    "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE 7 8",
    "ENVIRONMENT_BUILD",
    "MONITORING_GET_EVALUATIONS",
    "VEHICLE_SET_CURRENT_POS 1 0",
    "VEHICLE_SET_CURRENT_POS 2 5",
    "VEHICLE_SET_CURRENT_POS 3 9",
    "VEHICLE_GET_CURRENT_POS 2",
    "VEHICLE_GET_DIS_TO_POS 2 6",
    "VEHICLE_SET_GOAL_POS 1 1",
    "VEHICLE_SET_GOAL_POS 2 5",
    "VEHICLE_SET_GOAL_POS 3 9",
    "VEHICLE_GOAL_REACHED",
    "VEHICLE_GET_NEXT_POS 1",
    "MOVA_GET_NUM_STEPS",
    "MOVA_START_MISSION",
    "MOVA_GET_NUM_STEPS",
    "VEHICLE_GET_NEXT_POS 1",
    "VEHICLE_GET_STEP_POS 1 1",
    "OBSTACLES_ADD_OBSTACLE 7 8",
    "OBSTACLES_GET_NUM",
    "OBSTACLES_PRESENT 8 7",
    "OBSTACLES_CONFIRM",
    "OBSTACLES_CLEAN",
    "OBSTACLES_GET_NUM",
    "SETTINGS_SET_MAX_RAM 100",
    "SETTINGS_SET_TIMEOUT 5000",
    "MONITORING_GET_NUM_VEHICLES",
    "MONITORING_GET_RAM_USAGE",
    "MONITORING_GET_CPU_TIME",
    "VEHICLE_MOVED_FORWARD",
    "VEHICLE_GOAL_REACHED",
    "MOVA_END_MISSION",
    "INFORMATION_GET_AUTHOR",
    "INFORMATION_GET_ORG",
    "INFORMATION_GET_COPYRIGHT",
    "INFORMATION_GET_WATERMARK",
    "SETTINGS_DISABLE_LOGGING",
    "ENVIRONMENT_GET_MAX_POS",
};

TEST(Console, IntegersAreOneSignAndDigitsThatFitThirtyTwoBits) {
  EXPECT_EQ(Launcher::To_Integer("+7"), 7);
  EXPECT_EQ(Launcher::To_Integer("-0"), 0);
  EXPECT_EQ(Launcher::To_Integer("000000000000000000000000000012"), 12);
  EXPECT_EQ(Launcher::To_Integer("2147483647"), 2147483647);
  EXPECT_EQ(Launcher::To_Integer("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(Launcher::To_Integer("2147483648"), std::nullopt);
  EXPECT_EQ(Launcher::To_Integer("-2147483649"), std::nullopt);
  EXPECT_EQ(Launcher::To_Integer("99999999999999999999999"), std::nullopt);
  // One sign at most, and nothing but digits after it.
  for (const char* word : {"--5", "-+5", "+-5", "++5", "5-", "1 2", "0x10", "1e3", "-", "12a"})
    EXPECT_EQ(Launcher::To_Integer(word), std::nullopt) << word;
  EXPECT_EQ(Utils::Integer_Image(-9223372036854775807LL - 1), "-9223372036854775808");
  EXPECT_EQ(Utils::Integer_Image(9223372036854775807LL), " 9223372036854775807");
}

TEST(Console, WordsAreTrimmedOfBlanksAndComparedLetterForLetter) {
  // Words hold blanks only under another separator; the blanks around them are ignored.
  EXPECT_EQ(Launcher::To_Integer("  -12  "), -12);
  EXPECT_EQ(Launcher::To_Integer("   "), std::nullopt);
  EXPECT_EQ(Launcher::To_Integer("+"), std::nullopt);
  EXPECT_EQ(Launcher::Find_Command(" mova_init "), 0);
  EXPECT_EQ(Launcher::Find_Command("information_get_Watermark"), 37);
  EXPECT_EQ(Launcher::Find_Command("   "), std::nullopt);
  // Characters beyond the letters are not folded: '{' is no 'T'.
  EXPECT_EQ(Launcher::Find_Command("MOVA_INI{"), std::nullopt);
  EXPECT_EQ(Launcher::Find_Command("MOVA_INI@"), std::nullopt);
}

TEST(Console, EveryCommandWordReachesItsOperationInAnyLetterCase) {
  std::vector<std::string> words;
  for (const std::string& line : kAllCommands) words.push_back(line.substr(0, line.find(' ')));
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  ASSERT_EQ(words.size(), 38u) << "the stream must use every command word";

  const auto upper = Run_Mova(Lines(kAllCommands));
  EXPECT_EQ(upper.status, 0);
  EXPECT_EQ(upper.err, "");
  const std::vector<std::string> out = Testing::Split_Lines(upper.out);
  const std::vector<std::string> expected = {"2024",
                                             MOVA_BUILD_ID,
                                             " 12",
                                             " 15",
                                             " 1",
                                             " 5",
                                             " 1",
                                             "FALSE",
                                             " 0",
                                             " 0",
                                             "TRUE",
                                             " 1",
                                             " 1",
                                             " 1",
                                             " 1",
                                             "TRUE",
                                             "TRUE",
                                             " 0",
                                             " 3",
                                             " 0",
                                             "<cpu>",
                                             "TRUE",
                                             "TRUE",
                                             Mova::Author_Text,
                                             Mova::Org_Text,
                                             Mova::Copyright_Text,
                                             Mova::Watermark_Text,
                                             " 12"};
  ASSERT_EQ(out.size(), expected.size()) << upper.out;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (expected[i] == "<cpu>") {
      EXPECT_TRUE(std::regex_match(out[i], std::regex("[0-9]+\\.[0-9]{5}"))) << out[i];
    } else {
      EXPECT_EQ(out[i], expected[i]) << "answer " << i;
    }
  }
  ASSERT_FALSE(upper.log.empty());
  EXPECT_EQ(upper.log.front(), "INFORMATIONAL : Logging enabled");
  EXPECT_EQ(upper.log.back(), "INFORMATIONAL : Mission end");
  EXPECT_TRUE(Is_Subsequence(
      upper.log, {"INFORMATIONAL : Logging enabled",
                  "INFORMATIONAL : Initializing MOVA",
                  "INFORMATIONAL : # Pos:  12",
                  "INFORMATIONAL : # Roads:  15",
                  "INFORMATIONAL : # Vehicles:  3",
                  "INFORMATIONAL : Obtaining MAX number of pos",
                  "INFORMATIONAL : Obtaining MAX number of roads",
                  "INFORMATIONAL : Cleaning environment",
                  "INFORMATIONAL : Creating two-way road (two lanes) from 0 to 1",
                  "INFORMATIONAL : Creating one-way road from 5 to 6",
                  "INFORMATIONAL : Creating two-way road (one lane) from 7 to 8",
                  "INFORMATIONAL : Building Environment",
                  "INFORMATIONAL : PN engine and constraints initialized",
                  "INFORMATIONAL : Environment built",
                  "INFORMATIONAL : Evaluations requested ( 1 )",
                  "INFORMATIONAL : Current for vehicle  1 is  0",
                  "INFORMATIONAL : Current for vehicle  2 is  5",
                  "INFORMATIONAL : Current for vehicle  3 is  9",
                  "INFORMATIONAL : Current for vehicle  2 is  5",
                  "INFORMATIONAL : Current for vehicle  2 is  5",
                  "INFORMATIONAL : Dis. to pos for vehicle  2 (currently in pos 5) to pos 6 is  1",
                  "INFORMATIONAL : Goal for vehicle  1 is  1",
                  "INFORMATIONAL : Goal for vehicle  2 is  5",
                  "INFORMATIONAL : Goal for vehicle  3 is  9",
                  "INFORMATIONAL : Start mission",
                  "INFORMATIONAL : Adding obstacle from  7 to  8",
                  "INFORMATIONAL : Checking obstacle from  8 to  7, result is: TRUE",
                  "INFORMATIONAL : Obstacles confirmed",
                  "INFORMATIONAL : Cleaning obstacles",
                  "INFORMATIONAL : Max RAM set to  100 Mb",
                  "INFORMATIONAL : Timeout set to  5000 ms",
                  "INFORMATIONAL : RAM usage requested ( 0 Mb)",
                  "INFORMATIONAL : Goal already reached",
                  "INFORMATIONAL : Mission end"}))
      << "log records missing or out of order";
  bool computed = false;
  bool recomputed = false;
  for (const std::string& record : upper.log) {
    computed =
        computed || record.rfind("INFORMATIONAL : Solution computed TRUE, CPU time: ", 0) == 0;
    recomputed =
        recomputed || record.rfind("INFORMATIONAL : Solution recomputed TRUE, CPU time: ", 0) == 0;
  }
  EXPECT_TRUE(computed);
  EXPECT_TRUE(recomputed);

  // The same stream with the command words in lower case and in mixed case behaves the same.
  for (int style = 0; style < 2; ++style) {
    std::vector<std::string> recased;
    for (const std::string& line : kAllCommands) recased.push_back(Recase(line, style));
    const auto t = Run_Mova(Lines(recased));
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(Without_Digits(t.out), Without_Digits(upper.out)) << "style " << style;
    ASSERT_EQ(t.log.size(), upper.log.size()) << "style " << style;
    for (std::size_t i = 0; i < t.log.size(); ++i)
      EXPECT_EQ(Without_Digits(t.log[i]), Without_Digits(upper.log[i])) << "style " << style;
  }
}

// Each bad line runs between a placement of vehicle 1 on position 5 and a query of it: the
// bad line must print nothing, log nothing and leave the position where it was.
TEST(Console, BadLinesPrintNothingAndHaveNoEffect) {
  const std::string nul_separated = std::string("VEHICLE_GET_CURRENT_POS") + '\0' + "1";
  const std::string nul_after_digit = std::string("VEHICLE_GET_CURRENT_POS 1") + '\0';
  const std::vector<std::string> bad = {
      "",                            // empty line
      "\r",                          // empty once its carriage return goes
      " VEHICLE_GET_CURRENT_POS 1",  // leading blank: word 0 is empty
      " VEHICLE_SET_CURRENT_POS 1 7",
      "VEHICLE_GET_CURRENT_POSITION 1",  // unknown words
      "VEHICLE_SET_CURRENT 1 7",
      "XVEHICLE_GET_CURRENT_POS 1",
      "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANESX 0 1",  // the longest word and one letter more
      "VEHICLE GET_CURRENT_POS 1",
      "VEHICLE_GET_CURRENT_POS\t1",  // a tab is no separator
      nul_separated,                 // nor is the character with code 0
      "VEHICLE_GET_CURRENT_POS",     // missing arguments
      "VEHICLE_GET_CURRENT_POS ",
      "VEHICLE_SET_CURRENT_POS 1",
      "VEHICLE_SET_CURRENT_POS 1 ",
      "VEHICLE_SET_CURRENT_POS",
      "VEHICLE_SET_CURRENT_POS 1  7",  // empty word between two blanks
      "VEHICLE_SET_CURRENT_POS  1 7",
      "VEHICLE_GET_CURRENT_POS a",  // not integers
      "VEHICLE_GET_CURRENT_POS 1a",
      "VEHICLE_SET_CURRENT_POS 1 7a",
      "VEHICLE_SET_CURRENT_POS 1 7.0",
      "VEHICLE_SET_CURRENT_POS 1 0x7",
      "VEHICLE_SET_CURRENT_POS 1 7e0",
      "VEHICLE_SET_CURRENT_POS 1 ++7",
      "VEHICLE_SET_CURRENT_POS 1 +-7",
      "VEHICLE_SET_CURRENT_POS 1 +",
      "VEHICLE_SET_CURRENT_POS 1 -",
      "VEHICLE_SET_CURRENT_POS 1 \xEF\xBC\x97",  // a full-width seven
      "VEHICLE_SET_CURRENT_POS 1\t7",
      "VEHICLE_SET_CURRENT_POS 1 7\t",
      "VEHICLE_SET_CURRENT_POS 1 7\r\r",  // only one carriage return is stripped
      nul_after_digit,
      "VEHICLE_SET_CURRENT_POS 1 4294967303",  // 2^32 + 7 does not fit 32 bits
      "VEHICLE_SET_CURRENT_POS 1 99999999999999999999999",
      "VEHICLE_SET_CURRENT_POS 4294967297 7",  // 2^32 + 1
      "VEHICLE_GET_CURRENT_POS 4",             // vehicles outside 1..3
      "VEHICLE_GET_CURRENT_POS 0",
      "VEHICLE_GET_CURRENT_POS -1",
      "VEHICLE_SET_CURRENT_POS 4 7",
      "VEHICLE_SET_CURRENT_POS 0 7",
      "VEHICLE_SET_CURRENT_POS 1 13",  // positions outside -1..12
      "VEHICLE_SET_CURRENT_POS 1 -2",
      "VEHICLE_SET_CURRENT_POS 1 -2147483648",
      "VEHICLE_SET_CURRENT_POS 1 12",  // passed on, then refused by the facade
      "VEHICLE_SET_CURRENT_POS 1 -1",
      "VEHICLE_GET_STEP_POS 1 -1",  // steps are 0 or more
      "VEHICLE_GET_STEP_POS 4 0",
      "VEHICLE_GET_DIS_TO_POS 1 13",
      "VEHICLE_GET_DIS_TO_POS 4 5",
      "VEHICLE_SET_GOAL_POS 1 13",
      "VEHICLE_SET_GOAL_POS 1 12",
      "VEHICLE_SET_GOAL_POS 0 3",
      "OBSTACLES_PRESENT 13 0",
      "OBSTACLES_PRESENT 0 -2",
      "OBSTACLES_ADD_OBSTACLE 0 13",
      "SETTINGS_SET_TIMEOUT -1",  // amounts are 0 or more
      "SETTINGS_SET_TIMEOUT 2147483648",
      "SETTINGS_SET_TIMEOUT",
      "SETTINGS_SET_MAX_RAM -5",
      "SETTINGS_SET_MAX_RAM 1x",
      "MOVA_GENERATIONX",
      "mova_generation_",
  };
  for (const std::string& line : bad) {
    SCOPED_TRACE("line [" + line + "]");
    const auto t = Run_Mova("SETTINGS_ENABLE_LOGGING\nVEHICLE_SET_CURRENT_POS 1 5\n" + line +
                            "\nVEHICLE_GET_CURRENT_POS 1\n");
    EXPECT_EQ(t.status, 0);
    EXPECT_EQ(t.out, " 5\n");
    EXPECT_EQ(t.err, "");
    EXPECT_EQ(t.log, (std::vector<std::string>{"INFORMATIONAL : Logging enabled",
                                               "INFORMATIONAL : Current for vehicle  1 is  5",
                                               "INFORMATIONAL : Current for vehicle  1 is  5"}));
  }
}

TEST(Console, AcceptedLineFormsAndAnswerFormats) {
  struct Case {
    std::string line;
    std::string out;  // what the line and the query of vehicle 1 that follows print
  };
  const std::vector<Case> cases = {
      {"vehicle_get_current_pos 1", " 5\n"},
      {"Vehicle_Get_Current_Pos 1", " 5\n"},
      {"VEHICLE_GET_CURRENT_POS 1 2 3", " 5\n"},  // further words are ignored
      {"VEHICLE_GET_CURRENT_POS 1 junk 9x", " 5\n"},
      {"VEHICLE_GET_CURRENT_POS +1", " 5\n"},  // an explicit plus sign
      {"VEHICLE_GET_CURRENT_POS 01", " 5\n"},
      {"VEHICLE_GET_CURRENT_POS 1 ", " 5\n"},   // a trailing blank
      {"VEHICLE_GET_CURRENT_POS 1\r", " 5\n"},  // one carriage return is stripped
      {"VEHICLE_GET_CURRENT_POS 2", "-1\n"},
      {"VEHICLE_SET_CURRENT_POS 1 +7", ""},
      {"VEHICLE_SET_CURRENT_POS 1 007", ""},
      {"VEHICLE_SET_CURRENT_POS 1 7 ", ""},
      {"VEHICLE_SET_CURRENT_POS 1 7 x y", ""},
      {"VEHICLE_SET_CURRENT_POS 1 7\r", ""},
      {"VEHICLE_SET_CURRENT_POS 1 -0", ""},
      {"VEHICLE_SET_CURRENT_POS +2 7", ""},
      {"MOVA_GENERATION ", "2024\n"},
      {"MOVA_GENERATION extra words", "2024\n"},
      {"MOVA_GENERATION\r", "2024\n"},
      {"SETTINGS_SET_TIMEOUT 2147483647", ""},
      {"SETTINGS_SET_MAX_RAM 0", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("line [" + c.line + "]");
    const auto t =
        Run_Mova("VEHICLE_SET_CURRENT_POS 1 5\n" + c.line + "\nVEHICLE_GET_CURRENT_POS 1\n");
    EXPECT_EQ(t.status, 0);
    std::string expected = c.out;
    if (c.line.rfind("VEHICLE_SET_CURRENT_POS 1", 0) == 0) {
      expected += c.line.find("-0") != std::string::npos ? " 0\n" : " 7\n";
    } else {
      expected += " 5\n";  // vehicle 1 stays where it was
    }
    EXPECT_EQ(t.out, expected);
    EXPECT_EQ(t.err, "");
  }

  // Amounts at the edge of the 32-bit range reach the facade.
  const auto amounts = Run_Mova(
      Lines({"SETTINGS_ENABLE_LOGGING", "SETTINGS_SET_TIMEOUT 2147483647", "SETTINGS_SET_TIMEOUT 0",
             "SETTINGS_SET_MAX_RAM 2147483647", "SETTINGS_SET_MAX_RAM +0"}));
  EXPECT_EQ(amounts.log, (std::vector<std::string>{"INFORMATIONAL : Logging enabled",
                                                   "INFORMATIONAL : Timeout set to  2147483647 ms",
                                                   "INFORMATIONAL : Timeout set to  0 ms",
                                                   "INFORMATIONAL : Max RAM set to  2147483647 Mb",
                                                   "INFORMATIONAL : Max RAM set to  0 Mb"}));

  // Integer answers carry a blank before zero and positive values; the CPU time has none.
  Testing::Run_Exchanges({{"VEHICLE_SET_CURRENT_POS 3 0"},
                          {"VEHICLE_GET_CURRENT_POS 3", " 0"},
                          {"VEHICLE_GET_CURRENT_POS 2", "-1"},
                          {"MONITORING_GET_EVALUATIONS", " 0"},
                          {"MONITORING_GET_CPU_TIME", "0.00000"},
                          {"MONITORING_GET_RAM_USAGE", " 0"},
                          {"OBSTACLES_GET_NUM", " 0"},
                          {"OBSTACLES_PRESENT -1 12", "FALSE"}});

  // The last line is executed without a line end, also after lines ended by CR LF.
  const auto last = Run_Mova("VEHICLE_SET_CURRENT_POS 1 7\r\nVEHICLE_GET_CURRENT_POS 1");
  EXPECT_EQ(last.out, " 7\n");
  EXPECT_EQ(last.status, 0);
  const auto last_blank = Run_Mova("MOVA_GENERATION ");
  EXPECT_EQ(last_blank.out, "2024\n");
}

TEST(Console, LineEndsAtEveryPlaceOfTheInputBlocksSplitNoLine) {
  // A pair of lines is 57 characters, prime to every block size of a power of two: 66,000 pairs
  // (3.8 MB) put the boundaries of blocks of up to 64 KiB at every place of a pair, between the
  // CR and the LF of its line ends too. Each pair answers with the position it set.
  std::string input;
  std::string expected;
  for (int i = 0; i < 66000; ++i) {
    const std::string position = std::to_string(i % 10);
    input += "VEHICLE_SET_CURRENT_POS 1 " + position + "\r\nVEHICLE_GET_CURRENT_POS 1 \r\n";
    expected += " " + position + "\n";
  }
  const auto t = Run_Mova(input);
  EXPECT_EQ(t.status, 0);
  EXPECT_EQ(t.out.size(), expected.size());
  const auto first_difference =
      std::mismatch(t.out.begin(), t.out.end(), expected.begin(), expected.end());
  EXPECT_TRUE(t.out == expected) << "answers differ from byte "
                                 << (first_difference.first - t.out.begin());
}

TEST(Console, EmptyInputAndInputOfDroppedLinesEndQuietlyWithStatusZero) {
  const auto empty = Run_Mova("");
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err, "");
  EXPECT_FALSE(empty.log_exists);

  // Without SETTINGS_ENABLE_LOGGING nothing reaches a log file, whatever runs.
  const auto quiet = Run_Mova(Lines({"", " ", "  ", "NOT_A_COMMAND", "ENVIRONMENT_CLEAN",
                                     "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1", "ENVIRONMENT_BUILD",
                                     "VEHICLE_SET_GOAL_POS 1 3", "VEHICLE_SET_GOAL_POS 2 3"}));
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");
  EXPECT_FALSE(quiet.log_exists);
}

// ---------------------------------------------------------------------------------------------
// The line splitter

struct Slice {
  std::int32_t init;
  std::int32_t final_index;
};

std::vector<Slice> Slices() {
  std::vector<Slice> result;
  for (int n = 0; n < Utils::ArgParser::Get_Count(); ++n) {
    const Utils::ArgParser::Word_Slice s = Utils::ArgParser::Get_Slice(n);
    result.push_back({s.INIT, s.FINAL});
  }
  return result;
}

void Expect_Slices(const std::string& line, const std::vector<Slice>& expected) {
  SCOPED_TRACE("line [" + line + "]");
  Utils::ArgParser::Parse(line);
  const std::vector<Slice> got = Slices();
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].init, expected[i].init) << "word " << i;
    EXPECT_EQ(got[i].final_index, expected[i].final_index) << "word " << i;
  }
}

TEST(Splitter, SlicesCountFromOneAndSeparatorsAreNeverMerged) {
  Utils::ArgParser::Reset();
  Utils::ArgParser::Set_Separator(' ');
  Expect_Slices("", {{1, 0}});
  Expect_Slices("MOVA_INIT", {{1, 9}});
  Expect_Slices("A BC DEF", {{1, 1}, {3, 4}, {6, 8}});
  Expect_Slices("A  B", {{1, 1}, {3, 2}, {4, 4}});
  Expect_Slices(" A", {{1, 0}, {2, 2}});
  Expect_Slices("A ", {{1, 1}, {3, 2}});
  Expect_Slices(" ", {{1, 0}, {2, 1}});
  Expect_Slices("   ", {{1, 0}, {2, 1}, {3, 2}, {4, 3}});

  const std::string line = "VEHICLE_SET_CURRENT_POS 1 5";
  Utils::ArgParser::Parse(line);
  EXPECT_EQ(Utils::ArgParser::Get_Count(), 3);
  EXPECT_EQ(Utils::ArgParser::Get_Argument(line, 0), "VEHICLE_SET_CURRENT_POS");
  EXPECT_EQ(Utils::ArgParser::Get_Argument(line, 1), "1");
  EXPECT_EQ(Utils::ArgParser::Get_Argument(line, 2), "5");
  EXPECT_EQ(Utils::ArgParser::Get_Argument(line, 3), "");
  EXPECT_EQ(Utils::ArgParser::Get_Argument(line, 1000), "");

  const std::string blank = " ";
  Utils::ArgParser::Parse(blank);
  EXPECT_EQ(Utils::ArgParser::Get_Count(), 2);
  EXPECT_EQ(Utils::ArgParser::Get_Argument(blank, 0), "");
  EXPECT_EQ(Utils::ArgParser::Get_Argument(blank, 1), "");

  const std::string empty;
  Utils::ArgParser::Parse(empty);
  EXPECT_EQ(Utils::ArgParser::Get_Count(), 1);
  EXPECT_EQ(Utils::ArgParser::Get_Argument(empty, 0), "");

  // Words beyond either end of the list.
  EXPECT_EQ(Utils::ArgParser::Get_Argument(empty, -1), "");
  EXPECT_THROW(Utils::ArgParser::Get_Slice(-1), Utils::Range_Error);
  EXPECT_THROW(Utils::ArgParser::Get_Slice(1), Utils::Range_Error);

  // A slice that does not lie within the line passed is an error.
  Utils::ArgParser::Parse("LONG_WORD TAIL");
  EXPECT_THROW(Utils::ArgParser::Get_Argument("SHORT", 1), Utils::Range_Error);
  EXPECT_THROW(Utils::ArgParser::Get_Argument("SHORT", 0), Utils::Range_Error);
  EXPECT_EQ(Utils::ArgParser::Get_Argument("LONG_WORD TAIL", 1), "TAIL");
}

TEST(Splitter, SeparatorIsCodeZeroUntilSetAndOnlyTheSeparatorCuts) {
  Utils::ArgParser::Reset();
  const std::string blanks = "A B C";
  Utils::ArgParser::Parse(blanks);
  EXPECT_EQ(Utils::ArgParser::Get_Count(), 1);
  EXPECT_EQ(Utils::ArgParser::Get_Argument(blanks, 0), "A B C");

  const std::string nuls = std::string("A") + '\0' + "B";
  Utils::ArgParser::Parse(nuls);
  EXPECT_EQ(Utils::ArgParser::Get_Count(), 2);
  EXPECT_EQ(Utils::ArgParser::Get_Argument(nuls, 1), "B");

  Utils::ArgParser::Set_Separator(',');
  const std::string commas = "x,,y z,";
  Utils::ArgParser::Parse(commas);
  EXPECT_EQ(Utils::ArgParser::Get_Count(), 4);
  EXPECT_EQ(Utils::ArgParser::Get_Argument(commas, 0), "x");
  EXPECT_EQ(Utils::ArgParser::Get_Argument(commas, 1), "");
  EXPECT_EQ(Utils::ArgParser::Get_Argument(commas, 2), "y z");
  EXPECT_EQ(Utils::ArgParser::Get_Argument(commas, 3), "");
  Utils::ArgParser::Reset();
}

// ---------------------------------------------------------------------------------------------
// Number images

TEST(Images, IntegerDurationFloatAndFixedTexts) {
  EXPECT_EQ(Utils::Integer_Image(0), " 0");
  EXPECT_EQ(Utils::Integer_Image(12), " 12");
  EXPECT_EQ(Utils::Integer_Image(-1), "-1");
  EXPECT_EQ(Utils::Integer_Image(32767), " 32767");
  EXPECT_EQ(Utils::Integer_Image(2147483647), " 2147483647");
  EXPECT_EQ(Utils::Integer_Image(-2147483648LL), "-2147483648");

  EXPECT_EQ(Utils::Duration_Image(0), " 0.000000000");
  EXPECT_EQ(Utils::Duration_Image(500000000), " 0.500000000");
  EXPECT_EQ(Utils::Duration_Image(1), " 0.000000001");
  EXPECT_EQ(Utils::Duration_Image(43710000), " 0.043710000");
  EXPECT_EQ(Utils::Duration_Image(12345678901LL), " 12.345678901");
  EXPECT_EQ(Utils::Duration_Image(-1500000000LL), "-1.500000000");
  EXPECT_EQ(Utils::Duration_Image(-1), "-0.000000001");

  EXPECT_EQ(Utils::Float_Image(0.0f), " 0.00000E+00");
  EXPECT_EQ(Utils::Float_Image(0.5f), " 5.00000E-01");
  EXPECT_EQ(Utils::Float_Image(1.0f), " 1.00000E+00");
  EXPECT_EQ(Utils::Float_Image(-1.0f), "-1.00000E+00");
  EXPECT_EQ(Utils::Float_Image(32767.0f), " 3.27670E+04");
  EXPECT_EQ(Utils::Float_Image(123456.7f), " 1.23457E+05");  // rounded to six digits
  EXPECT_EQ(Utils::Float_Image(9.999996f), " 1.00000E+01");  // rounding carries
  EXPECT_EQ(Utils::Float_Image(-0.00025f), "-2.50000E-04");
  EXPECT_EQ(Utils::Float_Image(1.0e-30f), " 1.00000E-30");
  for (float value : {0.0f, 0.5f, -3.25f, 1.0e20f, 7.0e-9f})
    EXPECT_EQ(Utils::Float_Image(value).size(), 12u) << value;

  EXPECT_EQ(Utils::Fixed_Image(0.0f), "0.00000");
  EXPECT_EQ(Utils::Fixed_Image(1.5f), "1.50000");
  EXPECT_EQ(Utils::Fixed_Image(12.25f), "12.25000");
  EXPECT_EQ(Utils::Fixed_Image(-0.5f), "-0.50000");
  EXPECT_EQ(Utils::Fixed_Image(0.000004f), "0.00000");
  EXPECT_EQ(Utils::Fixed_Image(0.000006f), "0.00001");
  EXPECT_EQ(Utils::Fixed_Image(123.456787f), "123.45679");
  EXPECT_EQ(Utils::Fixed_Image(0.043710f), "0.04371");

  EXPECT_FLOAT_EQ(Utils::Seconds(1500000000), 1.5f);
  EXPECT_EQ(Utils::Seconds(0), 0.0f);
}

}  // namespace
