// Number images shared by answers, log messages and dumps.
#include "utils/utils-types.hpp"

#include <charconv>
#include <cstdio>
#include <iterator>

namespace Utils {

std::string Integer_Image(std::int64_t value) {
  char text[24];
  text[0] = ' ';
  // A negative value brings its own minus sign.
  char* const start = value < 0 ? text : text + 1;
  const std::to_chars_result written = std::to_chars(start, std::end(text), value);
  return std::string(text, written.ptr);
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
