// The transcript harness: one temporary directory and one real process per run.
#include "support/transcript.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace Testing {
namespace {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted.push_back(c);
    }
  }
  return quoted + "'";
}

}  // namespace

std::vector<std::string> Split_Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream stream(text);
  while (std::getline(stream, line)) lines.push_back(line);
  return lines;
}

std::string Read_File(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

Transcript Run_Mova(const std::string& input, const Transcript_Options& options) {
  Transcript t;
  std::string pattern = (std::filesystem::temp_directory_path() / "mova-run-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  if (made == nullptr) {
    ADD_FAILURE() << "cannot create a temporary directory";
    return t;
  }
  t.directory = made;
  const std::string io = t.directory + "/.io";
  std::filesystem::create_directory(io);
  {
    std::ofstream file(io + "/stdin", std::ios::binary);
    file << input;
  }
  if (options.prepare) options.prepare(t.directory);

  const std::string command =
      "cd " + Quote(t.directory) + " && " + options.environment + " timeout -k 5 " +
      std::to_string(options.timeout_seconds) + " " +
      Quote(options.binary.empty() ? MOVA_BINARY : options.binary) + " < " + Quote(io + "/stdin") +
      " > " + Quote(options.output_path.empty() ? io + "/stdout" : options.output_path) + " 2> " +
      Quote(io + "/stderr");
  const int raw = std::system(command.c_str());
  t.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  t.out = Read_File(io + "/stdout");
  t.err = Read_File(io + "/stderr");
#ifdef MOVA_COVERAGE_BUILD
  // An instrumented binary that cannot write its counts at exit (a file-size limit, say) says
  // so on standard error; that is not the program's own output.
  std::string own;
  for (const std::string& line : Split_Lines(t.err))
    if (line.rfind("libgcov profiling error:", 0) != 0) own += line + "\n";
  t.err = own;
#endif

  const std::string log_path = t.directory + "/mova.log";
  std::error_code error;
  t.log_exists = std::filesystem::is_regular_file(log_path, error);
  if (t.log_exists) {
    static const std::regex record(
        R"(^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2}) : DAEMON : ([A-Z]+) : (.*)  $)");
    t.raw_log = Split_Lines(Read_File(log_path));
    for (const std::string& line : options.check_log ? t.raw_log : std::vector<std::string>{}) {
      std::smatch m;
      if (std::regex_match(line, m, record)) {
        t.log.push_back(m[7].str() + " : " + m[8].str());
      } else {
        ADD_FAILURE() << "log record out of shape: [" << line << "]";
        t.log.push_back(line);
      }
    }
  }
  if (!options.keep_directory) {
    // Undo permission changes a test may have made before removing the directory.
    std::filesystem::permissions(t.directory, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(t.directory, error);
  }
  return t;
}

}  // namespace Testing
