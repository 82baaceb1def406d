// [a, b, ...] = trivial_call (twelve arguments)
//
// The floor of a call to a MEX function, for bench_calls.m: takes the
// twelve arguments of the modules without looking at them and returns as
// many 1-by-1 zeros as asked for (at least one: the host always has room
// for the first), so that a module's call can be set against the host's
// own cost of making it. A benchmark fixture, not part of the toolbox.
#include "mex.h"

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  (void)nrhs;
  (void)prhs;
  const int n = nlhs > 1 ? nlhs : 1;
  for (int i = 0; i < n; ++i) {
    plhs[i] = mxCreateDoubleScalar(0.0);
  }
}
