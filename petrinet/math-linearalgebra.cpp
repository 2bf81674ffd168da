// Matrices with explicit ranges, element-wise subtraction and the text dump.
#include "petrinet/math-linearalgebra.hpp"

#include <iostream>

#include "utils/utils-types.hpp"

namespace Math::LinearAlgebra {
namespace {

std::size_t Offset(const Matrix& m, std::int32_t row, std::int32_t column) {
  Utils::Require(row >= m.first_row && row <= m.last_row && column >= m.first_column &&
                     column <= m.last_column,
                 "matrix index outside its range");
  const auto width = Utils::Index(m.last_column - m.first_column + 1);
  return Utils::Index(row - m.first_row) * width + Utils::Index(column - m.first_column);
}

}  // namespace

Matrix Zero_Matrix(std::int32_t rows, std::int32_t columns) {
  Utils::Require(rows >= 0 && columns >= 0, "negative matrix size");
  Matrix m;
  m.last_row = rows - 1;
  m.last_column = columns - 1;
  m.elements.assign(Utils::Index(rows) * Utils::Index(columns), 0.0f);
  return m;
}

float Element(const Matrix& matrix, std::int32_t row, std::int32_t column) {
  return matrix.elements[Offset(matrix, row, column)];
}

void Set_Element(Matrix& matrix, std::int32_t row, std::int32_t column, float value) {
  matrix.elements[Offset(matrix, row, column)] = value;
}

Matrix Subtract(const Matrix& left, const Matrix& right) {
  Utils::Require(right.first_row <= left.first_row && right.last_row >= left.last_row &&
                     right.first_column <= left.first_column &&
                     right.last_column >= left.last_column,
                 "matrix ranges do not match");
  Matrix result = left;
  if (right.first_row == left.first_row && right.last_row == left.last_row &&
      right.first_column == left.first_column && right.last_column == left.last_column) {
    // The same ranges: the elements lie alike.
    for (std::size_t i = 0; i < result.elements.size(); ++i)
      result.elements[i] = left.elements[i] - right.elements[i];
    return result;
  }
  for (std::int32_t r = left.first_row; r <= left.last_row; ++r)
    for (std::int32_t c = left.first_column; c <= left.last_column; ++c)
      result.elements[Offset(result, r, c)] = Element(left, r, c) - Element(right, r, c);
  return result;
}

void Image(const Matrix& matrix) {
  std::cout << "( \n";
  for (std::int32_t r = matrix.first_row; r <= matrix.last_row; ++r) {
    for (std::int32_t c = matrix.first_column; c <= matrix.last_column; ++c)
      std::cout << Utils::Float_Image(Element(matrix, r, c)) << ' ';
    std::cout << '\n';
  }
  std::cout << ")\n";
}

}  // namespace Math::LinearAlgebra
