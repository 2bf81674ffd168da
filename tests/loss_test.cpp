// Failures that end the program at any moment lose nothing, nor do controllers that share a log. An
// allocation that fails, wherever it happens, ends the run with "out of memory" after handing over
// every answer computed before it, and leaves only whole records in the log; a kill at any moment
// leaves only whole records once the program has run again (a kill inside a write may leave the
// start of one record, which the next run cuts off before its first record).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/transcript.hpp"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Testing::Lines;

// A mission that reaches every kind of command: logging, the notice files, roads of every kind
// and a refused one, the build, placements, distances, a plan and its queries, moves, an
// obstacle and the plan around it, a dropped line, the information lines and a second mission.
const Strings kMission = {"SETTINGS_ENABLE_LOGGING",
                          "MOVA_INIT",
                          "MOVA_GENERATION",
                          "ENVIRONMENT_ADD_ONE_WAY_ROAD 0 1",
                          "ENVIRONMENT_CLEAN",
                          "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 0 1",
                          "ENVIRONMENT_ADD_TWO_WAY_ROAD_ONE_LANE 1 2",
                          "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 2 3",
                          "ENVIRONMENT_ADD_ONE_WAY_ROAD 3 4",
                          "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 4 0",
                          "ENVIRONMENT_ADD_TWO_WAY_ROAD_TWO_LANES 2 5",
                          "ENVIRONMENT_BUILD",
                          "ENVIRONMENT_GET_MAX_POS",
                          "VEHICLE_SET_CURRENT_POS 1 0",
                          "VEHICLE_SET_CURRENT_POS 2 3",
                          "VEHICLE_SET_CURRENT_POS 3 5",
                          "VEHICLE_SET_GOAL_POS 1 3",
                          "VEHICLE_SET_GOAL_POS 2 0",
                          "VEHICLE_SET_GOAL_POS 3 2",
                          "VEHICLE_GET_DIS_TO_POS 1 3",
                          "MOVA_START_MISSION",
                          "MOVA_GET_NUM_STEPS",
                          "VEHICLE_GET_NEXT_POS 1",
                          "VEHICLE_GET_STEP_POS 2 2",
                          "MONITORING_GET_EVALUATIONS",
                          "VEHICLE_MOVED_FORWARD",
                          "OBSTACLES_ADD_OBSTACLE 2 3",
                          "OBSTACLES_PRESENT 3 2",
                          "OBSTACLES_CONFIRM",
                          "MOVA_GET_NUM_STEPS",
                          "VEHICLE_MOVED_FORWARD",
                          "VEHICLE_GOAL_REACHED",
                          "bogus line",
                          "VEHICLE_GET_CURRENT_POS 9",
                          "INFORMATION_GET_COPYRIGHT",
                          "MOVA_END_MISSION",
                          "OBSTACLES_CLEAN",
                          "MOVA_START_MISSION",
                          "VEHICLE_MOVED_FORWARD",
                          "VEHICLE_MOVED_FORWARD",
                          "VEHICLE_MOVED_FORWARD",
                          "VEHICLE_GET_CURRENT_POS 1",
                          "VEHICLE_GOAL_REACHED"};

// Log records as two runs of one stream write them alike: without the CPU times.
Strings Comparable(const Strings& log) {
  static const std::regex cpu(R"(CPU time:  [0-9]+\.[0-9]{9} \(s\)$)");
  Strings result;
  for (const std::string& record : log) result.push_back(std::regex_replace(record, cpu, "<t>"));
  return result;
}

