// Arbitrary bytes as a command stream through the whole console loop, in-process.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "console/launcher.hpp"
#include "fuzz_common.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Fuzz::Set_Up();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Fuzz::Clear_Directory();
  std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
  // In a writable scratch directory no input may end the program with a failure.
  if (Launcher::Run(input) != 0) Fuzz::Fail("the console loop ended with a failure");
  return 0;
}
