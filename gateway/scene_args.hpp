// The MEX adapter of the argument checks (scene_checks.hpp): describes each
// mxArray to the shared checks and raises their error through the host's
// error facility, which does not return; nothing that owns memory is alive
// when it is called.
#pragma once

#include "mex.h"
#include "scene_checks.hpp"

namespace scenemap {

// Describes one host array for the checks, all but its class name, which
// only an error message needs: info->className is left "".
void describeMexArg(const mxArray *a, ArgInfo *info);

// Raises err through mexErrMsgIdAndTxt, which does not return.
void raiseMexError(const ArgError &err);

// Checks the call (exactly twelve inputs, at most maxOutputs outputs, named
// in outputNames) and every argument by checkSceneInputs, the point arrays
// named by pointNames, then fills *in; raises the host error on misuse.
void readSceneInputs(int nlhs, int maxOutputs, int nrhs, const mxArray *prhs[],
                     const char *outputNames, SceneInputs *in,
                     const char *const pointNames[3] = kWorldPointNames);

// Places a result in output slot `slot` when the caller asked for it (the
// host always has room for the first) and destroys it otherwise: the walks
// write every result they are given, asked for or not.
void handBack(int nlhs, mxArray *plhs[], int slot, mxArray *result);

}  // namespace scenemap