template <class T>
bool Is_Prefix(const std::vector<T>& part, const std::vector<T>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

struct Failing_Run {
  Testing::Transcript t;
  bool failed = false;  // the chosen allocation was reached and failed
};

// `stream` through the program whose allocation number `n` fails (none for 0).
Failing_Run Run_Failing(const std::string& stream, long n) {
  Testing::Transcript_Options options;
  options.binary = MOVA_FAILING_ALLOCATION_BINARY;
  options.environment =
      "MOVA_FAIL_ALLOCATION=" + std::to_string(n) + " MOVA_ALLOCATION_FAILED=.allocation-failed";
  options.keep_directory = true;
  options.timeout_seconds = 60;
  Failing_Run r{Testing::Run_Mova(stream, options), false};
  r.failed = fs::exists(r.t.directory + "/.allocation-failed");
  std::error_code error;
  fs::remove_all(r.t.directory, error);
  return r;
}

TEST(Loss, EveryAllocationThatFailsEndsTheRunWithEveryEarlierAnswerAndOnlyWholeRecords) {
  // Answers and records after each prefix of the mission: the command that fails lies between
  // two prefixes, and the answers of the run must lie between theirs.
  std::vector<std::size_t> answers;
  std::vector<std::size_t> records;
  for (std::size_t k = 0; k <= kMission.size(); ++k) {
    const Failing_Run r = Run_Failing(
        Lines(Strings(kMission.begin(), kMission.begin() + static_cast<std::ptrdiff_t>(k))), 0);
    ASSERT_EQ(r.t.status, 0) << r.t.err;
    answers.push_back(Testing::Split_Lines(r.t.out).size());
    records.push_back(r.t.log.size());
  }
  const Failing_Run whole = Run_Failing(Lines(kMission), 0);
  const Strings expected_out = Testing::Split_Lines(whole.t.out);
  const Strings expected_log = Comparable(whole.t.log);
  ASSERT_EQ(expected_out.size(), answers.back());
  ASSERT_GT(expected_log.size(), 40u);

  long n = 1;
  for (;; ++n) {
    const Failing_Run r = Run_Failing(Lines(kMission), n);
    const Strings out = Testing::Split_Lines(r.t.out);
    const Strings log = Comparable(r.t.log);
    SCOPED_TRACE("allocation " + std::to_string(n) + " failing");
    if (!r.failed || r.t.status == 0) {
      // Every allocation point has been tried, or the failure did not matter.
      EXPECT_EQ(r.t.status, 0);
      EXPECT_EQ(r.t.err, "");
      EXPECT_EQ(out, expected_out);
      EXPECT_EQ(log, expected_log);
      if (!r.failed) break;
      continue;
    }
    ASSERT_EQ(r.t.status, 1);
    ASSERT_EQ(r.t.err, "mova: out of memory\n");
    ASSERT_TRUE(Is_Prefix(out, expected_out)) << r.t.out;
    ASSERT_TRUE(Is_Prefix(log, expected_log));
    // Some command f failed: the records written lie between those of the first f commands
    // and the first f + 1, and so must the answers handed over.
    bool consistent = false;
    for (std::size_t f = 0; f < kMission.size() && !consistent; ++f)
      consistent = records[f] <= log.size() && log.size() <= records[f + 1] &&
                   answers[f] <= out.size() && out.size() <= answers[f + 1];
    ASSERT_TRUE(consistent) << out.size() << " answers for " << log.size() << " records";
  }
  RecordProperty("allocation_points", std::to_string(n - 1));
  std::cout << "allocation points tried: " << n - 1 << '\n';
  EXPECT_GT(n, 100);
}

// Whether `text` holds only whole records in the log's layout.
::testing::AssertionResult Whole_Records(const std::string& text) {
  static const std::regex record(
      R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} : DAEMON : [A-Z]+ : .*  $)");
  if (!text.empty() && text.back() != '\n')
    return ::testing::AssertionFailure()
           << "the log ends mid-record: [" << text.substr(text.rfind('\n') + 1) << "]";
  for (const std::string& line : Testing::Split_Lines(text))
    if (!std::regex_match(line, record))
      return ::testing::AssertionFailure() << "record out of shape: [" << line << "]";
  return ::testing::AssertionSuccess();
}

// The records of `text` as "SEVERITY : message", comparable across runs.
Strings Record_Bodies(const std::string& text) {
  Strings bodies;
  for (const std::string& line : Testing::Split_Lines(text))
    bodies.push_back(line.size() > 31 ? line.substr(31, line.size() - 33) : line);
  return Comparable(bodies);
}

// Starts the mova binary in `directory` on the file `input`, answers discarded.
pid_t Start(const std::string& directory, const std::string& input) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open(input.c_str(), O_RDONLY);
    const int out = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || chdir(directory.c_str()) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    execl(MOVA_BINARY, MOVA_BINARY, static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

TEST(Loss, KilledAtAnyMomentTheLogHoldsOnlyWholeRecords) {
  // The mission, then many queries that each write a record.
  Strings stream = kMission;
  stream.erase(stream.begin() + 1);  // no MOVA_INIT: its pause would take most of the time
  for (int i = 0; i < 2000; ++i)
    stream.push_back("VEHICLE_GET_CURRENT_POS " + std::to_string(i % 3 + 1));
  std::string pattern = (fs::temp_directory_path() / "mova-kill-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::string root = pattern;
  const std::string input = root + "/stdin";
  {
    std::ofstream file(input, std::ios::binary);
    file << Lines(stream);
  }

  // One whole run for the records a run writes and the time it takes.
  const std::string whole_dir = root + "/whole";
  fs::create_directory(whole_dir);
  const auto began = std::chrono::steady_clock::now();
  int status = 0;
  waitpid(Start(whole_dir, input), &status, 0);
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - began);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const Strings whole = Record_Bodies(Testing::Read_File(whole_dir + "/mova.log"));
  ASSERT_GT(whole.size(), 2000u);

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  // Moments within the first four fifths of a whole run, so that most kills land mid-run even
  // when later runs go faster than the one measured.
  std::uniform_int_distribution<long> moment(0, took.count() * 4 / 5);
  int killed_mid_run = 0;
  int torn = 0;
  const std::string next_input = root + "/next";
  {
    std::ofstream file(next_input, std::ios::binary);
    file << Lines({"SETTINGS_ENABLE_LOGGING", "VEHICLE_GET_CURRENT_POS 1"});
  }
  const int runs = 120;
  for (int run = 0; run < runs; ++run) {
    const std::string dir = root + "/run-" + std::to_string(run);
    fs::create_directory(dir);
    const pid_t pid = Start(dir, input);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) ++killed_mid_run;
    std::string log = Testing::Read_File(dir + "/mova.log");
    if (!Whole_Records(log)) {
      // Killed inside a write that spans two pages of the file: the kernel left the start of
      // the record. The next run cuts it off before its own first record.
      ++torn;
      ASSERT_EQ(log.find('\n', log.rfind('\n') + 1), std::string::npos);
      waitpid(Start(dir, next_input), &status, 0);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      log = Testing::Read_File(dir + "/mova.log");
      ASSERT_TRUE(Whole_Records(log)) << "run " << run << " after the next run";
      Strings bodies = Record_Bodies(log);
      const Strings next_records = {"INFORMATIONAL : Logging enabled",
                                    "INFORMATIONAL : Current for vehicle  1 is -1"};
      ASSERT_GE(bodies.size(), next_records.size());
      EXPECT_TRUE(std::equal(next_records.begin(), next_records.end(), bodies.end() - 2));
      bodies.resize(bodies.size() - 2);
      ASSERT_TRUE(Is_Prefix(bodies, whole)) << "run " << run << " after the next run";
    } else {
      ASSERT_TRUE(Is_Prefix(Record_Bodies(log), whole)) << "run " << run;
    }
    fs::remove_all(dir);
  }
  std::cout << runs << " runs, " << killed_mid_run << " killed before the end of their input, "
            << torn << " left a torn record that the next run cut off\n";
  RecordProperty("killed_mid_run", std::to_string(killed_mid_run));
  RecordProperty("torn_then_cut", std::to_string(torn));
  EXPECT_GT(killed_mid_run, runs / 4);
  fs::remove_all(root);
}

