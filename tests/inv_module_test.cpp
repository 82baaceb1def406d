// The back-projection module through the stand-in host: its results bit for
// bit those of the camera model; against the projection modules, round trips
// both ways on random cameras, the derivative block against the inverse of
// the projection's and against central differences; the points that do not
// exist, and the shared checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "axis_rotation.hpp"
#include "camera_model.hpp"
#include "image_to_plane.hpp"
#include "module_harness.hpp"

namespace scenemap {
namespace {

using harness::Args;
using harness::bits;
using harness::cameraArgs;
using mxhost::toVector;

enum class Lens { kNone, kBarrel, kNearFold };

// A random 640-by-480 camera in metres (unit 1) or millimetres (unit 1000),
// 0.3 to 3 m from the world origin and tilted up to 1 rad against the
// planes Z = const, with random pixels on planes through random depths
// (each point on its own plane Z = Zw). kNearFold puts the fold just
// beyond the image corners: slope 1 + 3 kappa1 rd^2 = 1e-3 there.
struct Scene {
  CameraParams cam;
  std::vector<double> u, v, X, Y, Z;
  std::vector<double> slope;  // of rd -> ru at each pixel
  double C[3];                // camera centre -R'T
  double size;                // largest coordinate of C and the points
};

Scene randomScene(std::mt19937_64 &gen, double unit, Lens lens, int count) {
  std::uniform_real_distribution<double> U(0, 1);
  auto in = [&](double a, double b) { return a + (b - a) * U(gen); };
  Scene s;
  CameraParams &c = s.cam;
  c.dx = 5e-6 * unit * in(0.8, 1.2);
  c.dy = c.dx * in(0.95, 1.05);
  c.sx = in(0.95, 1.05);
  c.cx = in(310, 330);
  c.cy = in(230, 250);
  c.f = unit * in(0.004, 0.025);
  const double cornerX = std::max(c.cx, 640 - c.cx) * c.dx / c.sx;
  const double cornerY = std::max(c.cy, 480 - c.cy) * c.dy;
  const double corner2 = cornerX * cornerX + cornerY * cornerY;
  c.kappa1 = lens == Lens::kNone     ? 0
             : lens == Lens::kBarrel ? in(0.01, 0.3) / corner2
                                     : -(1 - 1e-3) / (3 * corner2);
  scenemap_test::rotation(in(-1, 1), in(-1, 1), in(-1, 1), in(0, 1), c.R);
  const double T[3] = {unit * in(-0.1, 0.1), unit * in(-0.1, 0.1),
                       unit * in(0.3, 3)};
  std::copy(T, T + 3, c.T);
  // World coordinates R' (xc - T) of the camera coordinates xc.
  auto toWorld = [&](const double xc[3], double P[3]) {
    for (int j = 0; j < 3; ++j)
      P[j] = c.R[3 * j] * (xc[0] - T[0]) + c.R[3 * j + 1] * (xc[1] - T[1]) +
             c.R[3 * j + 2] * (xc[2] - T[2]);
  };
  const double origin[3] = {0, 0, 0};
  toWorld(origin, s.C);
  s.size = std::sqrt(T[0] * T[0] + T[1] * T[1] + T[2] * T[2]);
  for (int i = 0; i < count; ++i) {
    // The pixel's ray (the distortion polynomial in its own direction),
    // followed to a random depth and taken to world coordinates by R'.
    // The first pixel is the corner farthest from the principal point.
    const double u = i ? in(0, 640) : c.cx > 320 ? 0 : 640;
    const double v = i ? in(0, 480) : c.cy > 240 ? 0 : 480;
    const double zc = T[2] * in(0.5, 2);
    const double xd = (u - c.cx) * c.dx / c.sx, yd = (v - c.cy) * c.dy;
    const double g = 1 + c.kappa1 * (xd * xd + yd * yd);
    const double xc[3] = {xd * g * zc / c.f, yd * g * zc / c.f, zc};
    double P[3];
    toWorld(xc, P);
    s.size =
        std::max({s.size, std::fabs(P[0]), std::fabs(P[1]), std::fabs(P[2])});
    s.slope.push_back(3 * g - 2);
    s.u.push_back(u);
    s.v.push_back(v);
    s.X.push_back(P[0]);
    s.Y.push_back(P[1]);
    s.Z.push_back(P[2]);
  }
  return s;
}

class ScenemapinvMex : public harness::ModuleTest {
 protected:
  ScenemapinvMex()
      : harness::ModuleTest("scenemapinv_mex"),
        projection_(harness::modulePath("scenemap_mex")),
        derivatives_(harness::modulePath("scenemapgrad_mex")) {}
  // Calls a module on (a, b, Z) as its three point arrays; returns its
  // outputs' values.
  std::vector<std::vector<double>> run(const mxhost::Module *m, int nlhs,
                                       const std::vector<double> &a,
                                       const std::vector<double> &b,
                                       const std::vector<double> &Z,
                                       const CameraParams &cam) const {
    const Args args = cameraArgs(a, b, Z, 1, a.size(), cam);
    const auto r = m ? m->call(nlhs, args.ptrs()) : call(nlhs, args);
    EXPECT_TRUE(r.ok) << r.errorId << ": " << r.errorMessage;
    std::vector<std::vector<double>> out;
    for (const auto &o : r.outputs) out.push_back(toVector(o.get()));
    return out;
  }
  mxhost::Module projection_, derivatives_;
};

const Lens kLenses[] = {Lens::kNone, Lens::kBarrel, Lens::kNearFold};

TEST_F(ScenemapinvMex, RoundTripsOnRandomCameras) {
  std::mt19937_64 gen(13);
  double worst[2] = {0, 0};
  for (double unit : {1.0, 1000.0}) {
    for (Lens lens : kLenses) {
      for (int trial = 0; trial < 20; ++trial) {
        const Scene s = randomScene(gen, unit, lens, 50);
        // World -> image -> world, within 1e-12 of the scene's size.
        const auto img = run(&projection_, 2, s.X, s.Y, s.Z, s.cam);
        const auto back = run(nullptr, 2, img[0], img[1], s.Z, s.cam);
        // Image -> world -> image, within 1e-12 of the image's width, or
        // near the fold 8 ulps over the slope of rd -> ru: there the
        // projection amplifies its own rounding of ru by 1 / slope.
        const auto world = run(nullptr, 2, s.u, s.v, s.Z, s.cam);
        const auto pix = run(&projection_, 2, world[0], world[1], s.Z, s.cam);
        for (std::size_t k = 0; k < s.X.size(); ++k) {
          const double e0 =
              std::hypot(back[0][k] - s.X[k], back[1][k] - s.Y[k]);
          const double e1 = std::hypot(pix[0][k] - s.u[k], pix[1][k] - s.v[k]);
          ASSERT_LE(e0, 1e-12 * s.size)
              << "unit " << unit << " trial " << trial;
          ASSERT_LE(e1, std::max(1e-12, 8 * 2.2e-16 / s.slope[k]) * 640)
              << "unit " << unit << " trial " << trial;
          worst[0] = std::max(worst[0], e0 / s.size);
          worst[1] = std::max(worst[1], e1 / 640);
        }
      }
    }
  }
  std::printf(
      "largest round-trip errors: world %.2g of the scene, image "
      "%.2g of its width\n",
      worst[0], worst[1]);
}

// The module's results are those of the camera model, bit for bit.
TEST_F(ScenemapinvMex, BitIdenticalToCore) {
  std::mt19937_64 gen(5);
  for (Lens lens : kLenses) {
    const Scene s = randomScene(gen, 1, lens, 30);
    const auto got = run(nullptr, 3, s.u, s.v, s.Z, s.cam);
    const std::int32_t n = static_cast<std::int32_t>(s.u.size());
    std::vector<double> X(n, 0), Y(n, 0), dXY(4 * n, 0);
    backProjectFrameGrid(s.cam, s.u.data(), s.v.data(), s.Z.data(), 1, n,
                         X.data(), Y.data(), dXY.data());
    EXPECT_EQ(bits(got[0]), bits(X));
    EXPECT_EQ(bits(got[1]), bits(Y));
    EXPECT_EQ(bits(got[2]), bits(dXY));
  }
}

TEST_F(ScenemapinvMex, BehindTheCameraIsNaNThoughProjectedThere) {
  std::mt19937_64 gen(7);
  const Scene s = randomScene(gen, 1, Lens::kBarrel, 20);
  // The mirror image of each point through the camera centre.
  std::vector<double> Xm, Ym, Zm;
  for (std::size_t k = 0; k < s.X.size(); ++k) {
    Xm.push_back(2 * s.C[0] - s.X[k]);
    Ym.push_back(2 * s.C[1] - s.Y[k]);
    Zm.push_back(2 * s.C[2] - s.Z[k]);
  }
  const auto img = run(&projection_, 2, s.X, s.Y, s.Z, s.cam);
  const auto mirror = run(&projection_, 2, Xm, Ym, Zm, s.cam);
  const auto back = run(nullptr, 3, img[0], img[1], Zm, s.cam);
  for (std::size_t k = 0; k < s.X.size(); ++k) {
    EXPECT_NEAR(mirror[0][k], img[0][k], 1e-9);
    EXPECT_TRUE(std::isnan(back[0][k]) && std::isnan(back[1][k]));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::isnan(back[2][4 * k + i]));
  }
}

TEST_F(ScenemapinvMex, DerivativesInvertTheProjectionsAndMatchDifferences) {
  std::mt19937_64 gen(11);
  for (Lens lens : kLenses) {
    const Scene s = randomScene(gen, 1, lens, 200);
    const auto fwd = run(&derivatives_, 3, s.X, s.Y, s.Z, s.cam);
    const auto inv = run(nullptr, 3, fwd[0], fwd[1], s.Z, s.cam);
    // Central differences with h = 0.01 px: rounding below 1e-12 of the
    // block, truncation h^2 X''' / 6 up to 4e-10 near the fold.
    const double h = 0.01;
    std::vector<std::vector<double>> shifted[4];
    for (int i = 0; i < 4; ++i) {
      std::vector<double> u = fwd[0], v = fwd[1];
      for (auto &x : i < 2 ? u : v) x += i % 2 ? -h : h;
      shifted[i] = run(nullptr, 2, u, v, s.Z, s.cam);
    }
    for (std::size_t k = 0; k < s.X.size(); ++k) {
      const double *d = &fwd[2][4 * k], *e = &inv[2][4 * k];
      const double det = d[0] * d[3] - d[1] * d[2];
      const double expected[4] = {d[3] / det, -d[1] / det, -d[2] / det,
                                  d[0] / det};
      const double scale = std::max(
          {std::fabs(e[0]), std::fabs(e[1]), std::fabs(e[2]), std::fabs(e[3])});
      // The projection's block is good to 1.5e-11 relative and inverting
      // it multiplies that by its condition number (large only near the
      // fold): 1e-9 is the claim, 5e-15 the most seen.
      for (int i = 0; i < 4; ++i) {
        // The random tilt makes every entry depend on both u and v.
        EXPECT_NE(e[i], 0) << k << " slot " << i;
        EXPECT_NEAR(e[i], expected[i], 1e-9 * scale) << k << " slot " << i;
        const int out = i / 2, dir = i % 2;  // X or Y, by u or v
        const double fd =
            (shifted[2 * dir][out][k] - shifted[2 * dir + 1][out][k]) / (2 * h);
        EXPECT_NEAR(e[i], fd, 1e-8 * scale) << k << " slot " << i;
      }
    }
  }
}

TEST_F(ScenemapinvMex, PixelsOnTheFoldHaveTheirPointOnTheFold) {
  // An untilted camera looking at a plane at depth 1, fold at rf = 1/300 m on
  // the sensor (u = 653.3). Points beyond the fold are clamped to it, and
  // about half of those pixels round to just outside it: each must come
  // back as the point on the fold in its direction, whose undistorted
  // radius is the largest reachable one, (2/3) rf. 16 ulps: the
  // projection's and the inverse's roundings of the radius.
  CameraParams c = {1e-5,     1e-5,  1,    320,
                    240,      0.008, -3e4, {1, 0, 0, 0, 1, 0, 0, 0, 1},
                    {0, 0, 1}};
  const double rf = std::sqrt(-1 / (3 * c.kappa1));
  std::vector<double> X, Y, Z;
  for (int i = 0; i < 1200; ++i) {
    X.push_back(1 + i * 0.0825);
    Y.push_back((i % 3 - 1) * 0.3 * X.back());
    Z.push_back(0);
  }
  const auto img = run(&projection_, 2, X, Y, Z, c);
  const auto back = run(nullptr, 2, img[0], img[1], Z, c);
  for (std::size_t k = 0; k < X.size(); ++k) {
    const double ru = std::hypot(back[0][k], back[1][k]) * c.f;
    ASSERT_NEAR(ru, 2 * rf / 3, 16 * 2.2e-16 * rf) << k;
    EXPECT_NEAR(back[1][k] * X[k], Y[k] * back[0][k], 1e-14 * X[k]) << k;
  }
  // A pixel beyond the fold by more than rounding has no point; one inside
  // it has one.
  const std::vector<double> u = {320 + rf / c.dx * (1 + 1e-9),
                                 320 + rf / c.dx * (1 - 1e-9)};
  const auto edge = run(nullptr, 2, u, {240, 240}, {0, 0}, c);
  EXPECT_TRUE(std::isnan(edge[0][0]));
  EXPECT_TRUE(std::isfinite(edge[0][1]));

  // Random cameras, with the principal point far from the pixels too
  // (then the pixels' rounding, relative to u - cx, dominates), taking
  // world points well beyond the fold: every pixel has a point whose
  // projection is the pixel again. The fold is a double root of the
  // distortion, where a rounding of ru by eps moves rd by about
  // rf * sqrt(eps): 1e-6 of the fold radius in pixels is the bound.
  std::mt19937_64 gen(5);
  for (int trial = 0; trial < 40; ++trial) {
    Scene s = randomScene(gen, trial % 2 ? 1000 : 1, Lens::kNearFold, 30);
    if (trial % 4 > 1) s.cam.cx += 1e5;
    std::vector<double> Xf, Yf;
    for (std::size_t k = 0; k < s.X.size(); ++k) {
      // Three times as far from the camera centre's axis point as the
      // scene point: beyond the corner, so beyond the fold.
      Xf.push_back(s.C[0] + 3 * (s.X[k] - s.C[0]));
      Yf.push_back(s.C[1] + 3 * (s.Y[k] - s.C[1]));
    }
    const auto pix = run(&projection_, 2, Xf, Yf, s.Z, s.cam);
    const auto world = run(nullptr, 2, pix[0], pix[1], s.Z, s.cam);
    const auto again = run(&projection_, 2, world[0], world[1], s.Z, s.cam);
    const double rfPixels =
        std::sqrt(-1 / (3 * s.cam.kappa1)) / s.cam.dx * s.cam.sx;
    for (std::size_t k = 0; k < s.X.size(); ++k) {
      ASSERT_TRUE(std::isfinite(world[0][k])) << trial << " " << k;
      EXPECT_NEAR(again[0][k], pix[0][k], 1e-6 * rfPixels) << trial;
      EXPECT_NEAR(again[1][k], pix[1][k], 1e-6 * rfPixels) << trial;
    }
  }
}

TEST_F(ScenemapinvMex, ExtremeScalesGiveTheScaledPoint) {
  // Each case is a camera that a power of two scales out of the normal
  // numbers somewhere in the inverse; the answer is that of the unscaled
  // camera, bit for bit.
  const std::vector<double> u = {400}, v = {300};
  // A sensor scaled by 2^530 without distortion: rd^2 overflows.
  const double s = std::ldexp(1.0, 530);
  CameraParams c0 = {1e-5,     1e-5,  1, 320,
                     240,      0.008, 0, {1, 0, 0, 0, 1, 0, 0, 0, 1},
                     {0, 0, 1}};
  CameraParams c = c0;
  c.dx *= s;
  c.dy *= s;
  c.f *= s;
  EXPECT_EQ(bits(run(nullptr, 2, u, v, {0}, c)[0]),
            bits(run(nullptr, 2, u, v, {0}, c0)[0]));
  // R and T scaled by 2^-356: det(R) is subnormal.
  c0 = {1e-5,
        1e-5,
        1,
        320,
        240,
        0.008,
        100,
        {0.99583444969517776, 0.053514139898698652, 0.073824017983342399,
         -0.058350227268522396, 0.99617874300489573, 0.064985867408981546,
         -0.070064254638254303, -0.069022813736390465, 0.9951516725634828},
        {0.01, 0.02, 1}};
  c = c0;
  for (double &x : c.R) x = std::ldexp(x, -356);
  for (double &x : c.T) x = std::ldexp(x, -356);
  const auto scaled = run(nullptr, 3, u, v, {0.05}, c);
  const auto plain = run(nullptr, 3, u, v, {0.05}, c0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(bits(scaled[i]), bits(plain[i]));
  // A plane 2e306 from the camera: the ray parameter, depth over f,
  // overflows. X = 2e305 to its rounding (the pixel is 80 sensor units of
  // 1e-5 off the axis, f = 0.008: X = 2e306 * 8e-4 / 0.008).
  c0 = {1e-5,         1e-5, 1, 320, 240, 0.008, 0, {1, 0, 0, 0, 1, 0, 0, 0, 1},
        {0, 0, 1e306}};
  const auto far = run(nullptr, 3, u, v, {1e306}, c0);
  EXPECT_NEAR(far[0][0], 2e305, 4 * 2.2e-16 * 2e305);
  EXPECT_NEAR(far[1][0], 1.5e305, 4 * 2.2e-16 * 1.5e305);
  // dX/du = offset / f * dx = 2.5e303, though offset / f overflows.
  EXPECT_NEAR(far[2][0], 2.5e303, 4 * 2.2e-16 * 2.5e303);
}

TEST_F(ScenemapinvMex, PowerOfTwoRescalingScalesTheResultsExactly) {
  // Scaling the world (Zw, T) by 2^a, the sensor (f, dx, dy, and kappa1
  // by 2^-2b) by 2^b, the image (u, v, cx, cy, and dx, dy by 2^-c) by 2^c
  // and R with T by 2^d is exact in the model: X, Y scale by 2^a, dXY by
  // 2^(a-c), and the projection's u, v by 2^c, with no rounding of their
  // own. The exponents reach far enough that the ray parameter (2^(a-b+d))
  // and its quotient by the ray's depth (2^(a-2b+2d)) leave the normal
  // numbers, and without distortion the squared radius (2^2b; kappa1 is
  // otherwise kept a normal number), while the other quantities stay
  // normal: the derivatives' chain through the sensor (2^(2b-2d-c)) only
  // where |b| <= 250. The projection's closed form takes pow of quantities
  // that a sensor scaling moves, so its sensor is scaled only without
  // distortion.
  std::mt19937_64 gen(17);
  std::uniform_int_distribution<int> A(-700, 700), B(-250, 250), C(-200, 200),
      D(-100, 100), Bp(-100, 100), B0(-560, 560);
  int trials = 0;
  for (Lens lens : kLenses) {
    for (int trial = 0; trial < 30; ++trial, ++trials) {
      const Scene s = randomScene(gen, 1, lens, 20);
      const int a = A(gen), c = C(gen), d = D(gen);
      const int b = lens == Lens::kNone ? B0(gen) : B(gen);
      const int bp = lens == Lens::kNone ? Bp(gen) : 0;
      auto scaled = [&](int sensor) {
        CameraParams k = s.cam;
        k.dx = std::ldexp(k.dx, sensor - c);
        k.dy = std::ldexp(k.dy, sensor - c);
        k.f = std::ldexp(k.f, sensor);
        k.kappa1 = std::ldexp(k.kappa1, -2 * sensor);
        k.cx = std::ldexp(k.cx, c);
        k.cy = std::ldexp(k.cy, c);
        for (double &x : k.R) x = std::ldexp(x, d);
        for (double &x : k.T) x = std::ldexp(x, a + d);
        return k;
      };
      auto times = [](std::vector<double> x, int e) {
        for (double &y : x) y = std::ldexp(y, e);
        return x;
      };
      // Exact in builds that round every operation to double. x87 builds
      // keep intermediates in wider registers, and a quantity that takes
      // the careful path at one scale and the plain formula at the other
      // is rounded differently there (up to 305 units in the last place
      // seen): they are held to 4096, about 1e-12, still far below what a
      // wrong power of two in the scaling would give.
      auto expectScaled = [&](const std::vector<double> &got,
                              const std::vector<double> &want) {
#ifdef SCENEMAP_X87
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
          if (std::isnan(want[i])) {
            EXPECT_TRUE(std::isnan(got[i])) << trials;
          } else {
            EXPECT_NEAR(got[i], want[i], 4096 * 2.2e-16 * std::fabs(want[i]))
                << trials;
          }
        }
#else
        EXPECT_EQ(bits(got), bits(want)) << trials;
#endif
      };
      const CameraParams ci = scaled(b), cp = scaled(bp);
      const auto inv = run(nullptr, 3, s.u, s.v, s.Z, s.cam);
      const auto invScaled =
          run(nullptr, 3, times(s.u, c), times(s.v, c), times(s.Z, a), ci);
      expectScaled(invScaled[0], times(inv[0], a));
      expectScaled(invScaled[1], times(inv[1], a));
      if (std::abs(b) <= 250) {
        expectScaled(invScaled[2], times(inv[2], a - c));
      }
      const auto img = run(&projection_, 2, s.X, s.Y, s.Z, s.cam);
      const auto imgScaled =
          run(&projection_, 2, times(s.X, a), times(s.Y, a), times(s.Z, a), cp);
      expectScaled(imgScaled[0], times(img[0], c));
      expectScaled(imgScaled[1], times(img[1], c));
    }
  }
}

TEST_F(ScenemapinvMex, ShapeAndFewerOutputs) {
  const Args args = harness::validArgs(3, 4);
  const auto all = call(3, args);
  ASSERT_TRUE(all.ok) << all.errorMessage;
  EXPECT_EQ(mxhost::dimensions(all.outputs[2].get()),
            (std::vector<std::size_t>{2, 2, 3, 4}));
  for (int nlhs : {0, 1, 2}) {
    const auto some = call(nlhs, args);
    ASSERT_EQ(some.outputs.size(), std::size_t(std::max(nlhs, 1)));
#ifndef SCENEMAP_X87
    // (x87 builds round the walks with and without dXY differently in the
    // last bits.)
    for (std::size_t i = 0; i < some.outputs.size(); ++i)
      EXPECT_EQ(bits(toVector(some.outputs[i].get())),
                bits(toVector(all.outputs[i].get())));
#endif
  }
}

TEST_F(ScenemapinvMex, MisuseIsReportedWithItsId) {
  harness::checkMisuse(*this, 3, {"u", "v", "Zw"});
}

}  // namespace
}  // namespace scenemap
