#include "camera_model.hpp"

#include <cmath>
#include <cstddef>

namespace scenemap {

namespace {

// The double nearest 1/3, the exponent of every cube root, and the double
// nearest sqrt(3). Cube roots go through pow with this exponent on a
// non-negative base; the sign is applied outside.
constexpr double kOneThird = 0.3333333333333333;
constexpr double kSqrt3 = 1.7320508075688772;

}  // namespace

double distortedRadius(double ru, double kappa1, RadiusBranch *branch) {
  // Depressed cubic rd^3 + p*rd + q = 0 with p = 1/kappa1, q = -ru/kappa1.
  const double p = 1 / kappa1;
  const double E = ru * p * 0.5;  // -q/2
  const double p3 = p / 3;
  const double D = p3 * p3 * p3 + E * E;

  if (D >= 0) {
    // One real root (Cardano).
    const double s = std::sqrt(D);
    const double c1 =
        (E + s > 0) ? std::pow(E + s, kOneThird) : -std::pow(-E - s, kOneThird);
    const double c2 =
        (E - s > 0) ? std::pow(E - s, kOneThird) : -std::pow(s - E, kOneThird);
    const double rd = c2 + c1;
    // For kappa1 < 0 an undistorted radius beyond the largest reachable one
    // has no admissible root; clamp to the fold radius, where
    // rd * (1 + kappa1 * rd^2) peaks.
    if (rd < 0) {
      *branch = RadiusBranch::kFolded;
      return std::sqrt(-1 / (kappa1 * 3));
    }
    *branch = RadiusBranch::kOneRoot;
    return rd;
  }
  // Three real roots (kappa1 < 0 only): trigonometric form, taking the
  // smallest positive root, the one that tends to ru as ru tends to 0.
  const double y = std::sqrt(-D);
  const double rho = std::sqrt(y * y + E * E);
  const double m = std::pow(rho, kOneThird);
  const double theta = std::atan2(y, E);
  *branch = RadiusBranch::kThreeRoots;
  return m * kSqrt3 * std::sin(theta / 3) - m * std::cos(theta / 3);
}

void undistortedToDistortedSensorCoord(double xu, double yu, double *xd_out,
                                       double *yd_out, double kappa1) {
  // At the origin and without distortion the map is the identity. IEEE
  // equality: -0.0 passes through, NaN goes on and propagates.
  if ((xu == 0 && yu == 0) || kappa1 == 0) {
    *xd_out = xu;
    *yd_out = yu;
    return;
  }
  const double ru = std::sqrt(yu * yu + xu * xu);
  RadiusBranch branch;
  const double rd = distortedRadius(ru, kappa1, &branch);
  const double k = rd / ru;
  *xd_out = xu * k;
  *yd_out = k * yu;
}

void sceneToFrameCoord(const CameraParams &params, double X, double Y, double Z,
                       FramePoint *out) {
  const double *R = params.R;
  const double *T = params.T;
  // Rows of R times the point, then the translation.
  const double xc = ((R[0] * X + R[3] * Y) + R[6] * Z) + T[0];
  const double yc = ((R[1] * X + R[4] * Y) + R[7] * Z) + T[1];
  const double zc = ((R[2] * X + R[5] * Y) + R[8] * Z) + T[2];

  const double xu = (xc * params.f) / zc;
  const double yu = (yc * params.f) / zc;

  double xd;
  double yd;
  undistortedToDistortedSensorCoord(xu, yu, &xd, &yd, params.kappa1);

  out->u = (params.sx * xd) / params.dx + params.cx;
  out->v = yd / params.dy + params.cy;
  out->xc = xc;
  out->yc = yc;
  out->zc = zc;
}

void projectSceneGrid(const CameraParams &params, const double *Xw,
                      const double *Yw, const double *Zw, std::int32_t M,
                      std::int32_t N, double *u, double *v) {
  if (M < 1 || N < 1) {
    return;
  }
  // The parameters are copied once so the walk reads locals only.
  const CameraParams cam = params;
  // 64-bit linear index: n * M + m exceeds a 32-bit int above 2^31 points.
  const std::ptrdiff_t rows = M;
  for (std::ptrdiff_t n = 0; n < N; ++n) {
    for (std::ptrdiff_t m = 0; m < rows; ++m) {
      const std::ptrdiff_t k = n * rows + m;
      if (Xw[k] == 0) {
        continue;  // a zero world X marks an absent point
      }
      FramePoint pt;
      sceneToFrameCoord(cam, Xw[k], Yw[k], Zw[k], &pt);
      u[k] = pt.u;
      v[k] = pt.v;
    }
  }
}

}  // namespace scenemap
