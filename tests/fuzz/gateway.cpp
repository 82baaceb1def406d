// Fuzz target for the three modules through the stand-in host: random
// argument and output counts, classes, complexity, sparsity, shapes and
// values, often starting from a valid call. Every call either fails with a
// scenemap error id (nargin and nargout where those are wrong) or returns
// results of the right class and shape whose first two equal the core's, bit
// for bit. A crash, a sanitizer report or a loader complaint (an output not
// created by the call, one returned twice) ends the run.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "camera_model.hpp"
#include "fuzz_input.hpp"
#include "image_to_plane.hpp"
#include "mxhost.hpp"

namespace {

using scenemap::fuzz::Input;

[[noreturn]] void fail(const std::string &what) {
  std::fprintf(stderr, "gateway fuzz: %s\n", what.c_str());
  std::abort();
}

const mxhost::Module &module(int which) {
  static const mxhost::Module plain(SCENEMAP_MODULE_DIR "/scenemap_mex.mexa64");
  static const mxhost::Module grad(SCENEMAP_MODULE_DIR
                                   "/scenemapgrad_mex.mexa64");
  static const mxhost::Module inv(SCENEMAP_MODULE_DIR
                                  "/scenemapinv_mex.mexa64");
  return which == 0 ? plain : which == 1 ? grad : inv;
}

constexpr mxClassID kClasses[] = {
    mxDOUBLE_CLASS, mxSINGLE_CLASS, mxINT8_CLASS,    mxUINT8_CLASS,
    mxINT16_CLASS,  mxUINT16_CLASS, mxINT32_CLASS,   mxUINT32_CLASS,
    mxINT64_CLASS,  mxUINT64_CLASS, mxLOGICAL_CLASS, mxCHAR_CLASS,
    mxCELL_CLASS,   mxSTRUCT_CLASS, mxFUNCTION_CLASS};

bool isNumeric(mxClassID c) {
  return c != mxLOGICAL_CLASS && c != mxCHAR_CLASS && c != mxCELL_CLASS &&
         c != mxSTRUCT_CLASS && c != mxFUNCTION_CLASS;
}

double value(Input &in) {
  return in.pick(2) ? in.raw() : in.logUniform(1e-3, 1e3, true);
}

void fillBytes(Input &in, void *data, std::size_t bytes) {
  auto *p = static_cast<std::uint8_t *>(data);
  for (std::size_t i = 0; i < bytes; ++i) p[i] = in.byte();
}

void fill(Input &in, mxArray *a) {
  const std::size_t n = mxhost::storedCount(a);
  const mxClassID cls = mxGetClassID(a);
  void *parts[2] = {mxhost::realData(a), mxhost::imagData(a)};
  for (void *data : parts) {
    if (data == nullptr) continue;
    if (cls == mxDOUBLE_CLASS) {
      auto *d = static_cast<double *>(data);
      for (std::size_t i = 0; i < n; ++i) d[i] = value(in);
    } else {
      fillBytes(in, data, n * mxhost::elementSize(cls));
    }
  }
}

mxhost::ArrayPtr doubles(Input &in, std::size_t m, std::size_t n) {
  mxhost::ArrayPtr a = mxhost::makeArray(mxDOUBLE_CLASS, {m, n});
  fill(in, a.get());
  return a;
}

// Any kind of array: at most a few hundred elements, but a dimension may be
// beyond 2^31 when another one is zero.
mxhost::ArrayPtr randomArray(Input &in) {
  const mxClassID cls =
      in.pick(2) ? mxDOUBLE_CLASS : kClasses[in.pick(std::size(kClasses))];
  static const std::size_t kDims[] = {0, 1, 1, 1, 2, 3, 3, 4, 9};
  static const std::size_t kHuge[] = {2147483647u, 2147483648u, 3000000000u};
  std::vector<std::size_t> dims(2 + in.pick(3));
  for (std::size_t &d : dims) d = kDims[in.pick(std::size(kDims))];
  if (in.pick(16) == 0) {
    dims[in.pick(dims.size())] = kHuge[in.pick(std::size(kHuge))];
    dims[in.pick(2) ? 0 : dims.size() - 1] = 0;
  }
  const bool complex = isNumeric(cls) && in.pick(4) == 0;
  const bool sparse = (cls == mxDOUBLE_CLASS || cls == mxLOGICAL_CLASS) &&
                      dims.size() == 2 && dims[0] < 10 && dims[1] < 10 &&
                      in.pick(6) == 0;
  mxhost::ArrayPtr a;
  if (sparse && cls == mxDOUBLE_CLASS) {
    a = mxhost::makeSparse(dims[0], dims[1], in.pick(4),
                           complex ? mxCOMPLEX : mxREAL);
  } else {
    a = mxhost::makeArray(cls, dims, complex ? mxCOMPLEX : mxREAL);
  }
  fill(in, a.get());
  return a;
}

// Same bit patterns, with any two NaNs equal: a NaN's sign is not part of a
// result, and the module and the core inline the walk separately.
bool sameBits(const double *a, const std::vector<double> &b) {
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0 &&
        !(std::isnan(a[i]) && std::isnan(b[i])))
      return false;
  }
  return true;
}

