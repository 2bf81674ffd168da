// Number images shared by answers, log messages and dumps.
#include "utils/utils-types.hpp"

#include <cstdio>

namespace Utils {

std::string Integer_Image(std::int64_t value) {
  std::uint64_t magnitude =
      value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::string text(1, value < 0 ? '-' : ' ');
  while (n > 0) text.push_back(digits[--n]);
  return text;
}

std::string Duration_Image(std::int64_t nanoseconds) {
  std::uint64_t magnitude = nanoseconds < 0 ? ~static_cast<std::uint64_t>(nanoseconds) + 1
                                            : static_cast<std::uint64_t>(nanoseconds);
  char text[48];
  std::snprintf(text, sizeof text, "%c%llu.%09llu", nanoseconds < 0 ? '-' : ' ',
                static_cast<unsigned long long>(magnitude / 1000000000ULL),
                static_cast<unsigned long long>(magnitude % 1000000000ULL));
  return text;
}

std::string Float_Image(float value) {
  char text[48];
  text[0] = ' ';
  std::snprintf(text + 1, sizeof text - 1, "%.5E", static_cast<double>(value));
  return std::string(text[1] == '-' ? text + 1 : text);
}

std::string Fixed_Image(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.5f", static_cast<double>(value));
  return text;
}

float Seconds(std::int64_t nanoseconds) {
  return static_cast<float>(static_cast<double>(nanoseconds) / 1.0e9);
}

}  // namespace Utils
