#include "image_to_plane.hpp"

#include <cfloat>
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

// The rows of inv(R) are the cross products of R's columns c0, c1, c2
// (c1 x c2, c2 x c0, c0 x c1) over det(R) = c0 . (c1 x c2); q is row-major.
// Returns false where det(R) or an element of q is not a normal or finite
// number.
bool invertAsGiven(const double *R, double q[3][3]) {
  const double *c[3] = {R, R + 3, R + 6};
  for (int i = 0; i < 3; ++i) {
    const double *s = c[(i + 1) % 3], *t = c[(i + 2) % 3];
    q[i][0] = s[1] * t[2] - s[2] * t[1];
    q[i][1] = s[2] * t[0] - s[0] * t[2];
    q[i][2] = s[0] * t[1] - s[1] * t[0];
  }
  const double det =
      (c[0][0] * q[0][0] + c[0][1] * q[0][1]) + c[0][2] * q[0][2];
  bool finite = std::fabs(det) >= DBL_MIN;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      q[i][j] /= det;
      finite = finite && std::isfinite(q[i][j]);
    }
  }
  return finite;
}

// inv(R). Where R's scale puts its determinant (a cube of its size) or the
// cofactors (squares) outside the normal numbers, R is inverted as
// 2^-e * R, with 2^e its largest element's power of two, and the inverse
// scaled back: an exact rescaling that changes nothing where the direct
// inverse is computed in normal numbers, and is the same inverse where it
// is not.
void invertMatrix(const double *R, double q[3][3]) {
  if (invertAsGiven(R, q)) {
    return;
  }
  double largest = 0;
  for (int i = 0; i < 9; ++i) {
    largest = std::fmax(largest, std::fabs(R[i]));
  }
  if (!(largest > 0 && largest <= DBL_MAX)) {
    return;  // zero, infinite or NaN: no inverse, as computed
  }
  const int e = std::ilogb(largest);
  double Rs[9];
  for (int i = 0; i < 9; ++i) {
    Rs[i] = std::ldexp(R[i], -e);
  }
  invertAsGiven(Rs, q);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      q[i][j] = std::ldexp(q[i][j], -e);
    }
  }
}

