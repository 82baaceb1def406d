// Shared fixture for the module tests: loads a built module through the
// stand-in host, builds the twelve arguments from a camera and a grid, and
// checks every misuse the modules report.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "camera_model.hpp"
#include "mxhost.hpp"
#include "scene_args.hpp"

// The built modules' file name extension; the Windows test build sets its
// own.
#ifndef SCENEMAP_MODULE_SUFFIX
#define SCENEMAP_MODULE_SUFFIX ".mexa64"
#endif

namespace scenemap {
namespace harness {

// The twelve arguments, owned.
class Args {
 public:
  Args() : arrays_(kNumSceneArgs) {}
  void set(int pos, mxhost::ArrayPtr a) { arrays_[pos] = std::move(a); }
  void drop() { arrays_.pop_back(); }
  void add(mxhost::ArrayPtr a) { arrays_.push_back(std::move(a)); }
  std::vector<const mxArray *> ptrs() const {
    std::vector<const mxArray *> p;
    for (const auto &a : arrays_) p.push_back(a.get());
    return p;
  }

 private:
  std::vector<mxhost::ArrayPtr> arrays_;
};

inline Args cameraArgs(const std::vector<double> &X,
                       const std::vector<double> &Y,
                       const std::vector<double> &Z, std::size_t M,
                       std::size_t N, const CameraParams &c) {
  Args a;
  a.set(kArgXw, mxhost::makeDouble(M, N, X));
  a.set(kArgYw, mxhost::makeDouble(1, Y.size(), Y));
  a.set(kArgZw, mxhost::makeDouble(Z.size(), 1, Z));
  const double scalars[] = {c.dx, c.dy, c.sx, c.cx, c.cy, c.f, c.kappa1};
  for (int i = 0; i < 7; ++i) {
    a.set(kArgDx + i, mxhost::makeScalar(scalars[i]));
  }
  a.set(kArgR, mxhost::makeDouble(3, 3, std::vector<double>(c.R, c.R + 9)));
  a.set(kArgT, mxhost::makeDouble(3, 1, std::vector<double>(c.T, c.T + 3)));
  return a;
}

// A 640-by-480 camera with 5 um pixels and an 8 mm lens, tilted towards a
// target about 0.6 m away.
inline CameraParams sampleCamera(double kappa1) {
  const double c = std::cos(0.2), s = std::sin(0.2);
  return CameraParams{5e-6,
                      5.2e-6,
                      1.01,
                      320,
                      240,
                      0.008,
                      kappa1,
                      {c, 0, -s, 0, 1, 0, s, 0, c},
                      {-0.1, -0.07, 0.6}};
}

// A planar M-by-N target, 30 mm pitch, with the odd absent point (X = 0).
inline void targetGrid(std::int32_t M, std::int32_t N, std::vector<double> *X,
                       std::vector<double> *Y, std::vector<double> *Z) {
  X->clear();
  Y->clear();
  Z->clear();
  for (std::int32_t n = 0; n < N; ++n) {
    for (std::int32_t m = 0; m < M; ++m) {
      X->push_back((m + n) % 5 == 4 ? 0.0 : 0.01 + 0.03 * n);
      Y->push_back(0.01 + 0.03 * m);
      Z->push_back(0.002 * m);
    }
  }
}

// Bit patterns, with every NaN mapped to one pattern: a NaN's sign and
// payload are not part of a result (IEEE 754 leaves them open, and the
// compiler may swap the operands of a commutative operation, so two inlined
// copies of one expression may give NaNs of either sign).
inline std::vector<std::uint64_t> bits(const std::vector<double> &v) {
  std::vector<std::uint64_t> b(v.size());
  std::memcpy(b.data(), v.data(), v.size() * sizeof(double));
  for (std::size_t i = 0; i < v.size(); ++i) {
    if (std::isnan(v[i])) b[i] = 0x7ff8000000000000u;
  }
  return b;
}

// The built module of that name: this build's, or those of another build
// the native test programs can load (the macOS modules, through the Mach-O
// loader) where SCENEMAP_TEST_MODULE_DIR and SCENEMAP_TEST_MODULE_SUFFIX
// name them.
inline std::string modulePath(const std::string &name) {
  const char *dir = std::getenv("SCENEMAP_TEST_MODULE_DIR");
  const char *suffix = std::getenv("SCENEMAP_TEST_MODULE_SUFFIX");
  return std::string(dir != nullptr ? dir : SCENEMAP_MODULE_DIR) + "/" + name +
         (suffix != nullptr ? suffix : SCENEMAP_MODULE_SUFFIX);
}

class ModuleTest : public ::testing::Test {
 protected:
  explicit ModuleTest(const std::string &name) : module_(modulePath(name)) {}

 public:
  mxhost::CallResult call(int nlhs, const Args &args) const {
    return module_.call(nlhs, args.ptrs());
  }
  void expectError(int nlhs, const Args &args, const std::string &id,
                   const std::string &fragment = "") const {
    const auto result = call(nlhs, args);
    EXPECT_FALSE(result.ok) << "expected " << id;
    EXPECT_EQ(result.errorId, id) << result.errorMessage;
    EXPECT_NE(result.errorMessage.find(fragment), std::string::npos)
        << "message \"" << result.errorMessage << "\" lacks \"" << fragment
        << "\"";
  }

