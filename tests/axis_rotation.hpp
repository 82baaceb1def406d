// Rotation matrices for tests and benchmarks.
#pragma once

#include <cmath>

namespace scenemap_test {

// Rotation about the axis (x, y, z) (normalised here) by angle, stored
// column-major: R(i, j) = R[i + 3 * j].
inline void rotation(double x, double y, double z, double angle, double R[9]) {
  const double n = std::sqrt(x * x + y * y + z * z);
  x /= n;
  y /= n;
  z /= n;
  const double c = std::cos(angle), s = std::sin(angle), C = 1 - c;
  const double M[3][3] = {
      {c + x * x * C, x * y * C - z * s, x * z * C + y * s},
      {y * x * C + z * s, c + y * y * C, y * z * C - x * s},
      {z * x * C - y * s, z * y * C + x * s, c + z * z * C}};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) R[i + 3 * j] = M[i][j];
}

}  // namespace scenemap_test
