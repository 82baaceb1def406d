// Test module for the stand-in host's loader (tests/host_test.cpp). The
// first argument selects the behaviour:
//   1  copy the real parts of args 2..nrhs to plhs[0..] (fresh arrays), as
//      many as max(nlhs, 1) allows, and leak one temporary
//   2  leak a temporary, then fail via mexErrMsgIdAndTxt
//   3  report nlhs and nrhs in a 1x2 double in plhs[0]
//   4  throw a std::runtime_error
//   5  return the input array itself in plhs[0] (a module bug)
//   6  fill every plhs slot up to max(nlhs, 1) with a scalar
//   7  return the same array in plhs[0] and plhs[1] (a module bug)
#include <cstring>
#include <stdexcept>

#include "mex.h"

namespace {

mxArray *copyDouble(const mxArray *in) {
  mxArray *out = mxCreateDoubleMatrix(static_cast<mwSize>(mxGetM(in)),
                                      static_cast<mwSize>(mxGetN(in)), mxREAL);
  const double *src = mxGetPr(in);
  if (src != nullptr)
    std::memcpy(mxGetPr(out), src, mxGetNumberOfElements(in) * sizeof(double));
  return out;
}

}  // namespace

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  if (nrhs < 1) mexErrMsgIdAndTxt("echo:usage", "need a mode argument");
  const int mode = static_cast<int>(mxGetScalar(prhs[0]));
  switch (mode) {
    case 1: {
      mxCreateDoubleMatrix(3, 3, mxREAL);  // leaked on purpose
      for (int i = 1; i < nrhs && i - 1 < (nlhs > 0 ? nlhs : 1); ++i) {
        if (mxGetClassID(prhs[i]) != mxDOUBLE_CLASS || mxIsSparse(prhs[i]))
          mexErrMsgIdAndTxt("echo:type", "argument %d is not full double",
                            i + 1);
        plhs[i - 1] = copyDouble(prhs[i]);
      }
      return;
    }
    case 2: {
      const mwSize dims[3] = {2, 2, 2};
      mxCreateNumericArray(3, dims, mxINT32_CLASS, mxREAL);
      mexErrMsgIdAndTxt("echo:fail", "failed with %d and %s", 42, "text");
    }
    case 3: {
      plhs[0] = mxCreateDoubleMatrix(1, 2, mxREAL);
      mxGetPr(plhs[0])[0] = nlhs;
      mxGetPr(plhs[0])[1] = nrhs;
      return;
    }
    case 4:
      throw std::runtime_error("not a host error");
    case 5:
      plhs[0] = const_cast<mxArray *>(prhs[0]);
      return;
    case 6:
      for (int i = 0; i < (nlhs > 0 ? nlhs : 1); ++i) {
        plhs[i] = mxCreateDoubleMatrix(1, 1, mxREAL);
        mxGetPr(plhs[i])[0] = i + 1;
      }
      return;
    case 7:
      plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);
      if (nlhs > 1) plhs[1] = plhs[0];
      return;
    default:
      mexErrMsgIdAndTxt("echo:mode", "unknown mode %d", mode);
  }
}
