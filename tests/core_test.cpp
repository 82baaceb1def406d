// Camera model core: each branch of the distortion solver and the
// projection's identities.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "camera_model.hpp"
#include "distortion.hpp"
#include "tools/quad_reference.hpp"
#ifdef SCENEMAP_X87
#include "x87_control.hpp"
#endif

namespace scenemap {
namespace {

using scenemap_test::cardanoRegime;
using scenemap_test::kCardanoLimit;
using scenemap_test::kScaledLimit;

constexpr double kEps = std::numeric_limits<double>::epsilon();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Distorted {
  double xd;
  double yd;
  double rd() const { return std::hypot(xd, yd); }
};

Distorted distort(double xu, double yu, double kappa1) {
  Distorted d{};
  undistortedToDistortedSensorCoord(xu, yu, &d.xd, &d.yd, kappa1);
  return d;
}

// Largest undistorted radius a pincushion lens (kappa1 < 0) reaches: the
// value of rd * (1 + kappa1 * rd^2) at the fold rd = sqrt(-1 / (3 kappa1)).
double reachableRadius(double kappa1) {
  return 2.0 / 3.0 * std::sqrt(-1 / (3 * kappa1));
}

// x87 builds evaluate doubles in the unit's wider registers, and each
// compiled copy of a formula rounds where its own values leave the
// registers: two copies agree in the last bits, not in every bit. There the
// comparisons with the transcribed formulas are left out (the modules are
// compared with the SSE2 build's results, within the bound derived in
// linux_reference_test.cpp) and results that are equal elsewhere are
// compared to a few ulps of their size.
#ifdef SCENEMAP_X87
constexpr double kCopiesUlps = 4;
#else
constexpr double kCopiesUlps = 0;
#endif

void expectSameResult(double got, double want) {
  if (kCopiesUlps == 0) {
    EXPECT_EQ(got, want);
  } else {
    EXPECT_NEAR(got, want, kCopiesUlps * kEps * std::fabs(want));
  }
}

CameraParams identityCamera() {
  return CameraParams{1,        1, 1, 0, 0, 1, 0, {1, 0, 0, 0, 1, 0, 0, 0, 1},
                      {0, 0, 1}};
}

TEST(Distortion, PassThroughAtOriginAndWithoutDistortion) {
  for (double k : {0.3, -0.3, 0.0, kNaN}) {
    Distorted d = distort(0, 0, k);
    EXPECT_EQ(d.xd, 0);
    EXPECT_EQ(d.yd, 0);
  }
  // -0.0 counts as zero and is returned as it came, sign included.
  Distorted negZero = distort(-0.0, -0.0, 0.5);
  EXPECT_TRUE(std::signbit(negZero.xd) && std::signbit(negZero.yd));
  for (double xu : {1e-300, -2.5, 7e10}) {
    Distorted d = distort(xu, 0.75, 0.0);
    EXPECT_EQ(d.xd, xu);
    EXPECT_EQ(d.yd, 0.75);
  }
}

TEST(Distortion, NaNDoesNotTakeThePassThrough) {
  for (double k : {0.1, -0.1}) {
    EXPECT_TRUE(std::isnan(distort(kNaN, 0, k).xd));
    EXPECT_TRUE(std::isnan(distort(0, kNaN, k).yd));
    EXPECT_TRUE(std::isnan(distort(1, 1, kNaN).xd));
  }
}

TEST(Distortion, WorkedCases) {
  // kappa1 = 0.01, ru = 2: a little below 1.93.
  const double barrel = distort(2, 0, 0.01).xd;
  EXPECT_GT(barrel, 1.92);
  EXPECT_LT(barrel, 1.93);
  // kappa1 = -0.01, ru = 2: just above 2.09.
  const double pincushion = distort(2, 0, -0.01).xd;
  EXPECT_GT(pincushion, 2.09);
  EXPECT_LT(pincushion, 2.10);
  // kappa1 = -0.01, ru = 5 lies beyond the reachable radius: the fold.
  expectSameResult(distort(5, 0, -0.01).xd, std::sqrt(-1 / (-0.01 * 3)));
}

// The forward map of the returned point gives back the input: one root for
// kappa1 > 0, the three-root branch for kappa1 < 0 below the fold. Both
// closed forms add two terms of size about sqrt(1 / (3 |kappa1|)) that
// cancel down to rd when kappa1 * ru^2 is small, so rd carries a few ulps of
// that size, not of rd; the forward map scales it by at most 3/2 here.
TEST(Distortion, RoundTripOnBothBranches) {
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> unit(-1, 1);
  const int kTrials = 2000;
  for (double kappa1 : {1e-4, 0.02, 0.7, 35.0, -1e-4, -0.02, -0.7, -35.0}) {
    const double limit =
        kappa1 > 0 ? 3 / std::sqrt(kappa1) : 0.9 * reachableRadius(kappa1);
    for (int t = 0; t < kTrials; ++t) {
      const double xu = unit(gen) * limit / std::sqrt(2.0);
      const double yu = unit(gen) * limit / std::sqrt(2.0);
      const Distorted d = distort(xu, yu, kappa1);
      const double scale = 1 + kappa1 * (d.xd * d.xd + d.yd * d.yd);
      const double ru = std::hypot(xu, yu);
      const double term = std::sqrt(1 / (3 * std::fabs(kappa1)));
      const double tol = 16 * kEps * std::max(ru, term);
      EXPECT_NEAR(d.xd * scale, xu, tol) << kappa1;
      EXPECT_NEAR(d.yd * scale, yu, tol) << kappa1;
      if (kappa1 > 0) {
        EXPECT_LT(d.rd(), ru);
      } else {
        EXPECT_GT(d.rd(), ru);
      }
    }
  }
}

// The branch the solve takes for the point (ru, 0).
RadiusBranch branchOf(double ru, double kappa1) {
  const kernel::ExtendedPrecision precision;
  kernel::SolveFront front;
  kernel::Distortion d;
  kernel::solveDistortion(kernel::solverConstants(kappa1), ru, 0, &front, &d);
  return d.branch;
}

TEST(Distortion, BranchSelection) {
  EXPECT_EQ(branchOf(2, 0.01), RadiusBranch::kOneRoot);
  EXPECT_EQ(branchOf(2, -0.01), RadiusBranch::kThreeRoots);
  EXPECT_EQ(branchOf(5, -0.01), RadiusBranch::kFolded);
}

// A zero coordinate keeps its sign in both forms (-0.0 times the scale).
TEST(Distortion, ZeroCoordinateKeepsItsSign) {
  for (double yu : {1e-200, 0.5}) {  // the scaled solve, Cardano's form
    const Distorted d = distort(-0.0, yu, 1);
    EXPECT_EQ(d.xd, 0);
    EXPECT_TRUE(std::signbit(d.xd)) << yu;
  }
}

TEST(Distortion, FoldClampsRadiusAndKeepsDirection) {
  for (double kappa1 : {-0.01, -3.0, -1e6}) {
    const double fold = std::sqrt(-1 / (kappa1 * 3));
    for (double factor : {1.01, 2.0, 1e6}) {
      const double ru = factor * reachableRadius(kappa1);
      const double xu = 0.6 * ru;
      const double yu = -0.8 * ru;
      const Distorted d = distort(xu, yu, kappa1);
      // The scale rd / ru applied to both coordinates: exactly the fold
      // radius up to that one division and product.
      EXPECT_NEAR(d.rd(), fold, 4 * kEps * fold);
      EXPECT_NEAR(d.yd / d.xd, yu / xu, 4 * kEps);
      EXPECT_GT(d.xd, 0);
      EXPECT_LT(d.yd, 0);
    }
  }
}

TEST(Projection, WithoutDistortionIsAffineOfPerspective) {
  CameraParams cam{2e-3,
                   3e-3,
                   1.1,
                   320,
                   240,
                   0.05,
                   0,
                   {0.36, -0.8, 0.48, 0.48, 0.6, 0.64, -0.8, 0, 0.6},
                   {0.1, -0.2, 10}};
  const double X = 0.3, Y = -1.7, Z = 2.5;
  FramePoint pt;
  sceneToFrameCoord(cam, X, Y, Z, &pt);
  const double xc = ((0.36 * X + 0.48 * Y) + -0.8 * Z) + 0.1;
  const double yc = ((-0.8 * X + 0.6 * Y) + 0 * Z) + -0.2;
  const double zc = ((0.48 * X + 0.64 * Y) + 0.6 * Z) + 10;
  EXPECT_EQ(pt.xc, xc);
  EXPECT_EQ(pt.yc, yc);
  EXPECT_EQ(pt.zc, zc);
  EXPECT_EQ(pt.u, (1.1 * ((xc * 0.05) / zc)) / 2e-3 + 320);
  EXPECT_EQ(pt.v, ((yc * 0.05) / zc) / 3e-3 + 240);
}

TEST(Projection, IdentityCameraAndOpticalAxis) {
  CameraParams cam = identityCamera();
  FramePoint pt;
  sceneToFrameCoord(cam, 0.25, -3.5, 0, &pt);
  EXPECT_EQ(pt.u, 0.25);
  EXPECT_EQ(pt.v, -3.5);
  // On the optical axis every kappa1 maps to the principal point.
  cam.cx = 320;
  cam.cy = 240;
  for (double k : {0.0, 0.4, -0.4}) {
    cam.kappa1 = k;
    sceneToFrameCoord(cam, 0, 0, 7, &pt);
    EXPECT_EQ(pt.u, 320);
    EXPECT_EQ(pt.v, 240);
  }
}

TEST(Projection, DepthZeroAndBehindCamera) {
  CameraParams cam = identityCamera();
  cam.kappa1 = 0.1;
  FramePoint pt;
  sceneToFrameCoord(cam, 1, 1, -1, &pt);  // zc = 0
  EXPECT_FALSE(std::isfinite(pt.u));
  sceneToFrameCoord(cam, 1, 0, -3, &pt);  // zc = -2: mirrored, still finite
  EXPECT_TRUE(std::isfinite(pt.u));
  EXPECT_LT(pt.u, 0);
}

// The perspective step where xc * f leaves the double range though
// (xc * f) / zc is an ordinary number: the quotient to the rounding of its
// two operations and of the decimal constants (a few eps), in the pointwise
// projection and the walk alike.
TEST(Projection, PerspectiveBeyondTheRangeOfItsProduct) {
  struct Case {
    double x, f, zc, want;
  };
  for (const Case c :
       {Case{1e300, 1e10, 1e20, 1e290}, Case{1e-300, 1e-30, 1e-30, 1e-300},
        Case{1e-160, 1e-160, 1e-160, 1e-160}}) {
    for (double k1 : {0.0, 1e-30}) {
      CameraParams cam = identityCamera();
      cam.f = c.f;
      cam.kappa1 = k1;
      cam.T[2] = c.zc;
      FramePoint pt;
      sceneToFrameCoord(cam, c.x, 0, 0, &pt);
      double want = c.want, wy;
      undistortedToDistortedSensorCoord(c.want, 0, &want, &wy, k1);
      // The distortion is flat or shrinks errors of xu (rd ~ ru^(1/3)).
      EXPECT_NEAR(pt.u, want, 4 * kEps * want) << c.x << " " << k1;
      EXPECT_EQ(pt.v, 0);
      double u, v;
      const double X = c.x, Y = 0, Z = 0;
      projectSceneGrid(cam, &X, &Y, &Z, 1, 1, &u, &v);
      expectSameResult(u, pt.u);
    }
  }
}

TEST(Grid, SkipsZeroXAndMatchesPointwiseProjection) {
  CameraParams cam = identityCamera();
  cam.kappa1 = -0.05;
  cam.T[2] = 4;
  const std::int32_t M = 3, N = 4;
  std::vector<double> Xw(M * N), Yw(M * N), Zw(M * N);
  for (int k = 0; k < M * N; ++k) {
    Xw[k] = 0.5 * k - 2;  // k = 4 gives 0
    Yw[k] = 1.5 - 0.25 * k;
    Zw[k] = 0.1 * k;
  }
  Xw[7] = -0.0;
  Xw[9] = kNaN;
  std::vector<double> u(M * N, 0), v(M * N, 0);
  projectSceneGrid(cam, Xw.data(), Yw.data(), Zw.data(), M, N, u.data(),
                   v.data());
  for (int k = 0; k < M * N; ++k) {
    if (k == 4 || k == 7) {
      EXPECT_EQ(u[k], 0);
      EXPECT_EQ(v[k], 0);
      continue;
    }
    FramePoint pt;
    sceneToFrameCoord(cam, Xw[k], Yw[k], Zw[k], &pt);
    if (k == 9) {
      EXPECT_TRUE(std::isnan(u[k]) && std::isnan(v[k]));
      continue;
    }
    expectSameResult(u[k], pt.u);
    expectSameResult(v[k], pt.v);
  }
}

// The solver and the projection transcribed plainly, one step after another,
// each expression evaluated left to right as written. The core must give the
// same bits whatever it precomputes, reorders between points or inlines.
void transcribedProjection(const CameraParams &c, double X, double Y, double Z,
                           double *u, double *v, double *xu_out = nullptr,
                           double *yu_out = nullptr) {
  const double *R = c.R;
  const double xc = ((R[0] * X + R[3] * Y) + R[6] * Z) + c.T[0];
  const double yc = ((R[1] * X + R[4] * Y) + R[7] * Z) + c.T[1];
  const double zc = ((R[2] * X + R[5] * Y) + R[8] * Z) + c.T[2];
  const double xu = (xc * c.f) / zc;
  const double yu = (yc * c.f) / zc;
  if (xu_out) *xu_out = xu;
  if (yu_out) *yu_out = yu;
  const double k1 = c.kappa1;
  double xd = xu, yd = yu;
  if (!((xu == 0 && yu == 0) || k1 == 0)) {
    const double third = 0.3333333333333333;
    const double ru = std::sqrt(yu * yu + xu * xu);
    const double p = 1 / k1;
    const double E = ru * p * 0.5;
    const double D = (p / 3) * (p / 3) * (p / 3) + E * E;
    double rd;
    if (D >= 0) {
      const double s = std::sqrt(D);
      const double c1 =
          E + s > 0 ? std::pow(E + s, third) : -std::pow(-E - s, third);
      const double c2 =
          E - s > 0 ? std::pow(E - s, third) : -std::pow(s - E, third);
      rd = c2 + c1;
      if (rd < 0) rd = std::sqrt(-1 / (k1 * 3));
    } else {
      const double y = std::sqrt(-D);
      const double m = std::pow(std::sqrt(y * y + E * E), third);
      const double theta = std::atan2(y, E);
      rd = m * 1.7320508075688772 * std::sin(theta / 3) -
           m * std::cos(theta / 3);
    }
    const double k = rd / ru;
    xd = xu * k;
    yd = k * yu;
  }
  *u = (c.sx * xd) / c.dx + c.cx;
  *v = yd / c.dy + c.cy;
}

// Same bits, or both NaN: a NaN's sign is up to the compiler's choice of
// operand order in commutative operations.
bool sameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

// Elsewhere u and v against the quad-precision solve: the distorted point
// to a few ulps of its radius, then the three roundings of the affine map.
bool nearReference(const CameraParams &c, double xu, double yu, double u,
                   double v) {
  scenemap_test::quad xd, yd;
  scenemap_test::referenceDistortion(xu, yu, c.kappa1, &xd, &yd);
  const double rd =
      static_cast<double>(scenemap_test::qsqrt(xd * xd + yd * yd));
  const double wu = static_cast<double>(c.sx * xd / c.dx + c.cx);
  const double wv = static_cast<double>(yd / c.dy + c.cy);
  const double tolU = 8 * kEps * (std::fabs(c.sx * rd / c.dx) + std::fabs(wu));
  const double tolV = 8 * kEps * (std::fabs(rd / c.dy) + std::fabs(wv));
  return std::fabs(u - wu) <= tolU && std::fabs(v - wv) <= tolV;
}

TEST(Grid, BitIdenticalToTheFormulasOnEveryBranch) {
  if (kCopiesUlps != 0) GTEST_SKIP() << "x87: compiled copies differ in bits";
  std::mt19937_64 gen(11);
  std::uniform_real_distribution<double> unit(-1, 1), decade(-8, 8);
  const double inf = std::numeric_limits<double>::infinity();
  const double odd[] = {0.0, -0.0, kNaN, inf, -inf, 1e-310, 1e300};
  // Both signs of kappa1 over many decades (one root, three roots, the fold
  // and its neighbourhood), no distortion, and non-finite coefficients.
  for (double k1 : {1e-9, 0.02, 7.0, 3e5, -1e-9, -0.02, -7.0, -3e5, 0.0, -0.0,
                    1e-300, -1e-300, 1e300, -1e300, kNaN, inf, -inf}) {
    CameraParams c{1.1e-2, 0.9e-2, 1.05, 320, 240, 8, k1, {}, {0.2, -0.1, 5}};
    for (double &r : c.R) r = unit(gen);
    const std::int32_t M = 97, N = 31;
    std::vector<double> X(M * N), Y(M * N), Z(M * N), u(M * N), v(M * N);
    for (int k = 0; k < M * N; ++k) {
      const double scale = std::pow(10.0, decade(gen));
      X[k] = k % 53 == 0 ? odd[k % 7] : unit(gen) * scale;
      Y[k] = k % 59 == 0 ? odd[k % 7] : unit(gen) * scale;
      Z[k] = k % 61 == 0 ? odd[k % 7] : unit(gen) * scale;
    }
    projectSceneGrid(c, X.data(), Y.data(), Z.data(), M, N, u.data(), v.data());
    int mismatches = 0, literal = 0;
    for (int k = 0; k < M * N; ++k) {
      if (X[k] == 0) continue;
      double wu, wv, xu, yu;
      transcribedProjection(c, X[k], Y[k], Z[k], &wu, &wv, &xu, &yu);
      if (cardanoRegime(xu, yu, k1)) {
        ++literal;
        mismatches += !sameBits(u[k], wu) || !sameBits(v[k], wv);
      } else {
        mismatches += !nearReference(c, xu, yu, u[k], v[k]);
      }
    }
    EXPECT_EQ(mismatches, 0) << "kappa1 = " << k1;
    EXPECT_GT(literal, 0) << "kappa1 = " << k1;
  }
}

// Radii within a few ulps of the largest reachable one, where the solver
// switches between the three-root form and the fold, and far beyond it.
TEST(Distortion, BitIdenticalToTheFormulasAroundTheFold) {
  if (kCopiesUlps != 0) GTEST_SKIP() << "x87: compiled copies differ in bits";
  const CameraParams c{1,        1, 1, 0, 0, 1, 0, {1, 0, 0, 0, 1, 0, 0, 0, 1},
                       {0, 0, 1}};
  int checked = 0;
  for (double k1 :
       {-1e-250, -3e-90, -1e-12, -0.02, -0.7, -35.0, -1e9, -4e88, -1e250}) {
    CameraParams cam = c;
    cam.kappa1 = k1;
    const double reach = reachableRadius(k1);
    for (double factor :
         {1.0, 1 + 1e-15, 1 - 1e-15, 1 + 1e-9, 1 - 1e-9, 3.0, 1e100, 1e-100}) {
      double xu = reach * factor;
      for (int step = 0; step < 8; ++step) {
        xu = std::nextafter(xu, 2 * xu);
        // X = xu, Y = 0.6 xu at depth 1 through the identity camera.
        FramePoint pt;
        sceneToFrameCoord(cam, xu, 0.6 * xu, 0, &pt);
        double wu, wv, x, y;
        transcribedProjection(cam, xu, 0.6 * xu, 0, &wu, &wv, &x, &y);
        EXPECT_TRUE(cardanoRegime(x, y, k1)
                        ? sameBits(pt.u, wu) && sameBits(pt.v, wv)
                        : nearReference(cam, x, y, pt.u, pt.v))
            << "kappa1 = " << k1 << " factor " << factor;
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 9 * 8 * 8);
}

// Error of the distorted point against the quad-precision solve.
double solveError(double xu, double yu, double k1) {
  double xd, yd;
  undistortedToDistortedSensorCoord(xu, yu, &xd, &yd, k1);
  return scenemap_test::solveError(xu, yu, k1, xd, yd);
}

// Any finite magnitude, evenly in the exponent.
double anyMagnitude(std::mt19937_64 &gen) {
  std::uniform_real_distribution<double> unit(0, 1);
  const double m = 0.5 + 0.5 * unit(gen);
  return std::ldexp(m, -1074 + static_cast<int>(2098 * unit(gen)));
}

TEST(Distortion, AccurateForEveryFiniteInput) {
  std::mt19937_64 gen(3);
  std::uniform_real_distribution<double> unit(0, 1);
  double worst[2] = {0, 0};  // scaled solve, Cardano's form
  for (int i = 0; i < 300000; ++i) {
    const double k1 = (i & 1 ? -1 : 1) * anyMagnitude(gen);
    const double xu = (i & 2 ? -1 : 1) * anyMagnitude(gen);
    double yu = 0;
    if (i % 3 == 1) yu = std::ldexp(xu, static_cast<int>(60 * unit(gen)) - 30);
    if (i % 3 == 2) yu = -anyMagnitude(gen);
    if (!std::isfinite(k1) || !std::isfinite(xu) || !std::isfinite(yu))
      continue;
    const double e = solveError(xu, yu, k1);
    const bool cardano = cardanoRegime(xu, yu, k1);
    const double limit = cardano ? kCardanoLimit : kScaledLimit;
    ASSERT_TRUE(e <= limit ||
                e <= limit + scenemap_test::roundingAllowance(xu, yu, k1))
        << "error " << e << " at xu=" << xu << " yu=" << yu << " kappa1=" << k1;
    worst[cardano] = std::fmax(worst[cardano], e);
  }
  std::printf("worst error (eps * rd): scaled solve %.3g, Cardano %.3g\n",
              worst[0], worst[1]);
}

#ifdef SCENEMAP_X87
// The solve runs with the x87 unit's 64-bit significand whatever the
// caller's precision control (the math library's cube roots need it: with
// 53 bits this point erred by 4259 units), and hands the caller's control
// word back.
TEST(Distortion, IndependentOfTheCallersX87Precision) {
  const std::uint16_t saved = scenemap_test::controlWord();
  double xd[2], yd[2];
  for (int pc : {2, 3}) {
    const auto cw = static_cast<std::uint16_t>(
        (saved & ~scenemap_test::kPrecisionMask) | pc << 8);
    scenemap_test::setControlWord(cw);
    undistortedToDistortedSensorCoord(1.166732664261747e-39, -2e-126,
                                      &xd[pc - 2], &yd[pc - 2], 9.37563e+71);
    EXPECT_EQ(scenemap_test::controlWord(), cw);
  }
  scenemap_test::setControlWord(saved);
  EXPECT_EQ(xd[0], xd[1]);
  EXPECT_EQ(yd[0], yd[1]);
}
#endif

// Across each edge of Cardano's range the two sides agree to the error of
// Cardano's form there (which the scaled side does not have) plus a few
// units. param(x) gives the point for a parameter x; lo and hi lie on either
// side and are bisected to adjacent doubles.
template <class Param>
void expectContinuous(Param param, double lo, double hi, double cardanoError) {
  double xu, yu, k1;
  param(lo, &xu, &yu, &k1);
  const bool loSide = cardanoRegime(xu, yu, k1);
  param(hi, &xu, &yu, &k1);
  ASSERT_NE(loSide, cardanoRegime(xu, yu, k1)) << lo << " " << hi;
  while (std::nextafter(lo, hi) != hi) {
    const double mid = lo + (hi - lo) / 2;
    param(mid, &xu, &yu, &k1);
    (cardanoRegime(xu, yu, k1) == loSide ? lo : hi) = mid;
  }
  // x87: squares and products are rounded to the register's significand
  // before the double's, so r2 and t = kappa1 * r2 may each differ by an ulp
  // from the test's, and the two points next to the edge may take either
  // form. Both are then held to Cardano's bound, the larger.
  const double scaledBound = kCopiesUlps != 0 ? cardanoError : kScaledLimit;
  double a[2], b[2], x, y;
  param(lo, &xu, &yu, &k1);
  EXPECT_LE(solveError(xu, yu, k1), loSide ? cardanoError : scaledBound);
  undistortedToDistortedSensorCoord(xu, yu, &a[0], &a[1], k1);
  param(hi, &x, &y, &k1);
  EXPECT_LE(solveError(x, y, k1), loSide ? scaledBound : cardanoError);
  undistortedToDistortedSensorCoord(x, y, &b[0], &b[1], k1);
  const double rd = std::hypot(a[0], a[1]);
  const double tol = (cardanoError + kScaledLimit + 4) * kEps * rd;
  EXPECT_NEAR(a[0], b[0], tol) << "at " << lo;
  EXPECT_NEAR(a[1], b[1], tol) << "at " << lo;
}

TEST(Distortion, ContinuousAcrossTheEdgesOfCardanosRange) {
  // |t| = 1e-6 and t = 100 by the radius, for both signs of kappa1.
  for (double k1 : {0.37, -0.37}) {
    auto byRadius = [k1](double ru, double *xu, double *yu, double *k) {
      *xu = 0.8 * ru;
      *yu = -0.6 * ru;
      *k = k1;
    };
    const double edge = std::sqrt(1e-6 / 0.37);
    expectContinuous(byRadius, 0.9 * edge, 1.1 * edge, kCardanoLimit);
    if (k1 > 0) {
      const double top = std::sqrt(100 / 0.37);
      expectContinuous(byRadius, 0.9 * top, 1.1 * top, 64);
    }
  }
  // Small and large kappa1 at a fixed t: E^2 (E = ru / (2 kappa1)), (p/3)^3
  // or D = (p/3)^3 + E^2 leaves the normal numbers, whichever comes first.
  for (double t : {3e-3, 0.5, -0.1}) {
    auto byKappa = [t](double k, double *xu, double *yu, double *k1) {
      *xu = std::sqrt(std::fabs(t) / k);
      *yu = 0.25 * *xu;
      *k1 = t < 0 ? -k : k;
    };
    const double r = 1.0625 * std::fabs(t);  // kappa1 * ru^2 for kappa1 = 1
    const double low =
        std::fmax(std::cbrt(r / 4 / DBL_MAX), 1 / (3 * std::cbrt(DBL_MAX)));
    const double high =
        std::fmin(std::cbrt(r / (4 * DBL_MIN)), 1 / (3 * std::cbrt(DBL_MIN)));
    expectContinuous(byKappa, low / 1.1, low * 1.1, 64);
    expectContinuous(byKappa, high / 1.1, high * 1.1, 64);
  }
}

// A calibration starting from kappa1 = 0 differentiates u and v in kappa1
// by central differences; they must approach the exact derivative
// -(sx*xu/dx, yu/dy) * ru^2 up to the rounding of u and v (a few ulps over
// the step).
TEST(Distortion, CalibrationDifferencesAtZeroKappa) {
  CameraParams c{1e-5,     1e-5,  1, 320,
                 240,      0.008, 0, {1, 0, 0, 0, 1, 0, 0, 0, 1},
                 {0, 0, 1}};
  const double X = 0.1, Y = 0.05;
  const double xu = X * 0.008, yu = Y * 0.008, ru2 = xu * xu + yu * yu;
  const double exact[2] = {-(xu / 1e-5) * ru2, -(yu / 1e-5) * ru2};
  for (double step : {1e-4, 1e-6, 1e-8}) {
    FramePoint plus, minus;
    c.kappa1 = step;
    sceneToFrameCoord(c, X, Y, 0, &plus);
    c.kappa1 = -step;
    sceneToFrameCoord(c, X, Y, 0, &minus);
    const double got[2] = {(plus.u - minus.u) / (2 * step),
                           (plus.v - minus.v) / (2 * step)};
    for (int i = 0; i < 2; ++i) {
      const double noise = 4 * kEps * (i ? plus.v : plus.u) / step;
      EXPECT_NEAR(got[i], exact[i], 0.01 * std::fabs(exact[i]) + noise)
          << "step " << step;
    }
  }
}

// A grid of more than 2^31 points, backed by pages that are mapped lazily
// and read as zeros (absent points), with one present point past linear
// index 2^31: the walk must index in 64 bits to reach it.
TEST(Grid, ReachesPointsPastTwoToThe31) {
  if (sizeof(void *) < 8) {
    GTEST_SKIP() << "a 32-bit address space cannot hold 2^31 doubles";
  }
  const std::int32_t M = 65536, N = 32769;
  const std::size_t count = static_cast<std::size_t>(M) * N;
  const std::size_t bytes = count * sizeof(double);
  void *maps[3];
  for (void *&m : maps) {
    m = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(m, MAP_FAILED);
  }
  double *w = static_cast<double *>(maps[0]);
  double *u = static_cast<double *>(maps[1]);
  double *v = static_cast<double *>(maps[2]);
  const std::size_t k = count - 3;  // 2^31 + 65533
  w[k] = 0.5;                       // X = Y = Z = 0.5 (one array for all three)
  CameraParams cam = identityCamera();
  cam.kappa1 = 0.1;
  projectSceneGrid(cam, w, w, w, M, N, u, v);
  FramePoint pt;
  sceneToFrameCoord(cam, 0.5, 0.5, 0.5, &pt);
  EXPECT_EQ(u[k], pt.u);
  EXPECT_EQ(v[k], pt.v);
  EXPECT_EQ(u[k - M], 0);
  for (void *m : maps) munmap(m, bytes);
}

TEST(Grid, EmptyGridsTouchNothing) {
  CameraParams cam = identityCamera();
  double x[1] = {1}, u[1] = {-7}, v[1] = {-7};
  for (std::int32_t M : {0, -1, 1}) {
    const std::int32_t N = M == 1 ? 0 : 1;
    projectSceneGrid(cam, x, x, x, M, N, u, v);
    EXPECT_EQ(u[0], -7);
    EXPECT_EQ(v[0], -7);
  }
  // With no points the arrays are never read.
  projectSceneGrid(cam, nullptr, nullptr, nullptr, 0, 5, nullptr, nullptr);
}

}  // namespace
}  // namespace scenemap
