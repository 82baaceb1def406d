// Tests of the stand-in host: array library, call arena, loader and mexrun.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "macho_loader.hpp"
#include "mex.h"
#include "mxhost.hpp"

namespace {

using mxhost::ArrayPtr;
using mxhost::MexError;

constexpr size_t kMax = std::numeric_limits<size_t>::max();

// Runs fn and returns the id of the MexError it throws ("" if none).
template <typename F>
std::string errorId(F fn) {
  try {
    fn();
  } catch (const MexError &e) {
    return e.id();
  }
  return "";
}

ArrayPtr adopt(mxArray *pa) { return ArrayPtr(pa); }

// ---- Creation ----

TEST(Create, DoubleMatrixIsZeroFilledColumnMajor) {
  ArrayPtr a = adopt(mxCreateDoubleMatrix_700(3, 4, mxREAL));
  EXPECT_EQ(mxGetM(a.get()), 3u);
  EXPECT_EQ(mxGetN(a.get()), 4u);
  EXPECT_EQ(mxGetNumberOfElements(a.get()), 12u);
  EXPECT_EQ(mxhost::toVector(a.get()), std::vector<double>(12, 0.0));
  EXPECT_FALSE(mxIsComplex(a.get()));
  EXPECT_EQ(mxhost::imagData(a.get()), nullptr);

  ArrayPtr b = mxhost::makeDouble(2, 2, {1, 2, 3, 4});
  EXPECT_EQ(mxGetPr(b.get())[1], 2.0);  // (2,1)
  EXPECT_THROW(mxhost::makeDouble(2, 2, {1, 2, 3}), std::invalid_argument);
}

TEST(Create, DimensionsDropTrailingSingletonsAndPadToTwo) {
  const int d5[] = {4, 1, 7, 1, 1};
  ArrayPtr a = adopt(mxCreateNumericArray_700(5, d5, mxINT16_CLASS, mxREAL));
  EXPECT_EQ(mxhost::dimensions(a.get()), (std::vector<size_t>{4, 1, 7}));
  EXPECT_EQ(mxGetM(a.get()), 4u);
  EXPECT_EQ(mxGetN(a.get()), 7u);

  const int d2[] = {2, 1, 1};
  a = adopt(mxCreateNumericArray_700(3, d2, mxDOUBLE_CLASS, mxREAL));
  EXPECT_EQ(mxhost::dimensions(a.get()), (std::vector<size_t>{2, 1}));

  const int d1[] = {5};
  a = adopt(mxCreateNumericArray_700(1, d1, mxDOUBLE_CLASS, mxREAL));
  EXPECT_EQ(mxhost::dimensions(a.get()), (std::vector<size_t>{5, 1}));

  a = adopt(mxCreateNumericArray_700(0, nullptr, mxDOUBLE_CLASS, mxREAL));
  EXPECT_EQ(mxhost::dimensions(a.get()), (std::vector<size_t>{1, 1}));

  const int d4[] = {2, 3, 1, 4};
  a = adopt(mxCreateNumericArray_700(4, d4, mxUINT8_CLASS, mxCOMPLEX));
  EXPECT_EQ(mxhost::dimensions(a.get()), (std::vector<size_t>{2, 3, 1, 4}));
  EXPECT_EQ(mxGetN(a.get()), 12u);
  ASSERT_NE(mxhost::imagData(a.get()), nullptr);
  const auto *im =
      static_cast<const unsigned char *>(mxhost::imagData(a.get()));
  for (size_t i = 0; i < 24; ++i) EXPECT_EQ(im[i], 0) << i;
}

TEST(Create, ZeroSizedArraysAreEmptyWithoutData) {
  ArrayPtr a = adopt(mxCreateDoubleMatrix_700(0, 0, mxREAL));
  EXPECT_EQ(mxGetNumberOfElements(a.get()), 0u);
  EXPECT_EQ(mxGetPr(a.get()), nullptr);
  EXPECT_EQ(mxGetScalar(a.get()), 0.0);

  const int d[] = {3, 0, 2};
  a = adopt(mxCreateNumericArray_700(3, d, mxSINGLE_CLASS, mxREAL));
  EXPECT_EQ(mxGetNumberOfElements(a.get()), 0u);
  EXPECT_EQ(mxGetM(a.get()), 3u);
  EXPECT_EQ(mxGetN(a.get()), 0u);
}

TEST(Create, BadSizesAndClassesThrowWithoutLeaking) {
  const size_t before = mxhost::liveArrayCount();
  EXPECT_EQ(errorId([] { mxCreateDoubleMatrix_700(-1, 2, mxREAL); }),
            "mxhost:badSize");
  const int negative[] = {2, -3};
  EXPECT_EQ(errorId([&] {
              mxCreateNumericArray_700(2, negative, mxDOUBLE_CLASS, mxREAL);
            }),
            "mxhost:badSize");
  EXPECT_EQ(errorId([] {
              mxCreateNumericArray_700(-1, nullptr, mxDOUBLE_CLASS, mxREAL);
            }),
            "mxhost:badSize");
  // Element count overflows size_t.
  using mxhost::makeArray;
  EXPECT_EQ(errorId([] {
              makeArray(mxDOUBLE_CLASS, {kMax / 2, 3});
            }),
            "mxhost:badSize");
  // Element count fits, byte count does not.
  EXPECT_EQ(errorId([] {
              makeArray(mxDOUBLE_CLASS, {kMax / 4, 1});
            }),
            "mxhost:badSize");
  // Byte count fits size_t but no object can be that large: out of memory,
  // not a crash.
  EXPECT_EQ(errorId([] {
              makeArray(mxUINT8_CLASS, {kMax / 2 + 1, 1});
            }),
            "MATLAB:nomem");
  // 2^60 elements with 64-bit sizes, 2^28 with 32-bit ones: each of the
  // two buffers is one byte past the largest object.
  EXPECT_EQ(errorId([] {
              makeArray(mxDOUBLE_CLASS, {kMax / 16 + 1, 1}, mxCOMPLEX);
            }),
            "MATLAB:nomem");
  // Cells are not numeric; logical cannot be complex.
  EXPECT_EQ(errorId([] {
              const int d[] = {1, 1};
              mxCreateNumericArray_700(2, d, mxCELL_CLASS, mxREAL);
            }),
            "mxhost:badClass");
  EXPECT_EQ(errorId([] {
              mxhost::makeArray(mxLOGICAL_CLASS, {1, 1}, mxCOMPLEX);
            }),
            "mxhost:badClass");
  EXPECT_EQ(mxhost::liveArrayCount(), before);
}

// ---- Classes and queries ----

TEST(Classes, NumericPredicateAndDataPerClass) {
  struct Case {
    mxClassID cls;
    bool numeric;
    size_t elem;
  };
  const Case cases[] = {{mxDOUBLE_CLASS, true, 8},   {mxSINGLE_CLASS, true, 4},
                        {mxINT8_CLASS, true, 1},     {mxUINT8_CLASS, true, 1},
                        {mxINT16_CLASS, true, 2},    {mxUINT16_CLASS, true, 2},
                        {mxINT32_CLASS, true, 4},    {mxUINT32_CLASS, true, 4},
                        {mxINT64_CLASS, true, 8},    {mxUINT64_CLASS, true, 8},
                        {mxLOGICAL_CLASS, false, 1}, {mxCHAR_CLASS, false, 2},
                        {mxCELL_CLASS, false, 0},    {mxSTRUCT_CLASS, false, 0},
                        {mxFUNCTION_CLASS, false, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(mxhost::className(c.cls));
    ArrayPtr a = mxhost::makeArray(c.cls, {2, 3});
    EXPECT_EQ(mxGetClassID(a.get()), c.cls);
    EXPECT_EQ(mxIsNumeric(a.get()), c.numeric);
    EXPECT_EQ(mxGetNumberOfElements(a.get()), 6u);
    EXPECT_EQ(mxhost::elementSize(c.cls), c.elem);
    EXPECT_EQ(mxGetPr(a.get()) != nullptr, c.cls == mxDOUBLE_CLASS);
    EXPECT_EQ(mxhost::realData(a.get()) != nullptr, c.elem != 0);
    if (c.elem != 0) {
      // The whole buffer is there and zeroed.
      const auto *p =
          static_cast<const unsigned char *>(mxhost::realData(a.get()));
      for (size_t i = 0; i < 6 * c.elem; ++i) ASSERT_EQ(p[i], 0) << i;
    }
  }
  EXPECT_EQ(mxGetPr(nullptr), nullptr);
}

template <typename T>
double scalarOf(mxClassID cls, T value) {
  ArrayPtr a = mxhost::makeArray(cls, {1, 2});
  std::memcpy(mxhost::realData(a.get()), &value, sizeof value);
  return mxGetScalar(a.get());
}

TEST(Classes, GetScalarConvertsFirstElement) {
  EXPECT_EQ(scalarOf(mxINT8_CLASS, std::int8_t{-5}), -5.0);
  EXPECT_EQ(scalarOf(mxUINT16_CLASS, std::uint16_t{65535}), 65535.0);
  EXPECT_EQ(scalarOf(mxINT32_CLASS, std::int32_t{-2147483647 - 1}),
            -2147483648.0);
  EXPECT_EQ(scalarOf(mxUINT64_CLASS, ~std::uint64_t{0}),
            18446744073709551616.0);
  EXPECT_EQ(scalarOf(mxINT64_CLASS, std::int64_t{-3}), -3.0);
  EXPECT_EQ(scalarOf(mxSINGLE_CLASS, 0.1f), static_cast<double>(0.1f));
  EXPECT_EQ(scalarOf(mxCHAR_CLASS, std::uint16_t{'A'}), 65.0);
  EXPECT_EQ(scalarOf(mxLOGICAL_CLASS, std::uint8_t{2}), 1.0);
  EXPECT_TRUE(std::signbit(scalarOf(mxDOUBLE_CLASS, -0.0)));
  EXPECT_EQ(mxGetScalar(mxhost::makeArray(mxCELL_CLASS, {1, 1}).get()), 0.0);
  EXPECT_EQ(mxGetScalar(mxhost::makeArray(mxINT8_CLASS, {0, 3}).get()), 0.0);

  ArrayPtr c = mxhost::makeArray(mxDOUBLE_CLASS, {1, 1}, mxCOMPLEX);
  mxGetPr(c.get())[0] = 3;
  static_cast<double *>(mxhost::imagData(c.get()))[0] = 4;
  EXPECT_EQ(mxGetScalar(c.get()), 3.0);
}

TEST(Classes, SparseStoresOnlyNonzeroBuffer) {
  ArrayPtr s = mxhost::makeSparse(1000, 1000, 3);
  EXPECT_TRUE(mxIsSparse(s.get()));
  EXPECT_EQ(mxGetClassID(s.get()), mxDOUBLE_CLASS);
  EXPECT_EQ(mxGetNumberOfElements(s.get()), 1000000u);
  EXPECT_EQ(mxhost::storedCount(s.get()), 3u);
  mxGetPr(s.get())[0] = 7;
  EXPECT_EQ(mxGetScalar(s.get()), 7.0);
  EXPECT_THROW(mxhost::toVector(s.get()), std::invalid_argument);

  EXPECT_EQ(mxhost::storedCount(mxhost::makeSparse(4, 4, 0).get()), 1u);
  ArrayPtr cs = mxhost::makeSparse(2, 2, 2, mxCOMPLEX);
  EXPECT_TRUE(mxIsComplex(cs.get()));
  EXPECT_NE(mxhost::imagData(cs.get()), nullptr);
}

// ---- Call arena ----

TEST(Arena, FreesUnreleasedArraysAndKeepsReleasedOnes) {
  const size_t before = mxhost::liveArrayCount();
  mxArray *kept = nullptr;
  {
    mxhost::CallScope scope;
    kept = mxCreateDoubleMatrix_700(1, 1, mxREAL);
    mxCreateDoubleMatrix_700(2, 2, mxREAL);
    mxArray *destroyed = mxCreateDoubleMatrix_700(2, 2, mxREAL);
    mxDestroyArray(destroyed);               // must also leave the record
    ArrayPtr built = mxhost::makeScalar(1);  // builders are not recorded
    EXPECT_EQ(scope.size(), 2u);
    EXPECT_TRUE(scope.release(kept));
    EXPECT_FALSE(scope.release(kept));
    EXPECT_FALSE(scope.owns(built.get()));
  }
  EXPECT_EQ(mxhost::liveArrayCount(), before + 1);
  mxDestroyArray(kept);
  EXPECT_EQ(mxhost::liveArrayCount(), before);
}

TEST(ArenaDeathTest, DestroyingACallersArrayAborts) {
  ArrayPtr input = mxhost::makeScalar(1);
  EXPECT_DEATH(
      {
        mxhost::CallScope scope;
        mxDestroyArray(input.get());
      },
      "does not own");
}

// ---- Loader ----

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = mxhost::liveArrayCount(); }
  // Every array a call made, apart from outputs still held, is gone.
  void TearDown() override { EXPECT_EQ(mxhost::liveArrayCount(), baseline_); }
  mxhost::Module echo_{ECHO_MODULE};
  size_t baseline_ = 0;
};

