#include "scene_args.hpp"

namespace scenemap {

void describeMexArg(const mxArray *a, ArgInfo *info) {
  info->isDouble = mxGetClassID(a) == mxDOUBLE_CLASS;
  info->isNumeric = mxIsNumeric(a);
  info->isComplex = mxIsComplex(a);
  info->isSparse = mxIsSparse(a);
  info->count = mxGetNumberOfElements(a);
  // The element count is the product of the dimensions, so the shape
  // follows from it where it can: one element is 1-by-1, and the host's N
  // is the count over M unless M is 0.
  if (info->count == 1) {
    info->rows = 1;
    info->cols = 1;
  } else {
    info->rows = mxGetM(a);
    info->cols = info->rows != 0 ? info->count / info->rows : mxGetN(a);
  }
  info->className = "";
}

void raiseMexError(const ArgError &err) {
  mexErrMsgIdAndTxt(err.id, "%s", err.message);
}

void readSceneInputs(int nlhs, int maxOutputs, int nrhs, const mxArray *prhs[],
                     const char *outputNames, SceneInputs *in,
                     const char *const pointNames[3]) {
  ArgInfo args[kNumSceneArgs];
  const int given = nrhs < kNumSceneArgs ? nrhs : kNumSceneArgs;
  for (int i = 0; i < given; ++i) {
    describeMexArg(prhs[i], &args[i]);
  }
  // The checks stop at the first missing argument; the rest are described
  // as empty all the same (field by field: no call to the C library).
  for (int i = given; i < kNumSceneArgs; ++i) {
    args[i] = ArgInfo{false, false, false, false, 0, 0, 0, ""};
  }
  ArgError err;
  if (!checkSceneInputs(nlhs, maxOutputs, outputNames, nrhs, args, in, &err,
                        pointNames)) {
    // The class names, which only the message needs (and which a host may
    // build and allocate for), are read now and the same checks run again
    // for the same error, now with its full message.
    for (int i = 0; i < given; ++i) {
      args[i].className = mxGetClassName(prhs[i]);
    }
    checkSceneInputs(nlhs, maxOutputs, outputNames, nrhs, args, in, &err,
                     pointNames);
    raiseMexError(err);
  }
  const double *data[kNumSceneArgs] = {};
  double first[kNumSceneArgs] = {};
  for (int pos = 0; pos < kNumSceneArgs; ++pos) {
    if (isSceneArray(pos)) {
      data[pos] = mxGetPr(prhs[pos]);
    } else {
      first[pos] = mxGetScalar(prhs[pos]);
    }
  }
  takeSceneValues(data, first, in);
}

void handBack(int nlhs, mxArray *plhs[], int slot, mxArray *result) {
  if (slot == 0 || slot < nlhs) {
    plhs[slot] = result;
  } else {
    mxDestroyArray(result);
  }
}

}  // namespace scenemap
