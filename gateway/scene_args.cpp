#include "scene_args.hpp"

namespace scenemap {

namespace {

const mxArray *mx(const void *a) { return static_cast<const mxArray *>(a); }

const ArgHost kMexHost = {
    [](const void *a) { return mxGetClassName(mx(a)); },
    [](const void *a, std::size_t *rows, std::size_t *cols) {
      *rows = mxGetM(mx(a));
      *cols = mxGetN(mx(a));
    },
    [](const void *a) -> const double * { return mxGetPr(mx(a)); },
    [](const void *a) { return mxGetScalar(mx(a)); },
};

}  // namespace

void describeMexArg(const mxArray *a, ArgInfo *info) {
  info->isDouble = mxGetClassID(a) == mxDOUBLE_CLASS;
  info->isNumeric = mxIsNumeric(a);
  info->isComplex = mxIsComplex(a);
  info->isSparse = mxIsSparse(a);
  info->count = mxGetNumberOfElements(a);
  info->arg = a;
  info->host = &kMexHost;
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
}

}  // namespace scenemap
