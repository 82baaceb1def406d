#include "scene_args.hpp"

#include <cstddef>
#include <cstdint>

namespace scenemap {

namespace {

const char *const kArgNames[kNumSceneArgs] = {
    "Xw", "Yw", "Zw", "dx", "dy", "sx", "cx", "cy", "f", "kappa1", "R", "T"};

// Largest grid dimension the 32-bit creation functions accept.
constexpr std::size_t kMaxDim = INT32_MAX;

// Complex and sparse arrays store their data in other layouts.
void requireRealFull(const mxArray *a, int pos) {
  if (mxIsComplex(a)) {
    mexErrMsgIdAndTxt("scenemap:complex",
                      "argument %d (%s) must be real, not complex", pos + 1,
                      kArgNames[pos]);
  }
  if (mxIsSparse(a)) {
    mexErrMsgIdAndTxt("scenemap:sparse",
                      "argument %d (%s) must be a full array, not sparse",
                      pos + 1, kArgNames[pos]);
  }
}

// Real, full double array with at least minElems elements; returns its data.
const double *readDoubleArray(const mxArray *prhs[], int pos,
                              std::size_t minElems, const char *needs) {
  const mxArray *a = prhs[pos];
  const char *name = kArgNames[pos];
  if (mxGetClassID(a) != mxDOUBLE_CLASS) {
    mexErrMsgIdAndTxt("scenemap:notDouble",
                      "argument %d (%s) must be a double array, not %s",
                      pos + 1, name, mxGetClassName(a));
  }
  requireRealFull(a, pos);
  const std::size_t count = mxGetNumberOfElements(a);
  if (count < minElems) {
    mexErrMsgIdAndTxt("scenemap:tooShort",
                      "argument %d (%s) has %llu elements but needs at least "
                      "%llu%s",
                      pos + 1, name, static_cast<unsigned long long>(count),
                      static_cast<unsigned long long>(minElems), needs);
  }
  return mxGetPr(a);
}

// Real, full, non-empty numeric array; returns its first element as double.
double readScalar(const mxArray *prhs[], int pos) {
  const mxArray *a = prhs[pos];
  const char *name = kArgNames[pos];
  if (!mxIsNumeric(a)) {
    mexErrMsgIdAndTxt("scenemap:notNumeric",
                      "argument %d (%s) must be a numeric scalar, not %s",
                      pos + 1, name, mxGetClassName(a));
  }
  requireRealFull(a, pos);
  if (mxGetNumberOfElements(a) == 0) {
    mexErrMsgIdAndTxt("scenemap:empty",
                      "argument %d (%s) is empty; expected a numeric scalar",
                      pos + 1, name);
  }
  return mxGetScalar(a);
}

}  // namespace

void readSceneInputs(int nlhs, int maxOutputs, int nrhs, const mxArray *prhs[],
                     const char *outputNames, SceneInputs *in) {
  if (nrhs != kNumSceneArgs) {
    mexErrMsgIdAndTxt("scenemap:nargin",
                      "expected 12 input arguments (Xw, Yw, Zw, dx, dy, sx, "
                      "cx, cy, f, kappa1, R, T) but got %d",
                      nrhs);
  }
  if (nlhs > maxOutputs) {
    mexErrMsgIdAndTxt("scenemap:nargout",
                      "returns at most %d outputs (%s) but %d were requested",
                      maxOutputs, outputNames, nlhs);
  }

  // The grid shape comes from Xw alone; check it fits the 32-bit sizes
  // before anything is derived from it.
  const double *Xw = readDoubleArray(prhs, kArgXw, 0, "");
  const std::size_t rows = mxGetM(prhs[kArgXw]);
  const std::size_t cols = mxGetN(prhs[kArgXw]);
  if (rows > kMaxDim || cols > kMaxDim) {
    mexErrMsgIdAndTxt("scenemap:tooLarge",
                      "argument 1 (Xw) is %llu-by-%llu; each dimension must "
                      "be at most %llu",
                      static_cast<unsigned long long>(rows),
                      static_cast<unsigned long long>(cols),
                      static_cast<unsigned long long>(kMaxDim));
  }
  // Both factors are below 2^31, so the product fits 64 bits.
  const std::size_t points = rows * cols;

  in->Xw = Xw;
  in->Yw = readDoubleArray(prhs, kArgYw, points, ", as many as Xw");
  in->Zw = readDoubleArray(prhs, kArgZw, points, ", as many as Xw");

  CameraParams &p = in->params;
  p.dx = readScalar(prhs, kArgDx);
  p.dy = readScalar(prhs, kArgDy);
  p.sx = readScalar(prhs, kArgSx);
  p.cx = readScalar(prhs, kArgCx);
  p.cy = readScalar(prhs, kArgCy);
  p.f = readScalar(prhs, kArgF);
  p.kappa1 = readScalar(prhs, kArgKappa1);

  const double *R = readDoubleArray(prhs, kArgR, 9, " (a 3-by-3 rotation)");
  for (int i = 0; i < 9; ++i) {
    p.R[i] = R[i];
  }
  const double *T = readDoubleArray(prhs, kArgT, 3, " (a 3-vector)");
  for (int i = 0; i < 3; ++i) {
    p.T[i] = T[i];
  }

  in->M = static_cast<std::int32_t>(rows);
  in->N = static_cast<std::int32_t>(cols);
}

}  // namespace scenemap
