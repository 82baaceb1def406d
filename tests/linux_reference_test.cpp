// A cross build's modules (Windows, i386 Linux) against the x86-64 Linux
// build's results: the cases that write_core_cases wrote there
// (core_cases.bin), run through the stand-in host. The largest distances
// seen are printed per output.
//
// Bounds (SCENEMAP_UV_ULP_BOUND, SCENEMAP_DUV_ULP_BOUND). Two evaluations of
// the same formulas that each stay within e of the exact result differ by at
// most 2e, so each bound is twice one evaluation's forward error:
//  - u = sx*xd/dx + cx (v likewise): measured in ulps of |u - cx| + |cx|, the
//    size of its terms (>= 320 here), since a small u after cancellation
//    says nothing of the arithmetic. One evaluation errs by about 8
//    half-ulps for the camera coordinates, perspective and affine steps,
//    plus the distorted radius's error scaled by sx/dx (2e5 here). Cardano's
//    sum (or the trigonometric form) adds two terms of size about
//    1/sqrt(3|kappa1|) each that cancel, so the radius errs by about
//    5 eps * 2/sqrt(3|kappa1|) absolutely, eps = 2^-53. For the smallest
//    nonzero |kappa1| of the cases, 2e3, that is 26000 eps in image units,
//    about 51 ulps of a term of 320..512 (an ulp is 512 eps). Twice (4 + 51)
//    is 110 ulps: the bound is 128. Wider x87 intermediates err no more per
//    step. The x64 build uses SSE2 doubles as Linux does: 0.
//  - dUV: the derivative code's own documented relative error is below
//    1.5e-11 inside its closed-form band (the cube roots cancel), i.e. about
//    6.8e4 ulps; twice that is 2^17 ulps. The x64 build needs this bound too:
//    mingw-w64's pow differs from glibc's in the last bit for some
//    arguments, and the closed form magnifies that.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "module_harness.hpp"

namespace scenemap {
namespace {

struct Case {
  std::int32_t M = 0, N = 0;
  CameraParams cam{};
  std::vector<double> Xw, Yw, Zw, u, v, dUV;
};

bool readDoubles(std::FILE *in, std::size_t n, std::vector<double> *out) {
  out->resize(n);
  return n == 0 || std::fread(out->data(), sizeof(double), n, in) == n;
}

std::vector<Case> readCases(const char *path) {
  std::vector<Case> cases;
  std::FILE *in = std::fopen(path, "rb");
  if (in == nullptr) return cases;
  std::vector<double> head;
  if (readDoubles(in, 1, &head)) {
    const auto count = static_cast<std::size_t>(head[0]);
    for (std::size_t c = 0; c < count; ++c) {
      std::vector<double> p;
      if (!readDoubles(in, 2 + 7 + 9 + 3, &p)) break;
      Case k;
      k.M = static_cast<std::int32_t>(p[0]);
      k.N = static_cast<std::int32_t>(p[1]);
      k.cam = CameraParams{p[2], p[3], p[4], p[5], p[6], p[7], p[8], {}, {}};
      std::copy(p.begin() + 9, p.begin() + 18, k.cam.R);
      std::copy(p.begin() + 18, p.begin() + 21, k.cam.T);
      const std::size_t n = static_cast<std::size_t>(k.M) * k.N;
      if (!readDoubles(in, n, &k.Xw) || !readDoubles(in, n, &k.Yw) ||
          !readDoubles(in, n, &k.Zw) || !readDoubles(in, n, &k.u) ||
          !readDoubles(in, n, &k.v) || !readDoubles(in, 4 * n, &k.dUV))
        break;
      cases.push_back(std::move(k));
    }
  }
  std::fclose(in);
  return cases;
}

// Distance in units in the last place: the number of doubles between a and
// b. Two NaNs are equal; a NaN against a number is as far as it gets.
std::uint64_t ulpDistance(double a, double b) {
  if (std::isnan(a) || std::isnan(b))
    return std::isnan(a) && std::isnan(b) ? 0 : UINT64_MAX;
  auto ordered = [](double x) {
    std::int64_t i;
    std::memcpy(&i, &x, sizeof i);
    // Sign-magnitude to a monotone integer line; -0 and +0 meet at 0.
    return i < 0 ? -(i & INT64_MAX) : i;
  };
  const std::int64_t ia = ordered(a), ib = ordered(b);
  return ia > ib ? std::uint64_t(ia) - std::uint64_t(ib)
                 : std::uint64_t(ib) - std::uint64_t(ia);
}

// Largest distance between got and want; absent points (Xw == 0) must be
// exactly zero in both.
std::uint64_t maxDistance(const std::vector<double> &got,
                          const std::vector<double> &want) {
  EXPECT_EQ(got.size(), want.size());
  std::uint64_t worst = 0;
  for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i)
    worst = std::max(worst, ulpDistance(got[i], want[i]));
  return worst;
}

// u = sx*xd/dx + cx (v likewise with cy): where the two terms nearly cancel,
// a small u magnifies the error of the first term in its own ulps. This
// measures the difference in ulps of |u - cx| + |cx|, the size of the terms.
std::uint64_t maxTermDistance(const std::vector<double> &got,
                              const std::vector<double> &want, double c) {
  std::uint64_t worst = 0;
  for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i) {
    if (!std::isfinite(want[i]) || !std::isfinite(got[i])) {
      worst = std::max(worst, ulpDistance(got[i], want[i]));
      continue;
    }
    const double scale = std::fabs(want[i] - c) + std::fabs(c);
    const double ulp = std::nextafter(scale, INFINITY) - scale;
    worst = std::max(
        worst, std::uint64_t(std::ceil(std::fabs(got[i] - want[i]) / ulp)));
  }
  return worst;
}