void checkOutput(const mxArray *out, const std::vector<std::size_t> &dims,
                 const char *name) {
  if (out == nullptr) fail(std::string(name) + " missing");
  if (mxGetClassID(out) != mxDOUBLE_CLASS || mxIsComplex(out) ||
      mxIsSparse(out) || mxhost::dimensions(out) != dims)
    fail(std::string(name) + " has the wrong class or shape");
}

}  // namespace

// Loads the modules before the first input, so that libFuzzer sees their
// coverage counters from the start.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  for (int which = 0; which < 3; ++which) module(which);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  Input in(data, size);
  const int which = static_cast<int>(in.pick(3));
  // u, v; then dUV and the camera Jacobian dCam, or the inverse's dXY.
  const int maxOutputs = which == 0 ? 2 : which == 1 ? 4 : 3;
  const int nlhs = static_cast<int>(in.pick(6));
  const bool fromValid = in.pick(4) != 0;
  const int nrhs = in.pick(8) == 0 ? static_cast<int>(in.pick(15)) : 12;

  // A valid call on an M-by-N grid, then some arguments replaced.
  const std::size_t M = in.pick(4), N = in.pick(4);
  std::vector<mxhost::ArrayPtr> args;
  for (int i = 0; i < nrhs; ++i) {
    if (!fromValid || i >= 12 || in.pick(4) == 0) {
      args.push_back(randomArray(in));
    } else if (i < 3) {
      args.push_back(i == 0 ? doubles(in, M, N) : doubles(in, 1, M * N));
    } else if (i < 10) {
      args.push_back(doubles(in, 1, 1));
    } else {
      args.push_back(doubles(in, 3, i == 10 ? 3 : 1));
    }
  }
  std::vector<const mxArray *> ptrs;
  for (const auto &a : args) ptrs.push_back(a.get());

  const mxhost::CallResult r = module(which).call(nlhs, ptrs);

  if (!r.ok) {
    static const char *const kIds[] = {
        "scenemap:nargin",  "scenemap:nargout",    "scenemap:notDouble",
        "scenemap:complex", "scenemap:sparse",     "scenemap:tooShort",
        "scenemap:empty",   "scenemap:notNumeric", "scenemap:tooLarge"};
    bool known = false;
    for (const char *id : kIds) known = known || r.errorId == id;
    if (!known || r.errorMessage.empty())
      fail("unknown error id '" + r.errorId + "': " + r.errorMessage);
    if (nrhs != 12 && r.errorId != "scenemap:nargin")
      fail("wrong argument count reported as " + r.errorId);
    if (nrhs == 12 && nlhs > maxOutputs && r.errorId != "scenemap:nargout")
      fail("too many outputs reported as " + r.errorId);
    return 0;
  }

  if (nrhs != 12 || nlhs > maxOutputs) fail("a bad count was accepted");
  const std::size_t m = mxGetM(ptrs[0]), n = mxGetN(ptrs[0]);
  const std::size_t slots = nlhs > 0 ? static_cast<std::size_t>(nlhs) : 1;
  if (r.outputs.size() != slots) fail("wrong number of output slots");
  checkOutput(r.outputs[0].get(), {m, n}, "u");
  if (nlhs > 1) checkOutput(r.outputs[1].get(), {m, n}, "v");
  if (nlhs > 2) {
    // The host drops trailing singleton dimensions beyond the second.
    std::vector<std::size_t> dims{2, 2, m, n};
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    checkOutput(r.outputs[2].get(), dims, "dUV");
  }
  if (nlhs > 3) {
    std::vector<std::size_t> dims{19, 2, m, n};
    while (dims.size() > 2 && dims.back() == 1) dims.pop_back();
    checkOutput(r.outputs[3].get(), dims, "dCam");
  }

  // The first two outputs are the core's, read the way the gateway reads
  // its arguments: u and v, or Xw and Yw back from the image.
  scenemap::CameraParams c;
  double *scalars[] = {&c.dx, &c.dy, &c.sx, &c.cx, &c.cy, &c.f, &c.kappa1};
  for (int i = 0; i < 7; ++i) *scalars[i] = mxGetScalar(ptrs[3 + i]);
  std::memcpy(c.R, mxGetPr(ptrs[10]), sizeof c.R);
  std::memcpy(c.T, mxGetPr(ptrs[11]), sizeof c.T);
  std::vector<double> u(m * n), v(m * n);
  const auto rows = static_cast<std::int32_t>(m);
  const auto cols = static_cast<std::int32_t>(n);
  if (which == 2) {
    scenemap::backProjectFrameGrid(c, mxGetPr(ptrs[0]), mxGetPr(ptrs[1]),
                                   mxGetPr(ptrs[2]), rows, cols, u.data(),
                                   v.data(), nullptr);
  } else {
    scenemap::projectSceneGrid(c, mxGetPr(ptrs[0]), mxGetPr(ptrs[1]),
                               mxGetPr(ptrs[2]), rows, cols, u.data(),
                               v.data());
  }
  if (!sameBits(mxGetPr(r.outputs[0].get()), u) ||
      (nlhs > 1 && !sameBits(mxGetPr(r.outputs[1].get()), v)))
    fail("the first two outputs differ from the core");
  return 0;
}
