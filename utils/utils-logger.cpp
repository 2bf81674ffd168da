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

#include "utils/utils-io.hpp"

namespace Utils::Logger {
namespace {

constexpr const char* Log_File = "mova.log";
constexpr std::chrono::minutes Time_Offset{120};

struct Logger_State {
  bool enabled = false;
  Severity threshold = Severity::INFORMATIONAL;
  Facility facility = Facility::DAEMON;
  Severity default_severity = Severity::DEBUG;
};

Logger_State state;

constexpr std::string_view Facility_Names[] = {"KERNEL",
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

constexpr std::string_view Severity_Names[] = {"EMERGENCY", "ALERT",  "CRITICAL",      "ERROR",
                                               "WARNING",   "NOTICE", "INFORMATIONAL", "DEBUG"};

[[noreturn]] void Fail(const char* what, const char* reason) {
  throw Fatal_Error{std::string("cannot ") + what + " log file " + Log_File + ": " + reason};
}

// The log file as this program last left it, to tell when something else has changed it.
struct Known_Log {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
};

Known_Log known_log;

// A torn record is looked for only this far back from the end: every record is far shorter.
constexpr off_t Longest_Fragment = 4096;

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
  constexpr std::string_view Stamp_Shape = "0000-00-00 00:00:00 : ";
  for (std::size_t i = 0; i < Stamp_Shape.size(); ++i) {
    if (i == tail.size()) return true;
    const bool digit = tail[i] >= '0' && tail[i] <= '9';
    if (Stamp_Shape[i] == '0' ? !digit : tail[i] != Stamp_Shape[i]) return false;
  }
  const auto after_facility = Skip_Field(tail.substr(Stamp_Shape.size()), Facility_Names);
  if (!after_facility) return false;
  if (after_facility->empty()) return true;
  const auto message = Skip_Field(*after_facility, Severity_Names);
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

// The last bytes of the log `file` (at most Longest_Fragment of them), read through a
// descriptor of its own; empty when they cannot be read from that same file.
std::string_view Read_End(const struct stat& file, char (&buffer)[Longest_Fragment]) {
  const int fd = ::open(Log_File, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  struct stat read_side {};
  const bool same = fd >= 0 && ::fstat(fd, &read_side) == 0 && read_side.st_ino == file.st_ino &&
                    read_side.st_dev == file.st_dev;
  const off_t begin = std::max<off_t>(file.st_size - Longest_Fragment, 0);
  const ssize_t n = same ? ::pread(fd, buffer, Index(file.st_size - begin), begin) : -1;
  if (fd >= 0) ::close(fd);
  return n == file.st_size - begin ? std::string_view(buffer, Index(n)) : std::string_view();
}

// The mend for the log `file` as the writer opened it: what follows its last line feed is cut
// when it is the start of one of this logger's records, and ended with a line feed otherwise. A
// log whose end cannot be read is left as it is.
Mend Mend_Of(const struct stat& file) {
  char buffer[Longest_Fragment];
  const std::string_view end = Read_End(file, buffer);
  const std::size_t last = end.rfind('\n');
  if (end.empty() || last == end.size() - 1) return {file.st_size, false};
  // The last line is in view when a line feed precedes it or the whole file was read.
  const bool in_view = last != std::string_view::npos || Index(file.st_size) == end.size();
  const std::string_view last_line = end.substr(last == std::string_view::npos ? 0 : last + 1);
  if (in_view && Begins_A_Record(last_line))
    return {file.st_size - static_cast<off_t>(last_line.size()), false};
  return {file.st_size, true};
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
  constexpr int Open_Flags = O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = ::open(Log_File, Open_Flags);
  if (fd >= 0 || errno != ENOENT) return fd;
  // O_EXCL creates no file through a link: a link, even to a missing file, is EEXIST.
  fd = ::open(Log_File, Open_Flags | O_CREAT | O_EXCL, 0666);
  if (fd >= 0 || errno != EEXIST) return fd;
  // The name is there now: a link that leads nowhere, or a log another controller just created.
  struct stat target {};
  if (::stat(Log_File, &target) != 0) Fail("open", "it is a symbolic link to a missing file");
  return ::open(Log_File, Open_Flags);
}

// Appends `record` to a regular log file whole or not at all, under an exclusive lock held until
// the descriptor is closed, so that the look at its end, the cut and the append of one
// controller are not interleaved with another's. (The program catches no signal, so the wait
// for the lock is not interrupted.)
int Append_To_File(int fd, std::string_view record) {
  if (::flock(fd, LOCK_EX) != 0) return errno;
  struct stat file {};
  ::fstat(fd, &file);  // cannot fail for an open descriptor
  std::string with_line_feed;
  record = Mend_Tail(fd, file, record, with_line_feed);
  const int error = Write_All(fd, record);
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
  return Facility_Names[static_cast<int>(facility)];
}

std::string_view Severity_Name(Severity severity) {
  return Severity_Names[static_cast<int>(severity)];
}

bool Due(Severity severity) {
  return state.enabled && static_cast<int>(severity) <= static_cast<int>(state.threshold);
}

std::string Format_Record(std::chrono::system_clock::time_point when, Facility facility,
                          Severity severity, std::string_view message) {
  using namespace std::chrono;
  const auto local = floor<seconds>(when) + Time_Offset;
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
