// Runs the real mova binary on a command stream in a fresh temporary working directory and
// collects its standard output, standard error, exit status and log records.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace Testing {

struct Transcript_Options {
  // Words put before the command line, e.g. "TZ=Asia/Tokyo".
  std::string environment;
  // Called with the working directory before the program starts (to create files, change
  // permissions, ...).
  std::function<void(const std::string& directory)> prepare;
  // Keep the working directory instead of removing it after the run.
  bool keep_directory = false;
  // Seconds before the run is killed (the result then has status 124).
  int timeout_seconds = 120;
  // Where standard output goes instead of the file the harness reads (e.g. /dev/full).
  std::string output_path;
  // The program to run instead of the mova binary (a test build of it).
  std::string binary;
  // Check the shape of every line of mova.log and read the records into `log`; off for a log
  // that holds lines of someone else's (only `raw_log` is filled then).
  bool check_log = true;
};

struct Transcript {
  std::string out;  // standard output, exact
  std::string err;  // standard error, exact
  int status = -1;  // exit status
  std::string directory;
  // One entry per record of mova.log as "SEVERITY : message", after the harness has checked
  // the time stamp's shape, the facility DAEMON, the separators and the two trailing blanks
  // (a record that breaks them is reported as a test failure and kept raw).
  std::vector<std::string> log;
  std::vector<std::string> raw_log;  // the lines of mova.log as written
  bool log_exists = false;
};

// Feeds `input` (exactly these bytes) to a new mova process.
Transcript Run_Mova(const std::string& input, const Transcript_Options& options = {});

// Joins lines, each followed by a line feed.
std::string Lines(const std::vector<std::string>& lines);

// The lines of `text` without their line feeds (a last line without one is kept).
std::vector<std::string> Split_Lines(const std::string& text);

// The contents of a file, or "" when it cannot be read.
std::string Read_File(const std::string& path);

}  // namespace Testing
