#include "scene_args.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace scenemap {

namespace {

// Names of the nine camera arguments, after the three point arrays.
const char *const kCameraArgNames[kNumSceneArgs - 3] = {
    "dx", "dy", "sx", "cx", "cy", "f", "kappa1", "R", "T"};

// The names of one call's twelve arguments, for messages.
struct ArgNames {
  const char *name[kNumSceneArgs];
};

// Largest grid dimension the 32-bit creation functions accept.
constexpr std::size_t kMaxDim = INT32_MAX;

// Complex and sparse arrays store their data in other layouts.
void requireRealFull(const mxArray *a, int pos, const ArgNames &names) {
  if (mxIsComplex(a)) {
    mexErrMsgIdAndTxt("scenemap:complex",
                      "argument %d (%s) must be real, not complex", pos + 1,
                      names.name[pos]);
  }
  if (mxIsSparse(a)) {
    mexErrMsgIdAndTxt("scenemap:sparse",
                      "argument %d (%s) must be a full array, not sparse",
                      pos + 1, names.name[pos]);
  }
}

// Real, full double array with at least minElems elements; returns its data.
const double *readDoubleArray(const mxArray *prhs[], int pos,
                              const ArgNames &names, std::size_t minElems,
                              const char *needs) {
  const mxArray *a = prhs[pos];
  const char *name = names.name[pos];
  if (mxGetClassID(a) != mxDOUBLE_CLASS) {
    mexErrMsgIdAndTxt("scenemap:notDouble",
                      "argument %d (%s) must be a double array, not %s",
                      pos + 1, name, mxGetClassName(a));
  }
  requireRealFull(a, pos, names);
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
double readScalar(const mxArray *prhs[], int pos, const ArgNames &names) {
  const mxArray *a = prhs[pos];
  const char *name = names.name[pos];
  if (!mxIsNumeric(a)) {
    mexErrMsgIdAndTxt("scenemap:notNumeric",
                      "argument %d (%s) must be a numeric scalar, not %s",
                      pos + 1, name, mxGetClassName(a));
  }
  requireRealFull(a, pos, names);
  if (mxGetNumberOfElements(a) == 0) {
    mexErrMsgIdAndTxt("scenemap:empty",
                      "argument %d (%s) is empty; expected a numeric scalar",
                      pos + 1, name);
  }
  return mxGetScalar(a);
}

}  // namespace

const char *const kWorldPointNames[3] = {"Xw", "Yw", "Zw"};

void readSceneInputs(int nlhs, int maxOutputs, int nrhs, const mxArray *prhs[],
                     const char *outputNames, SceneInputs *in,
                     const char *const pointNames[3]) {
  ArgNames names;
  for (int i = 0; i < kNumSceneArgs; ++i) {
    names.name[i] = i < 3 ? pointNames[i] : kCameraArgNames[i - 3];
  }
  if (nrhs != kNumSceneArgs) {
    mexErrMsgIdAndTxt("scenemap:nargin",
                      "expected 12 input arguments (%s, %s, %s, dx, dy, sx, "
                      "cx, cy, f, kappa1, R, T) but got %d",
                      pointNames[0], pointNames[1], pointNames[2], nrhs);
  }
  if (nlhs > maxOutputs) {
    mexErrMsgIdAndTxt("scenemap:nargout",
                      "returns at most %d outputs (%s) but %d were requested",
                      maxOutputs, outputNames, nlhs);
  }

  // The grid shape comes from the first point array alone; check it fits the
  // 32-bit sizes before anything is derived from it.
  const double *Xw = readDoubleArray(prhs, kArgXw, names, 0, "");
  const std::size_t rows = mxGetM(prhs[kArgXw]);
  const std::size_t cols = mxGetN(prhs[kArgXw]);
  if (rows > kMaxDim || cols > kMaxDim) {
    mexErrMsgIdAndTxt("scenemap:tooLarge",
                      "argument 1 (%s) is %llu-by-%llu; each dimension must "
                      "be at most %llu",
                      pointNames[0], static_cast<unsigned long long>(rows),
                      static_cast<unsigned long long>(cols),
                      static_cast<unsigned long long>(kMaxDim));
  }
  // Both factors are below 2^31, so the product fits 64 bits.
  const std::size_t points = rows * cols;

  in->Xw = Xw;
  char asMany[32];
  std::snprintf(asMany, sizeof asMany, ", as many as %s", pointNames[0]);
  in->Yw = readDoubleArray(prhs, kArgYw, names, points, asMany);
  in->Zw = readDoubleArray(prhs, kArgZw, names, points, asMany);

  CameraParams &p = in->params;
  p.dx = readScalar(prhs, kArgDx, names);
  p.dy = readScalar(prhs, kArgDy, names);
  p.sx = readScalar(prhs, kArgSx, names);
  p.cx = readScalar(prhs, kArgCx, names);
  p.cy = readScalar(prhs, kArgCy, names);
  p.f = readScalar(prhs, kArgF, names);
  p.kappa1 = readScalar(prhs, kArgKappa1, names);

  const double *R =
      readDoubleArray(prhs, kArgR, names, 9, " (a 3-by-3 rotation)");
  for (int i = 0; i < 9; ++i) {
    p.R[i] = R[i];
  }
  const double *T = readDoubleArray(prhs, kArgT, names, 3, " (a 3-vector)");
  for (int i = 0; i < 3; ++i) {
    p.T[i] = T[i];
  }

  in->M = static_cast<std::int32_t>(rows);
  in->N = static_cast<std::int32_t>(cols);
}

}  // namespace scenemap