 private:
  mxhost::Module module_;
};

inline Args validArgs(std::size_t M = 2, std::size_t N = 3) {
  std::vector<double> X(M * N, 0.05), Y(M * N, 0.01), Z(M * N, 0);
  return cameraArgs(X, Y, Z, M, N, sampleCamera(1e4));
}

// Every misuse the argument checks catch, with its id and the argument's
// position and name in the message; the module calls its three point arrays
// points[0..2].
inline void checkMisuse(const ModuleTest &t, int maxOutputs,
                        const std::vector<std::string> &points = {"Xw", "Yw",
                                                                  "Zw"}) {
  using mxhost::makeArray;
  std::vector<std::string> names = points;
  for (const char *n : {"dx", "dy", "sx", "cx", "cy", "f", "kappa1", "R", "T"})
    names.push_back(n);
  auto label = [&](int pos) {
    return "argument " + std::to_string(pos + 1) + " (" + names[pos] + ")";
  };

  // Argument and output counts.
  for (int drop : {1, 12}) {
    Args a = validArgs();
    for (int i = 0; i < drop; ++i) a.drop();
    t.expectError(1, a, "scenemap:nargin",
                  "(" + names[0] + ", " + names[1] + ", " + names[2] +
                      ", dx, dy, sx, cx, cy, f, kappa1, R, T) but got " +
                      std::to_string(12 - drop));
  }
  Args extra = validArgs();
  extra.add(mxhost::makeScalar(1));
  t.expectError(1, extra, "scenemap:nargin", "but got 13");
  t.expectError(maxOutputs + 1, validArgs(), "scenemap:nargout");

  const std::vector<std::size_t> one{1, 1};
  for (int pos = 0; pos < kNumSceneArgs; ++pos) {
    const bool array = pos <= kArgZw || pos >= kArgR;
    const std::vector<std::size_t> dims =
        pos == kArgR    ? std::vector<std::size_t>{3, 3}
        : pos == kArgT  ? std::vector<std::size_t>{3, 1}
        : pos <= kArgZw ? std::vector<std::size_t>{2, 3}
                        : one;
    // Classes other than double: every array argument must be double; the
    // scalars take any numeric class, so only non-numeric ones fail.
    for (mxClassID cls :
         {mxSINGLE_CLASS, mxINT8_CLASS, mxUINT64_CLASS, mxLOGICAL_CLASS,
          mxCHAR_CLASS, mxCELL_CLASS, mxSTRUCT_CLASS, mxFUNCTION_CLASS}) {
      const bool numeric = cls != mxLOGICAL_CLASS && cls != mxCHAR_CLASS &&
                           cls != mxCELL_CLASS && cls != mxSTRUCT_CLASS &&
                           cls != mxFUNCTION_CLASS;
      if (!array && numeric) continue;
      Args a = validArgs();
      a.set(pos, makeArray(cls, dims));
      t.expectError(1, a, array ? "scenemap:notDouble" : "scenemap:notNumeric",
                    label(pos));
    }
    Args complex = validArgs();
    complex.set(pos, makeArray(mxDOUBLE_CLASS, dims, mxCOMPLEX));
    t.expectError(1, complex, "scenemap:complex", label(pos));

    Args sparse = validArgs();
    sparse.set(pos, mxhost::makeSparse(dims[0], dims[1], 1));
    t.expectError(1, sparse, "scenemap:sparse", label(pos));

    if (!array) {
      for (auto empty :
           {std::vector<std::size_t>{0, 0}, std::vector<std::size_t>{1, 0}}) {
        Args a = validArgs();
        a.set(pos, makeArray(mxDOUBLE_CLASS, empty));
        t.expectError(1, a, "scenemap:empty", label(pos));
      }
    }
  }

  // Too few elements: Yw and Zw need as many as Xw, R nine, T three.
  Args shortY = validArgs();
  shortY.set(kArgYw, makeArray(mxDOUBLE_CLASS, {1, 5}));
  t.expectError(1, shortY, "scenemap:tooShort",
                label(1) + " has 5 elements but needs at least 6, as many as " +
                    names[0]);
  Args shortZ = validArgs();
  shortZ.set(kArgZw, makeArray(mxDOUBLE_CLASS, {0, 0}));
  t.expectError(1, shortZ, "scenemap:tooShort", label(2) + " has 0");
  Args shortR = validArgs();
  shortR.set(kArgR, makeArray(mxDOUBLE_CLASS, {2, 4}));
  t.expectError(1, shortR, "scenemap:tooShort", "argument 11 (R) has 8");
  Args shortT = validArgs();
  shortT.set(kArgT, makeArray(mxDOUBLE_CLASS, {1, 2}));
  t.expectError(1, shortT, "scenemap:tooShort", "argument 12 (T) has 2");

  // A grid dimension beyond the 32-bit sizes (empty, so nothing is stored).
  for (auto huge : {std::vector<std::size_t>{0, 3000000000u},
                    std::vector<std::size_t>{2147483648u, 0}}) {
    Args a = validArgs();
    a.set(kArgXw, makeArray(mxDOUBLE_CLASS, huge));
    t.expectError(1, a, "scenemap:tooLarge", label(0));
  }
}

}  // namespace harness
}  // namespace scenemap
