// The factorial quotient behind the marking keys of the coloured graph.
#pragma once

#include <cstdint>

namespace Math::Combinatorics {

// n! / k!: 1 when n <= k, else (k+1) x (k+2) x ... x n in 32-bit signed arithmetic;
// Range_Error when the product leaves the 32-bit range.
std::int32_t Factorial_Quotient(std::int32_t n, std::int32_t k);

}  // namespace Math::Combinatorics
