// Reading and checking the twelve arguments that both modules take:
//   (Xw, Yw, Zw, dx, dy, sx, cx, cy, f, kappa1, R, T)
// Misuse is reported through the host's error facility, which does not
// return; nothing that owns memory is alive when it is called.
#pragma once

#include <cstdint>

#include "camera_model.hpp"
#include "mex.h"

namespace scenemap {

// Input positions, 0-based, in call order.
enum SceneArg {
  kArgXw,
  kArgYw,
  kArgZw,
  kArgDx,
  kArgDy,
  kArgSx,
  kArgCx,
  kArgCy,
  kArgF,
  kArgKappa1,
  kArgR,
  kArgT,
  kNumSceneArgs
};

// The checked inputs: camera parameters copied out of the host arrays, the
// three point arrays (host-owned, read-only during the call) and the grid
// shape taken from Xw.
struct SceneInputs {
  CameraParams params;
  const double *Xw;
  const double *Yw;
  const double *Zw;
  std::int32_t M;
  std::int32_t N;
};

// Names of the three point arrays in the projections' messages.
extern const char *const kWorldPointNames[3];

// Checks the call (exactly twelve inputs, at most maxOutputs outputs) and
// every argument, then fills *in. Messages name the three point arrays by
// pointNames (the back-projection reads image points u, v into Xw, Yw). Point
// arrays, R and T must be real, full double arrays with enough elements; the
// seven scalars real, full, non-empty and numeric (their first element is
// used). M and N must fit the 32-bit sizes of the host's creation functions.
void readSceneInputs(int nlhs, int maxOutputs, int nrhs, const mxArray *prhs[],
                     const char *outputNames, SceneInputs *in,
                     const char *const pointNames[3] = kWorldPointNames);

}  // namespace scenemap
