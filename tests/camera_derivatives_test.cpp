// The derivatives by the camera's parameters (dCam of the derivative walk)
// against central differences, with one Richardson step, of the projection
// evaluated in quad precision (its distortion solved by Newton's method,
// quad_reference.hpp), in every regime of the distortion solve; and the
// identities of the layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "axis_rotation.hpp"
#include "camera_model.hpp"
#include "derivative_grid.hpp"
#include "tools/quad_reference.hpp"

namespace {

using scenemap::CameraParams;
using scenemap_test::qabs;
using scenemap_test::qsqrt;
using scenemap_test::quad;

constexpr int kParams = 19;

// The parameters in dCam's order.
void toArray(const CameraParams &c, quad p[kParams]) {
  const double s[7] = {c.dx, c.dy, c.sx, c.cx, c.cy, c.f, c.kappa1};
  for (int i = 0; i < 7; ++i) p[i] = s[i];
  for (int i = 0; i < 9; ++i) p[7 + i] = c.R[i];
  for (int i = 0; i < 3; ++i) p[16 + i] = c.T[i];
}

// The projection in quad precision less the principal point (u - cx,
// v - cy, so that the differences resolve changes far smaller than cx): the
// model's formulas, the root h of h + t h^3 = 1 (or beyond the fold the
// fold radius over ru).
void projectQuad(const quad p[kParams], const double w[3], quad *u, quad *v) {
  const quad *R = p + 7;
  const quad *T = p + 16;
  const quad X = w[0], Y = w[1], Z = w[2];
  const quad xc = R[0] * X + R[3] * Y + R[6] * Z + T[0];
  const quad yc = R[1] * X + R[4] * Y + R[7] * Z + T[1];
  const quad zc = R[2] * X + R[5] * Y + R[8] * Z + T[2];
  const quad xu = p[5] * xc / zc, yu = p[5] * yc / zc;
  const quad t = p[6] * (xu * xu + yu * yu);
  const quad h = t == 0 ? quad(1) : scenemap_test::modelH(t);
  *u = p[2] * (xu * h) / p[0];
  *v = (yu * h) / p[1];
}

// d(u, v)/dp_j: D(d) = (F(p + d) - F(p - d)) / (2d) and one Richardson step,
// (4 D(d/2) - D(d)) / 3, whose error is O(d^4): with d = 1e-6 of the
// parameter's scale it is about 1e-24 relative, far below quad rounding
// divided by d (1e-28).
void referenceColumn(const CameraParams &c, const double w[3], int j, quad step,
                     quad *du, quad *dv) {
  quad p[kParams];
  toArray(c, p);
  auto diff = [&](quad d, quad *a, quad *b) {
    quad q[kParams];
    std::memcpy(q, p, sizeof q);
    quad up, vp, um, vm;
    q[j] = p[j] + d;
    projectQuad(q, w, &up, &vp);
    q[j] = p[j] - d;
    projectQuad(q, w, &um, &vm);
    *a = (up - um) / (2 * d);
    *b = (vp - vm) / (2 * d);
  };
  quad a1, b1, a2, b2;
  diff(step, &a1, &b1);
  diff(step / 2, &a2, &b2);
  *du = (4 * a2 - a1) / 3;
  *dv = (4 * b2 - b1) / 3;
}

// The walk on one point: u, v, dUV and dCam.
struct Walked {
  double u, v, dUV[4], dCam[2 * kParams];
};

Walked walk(const CameraParams &c, const double w[3]) {
  Walked r;
  scenemap::projectSceneGridWithDerivatives(c, &w[0], &w[1], &w[2], 1, 1, &r.u,
                                            &r.v, r.dUV, r.dCam);
  return r;
}

// Worst error over the parameters, each normwise over its (du, dv):
// |(du, dv) - reference| / |reference|; a column whose reference is zero
// must be zero. Steps: 1e-6 of the parameter, of 1 for R, of the depth for
// T, of the image size (1) for cx and cy; for kappa1 1e-6 of a coefficient
// that moves t = kappa1 ru^2 by one (or of kappa1, if smaller), so that no
// step crosses the fold.
double worstError(const CameraParams &c, const double w[3], std::string *what) {
  const Walked got = walk(c, w);
  scenemap::FramePoint pt;
  scenemap::sceneToFrameCoord(c, w[0], w[1], w[2], &pt);
  const double xu = pt.xc * c.f / pt.zc, yu = pt.yc * c.f / pt.zc;
  const double r2 = xu * xu + yu * yu;
  quad p0[kParams], uo, vo;
  toArray(c, p0);
  projectQuad(p0, w, &uo, &vo);
  double worst = 0;
  for (int j = 0; j < kParams; ++j) {
    quad scale = 1;
    if (j < 3 || j == 5) scale = std::fabs((&c.dx)[j]);
    if (j == 6) {
      scale = r2 > 0 ? 1 / quad(r2) : quad(1);
      if (c.kappa1 != 0 && std::fabs(c.kappa1) < scale)
        scale = std::fabs(c.kappa1);
    }
    // R and T move the camera-frame point by at most 1e-6 of its length
    // scale L: its depth, its distance from the axis and the distance at
    // which the distortion bends (t = 1), whichever is smallest.
    const double off = std::hypot(pt.xc, pt.yc);
    double L = std::fabs(pt.zc);
    if (off > 0) L = std::fmin(L, off);
    if (c.kappa1 != 0)
      L = std::fmin(L, std::fabs(pt.zc) /
                           (std::fabs(c.f) * std::sqrt(std::fabs(c.kappa1))));
    if (j >= 7 && j < 16) scale = std::fmin(1, L / std::fabs(w[(j - 7) / 3]));
    if (j >= 16) scale = L;
    quad du = j == 3, dv = j == 4;  // the principal point: exactly
    if (j != 3 && j != 4) {
      referenceColumn(c, w, j, scale * quad(1e-6), &du, &dv);
    }
    const quad eu = got.dCam[j] - du, ev = got.dCam[kParams + j] - dv;
    const quad norm = qsqrt(du * du + dv * dv);
    const quad err = qsqrt(eu * eu + ev * ev);
    // Where the derivative is zero (beyond the fold, on the axis) the
    // differences keep quad rounding: about 1e-34 |u - cx| / step, well
    // below this floor.
    const quad floor = 1e-28 * (qabs(uo) + qabs(vo)) / (scale * 1e-6);
    // A derivative outside the normal range of doubles has no answer to
    // hold to 1e-9: above it is infinite, below it no longer has 53 bits.
    if (!(norm <= quad(DBL_MAX)) || (norm < quad(DBL_MIN) && norm > 0))
      continue;
    const double e = err <= floor ? 0.0
                     : norm == 0  ? INFINITY
                                  : static_cast<double>(err / norm);
    if (!(e <= worst)) {
      worst = e;
      *what = "parameter " + std::to_string(j);
    }
  }
  return worst;
}

// World point whose camera coordinates are c: R^T (c - T).
void worldFromCamera(const CameraParams &p, const double c[3], double w[3]) {
  for (int j = 0; j < 3; ++j) {
    w[j] = 0;
    for (int i = 0; i < 3; ++i) w[j] += p.R[i + 3 * j] * (c[i] - p.T[i]);
  }
}

// A camera in metres (pixels of 5 um, f = 8 mm) or millimetres.
CameraParams camera(bool mm, double kappa1, std::mt19937_64 &gen) {
  std::uniform_real_distribution<double> unit(-1, 1);
  const double s = mm ? 1e3 : 1;
  CameraParams p{};
  p.dx = 5e-6 * s * (1 + 0.2 * unit(gen));
  p.dy = 5e-6 * s * (1 + 0.2 * unit(gen));
  p.sx = 1 + 0.05 * unit(gen);
  p.cx = 320 + 20 * unit(gen);
  p.cy = 240 + 20 * unit(gen);
  p.f = 8e-3 * s * (1 + 0.3 * unit(gen));
  p.kappa1 = kappa1;
  scenemap_test::rotation(unit(gen), unit(gen), unit(gen), 0.8 * unit(gen),
                          p.R);
  p.T[0] = 0.1 * s * unit(gen);
  p.T[1] = 0.1 * s * unit(gen);
  p.T[2] = s * (1.5 + 0.5 * unit(gen));
  return p;
}

// The tolerance asked of every parameter: 1e-9 normwise. Cardano's root
// errs by up to 1.6e-13 relative and the products by a few ulps, so a fault
// that drops or misplaces a term shows far above it.
constexpr double kLimit = 1e-9;

TEST(CameraDerivatives, MatchDifferencesOverRandomCameras) {
  std::mt19937_64 gen(19);
  std::uniform_real_distribution<double> unit(-1, 1);
  int checked = 0;
  for (int trial = 0; trial < 200; ++trial) {
    const bool mm = trial % 2;
    // t = kappa1 ru^2 up to about +-0.5 at the image corners (ru ~ 2.5 mm).
    const double k = (trial % 4 < 2 ? 1 : -1) * std::pow(10.0, 4 * unit(gen)) *
                     (mm ? 1e-2 : 1e4);
    const CameraParams p = camera(mm, k, gen);
    const double s = mm ? 1e3 : 1;
    const double c[3] = {0.4 * s * unit(gen), 0.3 * s * unit(gen),
                         s * (1 + 0.5 * unit(gen))};
    double w[3];
    worldFromCamera(p, c, w);
    // Keep clear of the fold, where the derivatives grow without bound.
    const double xu = c[0] * p.f / c[2], yu = c[1] * p.f / c[2];
    if (std::fabs(k * (xu * xu + yu * yu) / (-4.0 / 27) - 1) < 1e-2) continue;
    std::string what;
    EXPECT_LE(worstError(p, w, &what), kLimit)
        << what << " trial " << trial << " kappa1 " << k;
    ++checked;
  }
  EXPECT_GT(checked, 190);
}

// Points with t = kappa1 ru^2 at a target, from a camera rotated about its
// axis only, so that a point near the axis is not the small difference of
// large world coordinates; T scales with the point (scale), so that extreme
// coordinates keep their digits.
void expectRegime(double kappa1, double t, double f, double scale,
                  const char *name) {
  for (int which = 0; which < 3; ++which) {
    CameraParams p{};
    p.dx = 1.1e-5;
    p.dy = 0.9e-5;
    p.sx = 1.03;
    p.cx = 320;
    p.cy = 240;
    p.f = f;
    p.kappa1 = kappa1;
    scenemap_test::rotation(0, 0, 1, 0.4 + which, p.R);
    p.T[0] = 0;
    p.T[1] = 0;
    p.T[2] = 0.5 * scale;
    const double k = kappa1 == 0 ? 1 : std::fabs(kappa1);
    const double ru = std::sqrt(std::fabs(t) / k);
    const double phi = 0.3 + 2.1 * which;
    const double zc = scale * (1 + 0.3 * which);
    const double c[3] = {ru * std::cos(phi) * zc / f,
                         ru * std::sin(phi) * zc / f, zc};
    double w[3];
    worldFromCamera(p, c, w);
    std::string what;
    EXPECT_LE(worstError(p, w, &what), kLimit)
        << name << ": " << what << " kappa1 " << kappa1 << " t " << t;
  }
}

TEST(CameraDerivatives, MatchDifferencesInEveryRegime) {
  // Cardano's form, inside and outside the closed form's band of dUV.
  for (double t : {1e-5, 1e-3, 0.5, 30.0})
    expectRegime(2e4, t, 8e-3, 1, "one root");
  for (double t : {-1e-5, -0.01, -0.14})
    expectRegime(-2e4, t, 8e-3, 1, "three roots");
  // Beyond the fold: rd clamped to sqrt(-1/(3 kappa1)).
  for (double t : {-0.16, -5.0, -1e6})
    expectRegime(-2e4, t, 8e-3, 1, "beyond the fold");
  // The scaled solve: small t (tiny kappa1, or near the axis), large t.
  for (double t : {1e-30, 1e-9}) expectRegime(1e-20, t, 8e-3, 1, "tiny kappa1");
  for (double t : {-1e-30, -1e-9})
    expectRegime(-1e-20, t, 8e-3, 1, "tiny kappa1 < 0");
  expectRegime(2e4, 1e-12, 8e-3, 1, "near the axis");
  for (double t : {500.0, 1e8, 1e20}) expectRegime(2e4, t, 8e-3, 1, "large t");
  // Huge kappa1 with tiny radii, and extreme coordinates: E and (p/3)^3
  // leave the range of doubles.
  for (double t : {1e-3, 1.0, -0.05, -3.0}) {
    expectRegime(t > 0 ? 3e250 : -3e250, t, 1, 1, "huge kappa1");
    expectRegime(t > 0 ? 1e-290 : -1e-290, t, 1, 1e-150,
                 "tiny kappa1, huge radius");
    expectRegime(t > 0 ? 2e4 : -2e4, t, 8e-3, 1e150, "huge coordinates");
    expectRegime(t > 0 ? 2e4 : -2e4, t, 8e-3, 1e-150, "tiny coordinates");
  }
  // kappa1 = 0, where du/dkappa1 = -(sx/dx) xu ru^2.
  for (double t : {1e-8, 0.3, 1e4}) expectRegime(0, t, 8e-3, 1, "kappa1 = 0");
  // Extreme camera scales: the products in mantissas and powers of two.
  for (double f : {1e-45, 1e45})
    expectRegime(1e-6 / (f * f), 0.2, f, 1, "extreme f");
}

TEST(CameraDerivatives, OnTheOpticalAxis) {
  std::mt19937_64 gen(5);
  // Rotations with entries 0 and +-1 (the identity, a quarter turn about z,
  // one about x), so that R w + T is exact also in the reference and the
  // point lies exactly on the axis there too.
  const double rotations[3][9] = {{1, 0, 0, 0, 1, 0, 0, 0, 1},
                                  {0, 1, 0, -1, 0, 0, 0, 0, 1},
                                  {1, 0, 0, 0, 0, 1, 0, -1, 0}};
  for (double k : {2e4, 0.0, -2e4}) {
    for (int trial = 0; trial < 6; ++trial) {
      CameraParams p = camera(trial % 2, k, gen);
      std::memcpy(p.R, rotations[trial % 3], sizeof p.R);
      const double w[3] = {0.25, -0.5, 0.375};
      const double *R = p.R;
      p.T[0] = -((R[0] * w[0] + R[3] * w[1]) + R[6] * w[2]);
      p.T[1] = -((R[1] * w[0] + R[4] * w[1]) + R[7] * w[2]);
      std::string what;
      EXPECT_LE(worstError(p, w, &what), kLimit) << what << " kappa1 " << k;
    }
  }
}

TEST(CameraDerivatives, ExactEntriesAndIdentities) {
  std::mt19937_64 gen(7);
  std::uniform_real_distribution<double> unit(-1, 1);
  for (int trial = 0; trial < 40; ++trial) {
    const double k = trial % 3 == 0 ? 0 : (trial % 2 ? 1 : -1) * 1e4;
    const CameraParams p = camera(trial % 2, k, gen);
    const double s = trial % 2 ? 1e3 : 1;
    const double c[3] = {0.5 * s * unit(gen), 0.5 * s * unit(gen), s};
    double w[3];
    worldFromCamera(p, c, w);
    const Walked r = walk(p, w);
    const double *du = r.dCam, *dv = r.dCam + kParams;
    // du/dcx = dv/dcy = 1; du/dcy = dv/dcx = dv/dsx = du/ddy = dv/ddx = 0.
    EXPECT_EQ(du[3], 1.0);
    EXPECT_EQ(dv[4], 1.0);
    EXPECT_EQ(du[4], 0.0);
    EXPECT_EQ(dv[3], 0.0);
    EXPECT_EQ(dv[2], 0.0);
    EXPECT_EQ(du[1], 0.0);
    EXPECT_EQ(dv[0], 0.0);
    for (int i = 0; i < 2; ++i) {
      const double *d = r.dCam + kParams * i;
      // P = R X + T: d/dR(r, c) = X_c d/dT_r, one product, so exactly
      // (x87 builds multiply the T row before it is rounded to a double:
      // within one rounding of each).
      for (int col = 0; col < 3; ++col)
        for (int row = 0; row < 3; ++row) {
#ifndef SCENEMAP_X87
          EXPECT_EQ(d[7 + row + 3 * col], w[col] * d[16 + row]);
#else
          EXPECT_NEAR(d[7 + row + 3 * col], w[col] * d[16 + row],
                      2 * 2.2e-16 * std::fabs(w[col] * d[16 + row]));
#endif
        }
      // dUV's X row is R(:, 1)' times the T rows, its Y row R(:, 2)': to
      // rounding, dUV coming from its own (closed) form. Three terms of
      // the block's size: 1e-12 of it leaves room for the closed form's
      // documented 1.5e-11 only relative to the block, so compare there.
      for (int col = 0; col < 2; ++col) {
        const double viaT = p.R[3 * col] * d[16] + p.R[3 * col + 1] * d[17] +
                            p.R[3 * col + 2] * d[18];
        const double block = r.dUV[2 * i + col];
        const double size =
            std::fabs(d[16]) + std::fabs(d[17]) + std::fabs(d[18]);
        EXPECT_NEAR(viaT, block, 1e-10 * size) << "trial " << trial;
      }
    }
  }
}

TEST(CameraDerivatives, AbsentPointsAndOtherOutputsUnchanged) {
  std::mt19937_64 gen(3);
  const CameraParams p = camera(false, 1e4, gen);
  const double X[3] = {0.1, 0, -0.2}, Y[3] = {0.05, 0.3, 0.1},
               Z[3] = {0, 0.1, 0.02};
  double u[3] = {}, v[3] = {}, d[12] = {}, u3[3] = {}, v3[3] = {}, d3[12] = {};
  std::vector<double> cam(3 * 2 * kParams, 0.0);
  scenemap::projectSceneGridWithDerivatives(p, X, Y, Z, 3, 1, u, v, d,
                                            cam.data());
  scenemap::projectSceneGridWithDerivatives(p, X, Y, Z, 3, 1, u3, v3, d3);
  EXPECT_EQ(0, std::memcmp(u, u3, sizeof u));
  EXPECT_EQ(0, std::memcmp(v, v3, sizeof v));
  EXPECT_EQ(0, std::memcmp(d, d3, sizeof d));
  for (int j = 0; j < 2 * kParams; ++j) EXPECT_EQ(cam[2 * kParams + j], 0.0);
  // dCam alone: the same block.
  std::vector<double> alone(3 * 2 * kParams, 0.0);
  scenemap::projectSceneGridWithDerivatives(p, X, Y, Z, 3, 1, u3, v3, nullptr,
                                            alone.data());
  EXPECT_EQ(0, std::memcmp(cam.data(), alone.data(), 8 * cam.size()));
}

// A grid large enough for the walk to stream its blocks past the caches,
// with dCam 16-byte aligned (streamed) and 8 bytes off (stored as usual):
// each block the bits that the point gives alone in a one-point grid, the
// blocks of absent points untouched.
TEST(CameraDerivatives, LargeGridsAlignedOrNot) {
  std::mt19937_64 gen(11);
  std::uniform_real_distribution<double> unit(-1, 1);
  const int side = 512;  // 2^18 points: as many as the walk streams at least
  const std::size_t n = static_cast<std::size_t>(side) * side;
  const int distinct = 101;
  std::vector<double> X(n), Y(n), Z(n);
  for (int kappaSign : {1, -1}) {
    const CameraParams p = camera(false, kappaSign * 2e4, gen);
    std::vector<double> ref(distinct * 2 * kParams);
    for (int i = 0; i < distinct; ++i) {
      // Every branch of the solve, and huge and tiny coordinates.
      const double scale = i % 17 == 5 ? 1e150 : i % 17 == 9 ? 1e-150 : 1;
      X[i] = scale * unit(gen);
      Y[i] = scale * unit(gen);
      Z[i] = scale * 0.5 * unit(gen);
      double u, v, d[4];
      scenemap::projectSceneGridWithDerivatives(
          p, &X[i], &Y[i], &Z[i], 1, 1, &u, &v, d, &ref[i * 2 * kParams]);
    }
    for (std::size_t k = distinct; k < n; ++k) {
      X[k] = k % 13 == 0 ? 0 : X[k % distinct];  // every 13th absent
      Y[k] = Y[k % distinct];
      Z[k] = Z[k % distinct];
    }
    std::vector<double> u(n), v(n), storage(n * 2 * kParams + 2);
    const bool aligned16 =
        reinterpret_cast<std::uintptr_t>(storage.data()) % 16 == 0;
    for (int offset : {0, 1}) {
      double *cam = storage.data() + (aligned16 ? offset : 1 - offset);
      std::fill(storage.begin(), storage.end(), 7.0);
      scenemap::projectSceneGridWithDerivatives(p, X.data(), Y.data(), Z.data(),
                                                side, side, u.data(), v.data(),
                                                nullptr, cam);
      std::size_t wrong = 0;
      for (std::size_t k = 0; k < n; ++k) {
        const double *block = cam + k * 2 * kParams;
        if (X[k] == 0) {
          for (int j = 0; j < 2 * kParams; ++j) wrong += block[j] != 7.0;
        } else {
          wrong += std::memcmp(block, &ref[(k % distinct) * 2 * kParams],
                               8 * 2 * kParams) != 0;
        }
      }
      EXPECT_EQ(wrong, 0u) << "kappa1 " << p.kappa1 << ", dCam "
                           << (offset ? "8 bytes off" : "aligned");
    }
  }
}

}  // namespace