TEST(LoaderOpen, RejectsMissingFileAndMissingEntryPoint) {
  try {
    mxhost::Module m("/nonexistent/dir/nothing.mexa64");
    FAIL() << "opened a missing file";
  } catch (const std::runtime_error &e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/dir/nothing.mexa64"),
              std::string::npos);
  }
  try {
    mxhost::Module m(NO_ENTRY_MODULE);
    FAIL() << "opened a module without mexFunction";
  } catch (const std::runtime_error &e) {
    EXPECT_NE(std::string(e.what()).find("mexFunction"), std::string::npos);
  }
}

TEST_F(LoaderTest, ReturnsOutputsAndFreesTemporaries) {
  ArrayPtr mode = mxhost::makeScalar(1);
  ArrayPtr x = mxhost::makeDouble(1, 3, {1.5, -0.0, 1e-310});
  ArrayPtr y = mxhost::makeDouble(2, 1, {7, 8});
  mxhost::CallResult r = echo_.call(2, {mode.get(), x.get(), y.get()});
  ASSERT_TRUE(r.ok) << r.errorMessage;
  ASSERT_EQ(r.outputs.size(), 2u);
  EXPECT_EQ(mxhost::toVector(r.outputs[0].get()), mxhost::toVector(x.get()));
  EXPECT_TRUE(std::signbit(mxGetPr(r.outputs[0].get())[1]));
  EXPECT_EQ(mxhost::toVector(r.outputs[1].get()), (std::vector<double>{7, 8}));
  // Inputs, two outputs; the module's leaked 3x3 is already gone.
  EXPECT_EQ(mxhost::liveArrayCount(), baseline_ + 5);
}

