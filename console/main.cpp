// The mova executable: the command console on standard input.
#include "console/launcher.hpp"

int main() {
  return Launcher::Main();
}
