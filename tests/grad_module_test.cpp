// The built derivatives module through the stand-in host: u, v as the
// projection module gives them, the dUV layout, and the shared checks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "camera_model.hpp"
#include "derivative_grid.hpp"
#include "frame_derivatives.hpp"
#include "module_harness.hpp"

namespace scenemap {
namespace {

using harness::Args;
using harness::bits;
using harness::cameraArgs;

class ScenemapgradMex : public harness::ModuleTest {
 protected:
  ScenemapgradMex()
      : harness::ModuleTest("scenemapgrad_mex"),
        projection_(harness::modulePath("scenemap_mex")) {}
  mxhost::Module projection_;
};

TEST_F(ScenemapgradMex, MatchesProjectionModuleAndCore) {
  for (double kappa1 : {0.0, 2.5e4, -2.5e4, -2.5e5}) {
    const CameraParams cam = harness::sampleCamera(kappa1);
    const std::int32_t M = 6, N = 7;
    std::vector<double> X, Y, Z;
    harness::targetGrid(M, N, &X, &Y, &Z);
    X[5] = std::nan("");
    const Args args = cameraArgs(X, Y, Z, M, N, cam);
    const auto grad = call(3, args);
    const auto proj = projection_.call(2, args.ptrs());
    ASSERT_TRUE(grad.ok && proj.ok) << grad.errorMessage;
#ifndef SCENEMAP_X87
    // In x87 builds the two modules' differently compiled walks may round
    // differently in the last bits; each still matches its own core below.
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(bits(mxhost::toVector(grad.outputs[i].get())),
                bits(mxhost::toVector(proj.outputs[i].get())));
    }
#endif
    const mxArray *dUV = grad.outputs[2].get();
    EXPECT_EQ(mxhost::dimensions(dUV),
              (std::vector<std::size_t>{2, 2, std::size_t(M), std::size_t(N)}));
    std::vector<double> u(M * N, 0), v(M * N, 0), d(4 * M * N, 0);
    projectSceneGridWithDerivatives(cam, X.data(), Y.data(), Z.data(), M, N,
                                    u.data(), v.data(), d.data());
    EXPECT_EQ(bits(mxhost::toVector(dUV)), bits(d));
    EXPECT_EQ(bits(mxhost::toVector(grad.outputs[0].get())), bits(u));
    EXPECT_EQ(bits(mxhost::toVector(grad.outputs[1].get())), bits(v));
    // Absent points keep an all-zero block; the others are finite here
    // except the NaN point.
    for (std::size_t k = 0; k < X.size(); ++k) {
      for (int s = 0; s < 4; ++s) {
        const double value = d[4 * k + s];
        if (X[k] == 0) {
          EXPECT_EQ(bits({value})[0], 0u);
        } else if (k == 5) {
          EXPECT_TRUE(std::isnan(value));
        } else {
          EXPECT_TRUE(std::isfinite(value)) << k << " kappa1 " << kappa1;
        }
      }
    }
  }
}

TEST_F(ScenemapgradMex, DerivativeArrayShape) {
  const CameraParams cam = harness::sampleCamera(1e4);
  struct Shape {
    std::size_t m, n;
    std::vector<std::size_t> dUV;  // as the host reports it
  };
  // The host drops trailing singleton dimensions.
  for (const Shape &s : {Shape{0, 0, {2, 2, 0, 0}}, Shape{1, 5, {2, 2, 1, 5}},
                         Shape{4, 1, {2, 2, 4}}, Shape{1, 1, {2, 2}},
                         Shape{3, 2, {2, 2, 3, 2}}}) {
    std::vector<double> X(s.m * s.n, 0.02);
    const auto result = call(3, cameraArgs(X, X, X, s.m, s.n, cam));
    ASSERT_TRUE(result.ok) << result.errorMessage;
    EXPECT_EQ(mxhost::dimensions(result.outputs[2].get()), s.dUV);
  }
}

TEST_F(ScenemapgradMex, FewerOutputsGiveTheSameProjection) {
  const Args args = harness::validArgs(3, 2);
  const auto all = call(3, args);
  for (int nlhs : {0, 1, 2}) {
    const auto some = call(nlhs, args);
    ASSERT_TRUE(some.ok);
    ASSERT_EQ(some.outputs.size(), std::size_t(std::max(nlhs, 1)));
    for (std::size_t i = 0; i < some.outputs.size(); ++i) {
      EXPECT_EQ(bits(mxhost::toVector(some.outputs[i].get())),
                bits(mxhost::toVector(all.outputs[i].get())));
    }
  }
}

// Points ever closer to the axis of an untilted camera with |kappa1| so large
// that they take the scaled solve through each of its branches (series, one
// root, three roots, past the fold; a subnormal radius first), which the
// target grids above never reach.
TEST_F(ScenemapgradMex, NearTheAxisBitIdenticalToCore) {
  const std::vector<double> X{1e-158, 1e-55, 1e-52, 1e-51, 1.5e-51, 1e-50};
  const std::vector<double> Y{5e-159, 5e-56, 5e-53, 5e-52, 7.5e-52, 5e-51};
  const std::vector<double> Z(6, 0.0);
  for (double kappa1 : {1e105, -1e105}) {
    CameraParams cam{5e-6,     5.2e-6, 1.01,   320,
                     240,      0.008,  kappa1, {1, 0, 0, 0, 1, 0, 0, 0, 1},
                     {0, 0, 1}};
    const auto grad = call(3, cameraArgs(X, Y, Z, 2, 3, cam));
    ASSERT_TRUE(grad.ok) << grad.errorMessage;
    std::vector<double> u(6, 0), v(6, 0), d(24, 0);
    projectSceneGridWithDerivatives(cam, X.data(), Y.data(), Z.data(), 2, 3,
                                    u.data(), v.data(), d.data());
    EXPECT_EQ(bits(mxhost::toVector(grad.outputs[0].get())), bits(u));
    EXPECT_EQ(bits(mxhost::toVector(grad.outputs[1].get())), bits(v));
    EXPECT_EQ(bits(mxhost::toVector(grad.outputs[2].get())), bits(d));
  }
}

TEST_F(ScenemapgradMex, MisuseIsReportedWithItsId) {
  harness::checkMisuse(*this, 4);
}

}  // namespace
}  // namespace scenemap
