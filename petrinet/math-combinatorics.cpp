// Factorial quotients with overflow detection.
#include "petrinet/math-combinatorics.hpp"

#include <limits>

#include "utils/utils-types.hpp"

namespace Math::Combinatorics {

std::int32_t Factorial_Quotient(std::int32_t n, std::int32_t k) {
  if (n <= k) return 1;
  std::int64_t product = 1;
  for (std::int64_t factor = static_cast<std::int64_t>(k) + 1; factor <= n; ++factor) {
    product *= factor;
    Utils::Require(product <= std::numeric_limits<std::int32_t>::max() &&
                       product >= std::numeric_limits<std::int32_t>::min(),
                   "factorial quotient overflow");
  }
  return static_cast<std::int32_t>(product);
}

}  // namespace Math::Combinatorics
