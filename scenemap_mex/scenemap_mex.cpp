// [u, v] = scenemap_mex(Xw, Yw, Zw, dx, dy, sx, cx, cy, f, kappa1, R, T)
//
// Projects an M-by-N grid of world points to image coordinates. The host
// entry only checks the arguments, creates the results and runs the walk.
#include "camera_model.hpp"
#include "mex.h"
#include "scene_args.hpp"

namespace {
enum Output { kOutU, kOutV, kNumOutputs };
}  // namespace

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  scenemap::SceneInputs in;
  scenemap::readSceneInputs(nlhs, kNumOutputs, nrhs, prhs, "u, v", &in);

  mxArray *u = mxCreateDoubleMatrix(in.M, in.N, mxREAL);
  mxArray *v = mxCreateDoubleMatrix(in.M, in.N, mxREAL);
  scenemap::projectSceneGrid(in.params, in.Xw, in.Yw, in.Zw, in.M, in.N,
                             mxGetPr(u), mxGetPr(v));
  scenemap::handBack(nlhs, plhs, kOutU, u);
  scenemap::handBack(nlhs, plhs, kOutV, v);
}
