// Shared set-up of the fuzz targets: a scratch working directory, answers sent nowhere and the
// pauses switched off.
#pragma once

#include <string>

namespace Fuzz {

// Creates a fresh scratch directory (on /dev/shm, a memory file system, where there is one),
// makes it the working directory, sends std::cout to a null device and switches off the pause of
// MOVA_INIT and the pause after each computation. Aborts when the directory cannot be made.
void Set_Up();

// Keeps the scratch directory small between inputs without touching the file system on each:
// the notice files stay once written, and the log is removed only once it has grown past a
// megabyte.
void Clear_Directory();

// Writes `reason` to standard error and aborts, so that the fuzzer records the input.
[[noreturn]] void Fail(const std::string& reason);

}  // namespace Fuzz
