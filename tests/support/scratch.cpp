// The scratch directory, the output capture and the road builder of the in-process tests.
#include "support/scratch.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "controller/mova.hpp"

namespace Testing {

Scratch_Directory::Scratch_Directory(Mode mode) {
  std::string pattern = (std::filesystem::temp_directory_path() / "mova-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot create a temporary directory";
    return;
  }
  path_ = pattern;
  if (mode == Mode::Enter) {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
}

Scratch_Directory::~Scratch_Directory() {
  std::error_code error;
  if (!previous_.empty()) std::filesystem::current_path(previous_, error);
  if (path_.empty()) return;
  // Undo permission changes a test may have made before removing the directory.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, error);
  std::filesystem::remove_all(path_, error);
}

std::string Captured(const std::function<void()>& body) {
  std::ostringstream text;
  std::streambuf* previous = std::cout.rdbuf(text.rdbuf());
  try {
    body();
  } catch (...) {
    std::cout.rdbuf(previous);
    throw;
  }
  std::cout.rdbuf(previous);
  return text.str();
}

void Build_Roads(const std::vector<Road>& roads) {
  Mova::Reset_All();
  Mova::Environment_Clean();
  for (const Road& r : roads) {
    if (r.kind == Road_Kind::One_Way) Mova::Environment_Add_One_Way_Road(r.first, r.second);
    if (r.kind == Road_Kind::One_Lane)
      Mova::Environment_Add_Two_Way_Road_One_Lane(r.first, r.second);
    if (r.kind == Road_Kind::Two_Lanes)
      Mova::Environment_Add_Two_Way_Road_Two_Lanes(r.first, r.second);
  }
  Mova::Environment_Build();
}

}  // namespace Testing
