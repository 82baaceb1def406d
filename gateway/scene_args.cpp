#include "scene_args.hpp"

namespace scenemap {

void describeMexArg(const mxArray *a, ArgInfo *info) {
  info->isDouble = mxGetClassID(a) == mxDOUBLE_CLASS;
  info->isNumeric = mxIsNumeric(a);
  info->isComplex = mxIsComplex(a);
  info->isSparse = mxIsSparse(a);
  info->count = mxGetNumberOfElements(a);
  info->rows = mxGetM(a);
  info->cols = mxGetN(a);
  info->className = mxGetClassName(a);
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
  ArgError err;
  if (!checkSceneInputs(nlhs, maxOutputs, outputNames, nrhs, args, in, &err,
                        pointNames)) {
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