TEST_F(LoaderTest, ModuleErrorCarriesIdAndFormattedMessage) {
  ArrayPtr mode = mxhost::makeScalar(2);
  mxhost::CallResult r = echo_.call(1, {mode.get()});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.errorId, "echo:fail");
  EXPECT_EQ(r.errorMessage, "failed with 42 and text");
  EXPECT_TRUE(r.outputs.empty());
}

TEST_F(LoaderTest, PlhsHasMaxOfNlhsAndOneSlots) {
  ArrayPtr mode = mxhost::makeScalar(3);
  mxhost::CallResult r = echo_.call(0, {mode.get()});
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.outputs.size(), 1u);
  EXPECT_EQ(mxhost::toVector(r.outputs[0].get()), (std::vector<double>{0, 1}));

  r = echo_.call(3, {mode.get()});
  ASSERT_EQ(r.outputs.size(), 3u);
  EXPECT_NE(r.outputs[0], nullptr);
  EXPECT_EQ(r.outputs[1], nullptr);
  EXPECT_EQ(r.outputs[2], nullptr);

  // A module filling every slot it is given stays within the array.
  ArrayPtr fill = mxhost::makeScalar(6);
  for (int nlhs : {0, 1, 4}) {
    r = echo_.call(nlhs, {fill.get()});
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.outputs.size(), static_cast<size_t>(nlhs > 0 ? nlhs : 1));
    EXPECT_EQ(mxGetScalar(r.outputs.back().get()),
              static_cast<double>(r.outputs.size()));
  }
}

