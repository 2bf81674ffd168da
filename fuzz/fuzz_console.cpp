// Arbitrary bytes as a command stream through the whole console loop, in-process.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "console/launcher.hpp"
#include "controller/mova.hpp"
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
  // What the run built is released within it, so that the fuzzer does not take the memory kept
  // for the next input for a leak and check every such input again.
  Mova::Reset_All();
  return 0;
}
