// The log file: record layout, the fixed +120 minute time stamp, the threshold, the file
// created again after removal, and the records through the real binary in several time zones.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "controller/mova.hpp"
#include "support/scratch.hpp"
#include "support/transcript.hpp"
#include "utils/utils-logger.hpp"

namespace {

using namespace std::chrono;
using Testing::Lines;
using Testing::Read_File;
using Testing::Run_Mova;
using Utils::Logger::Facility;
using Utils::Logger::Severity;

std::vector<std::string> File_Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  EXPECT_EQ(line, "") << "the last record lacks its line end";
  return lines;
}

// The time stamp at the start of a record as a UTC time point (the text read as if it were UTC).
sys_seconds Stamp(const std::string& record) {
  std::smatch m;
  const std::string head = record.substr(0, 19);
  if (!std::regex_match(head, m,
                        std::regex(R"((\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2}))"))) {
    ADD_FAILURE() << "no time stamp in [" << record << "]";
    return {};
  }
  const year_month_day date{year{std::stoi(m[1])}, month{static_cast<unsigned>(std::stoi(m[2]))},
                            day{static_cast<unsigned>(std::stoi(m[3]))}};
  EXPECT_TRUE(date.ok()) << head;
  return sys_days{date} + hours{std::stoi(m[4])} + minutes{std::stoi(m[5])} +
         seconds{std::stoi(m[6])};
}

TEST(Logger, RecordLayoutWithFixedOffsetOfTwoHours) {
  const auto at = [](year_month_day date, int h, int min, int s) {
    return system_clock::time_point{sys_days{date} + hours{h} + minutes{min} + seconds{s}};
  };
  EXPECT_EQ(Utils::Logger::Format_Record(at(2024y / 3 / 1, 14, 3, 7), Facility::DAEMON,
                                         Severity::INFORMATIONAL, "Logging enabled"),
            "2024-03-01 16:03:07 : DAEMON : INFORMATIONAL : Logging enabled  ");
  // Past midnight, into a new year, onto a leap day; fractions of a second are dropped.
  EXPECT_EQ(Utils::Logger::Format_Record(at(2023y / 12 / 31, 23, 30, 0), Facility::DAEMON,
                                         Severity::ERROR, "x"),
            "2024-01-01 01:30:00 : DAEMON : ERROR : x  ");
  EXPECT_EQ(Utils::Logger::Format_Record(at(2024y / 2 / 28, 22, 59, 59) + milliseconds{999},
                                         Facility::DAEMON, Severity::DEBUG, "leap"),
            "2024-02-29 00:59:59 : DAEMON : DEBUG : leap  ");
  EXPECT_EQ(Utils::Logger::Format_Record(at(2025y / 2 / 28, 22, 0, 0), Facility::LOCAL_7,
                                         Severity::EMERGENCY, ""),
            "2025-03-01 00:00:00 : LOCAL_7 : EMERGENCY :   ");
  EXPECT_EQ(Utils::Logger::Format_Record(at(2024y / 6 / 9, 1, 2, 3), Facility::KERNEL,
                                         Severity::NOTICE, "a : b %s %d  "),
            "2024-06-09 03:02:03 : KERNEL : NOTICE : a : b %s %d    ");

  const std::vector<std::string> facilities = {"KERNEL",
                                               "USER_LEVEL",
                                               "MAIL",
                                               "DAEMON",
                                               "SECURITY_AUTH",
                                               "INTERNAL",
                                               "LINE_PRINTER",
                                               "NETWORK",
                                               "UUCP",
                                               "CLOCK",
                                               "SECURITY_AUTH_PRIV",
                                               "FTP",
                                               "NTP",
                                               "LOG_AUDIT_LOG_ALERT",
                                               "SCHEDULING",
                                               "LOCAL_0",
                                               "LOCAL_1",
                                               "LOCAL_2",
                                               "LOCAL_3",
                                               "LOCAL_4",
                                               "LOCAL_5",
                                               "LOCAL_6",
                                               "LOCAL_7"};
  for (std::size_t i = 0; i < facilities.size(); ++i)
    EXPECT_EQ(Utils::Logger::Facility_Name(static_cast<Facility>(i)), facilities[i]);
  const std::vector<std::string> severities = {"EMERGENCY", "ALERT",  "CRITICAL",      "ERROR",
                                               "WARNING",   "NOTICE", "INFORMATIONAL", "DEBUG"};
  for (std::size_t i = 0; i < severities.size(); ++i)
    EXPECT_EQ(Utils::Logger::Severity_Name(static_cast<Severity>(i)), severities[i]);
}