class LinuxReference : public ::testing::Test {
 protected:
  void SetUp() override {
    cases_ = readCases(SCENEMAP_REFERENCE_CASES);
    ASSERT_FALSE(cases_.empty()) << "no cases in " << SCENEMAP_REFERENCE_CASES;
  }
  std::vector<Case> cases_;
};

// Distances of a module's u and v (its first two outputs) from the case's,
// checked against their bound.
struct UVDistance {
  std::uint64_t u, v;
};

UVDistance checkUV(const mxhost::CallResult &result, const Case &k) {
  const UVDistance d{
      maxTermDistance(mxhost::toVector(result.outputs[0].get()), k.u, k.cam.cx),
      maxTermDistance(mxhost::toVector(result.outputs[1].get()), k.v,
                      k.cam.cy)};
  EXPECT_LE(d.u, std::uint64_t(SCENEMAP_UV_ULP_BOUND))
      << "kappa1 " << k.cam.kappa1;
  EXPECT_LE(d.v, std::uint64_t(SCENEMAP_UV_ULP_BOUND))
      << "kappa1 " << k.cam.kappa1;
  return d;
}

TEST_F(LinuxReference, ProjectionModule) {
  mxhost::Module module(harness::modulePath("scenemap_mex"));
  std::uint64_t worstU = 0, worstV = 0;
  for (const Case &k : cases_) {
    const auto result = module.call(
        2, harness::cameraArgs(k.Xw, k.Yw, k.Zw, k.M, k.N, k.cam).ptrs());
    ASSERT_TRUE(result.ok) << result.errorMessage;
    const auto [du, dv] = checkUV(result, k);
    std::printf("kappa1 %-8g %dx%d  u, v: max %llu, %llu ulp\n", k.cam.kappa1,
                k.M, k.N, static_cast<unsigned long long>(du),
                static_cast<unsigned long long>(dv));
    worstU = std::max(worstU, du);
    worstV = std::max(worstV, dv);
  }
  std::printf(
      "scenemap_mex: largest distance from Linux u %llu, v %llu ulp "
      "(bound %d)\n",
      static_cast<unsigned long long>(worstU),
      static_cast<unsigned long long>(worstV), SCENEMAP_UV_ULP_BOUND);
}

TEST_F(LinuxReference, DerivativesModule) {
  mxhost::Module module(harness::modulePath("scenemapgrad_mex"));
  std::uint64_t worstU = 0, worstV = 0, worstD = 0;
  for (const Case &k : cases_) {
    const auto result = module.call(
        3, harness::cameraArgs(k.Xw, k.Yw, k.Zw, k.M, k.N, k.cam).ptrs());
    ASSERT_TRUE(result.ok) << result.errorMessage;
    const auto [du, dv] = checkUV(result, k);
    const std::uint64_t dd =
        maxDistance(mxhost::toVector(result.outputs[2].get()), k.dUV);
    std::printf("kappa1 %-8g %dx%d  u, v, dUV: max %llu, %llu, %llu ulp\n",
                k.cam.kappa1, k.M, k.N, static_cast<unsigned long long>(du),
                static_cast<unsigned long long>(dv),
                static_cast<unsigned long long>(dd));
    EXPECT_LE(dd, std::uint64_t(SCENEMAP_DUV_ULP_BOUND))
        << "kappa1 " << k.cam.kappa1;
    worstU = std::max(worstU, du);
    worstV = std::max(worstV, dv);
    worstD = std::max(worstD, dd);
  }
  std::printf(
      "scenemapgrad_mex: largest distance from Linux u %llu, v %llu, "
      "dUV %llu ulp (bounds %d, %d)\n",
      static_cast<unsigned long long>(worstU),
      static_cast<unsigned long long>(worstV),
      static_cast<unsigned long long>(worstD), SCENEMAP_UV_ULP_BOUND,
      SCENEMAP_DUV_ULP_BOUND);
}

}  // namespace
}  // namespace scenemap
