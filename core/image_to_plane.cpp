#include "image_to_plane.hpp"

#include <cmath>
#include <cstddef>
#include <limits>

namespace scenemap {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// What one call needs of the camera, computed once before the walk.
struct PlaneRays {
  double xScale;  // dx / sx: image u to distorted sensor x
  double yScale;  // dy: image v to distorted sensor y
  double cx, cy;
  double kappa1;
  double f;
  // Q = inv(R), row-major: the world direction of the camera ray (xu, yu, f)
  // is (a, b, c) = Q * (xu, yu, f), with Q's last column times f kept as
  // qf.
  double q[3][3];
  double qf[3];
  // Q * T: the camera centre is -Q * T, so the world point of ray parameter
  // t is t * (a, b, c) - Q * T.
  double qT[3];
};

PlaneRays planeRays(const CameraParams &p) {
  PlaneRays r;
  r.xScale = p.dx / p.sx;
  r.yScale = p.dy;
  r.cx = p.cx;
  r.cy = p.cy;
  r.kappa1 = p.kappa1;
  r.f = p.f;
  // The rows of inv(R) are the cross products of R's columns c0, c1, c2
  // (c1 x c2, c2 x c0, c0 x c1) over det(R) = c0 . (c1 x c2).
  const double *c[3] = {p.R, p.R + 3, p.R + 6};
  for (int i = 0; i < 3; ++i) {
    const double *s = c[(i + 1) % 3], *t = c[(i + 2) % 3];
    r.q[i][0] = s[1] * t[2] - s[2] * t[1];
    r.q[i][1] = s[2] * t[0] - s[0] * t[2];
    r.q[i][2] = s[0] * t[1] - s[1] * t[0];
  }
  const double det =
      (c[0][0] * r.q[0][0] + c[0][1] * r.q[0][1]) + c[0][2] * r.q[0][2];
  bool finite = true;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      r.q[i][j] /= det;
      finite = finite && std::isfinite(r.q[i][j]);
    }
    r.qf[i] = r.q[i][2] * p.f;
    r.qT[i] = (r.q[i][0] * p.T[0] + r.q[i][1] * p.T[1]) + r.q[i][2] * p.T[2];
  }
  // No pixel has a point when R is singular (no inverse), or when dx or dy
  // is zero (the projection sends every point to an infinite u or v): a NaN
  // plane offset makes every ray parameter NaN.
  if (!finite || r.xScale == 0 || r.yScale == 0) {
    r.qT[2] = kNaN;
  }
  return r;
}

// One element; a point that does not exist becomes NaN at the end.
template <bool kDerivatives>
inline void backProjectPoint(const PlaneRays &r, double u, double v, double Zw,
                             double *X, double *Y, double *dXY) {
  const double xd = (u - r.cx) * r.xScale;
  const double yd = (v - r.cy) * r.yScale;
  const double kr2 = r.kappa1 * (xd * xd + yd * yd);
  const double g = 1 + kr2;
  const double xu = xd * g, yu = yd * g;

  // World direction of the ray and the parameter where it meets Z = Zw.
  const double a = (r.q[0][0] * xu + r.q[0][1] * yu) + r.qf[0];
  const double b = (r.q[1][0] * xu + r.q[1][1] * yu) + r.qf[1];
  const double c = (r.q[2][0] * xu + r.q[2][1] * yu) + r.qf[2];
  const double t = (Zw + r.qT[2]) / c;

  // The point exists where the radius is reachable (the slope of
  // rd -> rd * (1 + kappa1 * rd^2) is not negative) and its depth t * f is
  // positive and finite: c == 0 (a ray parallel to the plane) gives an
  // infinite or NaN t. NaN inputs fail the comparisons.
  const double zc = t * r.f;
  const bool exists = 1 + 3 * kr2 >= 0 && zc > 0 && zc < kInf;
  *X = exists ? t * a - r.qT[0] : kNaN;
  *Y = exists ? t * b - r.qT[1] : kNaN;
  if (!kDerivatives) {
    return;
  }

  // Chain rule, innermost first. The intersection t * (a, b) with
  // t = const / c moves with the ray's sensor point as
  //   dX/dxu = (t / c) * (Q00 * c - a * Q20)
  //   dX/dyu = (t / c) * (Q01 * c - a * Q21)
  // and Y alike with b and Q's second row. The distortion (xd, yd) ->
  // (xu, yu) has the symmetric Jacobian
  //   [g + 2 kappa1 xd^2, 2 kappa1 xd yd; 2 kappa1 xd yd, g + 2 kappa1 yd^2]
  // and u, v scale xd, yd by xScale, yScale.
  const double h = t / c;
  const double Xx = h * (r.q[0][0] * c - a * r.q[2][0]);
  const double Xy = h * (r.q[0][1] * c - a * r.q[2][1]);
  const double Yx = h * (r.q[1][0] * c - b * r.q[2][0]);
  const double Yy = h * (r.q[1][1] * c - b * r.q[2][1]);
  const double k2 = 2 * r.kappa1;
  const double dxx = g + k2 * xd * xd;
  const double dxy = k2 * xd * yd;
  const double dyy = g + k2 * yd * yd;
  // Slots: dX/du, dX/dv, dY/du, dY/dv.
  dXY[0] = exists ? (Xx * dxx + Xy * dxy) * r.xScale : kNaN;
  dXY[1] = exists ? (Xx * dxy + Xy * dyy) * r.yScale : kNaN;
  dXY[2] = exists ? (Yx * dxx + Yy * dxy) * r.xScale : kNaN;
  dXY[3] = exists ? (Yx * dxy + Yy * dyy) * r.yScale : kNaN;
}

template <bool kDerivatives>
void walk(const PlaneRays &r, const double *u, const double *v,
          const double *Zw, std::ptrdiff_t count, double *Xw, double *Yw,
          double *dXY) {
  for (std::ptrdiff_t k = 0; k < count; ++k) {
    backProjectPoint<kDerivatives>(r, u[k], v[k], Zw[k], &Xw[k], &Yw[k],
                                   kDerivatives ? dXY + 4 * k : nullptr);
  }
}

}  // namespace

void frameToScenePlaneCoord(const CameraParams &params, double u, double v,
                            double Zw, double *X_out, double *Y_out,
                            double *dXY_out) {
  const PlaneRays r = planeRays(params);
  if (dXY_out) {
    backProjectPoint<true>(r, u, v, Zw, X_out, Y_out, dXY_out);
  } else {
    backProjectPoint<false>(r, u, v, Zw, X_out, Y_out, nullptr);
  }
}

void backProjectFrameGrid(const CameraParams &params, const double *u,
                          const double *v, const double *Zw, std::int32_t M,
                          std::int32_t N, double *Xw, double *Yw, double *dXY) {
  if (M < 1 || N < 1) {
    return;
  }
  const PlaneRays r = planeRays(params);
  // 64-bit count: M * N exceeds a 32-bit int above 2^31 elements.
  const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(M) * N;
  if (dXY) {
    walk<true>(r, u, v, Zw, count, Xw, Yw, dXY);
  } else {
    walk<false>(r, u, v, Zw, count, Xw, Yw, nullptr);
  }
}

}  // namespace scenemap
