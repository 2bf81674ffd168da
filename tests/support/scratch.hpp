// Helpers shared by the in-process tests: a scratch directory, standard output captured, and a
// road network built through the facade.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/plan_checker.hpp"

namespace Testing {

// A fresh temporary directory, removed with everything in it when the object goes. Entered, it
// is the working directory while the object lives (the log file and the notice files land
// there); the previous one comes back afterwards.
class Scratch_Directory {
 public:
  enum class Mode { Stay, Enter };
  explicit Scratch_Directory(Mode mode = Mode::Stay);
  ~Scratch_Directory();
  Scratch_Directory(const Scratch_Directory&) = delete;
  Scratch_Directory& operator=(const Scratch_Directory&) = delete;

  const std::string& Path() const { return path_; }
  // The path of `name` inside the directory.
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::filesystem::path previous_;  // empty unless entered
};

// What `body` writes to standard output (also when it throws).
std::string Captured(const std::function<void()>& body);

// Every module back to its state at program start, then `roads` added in order after a clean
// and the environment built, all through the facade.
void Build_Roads(const std::vector<Road>& roads);

}  // namespace Testing