TEST_F(LoaderTest, ForeignExceptionsAndBadOutputsPropagateWithoutLeaks) {
  ArrayPtr thrower = mxhost::makeScalar(4);
  EXPECT_THROW(echo_.call(1, {thrower.get()}), std::runtime_error);
  ArrayPtr aliasInput = mxhost::makeScalar(5);
  EXPECT_THROW(echo_.call(1, {aliasInput.get()}), std::logic_error);
  ArrayPtr twice = mxhost::makeScalar(7);
  EXPECT_THROW(echo_.call(2, {twice.get()}), std::logic_error);
  EXPECT_THROW(echo_.call(-1, {thrower.get()}), std::invalid_argument);
  EXPECT_THROW(echo_.call(1, {nullptr}), std::invalid_argument);
}

#ifdef MXHOST_MACHO
// ---- The Mach-O loader's host boundary ----
//
// A macOS module's frames have no unwind tables this process can read, so a
// host error leaves the module by a jump back to macho::call, which throws
// it. Plain functions stand in for the module, calling the host through the
// addresses a bundle's imports are bound to; noexcept, so that, as with a
// Mach-O module, an exception reaching them ends the program.

template <typename F>
F import(const char *dylib, const char *name) {
  return reinterpret_cast<F>(mxhost::macho::importAddress(dylib, name));
}

