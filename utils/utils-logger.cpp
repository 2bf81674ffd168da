// The log file mova.log and its syslog-like record layout.
#include "utils/utils-logger.hpp"

#include <cerrno>
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

constexpr std::string_view kFacilityNames[] = {
    "KERNEL",  "USER_LEVEL", "MAIL",    "DAEMON",  "SECURITY_AUTH",
    "INTERNAL", "LINE_PRINTER", "NETWORK", "UUCP", "CLOCK",
    "SECURITY_AUTH_PRIV", "FTP", "NTP", "LOG_AUDIT_LOG_ALERT", "SCHEDULING",
    "LOCAL_0", "LOCAL_1", "LOCAL_2", "LOCAL_3", "LOCAL_4",
    "LOCAL_5", "LOCAL_6", "LOCAL_7"};

constexpr std::string_view kSeverityNames[] = {"EMERGENCY", "ALERT",  "CRITICAL",
                                               "ERROR",     "WARNING", "NOTICE",
                                               "INFORMATIONAL", "DEBUG"};

[[noreturn]] void Fail(const char* what) {
  throw Fatal_Error{std::string("cannot ") + what + " log file " + kLogFile + ": " +
                    std::strerror(errno)};
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
  // Mode "a" appends and creates the file when it does not exist.
  std::FILE* file = std::fopen(kLogFile, "a");
  if (file == nullptr) Fail("open");
  const bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
  const int saved = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written) {
    errno = saved;
    Fail("write");
  }
  if (!closed) Fail("write");
}

void Log_Default(std::string_view message) { Log(state.default_severity, message); }

void Enable() { state.enabled = true; }
void Disable() { state.enabled = false; }
void Set_Threshold(Severity severity) { state.threshold = severity; }
void Set_Facility(Facility facility) { state.facility = facility; }
void Set_Default_Severity(Severity severity) { state.default_severity = severity; }
void Reset() { state = Logger_State{}; }

}  // namespace Utils::Logger
