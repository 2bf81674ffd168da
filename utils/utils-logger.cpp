// The log file mova.log and its syslog-like record layout.
#include "utils/utils-logger.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

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

// A torn record is looked for only this far back from the end: every record is far shorter.
constexpr off_t kLongestFragment = 4096;

// With `tail` at the start of a field that is one of `names` followed by " : ": the text after
// the field; an empty text when `tail` ends inside the field; none when the field is another.
template <std::size_t N>
std::optional<std::string_view> Skip_Field(std::string_view tail,
                                           const std::string_view (&names)[N]) {
  for (const std::string_view name : names) {
    std::string field(name);
    field += " : ";
    if (tail.starts_with(field)) return tail.substr(field.size());
    if (std::string_view(field).starts_with(tail)) return std::string_view();
  }
  return std::nullopt;
}

}  // namespace

bool Begins_A_Record(std::string_view tail) {
  constexpr std::string_view kStamp = "0000-00-00 00:00:00 : ";
  for (std::size_t i = 0; i < kStamp.size(); ++i) {
    if (i == tail.size()) return true;
    const bool digit = tail[i] >= '0' && tail[i] <= '9';
    if (kStamp[i] == '0' ? !digit : tail[i] != kStamp[i]) return false;
  }
  const auto after_facility = Skip_Field(tail.substr(kStamp.size()), kFacilityNames);
  if (!after_facility) return false;
  if (after_facility->empty()) return true;
  const auto message = Skip_Field(*after_facility, kSeverityNames);
  return message.has_value() && message->find('\n') == std::string_view::npos;
}

namespace {

// How the end of the log is mended before a record is appended: a torn record of this logger's
// is cut off, back to its line feed; a last line of someone else's without a line feed is ended
// with one, so that it and the record stay two lines.
struct Mend {
  off_t cut_to;
  bool line_feed;
};

// The mend for the log `file` as the writer opened it: its last bytes after the last line feed,
// when they are the start of one of this logger's records, are cut. A reader that cannot open or
// read that same file leaves it alone.
Mend Mend_Of(const struct stat& file) {
  Mend mend{file.st_size, false};
  const int fd = ::open(kLogFile, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return mend;
  struct stat read_side {};
  if (::fstat(fd, &read_side) == 0 && read_side.st_dev == file.st_dev &&
      read_side.st_ino == file.st_ino) {
    char buffer[kLongestFragment];
    const off_t begin = std::max<off_t>(file.st_size - kLongestFragment, 0);
    const ssize_t n = ::pread(fd, buffer, static_cast<std::size_t>(file.st_size - begin), begin);
    const std::string_view tail(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    const std::size_t last = tail.rfind('\n');
    const std::size_t after = last == std::string_view::npos ? 0 : last + 1;
    if (n == file.st_size - begin && after < tail.size()) {
      const bool torn =
          (last != std::string_view::npos || begin == 0) && Begins_A_Record(tail.substr(after));
      mend = torn ? Mend{begin + static_cast<off_t>(after), false} : Mend{file.st_size, true};
    }
  }
  ::close(fd);
  return mend;
}

// Mends the end of the log before a record is appended (see Mend). The kernel may stop a write
// that spans two pages of the file when the writer is killed, leaving the start of a record
// without its line feed at the end of the log; that start is cut. Called with the log locked, so
// that no other controller appends between the look and the cut. Only looked at when the file is
// not as this program left it. Returns the record to write: `record`, or a line feed and it.
std::string_view Mend_Tail(int fd, struct stat& file, std::string_view record,
                           std::string& with_line_feed) {
  const bool as_left = file.st_dev == known_log.device && file.st_ino == known_log.inode &&
                       file.st_size == known_log.size;
  if (as_left || file.st_size == 0) return record;
  const Mend mend = Mend_Of(file);
  if (mend.cut_to != file.st_size && ::ftruncate(fd, mend.cut_to) == 0) file.st_size = mend.cut_to;
  if (!mend.line_feed) return record;
  with_line_feed.assign(1, '\n');
  with_line_feed.append(record.data(), record.size());
  return with_line_feed;
}

// Opens the log for appending, creating it when missing. A symbolic link is followed to a file
// that exists (a log kept elsewhere on purpose) but never used to create one: a link to a
// missing file is a failure. Returns the descriptor, or -1 with errno set.
int Open_Log() {
  constexpr int kFlags = O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = ::open(kLogFile, kFlags);
    if (fd >= 0 || errno != ENOENT) return fd;
    // O_EXCL creates no file through a link: a link, even to a missing file, is EEXIST.
    fd = ::open(kLogFile, kFlags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
    struct stat link {};
    struct stat target {};
    if (::lstat(kLogFile, &link) == 0 && S_ISLNK(link.st_mode) && ::stat(kLogFile, &target) != 0)
      Fail("open", "it is a symbolic link to a missing file");
    // Another process created the file between the two opens: open it again.
  }
  errno = EAGAIN;
  return -1;
}

// Holds an exclusive lock on the open log until the descriptor is closed, so that the look at
// its end, the cut and the append of one controller are not interleaved with another's.
int Lock(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// Appends `record` to a regular log file, locked, whole or not at all.
int Append_To_File(int fd, std::string_view record) {
  int error = Lock(fd);
  if (error != 0) return error;
  struct stat file {};
  ::fstat(fd, &file);  // cannot fail for an open descriptor
  std::string with_line_feed;
  record = Mend_Tail(fd, file, record, with_line_feed);
  error = Write_All(fd, record);
  if (error != 0) {
    // Back to the size before the record; should that fail too, the write error is reported.
    [[maybe_unused]] const int cut = ::ftruncate(fd, file.st_size);
  }
  known_log = {file.st_dev, file.st_ino,
               error == 0 ? file.st_size + static_cast<off_t>(record.size()) : -1};
  return error;
}

// Writes `record` to a FIFO, waiting for a slow reader so that the record goes out whole; a
// reader that leaves mid-write is a write error, not a signal.
int Append_To_Fifo(int fd, std::string_view record) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous);
  const int error = Write_All(fd, record);
  ::sigaction(SIGPIPE, &previous, nullptr);
  return error;
}

// Appends `record` to the log file whole or not at all. Opening never waits: a FIFO without a
// reader fails at once. A disk or other block device is never written over.
void Append_Record(std::string_view record) {
  const int fd = Open_Log();
  if (fd < 0) Fail("open", std::strerror(errno));
  struct stat file {};
  ::fstat(fd, &file);  // cannot fail for an open descriptor
  if (S_ISBLK(file.st_mode)) {
    ::close(fd);
    Fail("open", "it is a block device");
  }
  int error = 0;
  if (S_ISFIFO(file.st_mode)) {
    error = Append_To_Fifo(fd, record);
  } else if (S_ISREG(file.st_mode)) {
    error = Append_To_File(fd, record);
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
