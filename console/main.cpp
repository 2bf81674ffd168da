// The mova executable: the command console on standard input.
#include <iostream>

#include "console/launcher.hpp"

int main() {
  std::ios_base::sync_with_stdio(false);
  std::cin.tie(nullptr);
  return Launcher::Run(std::cin);
}
