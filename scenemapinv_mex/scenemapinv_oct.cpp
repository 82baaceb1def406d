// [Xw, Yw, dXY] = scenemapinv_mex (u, v, Zw, dx, dy, sx, cx, cy, f, kappa1,
//                                  R, T)
//
// The back-projection module as a native Octave function
// (scenemapinv_mex.oct): the same checks and results as the MEX build, but
// the results are created as Octave arrays and returned without the copy
// the MEX interface makes, and Ctrl-C stops a long call between runs of
// points.
#include <octave/oct.h>

#include <cstddef>

#include "image_to_plane.hpp"
#include "octave_results.hpp"
#include "point_runs.hpp"
#include "scene_args_octave.hpp"
#include "scenemapinv_mex_help.h"

DEFUN_DLD(scenemapinv_mex, args, nargout, SCENEMAP_HELP_TEXT) {
  // The shared checks read u and v into the point slots in.Xw and in.Yw.
  const scenemap::OctaveSceneArgs checked("scenemapinv_mex", args, nargout, 3,
                                          "Xw, Yw, dXY",
                                          scenemap::kImagePointNames);
  const scenemap::SceneInputs &in = checked.inputs();

  // The walk writes every element, so the results need no zeroing.
  const dim_vector dims(in.M, in.N);
  scenemap::OctaveResult X(dims);
  scenemap::OctaveResult Y(dims);
  double *px = X.data();
  double *py = Y.data();
  NDArray dXY;
  double *pd = nullptr;
  if (nargout > 2) {
    // 2-by-2-by-M-by-N, trailing singleton dimensions dropped as Octave does.
    dim_vector blockDims(2, 2, in.M, in.N);
    blockDims.chop_trailing_singletons();
    dXY = scenemap::unwrittenArray(blockDims);
    pd = dXY.fortran_vec();
  }
  scenemap::walkInRuns(
      static_cast<std::ptrdiff_t>(in.M) * in.N,
      [&](std::ptrdiff_t first, std::int32_t count) {
        scenemap::backProjectFrameGrid(in.params, in.Xw + first, in.Yw + first,
                                       in.Zw + first, count, 1, px + first,
                                       py + first, pd ? pd + 4 * first : pd);
      },
      [] { octave_quit(); });
  if (pd) {
    return ovl(X.value(), Y.value(), dXY);
  }
  return scenemap::requestedOutputs(ovl(X.value(), Y.value()), nargout);
}
