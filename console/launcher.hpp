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

// The number of the command named by `word` (its place in the command table, MOVA_INIT being 0),
// compared without regard to letter case after blanks around it are removed; nothing for any
// other word.
std::optional<int> Find_Command(std::string_view word);

// `word` as a 32-bit signed integer: an optional sign and decimal digits, blanks around it
// ignored; nothing for anything else or a value that does not fit.
std::optional<std::int32_t> To_Integer(std::string_view word);

// Executes one command line, writing its result to standard output. Raises Utils::Range_Error
// for a line that is dropped (what the operation did before stays done).
void Execute(std::string_view line);

// Start-up (every module to its initial state, logging off, the blank as word separator),
// then executes the lines of `input` (which must have a buffer) until it ends. Standard output is
// flushed before each read that may wait. Returns the exit status: 0 at the end of input; after a
// failure that ends the program (unwritable log or notice file, unreadable input or output,
// exhausted memory) hands every answer so far to standard output, writes a one-line diagnostic to
// standard error and returns 1.
int Run(std::istream& input);

// The program: Run on the process's standard input and output, read and written through their
// descriptors (waited on in non-blocking mode); a write error on standard output other than a
// closed pipe ends the program as a failure, and so does the file-size limit (the signal it
// raises is ignored, so that the write fails instead).
int Main();

}  // namespace Launcher
