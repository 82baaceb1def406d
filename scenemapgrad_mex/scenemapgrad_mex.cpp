// [u, v, dUV, dCam] = scenemapgrad_mex(Xw, Yw, Zw, dx, dy, sx, cx, cy, f,
//                                      kappa1, R, T)
//
// Projects an M-by-N grid of world points like scenemap_mex and adds, per
// point, the 2x2 block of derivatives of (u, v) with respect to world X and
// Y as a 2-by-2-by-M-by-N array and, when asked for, the derivatives by the
// 19 camera parameters as a 19-by-2-by-M-by-N array (layout in
// derivative_grid.hpp). The host entry only checks the arguments, creates
// the results and runs the walk.
#include "camera_model.hpp"
#include "derivative_grid.hpp"
#include "mex.h"
#include "scene_args.hpp"

namespace {
enum Output { kOutU, kOutV, kOutDUV, kOutDCam, kNumOutputs };
}  // namespace

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  scenemap::SceneInputs in;
  scenemap::readSceneInputs(nlhs, kNumOutputs, nrhs, prhs, "u, v, dUV, dCam",
                            &in);

  mxArray *u = mxCreateDoubleMatrix(in.M, in.N, mxREAL);
  mxArray *v = mxCreateDoubleMatrix(in.M, in.N, mxREAL);

  double *dUV = nullptr;
  if (nlhs > kOutDUV) {
    const mwSize dims[4] = {2, 2, in.M, in.N};
    plhs[kOutDUV] = mxCreateNumericArray(4, dims, mxDOUBLE_CLASS, mxREAL);
    dUV = mxGetPr(plhs[kOutDUV]);
  }
  // dCam only when asked for: the other outputs are the same bits either way.
  double *dCam = nullptr;
  if (nlhs > kOutDCam) {
    const mwSize dims[4] = {19, 2, in.M, in.N};
    plhs[kOutDCam] = mxCreateNumericArray(4, dims, mxDOUBLE_CLASS, mxREAL);
    dCam = mxGetPr(plhs[kOutDCam]);
  }
  // Without dUV and dCam the derivatives are not computed; u and v are the
  // same.
  scenemap::projectSceneGridWithDerivatives(in.params, in.Xw, in.Yw, in.Zw,
                                            in.M, in.N, mxGetPr(u), mxGetPr(v),
                                            dUV, dCam);

  scenemap::handBack(nlhs, plhs, kOutU, u);
  scenemap::handBack(nlhs, plhs, kOutV, v);
}
