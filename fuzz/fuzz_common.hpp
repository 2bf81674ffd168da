// Shared set-up of the fuzz targets: a scratch working directory, answers sent nowhere and the
// pauses switched off.
#pragma once

#include <string>

namespace Fuzz {

// Creates a fresh temporary directory, makes it the working directory, sends std::cout to a
// null device and switches off the pause of MOVA_INIT and the pause after each computation.
// Aborts when the directory cannot be made.
void Set_Up();

// Removes the files a run may leave in the working directory (log and notice files) so that
// they do not grow from one input to the next.
void Clear_Directory();

// Writes `reason` to standard error and aborts, so that the fuzzer records the input.
[[noreturn]] void Fail(const std::string& reason);

}  // namespace Fuzz
