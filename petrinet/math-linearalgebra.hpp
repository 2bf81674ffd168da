// Single-precision matrices with explicit index ranges: the net's incidence matrices and the
// planner's distance table.
#pragma once

#include <cstdint>
#include <vector>

namespace Math::LinearAlgebra {

struct Matrix {
  std::int32_t first_row = 0;
  std::int32_t last_row = -1;
  std::int32_t first_column = 0;
  std::int32_t last_column = -1;
  std::vector<float> elements;  // row by row
};

// A matrix with rows 0..rows-1 and columns 0..columns-1, every element 0.0.
Matrix Zero_Matrix(std::int32_t rows, std::int32_t columns);

// Element (row, column); Range_Error outside the matrix's ranges.
float Element(const Matrix& matrix, std::int32_t row, std::int32_t column);
void Set_Element(Matrix& matrix, std::int32_t row, std::int32_t column, float value);

// left - right element by element, with the ranges of left; Range_Error unless right covers
// the ranges of left.
Matrix Subtract(const Matrix& left, const Matrix& right);

// Writes "( ", one line per row of " 1.00000E+00"-style texts each followed by a blank, and ")".
void Image(const Matrix& matrix);

}  // namespace Math::LinearAlgebra