TEST(Logger, WritesOnlyWhenEnabledAndDueAndRecreatesARemovedFile) {
  const Testing::Scratch_Directory directory(Testing::Scratch_Directory::Mode::Enter);
  Mova::Reset_All();
  namespace L = Utils::Logger;

  // Off at start: nothing, not even an empty file.
  L::Log(Severity::ERROR, "not written");
  L::Log(Severity::EMERGENCY, "not written");
  EXPECT_FALSE(std::filesystem::exists("mova.log"));

  L::Enable();
  L::Log(Severity::DEBUG, "debug at threshold INFORMATIONAL");
  L::Log_Default("default severity is DEBUG");
  EXPECT_FALSE(std::filesystem::exists("mova.log"));

  const auto before = floor<seconds>(system_clock::now());
  L::Log(Severity::ERROR, "first");
  L::Log(Severity::INFORMATIONAL, "");
  L::Log(Severity::WARNING, "warned");
  const auto after = system_clock::now();
  std::vector<std::string> lines = File_Lines(Read_File("mova.log"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(19), " : DAEMON : ERROR : first  ");
  EXPECT_EQ(lines[1].substr(19), " : DAEMON : INFORMATIONAL :   ");
  EXPECT_EQ(lines[2].substr(19), " : DAEMON : WARNING : warned  ");
  for (const std::string& line : lines) {
    const sys_seconds stamp = Stamp(line);
    EXPECT_GE(stamp, before + minutes{120}) << line;
    EXPECT_LE(stamp, after + minutes{120}) << line;
  }

  // Removed between two records: the next record creates the file again, alone in it.
  std::filesystem::remove("mova.log");
  L::Log(Severity::DEBUG, "still not due");
  EXPECT_FALSE(std::filesystem::exists("mova.log"));
  L::Log(Severity::INFORMATIONAL, "next");
  lines = File_Lines(Read_File("mova.log"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].substr(19), " : DAEMON : INFORMATIONAL : next  ");

  // Threshold, facility and default severity change what is written and how it is named.
  L::Set_Threshold(Severity::DEBUG);
  L::Log(Severity::DEBUG, "debug now");
  L::Set_Threshold(Severity::ERROR);
  L::Log(Severity::INFORMATIONAL, "informational now hidden");
  L::Log(Severity::CRITICAL, "critical");
  L::Set_Facility(Facility::LOCAL_3);
  L::Set_Default_Severity(Severity::ALERT);
  L::Log_Default("by default");
  L::Disable();
  L::Log(Severity::EMERGENCY, "disabled again");
  lines = File_Lines(Read_File("mova.log"));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1].substr(19), " : DAEMON : DEBUG : debug now  ");
  EXPECT_EQ(lines[2].substr(19), " : DAEMON : CRITICAL : critical  ");
  EXPECT_EQ(lines[3].substr(19), " : LOCAL_3 : ALERT : by default  ");
  Mova::Reset_All();
}

// The time stamp is UTC + 2 hours whatever the machine's time zone says.
TEST(Logger, TimeStampIgnoresTheTimeZoneOfTheMachine) {
  for (const std::string zone : {"TZ=UTC", "TZ=America/New_York", "TZ=Asia/Tokyo", "TZ=EST5EDT",
                                 "TZ=JST-9", "TZ=NZST-12NZDT"}) {
    SCOPED_TRACE(zone);
    Testing::Transcript_Options options;
    options.environment = zone;
    const auto before = floor<seconds>(system_clock::now());
    const auto t = Run_Mova(Lines({"SETTINGS_ENABLE_LOGGING", "ENVIRONMENT_GET_MAX_POS"}), options);
    const auto after = system_clock::now();
    EXPECT_EQ(t.status, 0);
    ASSERT_EQ(t.raw_log.size(), 2u);
    for (const std::string& record : t.raw_log) {
      const sys_seconds stamp = Stamp(record);
      EXPECT_GE(stamp, before + minutes{120}) << record;
      EXPECT_LE(stamp, after + minutes{120}) << record;
    }
  }
}

TEST(Logger, EnablingLoggingCreatesTheFileAndAppendsToAnExistingOne) {
  const auto fresh = Run_Mova(
      Lines({"SETTINGS_ENABLE_LOGGING", "ENVIRONMENT_CLEAN", "ENVIRONMENT_GET_MAX_ROADS",
             "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1", "ENVIRONMENT_BUILD", "SETTINGS_DISABLE_LOGGING",
             "ENVIRONMENT_CLEAN", "SETTINGS_ENABLE_LOGGING", "ENVIRONMENT_GET_MAX_POS"}));
  ASSERT_TRUE(fresh.log_exists);
  EXPECT_EQ(fresh.log, (std::vector<std::string>{
                           "INFORMATIONAL : Logging enabled",
                           "INFORMATIONAL : Cleaning environment",
                           "INFORMATIONAL : Obtaining MAX number of roads",
                           "INFORMATIONAL : Creating one-way road from 0 to 1",
                           "INFORMATIONAL : Building Environment",
                           "INFORMATIONAL : PN engine and constraints initialized",
                           "INFORMATIONAL : Environment built",
                           "INFORMATIONAL : Logging enabled",
                           "INFORMATIONAL : Obtaining MAX number of pos",
                       }));
  // The logger writes to its file only.
  EXPECT_EQ(fresh.out, " 15\n 12\n");
  EXPECT_EQ(fresh.err, "");

  Testing::Transcript_Options options;
  options.prepare = [](const std::string& directory) {
    std::ofstream(directory + "/mova.log") << "2000-01-01 00:00:00 : DAEMON : ERROR : old  \n";
  };
  const auto appended = Run_Mova(Lines({"SETTINGS_ENABLE_LOGGING"}), options);
  EXPECT_EQ(appended.log,
            (std::vector<std::string>{"ERROR : old", "INFORMATIONAL : Logging enabled"}));
  EXPECT_EQ(appended.raw_log.front(), "2000-01-01 00:00:00 : DAEMON : ERROR : old  ");
}

