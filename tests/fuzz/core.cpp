// Fuzz target for the camera model: random parameters, points and radii.
// Any input: no undefined behaviour, no out-of-bounds access, and the grid
// walks write exactly the present points. Inside the domains where they are
// true of the formulas in floating point, the invariants below hold; a
// violation aborts with the values that broke it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "../tools/quad_reference.hpp"
#include "camera_model.hpp"
#include "derivative_grid.hpp"
#include "frame_derivatives.hpp"
#include "fuzz_input.hpp"

namespace {

using scenemap::CameraParams;
using scenemap::fuzz::Input;

constexpr double kEps = std::numeric_limits<double>::epsilon();

[[noreturn]] void fail(const char *what, double a, double b, double c) {
  std::fprintf(stderr, "invariant broken: %s (%.17g, %.17g, %.17g)\n", what, a,
               b, c);
  std::abort();
}

// Same bit pattern, or both NaN: a NaN's sign and payload are not part of a
// result (the compiler may swap a commutative operation's operands in one
// inlined copy of an expression and not in another).
bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// The distorted radius of the point (ru, 0).
double distortedRadius(double ru, double kappa1) {
  double xd, yd;
  scenemap::undistortedToDistortedSensorCoord(ru, 0, &xd, &yd, kappa1);
  return xd;
}

// Pass-through: without distortion, and at the origin, the sensor map is
// the identity, bit for bit (-0 and NaN included).
void checkPassThrough(Input &in) {
  const double xu = in.raw(), yu = in.raw(), kappa1 = in.raw();
  double xd, yd;
  scenemap::undistortedToDistortedSensorCoord(xu, yu, &xd, &yd, 0.0);
  if (!sameBits(xd, xu) || !sameBits(yd, yu))
    fail("kappa1 == 0 changes the point", xu, yu, 0);
  const double zx = (in.byte() & 1) ? -0.0 : 0.0;
  const double zy = (in.byte() & 1) ? -0.0 : 0.0;
  scenemap::undistortedToDistortedSensorCoord(zx, zy, &xd, &yd, kappa1);
  if (!sameBits(xd, zx) || !sameBits(yd, zy))
    fail("the origin moves", zx, zy, kappa1);
}

// Barrel (kappa1 > 0): the root satisfies the forward cubic to within the
// closed form's conditioning. With kappa1 and ru within 1e-12 .. 1e12
// nothing overflows or underflows. Two cancellations bound the accuracy of
// rd = c1 + c2: for small ru, c1 and c2 cancel to a few ulps of
// s0 = sqrt(1 / (3 * kappa1)); for large ru, s - E loses its leading
// digits, which costs c2, and so rd, a relative 1.5 eps (kappa1 ru^2)^(2/3)
// (ru = 7.1e10 with kappa1 = 1.9e-11 loses 24 bits). The residual of the
// cubic is that error times its slope 1 + 3 kappa1 rd^2.
void checkBarrelRoundTrip(Input &in) {
  const double kappa1 = std::fabs(in.logUniform(1e-12, 1e12, false));
  const double ru = std::fabs(in.logUniform(1e-12, 1e12, true));
  const double rd = distortedRadius(ru, kappa1);
  if (!(rd >= 0) || !std::isfinite(rd))
    fail("barrel radius not finite and non-negative", ru, kappa1, rd);
  const long double k = kappa1, r = rd;
  const long double residual = std::fabs(k * r * r * r + r - ru);
  const long double s0 = std::sqrt(1 / (3 * k));
  const long double err =
      16 * kEps * (s0 + r * (1 + std::pow(k * ru * ru, 2.0L / 3)));
  const long double tol = err * (1 + 3 * k * r * r) + 4 * kEps * ru;
  if (!(residual <= tol)) fail("barrel round trip", ru, kappa1, rd);
}

// Pincushion (kappa1 < 0): |rd| never exceeds the fold radius
// sqrt(-1 / (3 * kappa1)) beyond rounding: the trigonometric branch is
// 2 m sin(theta / 3 - pi / 6) with theta in [pi / 2, pi] and m = rho^(1/3)
// equal to the fold radius in exact arithmetic. For ru far below the fold
// radius its two terms cancel, so rd is accurate to a few ulps of the fold
// radius only and can come out slightly negative (ru = 1.66e-11 with
// kappa1 = -1.89e-44 gives -2^20, against a fold radius of 4.2e21). With
// |kappa1| and ru within 1e-50 .. 1e50 the cubic's coefficients neither
// overflow nor underflow; outside that an infinite or NaN intermediate
// gives NaN, which is documented propagation rather than a bound.
void checkPincushionBound(Input &in) {
  const double kappa1 = -std::fabs(in.logUniform(1e-50, 1e50, false));
  const double ru = std::fabs(in.logUniform(1e-50, 1e50, false));
  const double rd = distortedRadius(ru, kappa1);
  const double fold = std::sqrt(-1 / (kappa1 * 3));
  if (!(std::fabs(rd) <= fold * (1 + 8 * kEps)))
    fail("pincushion radius beyond the fold radius", ru, kappa1, rd);
  if (!(rd >= -8 * kEps * fold))
    fail("pincushion radius negative beyond rounding", ru, kappa1, rd);
}

// Any finite kappa1 and point (bit patterns, so every exponent from the
// subnormals to the largest doubles is as likely): the distorted point
// against the quad-precision solve, to Cardano's accuracy where the solve
// keeps it and to a few units in the last place elsewhere.
void checkAgainstReference(Input &in) {
  const double kappa1 = in.raw(), xu = in.raw();
  const double yu = (in.byte() & 1) ? in.raw() : 0.0;
  if (!std::isfinite(kappa1) || !std::isfinite(xu) || !std::isfinite(yu))
    return;
  double xd, yd;
  scenemap::undistortedToDistortedSensorCoord(xu, yu, &xd, &yd, kappa1);
  const double limit = scenemap_test::cardanoRegime(xu, yu, kappa1)
                           ? scenemap_test::kCardanoLimit
                           : scenemap_test::kScaledLimit;
  const double e = scenemap_test::solveError(xu, yu, kappa1, xd, yd);
  if (!(e <= limit ||
        e <= limit + scenemap_test::roundingAllowance(xu, yu, kappa1)))
    fail("distorted point off the quad solve", xu, yu, kappa1);
}

// Parameters and points: either any bit patterns, or finite values of
// magnitude 0 or 1e-6 .. 1e6 (dx, dy non-zero). In the second case a point
// with zc != 0 has finite u and v: |zc| is at least about 1e-28 when not
// zero (the sum of products of such values is a multiple of their smallest
// ulp), so |xu| stays below about 1e47, the cubic's terms below 1e105 and
// u, v below 1e59. Huge finite inputs can overflow to infinity and are left
// to the raw case, which checks everything but finiteness.
struct Scene {
  CameraParams c;
  bool domain;
  std::int32_t M, N;
  double X[9], Y[9], Z[9];
};

Scene readScene(Input &in) {
  Scene s;
  s.domain = in.pick(2) == 1;
  auto value = [&](bool nonZero) {
    return s.domain ? in.logUniform(1e-6, 1e6, !nonZero) : in.raw();
  };
  CameraParams &c = s.c;
  c.dx = value(true);
  c.dy = value(true);
  c.sx = value(false);
  c.cx = value(false);
  c.cy = value(false);
  c.f = value(false);
  c.kappa1 = value(false);
  for (double &r : c.R) r = value(false);
  for (double &t : c.T) t = value(false);
  s.M = static_cast<std::int32_t>(in.pick(4));
  s.N = static_cast<std::int32_t>(in.pick(4));
  for (int k = 0; k < s.M * s.N; ++k) {
    s.X[k] = value(false);
    s.Y[k] = value(false);
    s.Z[k] = value(false);
  }
  return s;
}

// The grid walks write the present points only, u and v equal the single
// point projection bit for bit, and the derivatives walk gives the same u
// and v.
void checkGrid(const Scene &s) {
  const double sentinel = -1.2345e67;
  const int count = s.M * s.N;
  double u[9], v[9], u2[9], v2[9], d[36];
  for (int k = 0; k < 9; ++k) u[k] = v[k] = u2[k] = v2[k] = sentinel;
  for (double &x : d) x = sentinel;
  scenemap::projectSceneGrid(s.c, s.X, s.Y, s.Z, s.M, s.N, u, v);
  scenemap::projectSceneGridWithDerivatives(s.c, s.X, s.Y, s.Z, s.M, s.N, u2,
                                            v2, d);
  for (int k = 0; k < 9; ++k) {
    const bool present = k < count && s.X[k] != 0;
    if (!present) {
      for (const double *p : {&u[k], &v[k], &u2[k], &v2[k], &d[4 * k],
                              &d[4 * k + 1], &d[4 * k + 2], &d[4 * k + 3]})
        if (!sameBits(*p, sentinel))
          fail("an absent point was written", k, s.X[k < count ? k : 0], *p);
      continue;
    }
    scenemap::FramePoint pt;
    scenemap::sceneToFrameCoord(s.c, s.X[k], s.Y[k], s.Z[k], &pt);
    if (!sameBits(u[k], pt.u) || !sameBits(v[k], pt.v))
      fail("the grid differs from the point", k, u[k], pt.u);
    if (!sameBits(u2[k], u[k]) || !sameBits(v2[k], v[k]))
      fail("the derivatives walk changes u, v", k, u2[k], u[k]);
    double block[4];
    scenemap::frameCoordDerivatives(s.c, pt.xc, pt.yc, pt.zc, block);
    for (int i = 0; i < 4; ++i)
      if (!sameBits(block[i], d[4 * k + i]))
        fail("the pointwise derivatives differ from the walk's", k, block[i],
             d[4 * k + i]);
    if (s.domain && pt.zc != 0 && !(std::isfinite(pt.u) && std::isfinite(pt.v)))
      fail("finite input, zc != 0, non-finite result", pt.zc, pt.u, pt.v);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  Input in(data, size);
  checkPassThrough(in);
  checkBarrelRoundTrip(in);
  checkPincushionBound(in);
  checkAgainstReference(in);
  checkGrid(readScene(in));
  return 0;
}
