// The log file mova.log and its syslog-like record layout.
#include "utils/utils-logger.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace Utils::Logger {
namespace {

constexpr const char* kLogFile = "mova.log";
constexpr std::chrono::minutes kOffset{120};

struct Logger_State {
  bool enabled = false;
  Severity threshold = Severity::INFORMATIONAL;
  Facility facility = Facility::DAEMON;
  Severity default_severity = Severity::DEBUG;
};

Logger_State state;

constexpr std::string_view kFacilityNames[] = {"KERNEL",
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

constexpr std::string_view kSeverityNames[] = {"EMERGENCY", "ALERT",  "CRITICAL",      "ERROR",
                                               "WARNING",   "NOTICE", "INFORMATIONAL", "DEBUG"};

[[noreturn]] void Fail(const char* what, const char* reason) {
  throw Fatal_Error{std::string("cannot ") + what + " log file " + kLogFile + ": " + reason};
}

// Writes all of `text` to `fd`; 0, or the errno of the write that failed.
int Write_All(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// Appends `record` to the log file whole or not at all. Opening never waits: a FIFO without a
// reader fails at once. A write that fails part-way into a regular file is cut back to the
// size before it; a reader of a FIFO that leaves mid-write is a write error, not a signal.
void Append_Record(std::string_view record) {
  const int fd =
      ::open(kLogFile, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) Fail("open", std::strerror(errno));
  // A disk or other block device is never written over.
  struct stat file {};
  ::fstat(fd, &file);  // cannot fail for an open descriptor
  if (S_ISBLK(file.st_mode)) {
    ::close(fd);
    Fail("open", "it is a block device");
  }
  int error = 0;
  if (S_ISFIFO(file.st_mode)) {
    // A slow reader is waited for, so that the record goes out whole.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    error = Write_All(fd, record);
    ::sigaction(SIGPIPE, &previous, nullptr);
  } else {
    error = Write_All(fd, record);
    if (error != 0 && S_ISREG(file.st_mode)) {
      // Back to the size before the record; should that fail too, the write error is reported.
      [[maybe_unused]] const int cut = ::ftruncate(fd, file.st_size);
    }
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error != 0) Fail("write", std::strerror(error));
}

}  // namespace

std::string_view Facility_Name(Facility facility) {
  return kFacilityNames[static_cast<int>(facility)];
}

std::string_view Severity_Name(Severity severity) {
  return kSeverityNames[static_cast<int>(severity)];
}

bool Due(Severity severity) {
  return state.enabled && static_cast<int>(severity) <= static_cast<int>(state.threshold);
}

std::string Format_Record(std::chrono::system_clock::time_point when, Facility facility,
                          Severity severity, std::string_view message) {
  using namespace std::chrono;
  const auto local = floor<seconds>(when) + kOffset;
  const auto day = floor<days>(local);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{local - day};
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02u-%02u %02ld:%02ld:%02lld",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<long>(time.hours().count()),
                static_cast<long>(time.minutes().count()),
                static_cast<long long>(time.seconds().count()));
  std::string record(stamp);
  record += " : ";
  record += Facility_Name(facility);
  record += " : ";
  record += Severity_Name(severity);
  record += " : ";
  record += message;
  record += "  ";
  return record;
}

void Log(Severity severity, std::string_view message) {
  const auto now = std::chrono::system_clock::now();
  if (!Due(severity)) return;
  std::string line = Format_Record(now, state.facility, severity, message);
  line.push_back('\n');
  Append_Record(line);
}

void Log_Default(std::string_view message) {
  Log(state.default_severity, message);
}

Message::Message(Severity severity) : severity_(severity), due_(Due(severity)) {}

void Message::Add_Text(std::string_view text) {
  if (due_) text_ += text;
}

void Message::Add_Integer(std::int64_t value) {
  if (due_) text_ += Integer_Image(value);
}

void Message::Log() const {
  if (due_) Utils::Logger::Log(severity_, text_);
}

void Enable() {
  state.enabled = true;
}
void Disable() {
  state.enabled = false;
}
void Set_Threshold(Severity severity) {
  state.threshold = severity;
}
void Set_Facility(Facility facility) {
  state.facility = facility;
}
void Set_Default_Severity(Severity severity) {
  state.default_severity = severity;
}
void Reset() {
  state = Logger_State{};
}

}  // namespace Utils::Logger
