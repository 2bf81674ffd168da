// Scratch directory, null answer stream and the pauses of the fuzz targets.
#include "fuzz_common.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "controller/mova.hpp"
#include "search/search-dstarlite.hpp"

namespace Fuzz {
namespace {

std::ofstream null_output;
std::string scratch;

void Remove_Scratch() {
  std::error_code error;
  std::filesystem::remove_all(scratch, error);
}

}  // namespace

void Set_Up() {
  std::error_code error;
  const std::filesystem::path base =
      std::filesystem::is_directory("/dev/shm", error) && access("/dev/shm", W_OK | X_OK) == 0
          ? std::filesystem::path("/dev/shm")
          : std::filesystem::temp_directory_path();
  std::string pattern = (base / "mova-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0)
    Fail("cannot make a scratch working directory");
  scratch = pattern;
  std::atexit(Remove_Scratch);
  null_output.open("/dev/null");
  if (!null_output) Fail("cannot open /dev/null");
  std::cout.rdbuf(null_output.rdbuf());
  Mova::Set_Init_Pause(false);
  Search::DStarLite::Set_Pause(false);
}

void Clear_Directory() {
  std::error_code error;
  if (std::filesystem::file_size("mova.log", error) > (1u << 20)) std::remove("mova.log");
}

void Fail(const std::string& reason) {
  std::fprintf(stderr, "mova fuzz finding: %s\n", reason.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace Fuzz
