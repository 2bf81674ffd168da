// File-system and pipe faults around the real binary: a log that cannot be written, a notice
// file that cannot be created, the log removed while the program runs, and a host that closes
// its ends of the pipes. A failure that ends the program leaves one line on standard error and
// a non-zero status; what was done before it stays done; the program never hangs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/transcript.hpp"

namespace {

namespace fs = std::filesystem;
using Testing::Lines;
using Testing::Run_Mova;

// The records of Init, as the log holds them.
const std::vector<std::string> kInitRecords = {
    "INFORMATIONAL : Initializing MOVA", "INFORMATIONAL : # Pos:  12",
    "INFORMATIONAL : # Roads:  15", "INFORMATIONAL : # Vehicles:  3"};

std::size_t Count_Lines(const std::string& text) {
  std::size_t count = 0;
  for (char c : text) count += c == '\n' ? 1 : 0;
  return count;
}

// The record lines of a log file with the time stamp cut off ("DAEMON : ...  ").
std::vector<std::string> Records_Without_Stamp(const std::string& path) {
  std::vector<std::string> records;
  std::string text = Testing::Read_File(path);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    records.push_back(line.size() > 22 ? line.substr(22) : line);
    start = end + 1;
  }
  return records;
}

// Whether `text` holds only whole log records: every line complete and in the record layout.
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

// How many lines of `text` contain `part`.
std::size_t Count_Containing(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (const std::string& line : Testing::Split_Lines(text))
    if (line.find(part) != std::string::npos) ++count;
  return count;
}

// Logging on, then `n` queries that each write one record and answer "-1".
std::string Logged_Queries(int n) {
  std::string stream = "SETTINGS_ENABLE_LOGGING\n";
  for (int i = 0; i < n; ++i) stream += "VEHICLE_GET_CURRENT_POS 1\n";
  return stream;
}

// The answers of a run of Logged_Queries that failed part-way: one for each query whose record
// reached the log, none for the query that failed.
void Expect_Answers_Match_Records(const Testing::Transcript& t, const std::string& log) {
  const std::size_t records = Count_Containing(log, "Current for vehicle  1 is -1");
  EXPECT_GT(records, 0u);
  std::string answers;
  for (std::size_t i = 0; i < records; ++i) answers += "-1\n";
  EXPECT_EQ(t.out, answers);
}

// Options that prepare the working directory, keep it for the test to inspect when asked, and
// put `environment` before the command.
Testing::Transcript_Options Prepared(std::function<void(const std::string&)> prepare,
                                     bool keep_directory = false, std::string environment = "") {
  Testing::Transcript_Options options;
  options.prepare = std::move(prepare);
  options.keep_directory = keep_directory;
  options.environment = std::move(environment);
  return options;
}

// One mova process driven through pipes, as a host drives it, in its own temporary directory.
struct Live_Mova {
  std::string directory;
  pid_t pid = -1;
  int to_mova = -1;    // the host's end of standard input
  int from_mova = -1;  // the host's end of standard output
  std::string pending;

