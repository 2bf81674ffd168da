// The log file mova.log and its syslog-like record layout.
#include "utils/utils-logger.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// The log file as this program last left it, to tell when something else has changed it.
struct Known_Log {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
};

Known_Log known_log;

// The size of the log up to and with its last line feed: the part that holds whole records.
// `file` is the log as the writer opened it; a reader that cannot open or read that same file
// leaves it alone (the size is returned unchanged).
off_t Whole_Size(const struct stat& file) {
  const int fd = ::open(kLogFile, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return file.st_size;
  struct stat read_side {};
  off_t end = file.st_size;
  if (::fstat(fd, &read_side) == 0 && read_side.st_dev == file.st_dev &&
      read_side.st_ino == file.st_ino) {
    char buffer[4096];
    while (end > 0) {
      const off_t begin = std::max<off_t>(end - static_cast<off_t>(sizeof buffer), 0);
      const ssize_t n = ::pread(fd, buffer, static_cast<std::size_t>(end - begin), begin);
      if (n != end - begin) {
        end = file.st_size;  // unreadable: leave the file as it is
        break;
      }
      const std::size_t last = std::string_view(buffer, static_cast<std::size_t>(n)).rfind('\n');
      if (last != std::string_view::npos) {
        end = begin + static_cast<off_t>(last) + 1;
        break;
      }
      end = begin;
    }
  }
  ::close(fd);
  return end;
}

// Cuts off a record torn by a program killed while writing it. The kernel may stop a write that
// spans two pages of the file when the writer is killed, leaving the start of a record without
// its line feed at the end of the log. Anything after the last line feed is such a fragment;
// the file is cut back to that line feed (or emptied) before a new record follows. Only looked
// at when the file is not as this program left it, so a run pays one read at its first record.
void Cut_Torn_Tail(int fd, struct stat& file) {
  const bool as_left = file.st_dev == known_log.device && file.st_ino == known_log.inode &&
                       file.st_size == known_log.size;
  if (as_left || file.st_size == 0) return;
  const off_t whole = Whole_Size(file);
  if (whole != file.st_size && ::ftruncate(fd, whole) == 0) file.st_size = whole;
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
  } else if (S_ISREG(file.st_mode)) {
    Cut_Torn_Tail(fd, file);
    error = Write_All(fd, record);
    if (error != 0) {
      // Back to the size before the record; should that fail too, the write error is reported.
      [[maybe_unused]] const int cut = ::ftruncate(fd, file.st_size);
    }
    known_log = {file.st_dev, file.st_ino,
                 error == 0 ? file.st_size + static_cast<off_t>(record.size()) : -1};
  } else {
    error = Write_All(fd, record);
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