void createsThenFails(int, mxArray **plhs, int, const mxArray **) noexcept {
  auto create = import <mxArray *(*)(int, int, mxComplexity)>(
      "@rpath/libmx.dylib", "_mxCreateDoubleMatrix_700");
  plhs[0] = create(2, 2, mxREAL);
  plhs[1] = create(-1, 2, mxREAL);
}

void reportsError(int, mxArray **, int, const mxArray **) noexcept {
  auto error = import <void (*)(const char *, const char *, ...)>(
      "@rpath/libmex.dylib", "_mexErrMsgIdAndTxt");
#if defined(__aarch64__)
  // The arm64 binding takes its variadic arguments from the stack, as
  // Apple's convention passes them and no Linux caller can: this call has
  // none. The arm64 bundles' own messages (module_test) cover arguments.
  error("test:id", "value 7 of x");
#else
  error("test:id", "value %d of %s", 7, "x");
#endif
}

TEST(MachOBoundary, HostErrorsLeaveTheModuleAsMexError) {
  const size_t before = mxhost::liveArrayCount();
  for (int round = 0; round < 2; ++round) {
    mxhost::CallScope scope;
    mxArray *plhs[2] = {nullptr, nullptr};
    try {
      mxhost::macho::call(createsThenFails, 2, plhs, 0, nullptr);
      FAIL() << "no error";
    } catch (const MexError &e) {
      EXPECT_EQ(e.id(), "mxhost:badSize");
    }
    EXPECT_NE(plhs[0], nullptr);
    EXPECT_EQ(plhs[1], nullptr);
    try {
      mxhost::macho::call(reportsError, 0, plhs, 0, nullptr);
      FAIL() << "no error";
    } catch (const MexError &e) {
      EXPECT_EQ(e.id(), "test:id");
      EXPECT_STREQ(e.what(), "value 7 of x");
    }
  }
  EXPECT_EQ(mxhost::liveArrayCount(), before);
  // Only the stubs' functions, each from its own dylib.
  EXPECT_THROW(mxhost::macho::importAddress("@rpath/libmx.dylib", "_mxFree"),
               std::runtime_error);
  EXPECT_THROW(mxhost::macho::importAddress("@rpath/libmex.dylib", "_mxGetPr"),
               std::runtime_error);
}
#endif

// ---- mexrun ----

struct RunResult {
  int status;
  std::string out;
};

// A cross build's mexrun runs under the same emulator as this program
// (MEXRUN_EMULATOR, empty natively).
RunResult mexrun(const std::string &args) {
  const std::string emulator = MEXRUN_EMULATOR;
  const std::string cmd = (emulator.empty() ? "" : "'" + emulator + "' ") +
                          "'" + MEXRUN + "' " + args + " 2>/dev/null";
  RunResult r{-1, ""};
  FILE *p = popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[256];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int raw = pclose(p);
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

const std::string kEcho = std::string("'") + ECHO_MODULE + "'";

TEST(Mexrun, PrintsOutputsBitExact) {
  RunResult r = mexrun("--hex " + kEcho +
                       " 1 double:1x1:1 'double:1x4:-0,nan,1e-310,-inf'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "out1 double 1x4\n8000000000000000\n7ff8000000000000\n"
            "000012688b70e62b\nfff0000000000000\n");
  r = mexrun(kEcho + " 1 double:1x1:1 double:2x1x3");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, 17), "out1 double 2x3\n0");
}

TEST(Mexrun, ReportsModuleErrorsAndBadUsage) {
  RunResult r = mexrun(kEcho + " 1 double:1x1:2");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "error echo:fail: failed with 42 and text\n");
  // Output requested but never assigned.
  EXPECT_EQ(mexrun(kEcho + " 2 double:1x1:3").status, 3);

  EXPECT_EQ(mexrun("").status, 2);
  EXPECT_EQ(mexrun(kEcho).status, 2);
  EXPECT_EQ(mexrun("/nonexistent.mexa64 1").status, 2);
  for (const char *bad :
       {"x double:1x1", "1 double:1x1:1,2", "1 double:1x1:1x", "1 double:-1x2",
        "1 double:1", "1 int8:1x1", "1 double/sparse:1x1", "1 'double:1x1: 1'",
        "1 double:1x1:1:2", "1 double:99999999999999999999x1",
        "1 double:4294967296x4294967296x2"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(mexrun(kEcho + " " + bad).status, 2);
  }
}

}  // namespace