TEST(Logger, ATornRecordIsTheStartOfARecordCutAnywhereAndNothingElse) {
  const std::string record =
      Utils::Logger::Format_Record(sys_days{2024y / March / 1} + 14h + 3min + 7s,
                                   Facility::SECURITY_AUTH_PRIV, Severity::ERROR, "Timeout");
  for (std::size_t cut = 0; cut <= record.size(); ++cut)
    EXPECT_TRUE(Utils::Logger::Begins_A_Record(record.substr(0, cut))) << cut;
  for (const std::string foreign :
       {"kept by the operator", "2024-03-01 16:03:07 : NOBODY : ERROR : x",
        "2024-03-01 16:03:07 : DAEMON : LOUD : x", "2024-03-0x", "2024-03-01 16:03:07 - DAEMON",
        "2024-03-01 16:03:07 : DAEMON :  ERROR", "2024-03-01 16:03:07 : DAEMON : ERROR : a\nb"})
    EXPECT_FALSE(Utils::Logger::Begins_A_Record(foreign)) << foreign;
}

// A log that ends without a line feed: a torn start of a record is cut, a line of someone else's
// is kept and ended with a line feed, directly and through a symbolic link to a log kept
// elsewhere (which stays a link).
TEST(Logger, OnlyATornRecordIsCutAndALinkedLogIsFollowed) {
  const std::string whole = "2000-01-01 00:00:00 : DAEMON : ERROR : old  ";
  struct Case {
    std::string before;
    std::vector<std::string> kept;
  };
  const std::vector<Case> cases = {
      {whole + "\n2024-03-01 16:03:07 : DAEMON : INFORM", {whole}},
      {"2024-03-01 16:0", {}},
      {whole + "\nkept by the operator", {whole, "kept by the operator"}},
      {"2024-03-01 16:03:07 : SOMEONE ELSE", {"2024-03-01 16:03:07 : SOMEONE ELSE"}}};
  for (const bool linked : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE((linked ? "linked: " : "") + c.before);
      Testing::Transcript_Options options;
      options.check_log = false;
      options.keep_directory = true;
      options.prepare = [&](const std::string& directory) {
        const std::string target = linked ? directory + "/elsewhere.log" : directory + "/mova.log";
        std::ofstream(target, std::ios::binary) << c.before;
        if (linked) std::filesystem::create_symlink("elsewhere.log", directory + "/mova.log");
      };
      const auto t = Run_Mova(Lines({"SETTINGS_ENABLE_LOGGING"}), options);
      ASSERT_EQ(t.raw_log.size(), c.kept.size() + 1);
      EXPECT_TRUE(std::equal(c.kept.begin(), c.kept.end(), t.raw_log.begin()));
      EXPECT_NE(t.raw_log.back().find(" : DAEMON : INFORMATIONAL : Logging enabled  "),
                std::string::npos);
      EXPECT_EQ(std::filesystem::is_symlink(t.directory + "/mova.log"), linked);
      std::filesystem::remove_all(t.directory);
    }
  }
}

TEST(Logger, ALinkToAMissingFileEndsTheProgramAndCreatesNothing) {
  Testing::Transcript_Options options;
  options.keep_directory = true;
  options.prepare = [](const std::string& directory) {
    std::filesystem::create_symlink("missing.log", directory + "/mova.log");
  };
  const auto t = Run_Mova(
      Lines({"ENVIRONMENT_GET_MAX_POS", "SETTINGS_ENABLE_LOGGING", "ENVIRONMENT_GET_MAX_POS"}),
      options);
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, " 12\n");
  EXPECT_EQ(t.err,
            "mova: cannot open log file mova.log: it is a symbolic link to a missing file\n");
  EXPECT_FALSE(std::filesystem::exists(t.directory + "/missing.log"));
  std::filesystem::remove_all(t.directory);
}

TEST(Logger, AWorkingFolderRemovedUnderTheProgramIsAFailureToOpenTheLog) {
  Testing::Scratch_Directory directory(Testing::Scratch_Directory::Mode::Enter);
  std::filesystem::create_directory("gone");
  ASSERT_EQ(chdir("gone"), 0);
  std::filesystem::remove(directory.File("gone"));
  Mova::Reset_All();
  Utils::Logger::Enable();
  try {
    Utils::Logger::Log(Severity::ERROR, "nowhere to go");
    ADD_FAILURE() << "logged into a removed folder";
  } catch (const Utils::Fatal_Error& error) {
    EXPECT_EQ(error.message, "cannot open log file mova.log: No such file or directory");
  }
  Utils::Logger::Reset();
}

}  // namespace
