// The hash of vertex keys.
#include "utils/utils-keymap.hpp"

namespace Utils {

std::uint32_t Key_Hash(std::int32_t key) {
  constexpr std::uint32_t kMultiplier = 65599;
  std::uint32_t magnitude =
      key < 0 ? ~static_cast<std::uint32_t>(key) + 1 : static_cast<std::uint32_t>(key);
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::uint32_t h = key < 0 ? '-' : ' ';
  while (n > 0) h = h * kMultiplier + static_cast<std::uint32_t>(digits[--n]);
  return h;
}

}  // namespace Utils