// Writes `lines` to a new file at `path`.
void Write_Lines(const std::string& path, const Strings& lines) {
  std::ofstream(path, std::ios::binary) << Lines(lines);
}

// How many records of the log have each message.
std::map<std::string, int> Count_Records(const std::string& log) {
  std::map<std::string, int> counts;
  for (const std::string& body : Record_Bodies(log)) ++counts[body];
  return counts;
}

// `writers` controllers append to one log in one working folder at the same time, each
// `records` records of a message of its own, while (with `kills`) another controller is started
// and killed that many times in the middle of its records. Every record of the writers must be
// there and every line of the log must be a whole record: a torn record of a killed controller
// is cut without taking a whole record that another appended meanwhile.
void Share_One_Log(int writers, int records, int kills) {
  const Strings queries = {"VEHICLE_GET_CURRENT_POS 1", "VEHICLE_GET_CURRENT_POS 2",
                           "VEHICLE_GET_CURRENT_POS 3", "ENVIRONMENT_GET_MAX_POS"};
  const Strings messages = {"INFORMATIONAL : Current for vehicle  1 is -1",
                            "INFORMATIONAL : Current for vehicle  2 is -1",
                            "INFORMATIONAL : Current for vehicle  3 is -1",
                            "INFORMATIONAL : Obtaining MAX number of pos"};
  ASSERT_LE(writers, static_cast<int>(queries.size()));
  std::string pattern = (fs::temp_directory_path() / "mova-shared-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::string dir = pattern;
  std::vector<pid_t> pids;
  for (int w = 0; w < writers; ++w) {
    Strings stream(static_cast<std::size_t>(records) + 1, queries[static_cast<std::size_t>(w)]);
    stream.front() = "SETTINGS_ENABLE_LOGGING";
    const std::string input = dir + "/input-" + std::to_string(w);
    Write_Lines(input, stream);
    pids.push_back(Start(dir, input));
  }
  Strings killed_stream(2000, "ENVIRONMENT_GET_MAX_ROADS");
  killed_stream.front() = "SETTINGS_ENABLE_LOGGING";
  Write_Lines(dir + "/input-killed", killed_stream);
  std::mt19937 random(static_cast<unsigned>(writers * 1000 + kills));
  std::uniform_int_distribution<int> moment(0, 3000);
  for (int k = 0; k < kills; ++k) {
    const pid_t pid = Start(dir, dir + "/input-killed");
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  for (const pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  const std::string log = Testing::Read_File(dir + "/mova.log");
  EXPECT_TRUE(Whole_Records(log));
  const std::map<std::string, int> counts = Count_Records(log);
  for (int w = 0; w < writers; ++w) {
    const auto found = counts.find(messages[static_cast<std::size_t>(w)]);
    EXPECT_EQ(found == counts.end() ? 0 : found->second, records)
        << messages[static_cast<std::size_t>(w)];
  }
  fs::remove_all(dir);
}

TEST(Loss, ControllersSharingOneLogLoseNoRecordEvenWhenOneIsKilledMidRecord) {
  {
    SCOPED_TRACE("two writers");
    Share_One_Log(2, 30000, 0);
  }
  {
    SCOPED_TRACE("four writers");
    Share_One_Log(4, 15000, 0);
  }
  {
    SCOPED_TRACE("three writers and one killed again and again");
    Share_One_Log(3, 15000, 60);
  }
}

}  // namespace
