#include "camera_derivatives.hpp"

#include <cfloat>
#include <cmath>

namespace scenemap {
namespace kernel {

void cameraDerivativesScaled(const CameraParams &p, double xc, double yc,
                             double zc, double xu, double yu,
                             const Distortion &s, double X, double Y, double Z,
                             double out[2 * kCameraParams]) {
  // The direction n and ru = rs * 2^e from (xu, yu) / 2^e, the larger in
  // [1, 2), so that neither the squares nor ru^2 leave the range. On the
  // axis h = dr, and any unit n gives the same stretch.
  double nx = 1;
  double ny = 0;
  double rs = 0;
  int e = 0;
  const double ax = std::fabs(xu), ay = std::fabs(yu);
  if (!(ax <= DBL_MAX && ay <= DBL_MAX)) {
    // A non-finite point: no scale to take, and every derivative is NaN.
    nx = ny = rs = NAN;
  } else if (!(ax == 0 && ay == 0)) {
    e = std::ilogb(ax < ay ? ay : ax);  // the larger magnitude
    const double xs = std::ldexp(xu, -e);
    const double ys = std::ldexp(yu, -e);
    rs = std::sqrt(ys * ys + xs * xs);
    nx = xs / rs;
    ny = ys / rs;
  }
  const double H = s.h;  // h = H * 2^-q
  const int q = s.q;
  const double rad = s.radial;  // dr = H * rad * 2^-q
  const bool folded = s.branch == RadiusBranch::kFolded;
  // d(xd, yd)/dkappa1 = (xd, yd) * K * 2^m: -rd^2 dr, or 1.5 rd^2 beyond the
  // fold, with rd^2 = H^2 rs^2 2^(2e - 2q).
  const double K = H * H * rs * rs * (folded ? 1.5 : -(H * rad));
  const int m = 2 * e - 2 * q - (folded ? 0 : q);
  // Tangential stretches h (ny^2 + rad nx^2), h (nx^2 + rad ny^2) and the
  // cross term h (rad - 1) nx ny, without the 2^-q.
  const double sxx = H * (ny * ny + rad * (nx * nx));
  const double syy = H * (nx * nx + rad * (ny * ny));
  const double sxy = H * (s.radialMinusOne * nx * ny);

  const double sx = p.sx;
  const double dx = p.dx;
  const double dy = p.dy;
  const double f = p.f;
  double *du = out;
  double *dv = out + kCameraParams;
  du[0] = -scaledProduct(sx, s.xd, 1, dx, dx, 0);
  du[1] = 0;
  du[2] = s.xd / dx;
  du[3] = 1;
  du[4] = 0;
  du[5] = scaledProduct(sx, H * rad, xc, dx, zc, -q);
  du[6] = scaledProduct(sx, s.xd, K, dx, 1, m);
  du[16] = scaledProduct(sx, f, sxx, dx, zc, -q);
  du[17] = scaledProduct(sx, f, sxy, dx, zc, -q);
  du[18] = -scaledProduct(sx, rad, s.xd, dx, zc, 0);
  dv[0] = 0;
  dv[1] = -scaledProduct(1, s.yd, 1, dy, dy, 0);
  dv[2] = 0;
  dv[3] = 0;
  dv[4] = 1;
  dv[5] = scaledProduct(1, H * rad, yc, dy, zc, -q);
  dv[6] = scaledProduct(1, s.yd, K, dy, 1, m);
  dv[16] = scaledProduct(1, f, sxy, dy, zc, -q);
  dv[17] = scaledProduct(1, f, syy, dy, zc, -q);
  dv[18] = -scaledProduct(1, rad, s.yd, dy, zc, 0);
  const double world[3] = {X, Y, Z};
  for (int col = 0; col < 3; ++col) {
    for (int row = 0; row < 3; ++row) {
      du[7 + row + 3 * col] = world[col] * du[16 + row];
      dv[7 + row + 3 * col] = world[col] * dv[16 + row];
    }
  }
}

void cameraDerivativesRescaled(const CameraParams &p, const PointFront &front,
                               const DistortionSlopes &sl, bool folded,
                               double X, double Y, double Z,
                               double out[2 * kCameraParams]) {
  const double xu = front.xu;
  const double yu = front.yu;
  const double r2 = yu * yu + xu * xu;
  Distortion s;
  s.h = sl.h;
  s.q = 0;
  s.radial = sl.dr / sl.h;
  s.radialMinusOne = sl.g == 0 ? 0 : sl.g * r2 / sl.h;
  s.xd = xu * sl.h;
  s.yd = sl.h * yu;
  s.branch = folded ? RadiusBranch::kFolded : RadiusBranch::kOneRoot;
  cameraDerivativesScaled(p, front.xc, front.yc, front.zc, xu, yu, s, X, Y, Z,
                          out);
}

}  // namespace kernel
}  // namespace scenemap
