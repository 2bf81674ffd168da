// The command console: reads command lines, calls one facade operation per line and prints its
// result. The program's entry point runs it on standard input.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string_view>

namespace Launcher {

// Lines longer than this are dropped whole; the rest of such a line is read and discarded.
inline constexpr std::size_t Max_Line_Length = 16u << 20;

// `word` as a 32-bit signed integer: an optional sign and decimal digits, blanks around it
// ignored; nothing for anything else or a value that does not fit.
std::optional<std::int32_t> To_Integer(std::string_view word);

// Executes one command line, writing its result to standard output. Raises Utils::Range_Error
// for a line that is dropped (what the operation did before stays done).
void Execute(std::string_view line);

// Start-up (every module to its initial state, logging off, the blank as word separator),
// then executes the lines of `input` until it ends. Standard output is flushed before each
// read that may wait. Returns the exit status: 0 at the end of input; after a failure that
// ends the program (unwritable log or notice file, unreadable input, exhausted memory) writes
// a one-line diagnostic to standard error and returns 1.
int Run(std::istream& input);

}  // namespace Launcher