PlaneRays planeRays(const CameraParams &p) {
  PlaneRays r;
  r.xScale = p.dx / p.sx;
  r.yScale = p.dy;
  r.cx = p.cx;
  r.cy = p.cy;
  r.kappa1 = p.kappa1;
  r.f = p.f;
  invertMatrix(p.R, r.q);
  bool finite = true;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
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

inline bool isNormal(double x) {
  const double a = std::fabs(x);
  return a >= DBL_MIN && a <= DBL_MAX;
}

// kappa1 * (xd^2 + yd^2) where the squared radius r2 is not a normal number
// (it overflows, or is subnormal and has lost digits): xd, yd and kappa1
// are split into mantissas and powers of two, so only the product itself
// can overflow or underflow. Non-finite coordinates or kappa1 keep the
// plain product, which propagates them, and so does the origin.
double scaledDistortion(double xd, double yd, double r2, double kappa1) {
  const double ax = std::fabs(xd), ay = std::fabs(yd);
  if (!(ax <= DBL_MAX && ay <= DBL_MAX && std::fabs(kappa1) <= DBL_MAX) ||
      (ax == 0 && ay == 0)) {
    return kappa1 * r2;
  }
  const int e = std::ilogb(ax < ay ? ay : ax);  // the larger magnitude
  const double xs = std::ldexp(xd, -e), ys = std::ldexp(yd, -e);
  int ek;
  const double km = std::frexp(kappa1, &ek);
  return std::ldexp(km * (xs * xs + ys * ys), ek + 2 * e);
}

// For a pixel whose radius lies beyond the fold (slope 1 + 3 kr2 < 0):
// true when it lies there by no more than the rounding of the projection
// that clamps a point to the fold can leave in it. The projection's few
// roundings of the distorted radius (the fold radius, rd / ru, the sensor
// to image map) stay within 16 units in the last place of rd, and the
// pixel itself carries half a unit of u and of v, which the inverse's
// u - cx turns into an error of rd relative to |u - cx| rather than |u|.
// The slope changes by twice the relative change of rd; twice that again
// is the margin.
bool onFoldToRounding(double slope, double xd, double yd, double u, double v,
                      const PlaneRays &r) {
  const double rd = std::hypot(xd, yd);
  const double pixel = (std::fabs(u * r.xScale) + std::fabs(v * r.yScale)) / rd;
  return slope >= -DBL_EPSILON * (64 + 2 * pixel);
}

// A quotient n / d as a mantissa quotient m and a power of two e, for n
// and d finite and non-zero; otherwise the plain quotient (infinite, zero
// or NaN) with e = 0.
struct RayParameter {
  double m;
  int e;
};

RayParameter scaledQuotient(double n, double d) {
  if (!(n != 0 && d != 0 && std::fabs(n) <= DBL_MAX &&
        std::fabs(d) <= DBL_MAX)) {
    return {n / d, 0};
  }
  const int en = std::ilogb(n), ed = std::ilogb(d);
  return {std::ldexp(n, -en) / std::ldexp(d, -ed), en - ed};
}

// p * x, the power of two applied last (a plain product where e is 0).
inline double scaledProduct(const RayParameter &p, double x) {
  return p.e == 0 ? p.m * x : std::ldexp(p.m * x, p.e);
}

#if defined(__GNUC__)
#define SCENEMAP_NOINLINE __attribute__((noinline))
#else
#define SCENEMAP_NOINLINE
#endif

// One element at the edges of the number range or on the fold, as below
// with its care for each; kept out of the walk's loop, which takes it for
// those points alone. A point that does not exist becomes NaN at the end.
template <bool kDerivatives>
SCENEMAP_NOINLINE void backProjectEdge(const PlaneRays &r, double u, double v,
                                       double Zw, double *X, double *Y,
                                       double *dXY) {
  double xd = (u - r.cx) * r.xScale;
  double yd = (v - r.cy) * r.yScale;
  const double r2 = xd * xd + yd * yd;
  double kr2 = r.kappa1 * r2;
  if (!isNormal(r2)) {
    kr2 = scaledDistortion(xd, yd, r2, r.kappa1);
  }
  // The radius is reachable where the slope of rd -> rd * (1 + kappa1 *
  // rd^2) is not negative. A pixel beyond the fold by no more than
  // rounding is one the projection put on the fold: its point is the one
  // on the fold in the same direction, rd scaled to the fold radius
  // (kappa1 * rd^2 = -1/3).
  bool reachable = 1 + 3 * kr2 >= 0;
  if (!reachable && onFoldToRounding(1 + 3 * kr2, xd, yd, u, v, r)) {
    const double toFold = 1 / std::sqrt(-3 * kr2);
    xd *= toFold;
    yd *= toFold;
    kr2 = -1.0 / 3;
    reachable = true;
  }
  const double g = 1 + kr2;
  const double xu = xd * g, yu = yd * g;

  // World direction of the ray and the parameter where it meets Z = Zw.
  const double a = (r.q[0][0] * xu + r.q[0][1] * yu) + r.qf[0];
  const double b = (r.q[1][0] * xu + r.q[1][1] * yu) + r.qf[1];
  const double c = (r.q[2][0] * xu + r.q[2][1] * yu) + r.qf[2];
  const double offset = Zw + r.qT[2];
  const double t = offset / c;
  // Where t leaves the normal numbers (a point very far from the camera or
  // very close to it, against f), it is carried as a quotient of mantissas
  // and a power of two, tm * 2^et, and each product with it scaled by 2^et
  // at the end: the same roundings as for a camera scaled to normal numbers.
  const bool tNormal = isNormal(t);
  RayParameter tp = {t, 0};
  if (!tNormal) {
    tp = scaledQuotient(offset, c);
  }
  const double zc = scaledProduct(tp, r.f);
  const double Xp = scaledProduct(tp, a) - r.qT[0];
  const double Yp = scaledProduct(tp, b) - r.qT[1];

  // The point exists where the radius is reachable and its depth zc is
  // positive and finite: c == 0 (a ray parallel to the plane) gives an
  // infinite or NaN t. NaN inputs fail the comparisons.
  const bool exists = reachable && zc > 0 && zc < kInf;
  *X = exists ? Xp : kNaN;
  *Y = exists ? Yp : kNaN;
  if (!kDerivatives) {
    return;
  }

  // Chain rule, innermost first. The intersection t * (a, b) with
  // t = const / c moves with the ray's sensor point as
  //   dX/dxu = (t / c) * (Q00 * c - a * Q20)
  //   dX/dyu = (t / c) * (Q01 * c - a * Q21)
  // and Y alike with b and Q's second row (t / c carried like t where it
  // leaves the normal numbers).
  // The distortion (xd, yd) -> (xu, yu) has the symmetric Jacobian
  //   [g + 2 kappa1 xd^2, 2 kappa1 xd yd; 2 kappa1 xd yd, g + 2 kappa1 yd^2]
  // and u, v scale xd, yd by xScale, yScale.
  const double h = t / c;
  RayParameter hp = {h, 0};
  if (!tNormal || !isNormal(h)) {
    const RayParameter cp = scaledQuotient(c, 1);
    hp = scaledQuotient(offset, c);
    hp.m /= cp.m;
    hp.e -= cp.e;
  }
  // The four carry t / c's power of two to the end (each may overflow or
  // underflow where the derivative by u and v does not).
  const double Xx = hp.m * (r.q[0][0] * c - a * r.q[2][0]);
  const double Xy = hp.m * (r.q[0][1] * c - a * r.q[2][1]);
  const double Yx = hp.m * (r.q[1][0] * c - b * r.q[2][0]);
  const double Yy = hp.m * (r.q[1][1] * c - b * r.q[2][1]);
  const double k2 = 2 * r.kappa1;
  const double dxx = g + k2 * xd * xd;
  const double dxy = k2 * xd * yd;
  const double dyy = g + k2 * yd * yd;
  const RayParameter e = {1, hp.e};
  // Slots: dX/du, dX/dv, dY/du, dY/dv.
  dXY[0] = exists ? scaledProduct(e, (Xx * dxx + Xy * dxy) * r.xScale) : kNaN;
  dXY[1] = exists ? scaledProduct(e, (Xx * dxy + Xy * dyy) * r.yScale) : kNaN;
  dXY[2] = exists ? scaledProduct(e, (Yx * dxx + Yy * dxy) * r.xScale) : kNaN;
  dXY[3] = exists ? scaledProduct(e, (Yx * dxy + Yy * dyy) * r.yScale) : kNaN;
}

// One element: the formulas in their plain form, for the points where
// every quantity that the edge form carries differently (the squared
// radius, the ray parameter t and, for the derivatives, t / c) is a normal
// number and the radius is within the fold; there both give the same bits.
// Returns true for the other points, which backProjectEdge then computes
// (the values written here are not theirs).
template <bool kDerivatives>
inline bool backProjectPoint(const PlaneRays &r, double u, double v, double Zw,
                             double *X, double *Y, double *dXY) {
  const double xd = (u - r.cx) * r.xScale;
  const double yd = (v - r.cy) * r.yScale;
  const double r2 = xd * xd + yd * yd;
  const double kr2 = r.kappa1 * r2;
  const double g = 1 + kr2;
  const double xu = xd * g, yu = yd * g;
  const double a = (r.q[0][0] * xu + r.q[0][1] * yu) + r.qf[0];
  const double b = (r.q[1][0] * xu + r.q[1][1] * yu) + r.qf[1];
  const double c = (r.q[2][0] * xu + r.q[2][1] * yu) + r.qf[2];
  const double t = (Zw + r.qT[2]) / c;
  const double h = kDerivatives ? t / c : 1;
  const bool edge =
      !isNormal(r2) || !(1 + 3 * kr2 >= 0) || !isNormal(t) || !isNormal(h);
  const double zc = t * r.f;
  const bool exists = zc > 0 && zc < kInf;
  *X = exists ? t * a - r.qT[0] : kNaN;
  *Y = exists ? t * b - r.qT[1] : kNaN;
  if (!kDerivatives) {
    return edge;
  }
  const double Xx = h * (r.q[0][0] * c - a * r.q[2][0]);
  const double Xy = h * (r.q[0][1] * c - a * r.q[2][1]);
  const double Yx = h * (r.q[1][0] * c - b * r.q[2][0]);
  const double Yy = h * (r.q[1][1] * c - b * r.q[2][1]);
  const double k2 = 2 * r.kappa1;
  const double dxx = g + k2 * xd * xd;
  const double dxy = k2 * xd * yd;
  const double dyy = g + k2 * yd * yd;
  dXY[0] = exists ? (Xx * dxx + Xy * dxy) * r.xScale : kNaN;
  dXY[1] = exists ? (Xx * dxy + Xy * dyy) * r.yScale : kNaN;
  dXY[2] = exists ? (Yx * dxx + Yy * dxy) * r.xScale : kNaN;
  dXY[3] = exists ? (Yx * dxy + Yy * dyy) * r.yScale : kNaN;
  return edge;
}

// Points per block of the walk: the plain form runs over a block without
// a call in its loop, then a block with an edge point is redone.
constexpr std::ptrdiff_t kBlock = 256;

template <bool kDerivatives>
void walk(const PlaneRays &r, const double *u, const double *v,
          const double *Zw, std::ptrdiff_t count, double *Xw, double *Yw,
          double *dXY) {
  for (std::ptrdiff_t k0 = 0; k0 < count; k0 += kBlock) {
    const std::ptrdiff_t end = count - k0 < kBlock ? count : k0 + kBlock;
    bool edge = false;
    for (std::ptrdiff_t k = k0; k < end; ++k) {
      edge |=
          backProjectPoint<kDerivatives>(r, u[k], v[k], Zw[k], &Xw[k], &Yw[k],
                                         kDerivatives ? dXY + 4 * k : nullptr);
    }
    // The edge form gives the plain form's bits where that applies, so a
    // block with an edge point is redone whole.
    for (std::ptrdiff_t k = k0; edge && k < end; ++k) {
      backProjectEdge<kDerivatives>(r, u[k], v[k], Zw[k], &Xw[k], &Yw[k],
                                    kDerivatives ? dXY + 4 * k : nullptr);
    }
  }
}

}  // namespace

void frameToScenePlaneCoord(const CameraParams &params, double u, double v,
                            double Zw, double *X_out, double *Y_out,
                            double *dXY_out) {
  const PlaneRays r = planeRays(params);
  if (dXY_out) {
    walk<true>(r, &u, &v, &Zw, 1, X_out, Y_out, dXY_out);
  } else {
    walk<false>(r, &u, &v, &Zw, 1, X_out, Y_out, nullptr);
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