  // Starts the program; with `ignore_broken_pipe` it inherits SIGPIPE ignored, as from a host
  // that ignores it; `nonblocking_input` and `nonblocking_output` set O_NONBLOCK on its ends of
  // the pipes, as a host's event loop may.
  bool Start(bool ignore_broken_pipe = false, bool nonblocking_input = false,
             bool nonblocking_output = false) {
    std::string pattern = (fs::temp_directory_path() / "mova-live-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return false;
    directory = pattern;
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return false;
    if (nonblocking_input) fcntl(in[0], F_SETFL, fcntl(in[0], F_GETFL) | O_NONBLOCK);
    if (nonblocking_output) fcntl(out[1], F_SETFL, fcntl(out[1], F_GETFL) | O_NONBLOCK);
    pid = fork();
    if (pid == 0) {
      const int err = open((directory + "/.stderr").c_str(), O_WRONLY | O_CREAT, 0644);
      if (err < 0 || chdir(directory.c_str()) != 0) _exit(126);
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err, 2);
      close(in[1]);
      close(out[0]);
      signal(SIGPIPE, ignore_broken_pipe ? SIG_IGN : SIG_DFL);
      execl(MOVA_BINARY, MOVA_BINARY, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    to_mova = in[1];
    from_mova = out[0];
    return pid > 0;
  }

  // Writes `text`; false when the pipe is broken (the broken-pipe signal is ignored meanwhile,
  // so that a program that has ended does not take the test with it).
  bool Send(const std::string& text) {
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    const bool sent = Write_All(text);
    sigaction(SIGPIPE, &previous, nullptr);
    return sent;
  }

  bool Write_All(const std::string& text) const {
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(to_mova, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  // The next answer line without its line feed; "<timeout>" or "<end>" when none comes.
  std::string Answer(int timeout_ms = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (pending.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return "<timeout>";
      pollfd ready{from_mova, POLLIN, 0};
      if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(from_mova, buffer, sizeof buffer);
      if (n <= 0) return "<end>";
      pending.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t end = pending.find('\n');
    const std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    return line;
  }

  void Close_Input() {
    if (to_mova >= 0) close(to_mova);
    to_mova = -1;
  }
  void Close_Output() {
    if (from_mova >= 0) close(from_mova);
    from_mova = -1;
  }

  // The raw wait status once the program has ended, or -1 when it is still running after
  // `timeout_ms` (it is then killed).
  int Wait(int timeout_ms = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    pid = -1;
    return -1;
  }

  std::string Errors() const { return Testing::Read_File(directory + "/.stderr"); }

  ~Live_Mova() {
    Close_Input();
    Close_Output();
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    std::error_code error;
    if (!directory.empty()) fs::remove_all(directory, error);
  }
};

TEST(Faults, LogFileThatIsADirectoryEndsTheProgramWithOneDiagnosticLine) {
  const auto t =
      Run_Mova(Lines({"VEHICLE_SET_CURRENT_POS 1 4", "VEHICLE_GET_CURRENT_POS 1",
                      "SETTINGS_ENABLE_LOGGING", "VEHICLE_GET_CURRENT_POS 1", "MOVA_INIT"}),
               Prepared([](const std::string& dir) { fs::create_directory(dir + "/mova.log"); }));
  EXPECT_NE(t.status, 0);
  // The answer before the failure reached the host; nothing after it ran.
  EXPECT_EQ(t.out, " 4\n");
  EXPECT_EQ(Count_Lines(t.err), 1u) << t.err;
  EXPECT_EQ(t.err.back(), '\n');
  EXPECT_NE(t.err.find("mova.log"), std::string::npos) << t.err;
  EXPECT_NE(t.err.find("Is a directory"), std::string::npos) << t.err;
  EXPECT_FALSE(t.log_exists);
}

// A run killed inside a record's write may leave that record's start at the end of the log;
// the next run cuts it off before its own first record, and keeps every whole record. A long last
// line that is no record's start is kept and ended with a line feed.
TEST(Faults, TornRecordLeftByAKilledRunIsCutOffByTheNextRun) {
  const std::string whole = "2026-12-09 10:00:00 : DAEMON : INFORMATIONAL : Initializing MOVA  \n";
  for (const std::string& tail :
       {std::string("2026-12-09 10:00:01 : DAEMON : INFORMA"), std::string(5000, 'x')}) {
    Testing::Transcript_Options options = Prepared([&](const std::string& dir) {
      std::ofstream(dir + "/mova.log", std::ios::binary) << whole << tail;
    });
    options.check_log = false;
    const auto t =
        Run_Mova(Lines({"SETTINGS_ENABLE_LOGGING", "VEHICLE_GET_CURRENT_POS 1"}), options);
    EXPECT_EQ(t.status, 0) << t.err;
    const bool torn = tail.front() == '2';
    ASSERT_EQ(t.raw_log.size(), torn ? 3u : 4u) << tail.size();
    EXPECT_EQ(t.raw_log[0] + "\n", whole);
    if (!torn) {
      EXPECT_EQ(t.raw_log[1], tail);
    }
    EXPECT_NE(t.raw_log.back().find("INFORMATIONAL : Current for vehicle  1 is -1  "),
              std::string::npos);
  }
  // A log of nothing but a fragment is emptied before the first record.
  const auto t = Run_Mova(Lines({"SETTINGS_ENABLE_LOGGING", "VEHICLE_GET_CURRENT_POS 1"}),
                          Prepared([](const std::string& dir) {
                            std::ofstream(dir + "/mova.log", std::ios::binary) << "2026-12-09 1";
                          }));
  EXPECT_EQ(t.raw_log.size(), 2u);
  EXPECT_EQ(t.log, (std::vector<std::string>{"INFORMATIONAL : Logging enabled",
                                             "INFORMATIONAL : Current for vehicle  1 is -1"}));
}

TEST(Faults, LogTurningIntoADirectoryMidRunEndsTheProgramAndKeepsEarlierRecords) {
  Live_Mova mova;
  ASSERT_TRUE(mova.Start());
  ASSERT_TRUE(mova.Send("SETTINGS_ENABLE_LOGGING\nVEHICLE_GET_CURRENT_POS 1\n"));
  ASSERT_EQ(mova.Answer(), "-1");
  // The host moves the log away for keeping and something puts a directory in its place.
  fs::rename(mova.directory + "/mova.log", mova.directory + "/kept.log");
  fs::create_directory(mova.directory + "/mova.log");
  ASSERT_TRUE(mova.Send("VEHICLE_GET_CURRENT_POS 2\nVEHICLE_GET_CURRENT_POS 3\n"));
  EXPECT_EQ(mova.Answer(), "<end>");
  const int status = mova.Wait();
  ASSERT_NE(status, -1) << "the program hung";
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 0);
  const std::string errors = mova.Errors();
  EXPECT_EQ(Count_Lines(errors), 1u) << errors;
  EXPECT_NE(errors.find("mova.log"), std::string::npos) << errors;
  EXPECT_EQ(Records_Without_Stamp(mova.directory + "/kept.log"),
            (std::vector<std::string>{"DAEMON : INFORMATIONAL : Logging enabled  ",
                                      "DAEMON : INFORMATIONAL : Current for vehicle  1 is -1  "}));
}

TEST(Faults, LogOnAFullDeviceEndsTheProgramWithOneDiagnosticLine) {
  const auto t = Run_Mova(
      Lines({"VEHICLE_GET_CURRENT_POS 1", "SETTINGS_ENABLE_LOGGING", "VEHICLE_GET_CURRENT_POS 1"}),
      Prepared([](const std::string& dir) { fs::create_symlink("/dev/full", dir + "/mova.log"); }));
  EXPECT_NE(t.status, 0);
  EXPECT_EQ(t.out, "-1\n");
  EXPECT_EQ(Count_Lines(t.err), 1u) << t.err;
  EXPECT_NE(t.err.find("mova.log"), std::string::npos) << t.err;
  EXPECT_NE(t.err.find("No space left on device"), std::string::npos) << t.err;
}

// The log of a run whose MOVA_INIT cannot create the disclaimer: Init's records stay, the
// program ends with one diagnostic line naming the notice file, and no further line runs.
void Expect_Notice_Failure(const Testing::Transcript& t) {
  EXPECT_NE(t.status, 0);
  EXPECT_EQ(t.out, " 0\n");
  EXPECT_EQ(Count_Lines(t.err), 1u) << t.err;
  EXPECT_NE(t.err.find("MOVA_Disclaimer.txt"), std::string::npos) << t.err;
  std::vector<std::string> expected = {"INFORMATIONAL : Logging enabled"};
  expected.insert(expected.end(), kInitRecords.begin(), kInitRecords.end());
  EXPECT_EQ(t.log, expected);
}

const std::string kInitStream = Lines({"SETTINGS_ENABLE_LOGGING", "VEHICLE_GET_NEXT_POS 1",
                                       "MOVA_INIT", "VEHICLE_GET_CURRENT_POS 1"});

TEST(Faults, NoticeFileThatCannotBeCreatedEndsTheProgramAndKeepsInitRecords) {
  // A dangling link in place of the disclaimer: it does not exist, and creating it through the
  // link fails for every user, root included.
  const auto t = Run_Mova(kInitStream, Prepared(
                                           [](const std::string& dir) {
                                             fs::create_symlink("missing-directory/notice",
                                                                dir + "/MOVA_Disclaimer.txt");
                                           },
                                           true));
  Expect_Notice_Failure(t);
  EXPECT_NE(t.err.find("No such file or directory"), std::string::npos) << t.err;
  EXPECT_FALSE(fs::exists(t.directory + "/MOVA_Copyright.txt"));
  std::error_code error;
  fs::remove_all(t.directory, error);
}

TEST(Faults, ReadOnlyWorkingDirectoryEndsMovaInitWithADiagnostic) {
  // A directory without write permission; the log file itself stays writable. Root passes any
  // permission check, so as root the program runs as the unprivileged user nobody.
  std::string environment;
  if (geteuid() == 0) {
    if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is needed to drop root";
    environment = "setpriv --reuid=65534 --regid=65534 --clear-groups";
    // A build inside a private directory (mode 0700) cannot be started by nobody; the
    // notice-file failure is then covered by the dangling-symlink case alone.
    const std::string probe = environment + " test -x '" + std::string(MOVA_BINARY) + "'";
    if (std::system(probe.c_str()) != 0)
      GTEST_SKIP() << "the unprivileged user cannot run " << MOVA_BINARY;
  }
#ifdef MOVA_COVERAGE_BUILD
  // An instrumented binary writes its counts at exit beside its objects, where nobody may not
  // write; it would say so on standard error. Its counts go to a scratch directory instead.
  std::string counts = (fs::temp_directory_path() / "mova-counts-XXXXXX").string();
  ASSERT_NE(mkdtemp(counts.data()), nullptr);
  fs::permissions(counts, fs::perms::all);
  environment = "GCOV_PREFIX=" + counts + " " + environment;
  struct Remove_Counts {
    std::string directory;
    ~Remove_Counts() {
      std::error_code error;
      fs::remove_all(directory, error);
    }
  } remove_counts{counts};
#endif
  const auto t = Run_Mova(kInitStream, Prepared(
                                           [](const std::string& dir) {
                                             const std::string log = dir + "/mova.log";
                                             close(open(log.c_str(), O_WRONLY | O_CREAT, 0666));
                                             fs::permissions(log, fs::perms(0666));
                                             fs::permissions(dir, fs::perms(0555));
                                           },
                                           true, environment));
  Expect_Notice_Failure(t);
  EXPECT_NE(t.err.find("Permission denied"), std::string::npos) << t.err;
  EXPECT_FALSE(fs::exists(t.directory + "/MOVA_Disclaimer.txt"));
  EXPECT_FALSE(fs::exists(t.directory + "/MOVA_Copyright.txt"));
  std::error_code error;
  fs::permissions(t.directory, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(t.directory, error);
}

TEST(Faults, LogRemovedWhileRunningIsCreatedAgainWithOnlyTheNextRecord) {
  Live_Mova mova;
  ASSERT_TRUE(mova.Start());
  ASSERT_TRUE(mova.Send("SETTINGS_ENABLE_LOGGING\nVEHICLE_GET_CURRENT_POS 1\n"));
  ASSERT_EQ(mova.Answer(), "-1");
  const std::string log = mova.directory + "/mova.log";
  ASSERT_EQ(Records_Without_Stamp(log).size(), 2u);
  ASSERT_TRUE(fs::remove(log));
  ASSERT_TRUE(mova.Send("VEHICLE_SET_CURRENT_POS 2 8\n"));
  ASSERT_TRUE(mova.Send("VEHICLE_GET_NEXT_POS 2\n"));  // answers without a record
  ASSERT_EQ(mova.Answer(), " 0");
  EXPECT_EQ(Records_Without_Stamp(log),
            (std::vector<std::string>{"DAEMON : INFORMATIONAL : Current for vehicle  2 is  8  "}));
  mova.Close_Input();
  const int status = mova.Wait();
  ASSERT_NE(status, -1) << "the program hung";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(mova.Errors(), "");
}

TEST(Faults, HostClosingStandardInputEndsTheProgramWithStatusZero) {
  Live_Mova mova;
  ASSERT_TRUE(mova.Start());
  ASSERT_TRUE(mova.Send("VEHICLE_SET_CURRENT_POS 3 2\nVEHICLE_GET_CURRENT_POS 3\n"));
  EXPECT_EQ(mova.Answer(), " 2");
  // The host dies in the middle of a line: the part that arrived is the last line.
  ASSERT_TRUE(mova.Send("VEHICLE_GET_CURRENT_POS 3"));
  mova.Close_Input();
  EXPECT_EQ(mova.Answer(), " 2");
  EXPECT_EQ(mova.Answer(), "<end>");
  const int status = mova.Wait();
  ASSERT_NE(status, -1) << "the program hung";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(mova.Errors(), "");
}

TEST(Faults, HostClosingStandardOutputEndsTheProgram) {
  // By the broken-pipe signal when the host leaves it at its default.
  {
    Live_Mova mova;
    ASSERT_TRUE(mova.Start());
    ASSERT_TRUE(mova.Send("VEHICLE_GET_CURRENT_POS 1\n"));
    EXPECT_EQ(mova.Answer(), "-1");
    mova.Close_Output();
    // The host keeps writing queries; the program must stop rather than hang or spin.
    for (int i = 0; i < 200 && mova.Send("VEHICLE_GET_CURRENT_POS 1\n"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int status = mova.Wait();
    ASSERT_NE(status, -1) << "the program hung";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
    EXPECT_EQ(mova.Errors(), "");
  }
  // With the signal ignored, answers fail quietly and the program ends with its input.
  {
    Live_Mova mova;
    ASSERT_TRUE(mova.Start(/*ignore_broken_pipe=*/true));
    ASSERT_TRUE(mova.Send("VEHICLE_GET_CURRENT_POS 1\n"));
    EXPECT_EQ(mova.Answer(), "-1");
    mova.Close_Output();
    for (int i = 0; i < 50; ++i) ASSERT_TRUE(mova.Send("VEHICLE_GET_CURRENT_POS 1\n"));
    ASSERT_TRUE(mova.Send("MOVA_GENERATION\nINFORMATION_GET_AUTHOR\n"));
    mova.Close_Input();
    const int status = mova.Wait();
    ASSERT_NE(status, -1) << "the program hung";
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(mova.Errors(), "");
  }
}

// A diagnostic of one line naming `what` and the system's reason.
void Expect_Diagnostic(const std::string& errors, const std::string& what,
                       const std::string& reason) {
  EXPECT_EQ(Count_Lines(errors), 1u) << errors;
  EXPECT_NE(errors.find(what), std::string::npos) << errors;
  EXPECT_NE(errors.find(reason), std::string::npos) << errors;
}

// A block device in the log's place is never written over. (A loop device's node: no disk of
// the machine is at risk should the check fail.)
TEST(Faults, BlockDeviceInPlaceOfTheLogIsRefusedNotWrittenOver) {
  bool made = false;
  const auto t = Run_Mova(
      Lines({"VEHICLE_GET_CURRENT_POS 1", "SETTINGS_ENABLE_LOGGING", "VEHICLE_GET_CURRENT_POS 2"}),
      Prepared([&made](const std::string& dir) {
        made = mknod((dir + "/mova.log").c_str(), S_IFBLK | 0600, makedev(7, 255)) == 0;
      }));
  if (!made) GTEST_SKIP() << "a device node cannot be made here";
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "-1\n");
  EXPECT_EQ(t.err, "mova: cannot open log file mova.log: it is a block device\n");
}

TEST(Faults, LogFifoWithoutReaderFailsAtOnceAndDeliversTheEarlierAnswer) {
  Testing::Transcript_Options options = Prepared(
      [](const std::string& dir) { ASSERT_EQ(mkfifo((dir + "/mova.log").c_str(), 0644), 0); });
  options.timeout_seconds = 20;
  const auto t = Run_Mova(
      Lines({"VEHICLE_GET_CURRENT_POS 1", "SETTINGS_ENABLE_LOGGING", "VEHICLE_GET_CURRENT_POS 2"}),
      options);
  EXPECT_EQ(t.status, 1) << "124 means the program hung";
  EXPECT_EQ(t.out, "-1\n");
  Expect_Diagnostic(t.err, "mova.log", "No such device or address");
}

TEST(Faults, LogFifoGetsWholeRecordsAndItsReaderLeavingEndsTheProgramWithAnswersDelivered) {
  Live_Mova mova;
  ASSERT_TRUE(mova.Start());
  const std::string fifo = mova.directory + "/mova.log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_TRUE(mova.Send("SETTINGS_ENABLE_LOGGING\nVEHICLE_GET_CURRENT_POS 1\n"));
  ASSERT_EQ(mova.Answer(), "-1");
  std::string records;
  char buffer[4096];
  for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;)
    records.append(buffer, static_cast<std::size_t>(n));
  EXPECT_TRUE(Whole_Records(records));
  EXPECT_EQ(Count_Lines(records), 2u) << records;
  close(reader);
  // The generation line waits in the program's buffer when the next record finds no reader.
  ASSERT_TRUE(mova.Send("MOVA_GENERATION\nVEHICLE_GET_CURRENT_POS 2\n"));
  EXPECT_EQ(mova.Answer(), "2024");
  EXPECT_EQ(mova.Answer(), "<end>");
  const int status = mova.Wait();
  ASSERT_NE(status, -1) << "the program hung";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  // Each record opens the log anew and finds no reader now.
  Expect_Diagnostic(mova.Errors(), "mova.log", "No such device or address");
}

// Runs `stream` with mova.log on a tmpfs of `kib` KiB; skips the test where mounting is not
// allowed. Returns the transcript and the log's text.
std::pair<Testing::Transcript, std::string> Run_With_Log_On_Small_Tmpfs(const std::string& stream,
                                                                        int kib) {
  bool mounted = false;
  auto t = Run_Mova(stream, Prepared(
                                [&mounted, kib](const std::string& dir) {
                                  const std::string small = dir + "/small";
                                  fs::create_directory(small);
                                  const std::string size = "size=" + std::to_string(kib) + "k";
                                  mounted =
                                      mount("tmpfs", small.c_str(), "tmpfs", 0, size.c_str()) == 0;
                                  // A log kept elsewhere: the link's file must exist.
                                  std::ofstream(small + "/mova.log");
                                  fs::create_symlink("small/mova.log", dir + "/mova.log");
                                },
                                true));
  const std::string log = Testing::Read_File(t.directory + "/small/mova.log");
  if (mounted) umount((t.directory + "/small").c_str());
  std::error_code error;
  fs::remove_all(t.directory, error);
  if (!mounted) t.status = -2;
  return {t, log};
}

TEST(Faults, FullFileSystemLeavesOnlyWholeRecordsAndEveryAnswerBeforeTheFailure) {
  auto [t, log] = Run_With_Log_On_Small_Tmpfs(Logged_Queries(3000), 64);
  if (t.status == -2) GTEST_SKIP() << "a tmpfs cannot be mounted here";
  EXPECT_EQ(t.status, 1);
  Expect_Diagnostic(t.err, "mova.log", "No space left on device");
  EXPECT_TRUE(Whole_Records(log));
  Expect_Answers_Match_Records(t, log);
}

TEST(Faults, NoticeFileOnAFullFileSystemIsNotLeftBehind) {
  bool mounted = false;
  const auto t =
      Run_Mova(Lines({"VEHICLE_GET_CURRENT_POS 1", "MOVA_INIT", "VEHICLE_GET_CURRENT_POS 1"}),
               Prepared(
                   [&mounted](const std::string& dir) {
                     const std::string small = dir + "/small";
                     fs::create_directory(small);
                     mounted = mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") == 0;
                     // Fill it up; the disclaimer is to be created there through a link.
                     const int fill = open((small + "/fill").c_str(), O_WRONLY | O_CREAT, 0644);
                     const std::string block(4096, 'x');
                     while (write(fill, block.data(), block.size()) > 0) {
                     }
                     close(fill);
                     fs::create_symlink("small/notice", dir + "/MOVA_Disclaimer.txt");
                   },
                   true));
  const bool left = fs::exists(t.directory + "/MOVA_Disclaimer.txt");
  const auto notice_size =
      fs::exists(t.directory + "/small/notice") ? fs::file_size(t.directory + "/small/notice") : 0;
  if (mounted) umount((t.directory + "/small").c_str());
  std::error_code error;
  fs::remove_all(t.directory, error);
  if (!mounted) GTEST_SKIP() << "a tmpfs cannot be mounted here";
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.out, "-1\n");
  Expect_Diagnostic(t.err, "MOVA_Disclaimer.txt", "No space left on device");
  EXPECT_FALSE(left);
  EXPECT_EQ(notice_size, 0u);
}

TEST(Faults, FileSizeLimitIsAWriteErrorWithADiagnosticNotASilentKill) {
  if (!fs::exists("/usr/bin/prlimit")) GTEST_SKIP() << "prlimit is needed to set the limit";
  const auto t =
      Run_Mova(Logged_Queries(3000), Prepared(nullptr, true, "/usr/bin/prlimit --fsize=20000"));
  const std::string log = Testing::Read_File(t.directory + "/mova.log");
  std::error_code error;
  fs::remove_all(t.directory, error);
  EXPECT_EQ(t.status, 1);
  Expect_Diagnostic(t.err, "mova.log", "File too large");
  EXPECT_LE(log.size(), 20000u);
  EXPECT_TRUE(Whole_Records(log));
  Expect_Answers_Match_Records(t, log);

  // A notice file that cannot be written whole is not left behind half written, so that the
  // next MOVA_INIT writes it again.
  const auto init = Run_Mova(Lines({"VEHICLE_GET_CURRENT_POS 1", "MOVA_INIT"}),
                             Prepared(nullptr, true, "/usr/bin/prlimit --fsize=100"));
  EXPECT_EQ(init.status, 1);
  EXPECT_EQ(init.out, "-1\n");
  Expect_Diagnostic(init.err, "MOVA_Disclaimer.txt", "File too large");
  EXPECT_FALSE(fs::exists(init.directory + "/MOVA_Disclaimer.txt"));
  fs::remove_all(init.directory, error);
}

TEST(Faults, StandardOutputOnAFullDeviceIsAFailureWithADiagnostic) {
  Testing::Transcript_Options options;
  options.output_path = "/dev/full";
  const auto t = Run_Mova(Logged_Queries(3), options);
  EXPECT_EQ(t.status, 1);
  Expect_Diagnostic(t.err, "standard output", "No space left on device");
}

TEST(Faults, NonBlockingStandardInputIsWaitedOn) {
  Live_Mova mova;
  ASSERT_TRUE(mova.Start(false, /*nonblocking_input=*/true));
  ASSERT_TRUE(mova.Send("VEHICLE_SET_CURRENT_POS 1 4\nVEHICLE_GET_CURRENT_POS 1\n"));
  EXPECT_EQ(mova.Answer(), " 4");
  // The pipe stays empty for a while; the program waits for the next line.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_TRUE(mova.Send("VEHICLE_GET_CURRENT_POS 1\n"));
  EXPECT_EQ(mova.Answer(), " 4");
  mova.Close_Input();
  EXPECT_EQ(mova.Answer(), "<end>");
  const int status = mova.Wait();
  ASSERT_NE(status, -1) << "the program hung";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(mova.Errors(), "");
}

TEST(Faults, NonBlockingStandardOutputToASlowHostLosesNoAnswer) {
  Live_Mova mova;
  ASSERT_TRUE(mova.Start(false, false, /*nonblocking_output=*/true));
  // About 74 KB of answers, more than a pipe holds, while the host does not read for a while.
  std::string queries;
  for (int i = 0; i < 1000; ++i) queries += "INFORMATION_GET_COPYRIGHT\n";
  ASSERT_TRUE(mova.Send(queries));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int i = 0; i < 1000; ++i) {
    const std::string answer = mova.Answer();
    ASSERT_EQ(answer.rfind("Copyright (C)", 0), 0u) << "answer " << i << ": " << answer;
  }
  mova.Close_Input();
  EXPECT_EQ(mova.Answer(), "<end>");
  const int status = mova.Wait();
  ASSERT_NE(status, -1) << "the program hung";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(mova.Errors(), "");
}

TEST(Faults, UnreadableStandardInputIsAFailureWithADiagnostic) {
  // A directory in place of the input file: reading it fails at once.
  std::string dir = (fs::temp_directory_path() / "mova-input-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  const std::string command =
      "cd '" + dir + "' && '" + std::string(MOVA_BINARY) + "' < . > out 2> err";
  const int raw = std::system(command.c_str());
  const std::string errors = Testing::Read_File(dir + "/err");
  const std::string out = Testing::Read_File(dir + "/out");
  fs::remove_all(dir);
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
  EXPECT_EQ(out, "");
  Expect_Diagnostic(errors, "standard input", "Is a directory");
}

}  // namespace
