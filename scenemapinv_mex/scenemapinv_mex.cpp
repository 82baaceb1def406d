// [Xw, Yw, dXY] = scenemapinv_mex(u, v, Zw, dx, dy, sx, cx, cy, f, kappa1,
//                                 R, T)
//
// The world points on the planes Z = Zw that the camera maps to an M-by-N
// grid of image points, with, per point, the 2x2 block of derivatives of
// (Xw, Yw) with respect to (u, v) as a 2-by-2-by-M-by-N array. The host entry
// only checks the arguments, creates the results and runs the walk.
#include "image_to_plane.hpp"
#include "mex.h"
#include "scene_args.hpp"

namespace {
enum Output { kOutXw, kOutYw, kOutDXY, kNumOutputs };
}  // namespace

void mexFunction(int nlhs, mxArray *plhs[], int nrhs, const mxArray *prhs[]) {
  // The shared checks read u and v into the point slots in.Xw and in.Yw.
  scenemap::SceneInputs in;
  scenemap::readSceneInputs(nlhs, kNumOutputs, nrhs, prhs, "Xw, Yw, dXY", &in,
                            scenemap::kImagePointNames);

  mxArray *X = mxCreateDoubleMatrix(in.M, in.N, mxREAL);
  mxArray *Y = mxCreateDoubleMatrix(in.M, in.N, mxREAL);
  double *dXY = nullptr;
  if (nlhs > kOutDXY) {
    const mwSize dims[4] = {2, 2, in.M, in.N};
    plhs[kOutDXY] = mxCreateNumericArray(4, dims, mxDOUBLE_CLASS, mxREAL);
    dXY = mxGetPr(plhs[kOutDXY]);
  }

  scenemap::backProjectFrameGrid(in.params, in.Xw, in.Yw, in.Zw, in.M, in.N,
                                 mxGetPr(X), mxGetPr(Y), dXY);
  scenemap::handBack(nlhs, plhs, kOutXw, X);
  scenemap::handBack(nlhs, plhs, kOutYw, Y);
}
