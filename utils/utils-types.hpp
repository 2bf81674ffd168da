// Shared types of the controller: the one error kind, search costs, obstacles, search statistics
// and the number images.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Utils {

// Raised for a value outside its range, an index outside a table, an integer or command word
// that cannot be read and a key missing from a graph. The console drops the rest of the line.
struct Range_Error {
  const char* reason;
};

// A failure that ends the program (the log file cannot be written, a notice file cannot be
// created, standard input cannot be read). The console writes `message` to standard error.
struct Fatal_Error {
  std::string message;
};

// Raises Range_Error{reason} unless `condition` holds.
inline void Require(bool condition, const char* reason) {
  if (!condition) throw Range_Error{reason};
}

// A table index (or count) held in a signed integer, as the unsigned size type the standard
// containers take; the value must not be negative.
constexpr std::size_t Index(std::integral auto value) {
  return static_cast<std::size_t>(value);
}

// A search value: 15 bits held in 16, every addition modulo 32768.
using Cost = std::uint16_t;
inline constexpr Cost Infinite_Cost = 32767;

// a + b modulo 32768.
constexpr Cost Cost_Add(int a, int b) {
  return static_cast<Cost>((a + b) & 0x7FFF);
}

// A blocked road between two positions; the direction does not matter.
struct Obstacle {
  std::int32_t ORIGIN;
  std::int32_t DESTINY;
};

// The obstacles in order of addition.
using Obstacles_List = std::vector<Obstacle>;

// Figures of the last search: a distance search writes Evaluations, CPU_Time and Queue_Size, a
// mission computation all five.
struct Search_Statistics {
  std::int32_t Evaluations = 0;
  std::int64_t CPU_Time = 0;  // nanoseconds
  float Time_Per_Evaluation = 0.0f;
  std::int32_t RAM_Usage = 0;
  std::int32_t Queue_Size = 0;
};

// " 12", " 0", "-1": a blank before a zero or positive value, a minus sign before a negative one.
std::string Integer_Image(std::int64_t value);

// " 0.500000000": sign (blank or minus), whole seconds, a point and nine decimals.
std::string Duration_Image(std::int64_t nanoseconds);

// " 5.00000E-01": sign, one digit, a point, five digits, "E", exponent sign and two digits.
std::string Float_Image(float value);

// "1.50000": fixed point with five rounded decimals, no leading blank, no exponent.
std::string Fixed_Image(float value);

// Nanoseconds as single-precision seconds.
float Seconds(std::int64_t nanoseconds);

}  // namespace Utils
