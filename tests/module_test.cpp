// The built MATLAB-interface module, loaded through the stand-in host:
// results bit-identical to the core, the layouts the host may pass, and an
// error with its id for every checked misuse.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "camera_model.hpp"
#include "module_harness.hpp"

namespace scenemap {
namespace {

using harness::Args;
using harness::bits;
using harness::cameraArgs;
using harness::ModuleTest;

class ScenemapMex : public ModuleTest {
 protected:
  ScenemapMex() : ModuleTest("scenemap_mex") {}
};

TEST_F(ScenemapMex, BitIdenticalToCore) {
  const CameraParams cam = harness::sampleCamera(2.5e4);
  for (double kappa1 : {0.0, 2.5e4, -2.5e4, -2.5e5}) {
    CameraParams c = cam;
    c.kappa1 = kappa1;
    const std::int32_t M = 7, N = 5;
    std::vector<double> X, Y, Z;
    harness::targetGrid(M, N, &X, &Y, &Z);
    Args args = cameraArgs(X, Y, Z, M, N, c);
    const auto result = call(2, args);
    ASSERT_TRUE(result.ok) << result.errorId << ": " << result.errorMessage;
    std::vector<double> u(M * N, 0), v(M * N, 0);
    projectSceneGrid(c, X.data(), Y.data(), Z.data(), M, N, u.data(), v.data());
    EXPECT_EQ(bits(mxhost::toVector(result.outputs[0].get())), bits(u));
    EXPECT_EQ(bits(mxhost::toVector(result.outputs[1].get())), bits(v));
  }
}

TEST_F(ScenemapMex, ShapesComeFromXw) {
  const CameraParams cam = harness::sampleCamera(1e4);
  struct Shape {
    std::size_t m, n;
  };
  for (Shape s : {Shape{0, 0}, Shape{0, 4}, Shape{3, 0}, Shape{1, 6},
                  Shape{6, 1}, Shape{4, 5}}) {
    std::vector<double> X(s.m * s.n, 0.01), Y(s.m * s.n + 3, 0.02);
    Args args = cameraArgs(X, Y, Y, s.m, s.n, cam);
    const auto result = call(2, args);
    ASSERT_TRUE(result.ok) << result.errorMessage;
    for (const auto &out : result.outputs) {
      EXPECT_EQ(mxhost::dimensions(out.get()),
                (std::vector<std::size_t>{s.m, s.n}));
      EXPECT_EQ(mxGetClassID(out.get()), mxDOUBLE_CLASS);
    }
  }
}

TEST_F(ScenemapMex, ParameterLayoutsDoNotChangeResults) {
  const CameraParams cam = harness::sampleCamera(-3e4);
  std::vector<double> X, Y, Z;
  harness::targetGrid(3, 4, &X, &Y, &Z);
  Args plain = cameraArgs(X, Y, Z, 3, 4, cam);
  const auto expected = call(2, plain);
  ASSERT_TRUE(expected.ok);

  Args reshaped = cameraArgs(X, Y, Z, 3, 4, cam);
  // R as a 1-by-9 row with two spare elements, T as a 1-by-3 row with one.
  std::vector<double> R(cam.R, cam.R + 9), T(cam.T, cam.T + 3);
  R.push_back(99);
  R.push_back(-99);
  T.push_back(7);
  reshaped.set(kArgR, mxhost::makeDouble(1, 11, R));
  reshaped.set(kArgT, mxhost::makeDouble(1, 4, T));
  // Scalars given as longer arrays contribute their first element.
  reshaped.set(kArgF, mxhost::makeDouble(2, 2, {cam.f, 1, 2, 3}));
  reshaped.set(kArgDx, mxhost::makeDouble(1, 3, {cam.dx, -1, -1}));
  const auto got = call(2, reshaped);
  ASSERT_TRUE(got.ok) << got.errorMessage;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(bits(mxhost::toVector(got.outputs[i].get())),
              bits(mxhost::toVector(expected.outputs[i].get())));
  }
}

TEST_F(ScenemapMex, SkipsAbsentPointsAndPropagatesNaN) {
  const CameraParams cam = harness::sampleCamera(1e4);
  const double nan = std::nan("");
  std::vector<double> X{0.0, -0.0, nan, 0.05}, Y{1, 1, 1, nan}, Z{0, 0, 0, 0};
  const auto result = call(2, cameraArgs(X, Y, Z, 1, 4, cam));
  ASSERT_TRUE(result.ok);
  const auto u = mxhost::toVector(result.outputs[0].get());
  const auto v = mxhost::toVector(result.outputs[1].get());
  EXPECT_EQ(bits(u)[0], 0u);
  EXPECT_EQ(bits(v)[1], 0u);
  EXPECT_TRUE(std::isnan(u[2]) && std::isnan(v[2]));
  EXPECT_TRUE(std::isnan(v[3]));
}

TEST_F(ScenemapMex, OutputCounts) {
  const CameraParams cam = harness::sampleCamera(1e4);
  std::vector<double> X{0.05}, Y{0.02}, Z{0};
  for (int nlhs : {0, 1}) {
    const auto result = call(nlhs, cameraArgs(X, Y, Z, 1, 1, cam));
    ASSERT_TRUE(result.ok);
    ASSERT_EQ(result.outputs.size(), 1u);
    EXPECT_NE(result.outputs[0], nullptr);
  }
  expectError(3, cameraArgs(X, Y, Z, 1, 1, cam), "scenemap:nargout");
}

TEST_F(ScenemapMex, MisuseIsReportedWithItsId) {
  harness::checkMisuse(*this, 2);
}

}  // namespace
}  // namespace scenemap
