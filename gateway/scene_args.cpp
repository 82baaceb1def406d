#include "scene_args.hpp"

namespace scenemap {

void describeMexArg(const mxArray *a, ArgInfo *info) {
  info->isDouble = mxGetClassID(a) == mxDOUBLE_CLASS;
  info->isNumeric = mxIsNumeric(a);
  info->isComplex = mxIsComplex(a);
  info->isSparse = mxIsSparse(a);
  info->className = mxGetClassName(a);
  info->count = mxGetNumberOfElements(a);
  info->rows = mxGetM(a);
  info->cols = mxGetN(a);
  // Data and first element are taken only where the checks can accept the
  // argument: real, full, non-empty.
  const bool plain = !info->isComplex && !info->isSparse;
  info->data = plain && info->isDouble ? mxGetPr(a) : nullptr;
  info->first =
      plain && info->isNumeric && info->count > 0 ? mxGetScalar(a) : 0;
}

void raiseMexError(const ArgError &err) {
  mexErrMsgIdAndTxt(err.id, "%s", err.message);
}

void readSceneInputs(int nlhs, int maxOutputs, int nrhs, const mxArray *prhs[],
                     const char *outputNames, SceneInputs *in) {
  ArgInfo args[kNumSceneArgs];
  const int given = nrhs < kNumSceneArgs ? nrhs : kNumSceneArgs;
  for (int i = 0; i < given; ++i) {
    describeMexArg(prhs[i], &args[i]);
  }
  ArgError err;
  if (!checkSceneInputs(nlhs, maxOutputs, outputNames, nrhs, args, in, &err)) {
    raiseMexError(err);
  }
}

}  // namespace scenemap
