// The log file mova.log: one record per line of time stamp, facility, severity and message.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "utils/utils-types.hpp"

namespace Utils::Logger {

enum class Facility : std::uint8_t {
  KERNEL,
  USER_LEVEL,
  MAIL,
  DAEMON,
  SECURITY_AUTH,
  INTERNAL,
  LINE_PRINTER,
  NETWORK,
  UUCP,
  CLOCK,
  SECURITY_AUTH_PRIV,
  FTP,
  NTP,
  LOG_AUDIT_LOG_ALERT,
  SCHEDULING,
  LOCAL_0,
  LOCAL_1,
  LOCAL_2,
  LOCAL_3,
  LOCAL_4,
  LOCAL_5,
  LOCAL_6,
  LOCAL_7
};

enum class Severity : std::uint8_t {
  EMERGENCY,
  ALERT,
  CRITICAL,
  ERROR,
  WARNING,
  NOTICE,
  INFORMATIONAL,
  DEBUG
};

// Appends one record for `message` to mova.log in the working directory when writing is on and
// the severity is at or below the threshold; otherwise does nothing (no file is created).
// The file is opened and closed for each record and created again when missing; a record is
// appended whole or not at all (a write that fails part-way is undone), under an exclusive lock
// of the file, so that controllers sharing one log lose none of each other's records. A record
// torn by a kill is cut off before the next record, and only such a start of a record. A
// symbolic link is followed to an existing file, never to create one. Opening never waits: a FIFO
// without a reader is a failure. Any failure to open or write it, a block device or a link to a
// missing file in its place included, throws Fatal_Error.
void Log(Severity severity, std::string_view message);

// As Log, with the default severity.
void Log_Default(std::string_view message);

void Enable();
void Disable();
void Set_Threshold(Severity severity);
void Set_Facility(Facility facility);
void Set_Default_Severity(Severity severity);

// True when a record of this severity would be written now.
bool Due(Severity severity);

// Back to the state at program start: off, threshold INFORMATIONAL, facility DAEMON,
// default severity DEBUG.
void Reset();

// The record line (without line end) for a message logged at `when`, with the time stamp
// rendered for a fixed offset of +120 minutes from UTC.
std::string Format_Record(std::chrono::system_clock::time_point when, Facility facility,
                          Severity severity, std::string_view message);

// True when `text` is the beginning, cut anywhere, of a record line as Format_Record makes it:
// a time stamp, a facility, a severity and a message without a line feed.
bool Begins_A_Record(std::string_view text);

std::string_view Facility_Name(Facility facility);
std::string_view Severity_Name(Severity severity);

// A message put together piece by piece and logged at one severity; inert (nothing is built or
// written) when a record of that severity is not due.
class Message {
 public:
  explicit Message(Severity severity);
  void Add_Text(std::string_view text);
  void Add_Integer(std::int64_t value);  // as Integer_Image
  // Logs the message when due.
  void Log() const;

 private:
  Severity severity_;
  bool due_;
  std::string text_;
};

// Logs the concatenation of `parts` at `severity`, building the text only when the record is
// due. Integer parts are written with Integer_Image; everything else must convert to a
// string_view.
template <class... Parts>
void Log_Parts(Severity severity, const Parts&... parts) {
  Message message(severity);
  auto add = [&message](const auto& part) {
    using Part = std::decay_t<decltype(part)>;
    static_assert(!std::is_same_v<Part, bool> && !std::is_same_v<Part, char>);
    if constexpr (std::is_integral_v<Part> || std::is_enum_v<Part>) {
      message.Add_Integer(static_cast<std::int64_t>(part));
    } else {
      message.Add_Text(std::string_view(part));
    }
  };
  (add(parts), ...);
  message.Log();
}

}  // namespace Utils::Logger
