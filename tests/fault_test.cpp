// File-system and pipe faults around the real binary: a log that cannot be written, a notice
// file that cannot be created, the log removed while the program runs, and a host that closes
// its ends of the pipes. A failure that ends the program leaves one line on standard error and
// a non-zero status; what was done before it stays done; the program never hangs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
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
  // that ignores it.
  bool Start(bool ignore_broken_pipe = false) {
    std::string pattern = (fs::temp_directory_path() / "mova-live-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return false;
    directory = pattern;
    int in[2];
    int out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return false;
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

}  // namespace
