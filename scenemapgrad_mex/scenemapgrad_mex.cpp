// [u, v, dUV] = scenemapgrad_mex(Xw, Yw, Zw, dx, dy, sx, cx, cy, f, kappa1,
//                                R, T)
//
// Projects an M-by-N grid of world points like scenemap_mex and adds, per
// point, the 2x2 block of derivatives of (u, v) with respect to world X and
// Y as a 2-by-2-by-M-by-N array. The host entry only checks the arguments,
// creates the results and runs the walk.
#include "camera_model.hpp"
#include "derivative_grid.hpp"
#include "mex.h"
#include "scene_args.hpp"

namespace {
enum Output { kOutU, kOutV, kOutDUV, kNumOutputs };
}  // namespace

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  scenemap::SceneInputs in;
  scenemap::readSceneInputs(nlhs, kNumOutputs, nrhs, prhs, "u, v, dUV", &in);

  mxArray *u = mxCreateDoubleMatrix(in.M, in.N, mxREAL);
  mxArray *v = mxCreateDoubleMatrix(in.M, in.N, mxREAL);

  if (nlhs > kOutDUV) {
    const mwSize dims[4] = {2, 2, in.M, in.N};
    mxArray *dUV = mxCreateNumericArray(4, dims, mxDOUBLE_CLASS, mxREAL);
    plhs[kOutDUV] = dUV;
    scenemap::projectSceneGridWithDerivatives(in.params, in.Xw, in.Yw, in.Zw,
                                              in.M, in.N, mxGetPr(u),
                                              mxGetPr(v), mxGetPr(dUV));
  } else {
    // Without dUV the derivatives are not computed; u and v are the same.
    scenemap::projectSceneGrid(in.params, in.Xw, in.Yw, in.Zw, in.M, in.N,
                               mxGetPr(u), mxGetPr(v));
  }
  scenemap::handBack(nlhs, plhs, kOutU, u);
  scenemap::handBack(nlhs, plhs, kOutV, v);
}
