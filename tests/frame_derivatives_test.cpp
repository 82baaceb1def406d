#include "frame_derivatives.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "axis_rotation.hpp"
#include "camera_model.hpp"
#include "derivative_grid.hpp"
#include "tools/quad_reference.hpp"

namespace {

using scenemap::CameraParams;
using scenemap::FramePoint;

constexpr double kEps = std::numeric_limits<double>::epsilon();

using scenemap_test::rotation;

// Camera number `which`: 0 looks straight down the world Z axis, 1 and 2 are
// rotated (2 nearly edge-on to the world X-Y plane).
CameraParams camera(double kappa1, int which) {
  CameraParams p{};
  p.dx = 1.1e-2;
  p.dy = 0.9e-2;
  p.sx = 1.05;
  p.cx = 320;
  p.cy = 240;
  p.f = 8;
  p.kappa1 = kappa1;
  p.T[0] = 0.2;
  p.T[1] = -0.1;
  p.T[2] = 5;
  if (which == 0) rotation(0, 0, 1, 0, p.R);
  if (which == 1) rotation(0.3, -0.5, 0.8, 0.7, p.R);
  if (which == 2) rotation(1, 0.2, 0, 1.4, p.R);
  return p;
}

// World point whose camera coordinates are (xc, yc, zc): R^T (c - T).
void worldFromCamera(const CameraParams &p, const double c[3], double w[3]) {
  for (int j = 0; j < 3; ++j) {
    w[j] = 0;
    for (int i = 0; i < 3; ++i) w[j] += p.R[i + 3 * j] * (c[i] - p.T[i]);
  }
}

// Camera coordinates at depth zc and sensor angle phi with kappa1 * ru^2 = t
// (|t| when kappa1 = 0 is taken against a unit coefficient).
void cameraPoint(const CameraParams &p, double t, double zc, double phi,
                 double c[3]) {
  const double k = p.kappa1 == 0 ? 1 : std::fabs(p.kappa1);
  const double ru = std::sqrt(std::fabs(t) / k);
  c[0] = ru * std::cos(phi) * zc / p.f;
  c[1] = ru * std::sin(phi) * zc / p.f;
  c[2] = zc;
}

// Central differences of the projection along world X (col 0) or Y (col 1)
// with step h: slots col (du) and 2 + col (dv) of fd.
void centralDifferences(const CameraParams &p, const double w[3], double h,
                        double fd[4]) {
  for (int col = 0; col < 2; ++col) {
    FramePoint plus, minus;
    double wp[3] = {w[0], w[1], w[2]}, wm[3] = {w[0], w[1], w[2]};
    wp[col] += h;
    wm[col] -= h;
    scenemap::sceneToFrameCoord(p, wp[0], wp[1], wp[2], &plus);
    scenemap::sceneToFrameCoord(p, wm[0], wm[1], wm[2], &minus);
    fd[col] = (plus.u - minus.u) / (wp[col] - wm[col]);
    fd[2 + col] = (plus.v - minus.v) / (wp[col] - wm[col]);
  }
}

// Checks frameCoordDerivatives against central differences of the
// projection along world X and Y.
//
// Step: h = 1e-4 * L, where L = |zc| / (1 + |(a, b)|) is the length over
// which the perspective bends (the depth, shortened for oblique rays; a and
// b are the ray's slopes). A central difference D(h) errs by
//  - truncation c*h^2, with c from the third derivative. Near the fold the
//    distortion bends on a shorter length than L, so c is not predicted but
//    estimated: D(2h) - D(h) = 3*c*h^2 to leading order, so |D(2h) - D(h)|
//    bounds the truncation of D(h) with a factor 3 to spare;
//  - rounding noise(u)/h, with noise(u) a few ulps of |u| times the
//    amplification of the solver: near the axis its two cube roots cancel
//    (by 1/sqrt(3*|kappa1|*ru^2)), far from it s - E loses
//    (|kappa1|*ru^2)^(2/3) of its digits. Ten times that bounds it.
void expectMatchesDifferences(const CameraParams &p, double t, double zc,
                              double phi) {
  double c[3], w[3];
  cameraPoint(p, t, zc, phi, c);
  worldFromCamera(p, c, w);
  FramePoint pt;
  scenemap::sceneToFrameCoord(p, w[0], w[1], w[2], &pt);
  double d[4];
  scenemap::frameCoordDerivatives(p, pt.xc, pt.yc, pt.zc, d);

  const double slope = std::hypot(pt.xc / pt.zc, pt.yc / pt.zc);
  const double h = 1e-4 * std::fabs(pt.zc) / (1 + slope);
  double fd[4], fd2[4];
  centralDifferences(p, w, h, fd);
  centralDifferences(p, w, 2 * h, fd2);

  const double kr = std::fabs(p.kappa1) * (slope * p.f) * (slope * p.f);
  const double amp =
      kr > 0 ? 1 + 1 / std::sqrt(3 * kr) + std::cbrt(kr * kr) : 1;
  const double noise =
      4 * kEps * std::max(std::fabs(pt.u), std::fabs(pt.v)) * amp;
  for (int i = 0; i < 4; ++i) {
    const double tol = std::fabs(fd2[i] - fd[i]) + 10 * noise / h;
    EXPECT_NEAR(d[i], fd[i], tol)
        << "slot " << i << " kappa1=" << p.kappa1 << " t=" << t << " zc=" << zc
        << " phi=" << phi;
  }
}

void expectMatchesDifferencesAround(double kappa1, double t) {
  for (int cam = 0; cam < 3; ++cam) {
    for (double zc : {2.0, 0.4, -3.0}) {  // in front of and behind the camera
      for (double phi : {0.3, 2.0, 4.4}) {
        expectMatchesDifferences(camera(kappa1, cam), t, zc, phi);
      }
    }
  }
}

TEST(FrameCoordDerivatives, MatchDifferencesForPositiveKappa) {
  // Inside the closed form's band, then near the axis and far from it.
  for (double t : {3e-4, 0.05, 1.0, 40.0, 900.0}) {
    expectMatchesDifferencesAround(0.02, t);
  }
  for (double t : {1e-12, 1e-7, 1e-5, 5e3, 1e6, 1e12}) {
    expectMatchesDifferencesAround(0.02, t);
  }
}

TEST(FrameCoordDerivatives, MatchDifferencesWithoutDistortion) {
  for (double t : {1e-8, 0.3, 1e4}) expectMatchesDifferencesAround(0, t);
}

TEST(FrameCoordDerivatives, MatchDifferencesForNegativeKappa) {
  // Three real roots (the fold is at kappa1 * ru^2 = -4/27), then beyond the
  // fold, where the distorted radius is clamped and only its direction moves.
  for (double t : {-1e-10, -1e-3, -0.06, -0.12}) {
    expectMatchesDifferencesAround(-0.02, t);
  }
  for (double t : {-0.2, -3.0, -1e5}) expectMatchesDifferencesAround(-0.02, t);
}

TEST(FrameCoordDerivatives, MatchDifferencesOnTheAxis) {
  for (double k : {0.02, 0.0, -0.02}) expectMatchesDifferencesAround(k, 0);
}

TEST(FrameCoordDerivatives, NonFiniteWhereTheProjectionIs) {
  for (double k : {0.02, 0.0, -0.02}) {
    const CameraParams p = camera(k, 1);
    const double points[][3] = {{0.3, -0.2, 0},
                                {0, 0, 0},
                                {NAN, 0.1, 2},
                                {0.1, NAN, 2},
                                {0.1, 0.1, NAN}};
    for (const auto &c : points) {
      double d[4];
      scenemap::frameCoordDerivatives(p, c[0], c[1], c[2], d);
      EXPECT_FALSE(std::isfinite(d[0]) && std::isfinite(d[1]) &&
                   std::isfinite(d[2]) && std::isfinite(d[3]))
          << "kappa1=" << k << " at (" << c[0] << ", " << c[1] << ", " << c[2]
          << ")";
    }
  }
}

// Relative difference of two blocks: max over slots of |a - b| / max(|b|,
// 1e-6 * m), m the block's largest |b|. The floor keeps a slot that nearly
// cancels, and so carries only an absolute accuracy of the block's scale,
// from dominating.
double blockDifference(const double a[4], const double b[4]) {
  double m = 0, e = 0;
  for (int i = 0; i < 4; ++i) m = std::max(m, std::fabs(b[i]));
  for (int i = 0; i < 4; ++i) {
    e = std::max(e,
                 std::fabs(a[i] - b[i]) / std::max(std::fabs(b[i]), 1e-6 * m));
  }
  return e;
}

TEST(FrameCoordDerivatives, FormsAgreeAcrossTheBandEdges) {
  for (double edge :
       {scenemap::kClosedFormBandLow, scenemap::kClosedFormBandHigh}) {
    for (double side : {1 - 1e-6, 1 + 1e-6}) {
      for (int cam = 0; cam < 3; ++cam) {
        const CameraParams p = camera(0.02, cam);
        for (double zc : {2.0, -3.0}) {
          double c[3];
          cameraPoint(p, edge * side, zc, 1.1, c);
          const double f2 = p.f * p.f;
          const double rho =
              c[0] * c[0] / (zc * zc) * f2 + f2 * (c[1] * c[1] / (zc * zc));
          double closed[4], chain[4], picked[4];
          scenemap::frameCoordDerivativesClosedForm(p, c[0], c[1], zc, closed);
          scenemap::frameCoordDerivativesChainRule(p, c[0], c[1], zc, chain);
          scenemap::frameCoordDerivatives(p, c[0], c[1], zc, picked);
          EXPECT_LT(blockDifference(closed, chain), 1e-10)
              << "edge " << edge << " side " << side;
          // The band test picks the form, bit for bit.
          const bool inside =
              (edge == scenemap::kClosedFormBandLow) == (side > 1);
          EXPECT_EQ(inside, scenemap::closedFormIsAccurate(p.kappa1, rho));
#ifndef SCENEMAP_X87
          EXPECT_EQ(
              0, std::memcmp(picked, inside ? closed : chain, sizeof picked));
#else
          // x87: each compiled copy of a form rounds in its own places, and
          // the closed form magnifies that up to its documented relative
          // error, 1.5e-11, in each copy.
          EXPECT_LT(blockDifference(picked, inside ? closed : chain), 3e-11);
#endif
        }
      }
    }
  }
}

// The closed form transcribed plainly from its formulas, one named quantity
// after another, each evaluated left to right as written.
void transcribedClosedForm(const CameraParams &p, double xc, double yc,
                           double zc, double out[4]) {
  const double *R = p.R;
  const double k = p.kappa1, f = p.f, dx = p.dx, dy = p.dy, sx = p.sx;
  const double third = 0.3333333333333333, twoThirds = 0.6666666666666666;
  const double a = xc / zc;
  const double b = yc / zc;
  const double zc2 = zc * zc;
  const double ax = xc / zc2;
  const double by = yc / zc2;
  const double xc2 = xc * xc;
  const double yc2 = yc * yc;
  const double zc3 = zc2 * zc;
  const double f2 = f * f;
  const double rho = (xc2 / zc2) * f2 + f2 * (yc2 / zc2);
  const double P = std::sqrt(rho);
  const double twoF2 = f2 + f2;
  const double kk = k * k;
  const double D = (0.25 / kk) * rho + 0.037037037037037035 / (k * kk);
  const double s = std::sqrt(D);
  const double E = (0.5 / k) * P;
  const double Q = std::pow(s - E, third) - std::pow(E + s, third);
  const double O = ((1 / dx) * sx) * f;
  const double G = (1 / dy) * f;
  const double Rk = (0.125 / kk) / s;
  const double Uk = (0.25 / k) / P;
  const double V = third / std::pow(s - E, twoThirds);
  const double W = third / std::pow(E + s, twoThirds);
  const double SX = (((twoF2 * R[0]) * ax + (twoF2 * R[1]) * by) -
                     (xc2 * (twoF2 * R[2])) / zc3) -
                    ((twoF2 * R[2]) * yc2) / zc3;
  const double SY = (((twoF2 * R[4]) * by + (twoF2 * R[3]) * ax) -
                     (xc2 * (twoF2 * R[5])) / zc3) -
                    ((twoF2 * R[5]) * yc2) / zc3;
  const double QX = (Rk * SX - Uk * SX) * V - (Uk * SX + Rk * SX) * W;
  const double QY = (Rk * SY - Uk * SY) * V - (Uk * SY + Rk * SY) * W;
  const double r15 = std::pow(rho, 1.5);
  const double HX = ((((0.5 / dx) * sx) * f) / r15) * Q;
  const double HY = (((0.5 / dy) * f) / r15) * Q;
  out[0] = (((((O * R[2]) / P) * Q) * ax - (((O * R[0]) / P) * Q) / zc) -
            ((O / P) * QX) * a) +
           (HX * SX) * a;
  out[1] = (((((O * R[5]) / P) * Q) * ax - (((O * R[3]) / P) * Q) / zc) -
            ((O / P) * QY) * a) +
           (HX * SY) * a;
  out[2] =
      (((SX * HY) * b - (((R[1] * G) / P) * Q) / zc) - (QX * (G / P)) * b) +
      (((R[2] * G) / P) * Q) * by;
  out[3] =
      (((SY * HY) * b - (((R[4] * G) / P) * Q) / zc) - (QY * (G / P)) * b) +
      (((G * R[5]) / P) * Q) * by;
}

TEST(FrameCoordDerivatives, ClosedFormIsBitExactInsideTheBand) {
#ifdef SCENEMAP_X87
  GTEST_SKIP() << "x87: compiled copies differ in bits";
#endif
  // Scale parameters away from round numbers so that reordering any
  // product or quotient shows in the last bits.
  const double scales[][4] = {{1.1e-2, 0.9e-2, 1.05, 8},
                              {3.7e-6, 4.1e-6, 0.9973, 0.0123},
                              {0.7, 1.3, 1.0007, 1234.5}};
  int checked = 0;
  for (double k : {1e-6, 0.02, 3.0}) {
    for (int cam = 0; cam < 3; ++cam) {
      CameraParams p = camera(k, cam);
      p.dx = scales[cam][0];
      p.dy = scales[cam][1];
      p.sx = scales[cam][2];
      p.f = scales[cam][3];
      for (double t : {2.5e-4, 0.01, 1.0, 77.0, 999.0}) {
        for (double zc : {0.7, -2.0}) {
          for (double phi : {0.1, 1.9, 3.3, 5.0}) {
            double c[3];
            cameraPoint(p, t, zc, phi, c);
            double want[4], got[4];
            transcribedClosedForm(p, c[0], c[1], c[2], want);
            scenemap::frameCoordDerivatives(p, c[0], c[1], c[2], got);
            EXPECT_EQ(0, std::memcmp(want, got, sizeof got))
                << "kappa1=" << k << " t=" << t << " zc=" << zc;
            ++checked;
          }
        }
      }
    }
  }
  EXPECT_EQ(360, checked);
}

// The pointwise function and the derivatives walk round alike: the same
// bits for every form (closed form, chain rule from Cardano's solve, from
// the scaled solve, beyond the fold, without distortion, on the axis).
TEST(FrameCoordDerivatives, PointwiseMatchesTheWalkBitForBit) {
  int compared = 0;
  for (double k : {0.02, -0.02, 0.0, 1e-30, -1e-30, 3e250, -3e250}) {
    for (int cam = 0; cam < 3; ++cam) {
      const CameraParams p = camera(k, cam);
      std::vector<double> X, Y, Z;
      for (double t : {0.0, 1e-12, 1e-5, 0.1, 30.0, 5e3, 1e9}) {
        for (double zc : {2.0, -3.0}) {
          double c[3], w[3];
          cameraPoint(p, t * (k < 0 ? -1 : 1), zc, 0.4 + t, c);
          if (k == 0 || std::fabs(k) > 1)
            cameraPoint(camera(1, cam), t, zc, 0.4 + t, c);
          worldFromCamera(p, c, w);
          if (w[0] == 0) continue;
          X.push_back(w[0]);
          Y.push_back(w[1]);
          Z.push_back(w[2]);
        }
      }
      const int n = static_cast<int>(X.size());
      std::vector<double> u(n), v(n), d(4 * n);
      scenemap::projectSceneGridWithDerivatives(
          p, X.data(), Y.data(), Z.data(), n, 1, u.data(), v.data(), d.data());
      for (int i = 0; i < n; ++i) {
        FramePoint pt;
        scenemap::sceneToFrameCoord(p, X[i], Y[i], Z[i], &pt);
        double want[4];
        scenemap::frameCoordDerivatives(p, pt.xc, pt.yc, pt.zc, want);
#ifndef SCENEMAP_X87
        EXPECT_EQ(0, std::memcmp(want, &d[4 * i], sizeof want))
            << "kappa1=" << k << " point " << i;
#else
        // x87: the two copies round in their own places, magnified at most
        // to the closed form's relative error in each (as across the band
        // edges above).
        EXPECT_LT(blockDifference(&d[4 * i], want), 3e-11)
            << "kappa1=" << k << " point " << i;
#endif
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 250);
}

// Where xc * f overflows though xu = (xc * f) / zc is finite, the
// derivatives are those of the finite projection: du/dX = f / zc without
// distortion (to a few eps: the roundings of the chain rule's products), and
// finite with it.
TEST(FrameCoordDerivatives, FiniteWhereThePerspectiveProductOverflows) {
  CameraParams p{};
  p.dx = p.dy = p.sx = 1;
  p.f = 1e10;
  rotation(0, 0, 1, 0, p.R);
  p.T[2] = 1e20;
  for (double k1 : {0.0, 1e-30}) {
    p.kappa1 = k1;
    const double X = 1e300, Y = 1, Z = 0;
    double u, v, d[4];
    scenemap::projectSceneGridWithDerivatives(p, &X, &Y, &Z, 1, 1, &u, &v, d);
    EXPECT_TRUE(std::isfinite(u));
    for (double x : d) EXPECT_TRUE(std::isfinite(x)) << k1;
    if (k1 == 0) {
      EXPECT_NEAR(d[0], 1e-10, 4 * kEps * 1e-10);
    }
  }
}

// The edges of Cardano's range, through every caller of the solve: the
// public solve, sceneToFrameCoord, both walks and the pointwise
// derivatives. With the identity camera at depth 1, u and v are the
// distorted point itself, bit for bit, so every caller must return the
// public solve's bits, and the points on the scaled side must have the
// scaled solve's accuracy (a caller that put them on Cardano's side would
// err by tens of units there).
TEST(SolveEdges, EveryCallerDecidesAlike) {
  CameraParams p{};
  p.dx = p.dy = p.sx = p.f = 1;
  rotation(0, 0, 1, 0, p.R);
  p.T[2] = 1;
  struct Edge {
    double kappa1, t;
  };
  for (const Edge e : {Edge{0.37, 1e-6}, Edge{-0.37, 1e-6}, Edge{0.37, 100}}) {
    p.kappa1 = e.kappa1;
    // The two adjacent radii either side of the edge (ru, 0), then the
    // eight doubles from four below to four above.
    double lo = 0.9 * std::sqrt(e.t / 0.37), hi = 1.1 * std::sqrt(e.t / 0.37);
    const bool loCardano = scenemap_test::cardanoRegime(lo, 0, e.kappa1);
    while (std::nextafter(lo, hi) != hi) {
      const double mid = lo + (hi - lo) / 2;
      (scenemap_test::cardanoRegime(mid, 0, e.kappa1) == loCardano ? lo : hi) =
          mid;
    }
    std::vector<double> X, Y, Z;
    double x = lo;
    for (int i = 0; i < 3; ++i) x = std::nextafter(x, 0.0);
    for (int i = 0; i < 8; ++i, x = std::nextafter(x, INFINITY)) {
      X.push_back(x);
      Y.push_back(0);
      Z.push_back(0);
    }
    const int n = static_cast<int>(X.size());
    std::vector<double> u(n), v(n), gu(n), gv(n), d(4 * n);
    scenemap::projectSceneGrid(p, X.data(), Y.data(), Z.data(), n, 1, u.data(),
                               v.data());
    scenemap::projectSceneGridWithDerivatives(
        p, X.data(), Y.data(), Z.data(), n, 1, gu.data(), gv.data(), d.data());
    int scaledSide = 0;
    for (int i = 0; i < n; ++i) {
      double xd, yd;
      scenemap::undistortedToDistortedSensorCoord(X[i], Y[i], &xd, &yd,
                                                  e.kappa1);
      const bool cardano = scenemap_test::cardanoRegime(X[i], Y[i], e.kappa1);
      scaledSide += !cardano;
      // Cardano's form errs by up to about 30 units this close to |t| =
      // 1e-6 and 12 near t = 100; the scaled solve by at most a few (its
      // bound, kScaledLimit). x87 may put the two points next to the edge
      // on either side (see core_test's continuity test): Cardano's bound.
#ifndef SCENEMAP_X87
      const double limit =
          cardano ? scenemap_test::kCardanoLimit : scenemap_test::kScaledLimit;
#else
      const double limit = scenemap_test::kCardanoLimit;
#endif
      EXPECT_LE(scenemap_test::solveError(X[i], Y[i], e.kappa1, xd, yd), limit)
          << "t edge " << e.t << " kappa1 " << e.kappa1 << " xu " << X[i];
      FramePoint pt;
      scenemap::sceneToFrameCoord(p, X[i], Y[i], Z[i], &pt);
      double block[4];
      scenemap::frameCoordDerivatives(p, pt.xc, pt.yc, pt.zc, block);
#ifndef SCENEMAP_X87
      EXPECT_EQ(pt.u, xd);
      EXPECT_EQ(u[i], xd);
      EXPECT_EQ(gu[i], xd);
      EXPECT_EQ(0, std::memcmp(block, &d[4 * i], sizeof block))
          << "xu " << X[i];
#else
      // x87: compiled copies round in their own places; the x87 build's
      // own checks of the copies hold them to a few units.
      EXPECT_NEAR(u[i], xd, 4 * kEps * xd);
      EXPECT_LT(blockDifference(block, &d[4 * i]), 3e-11);
#endif
    }
#ifndef SCENEMAP_X87
    // Four of the eight points on each side (x87: either side, as above).
    EXPECT_EQ(scaledSide, 4) << e.t;
#endif
  }
}

}  // namespace
