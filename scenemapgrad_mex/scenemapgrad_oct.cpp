// [u, v, dUV, dCam] = scenemapgrad_mex (Xw, Yw, Zw, dx, dy, sx, cx, cy, f,
//                                       kappa1, R, T)
//
// The derivatives module as a native Octave function (scenemapgrad_mex.oct):
// the same checks and results as the MEX build, but the results are created
// as Octave arrays and returned without the copy the MEX interface makes,
// and Ctrl-C stops a long call between runs of points.
#include <octave/oct.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "derivative_grid.hpp"
#include "octave_results.hpp"
#include "point_runs.hpp"
#include "scene_args_octave.hpp"
#include "scenemapgrad_mex_help.h"

DEFUN_DLD(scenemapgrad_mex, args, nargout, SCENEMAP_HELP_TEXT) {
  const scenemap::OctaveSceneArgs checked("scenemapgrad_mex", args, nargout, 4,
                                          "u, v, dUV, dCam");
  const scenemap::SceneInputs &in = checked.inputs();

  const dim_vector dims(in.M, in.N);
  scenemap::OctaveResult u(dims);
  scenemap::OctaveResult v(dims);
  double *pu = u.data();
  double *pv = v.data();
  const auto quit = [] { octave_quit(); };
  if (nargout < 3) {
    // Without dUV the derivatives are not computed; u and v are the same.
    scenemap::projectSceneInRuns(in, pu, pv, quit);
    return scenemap::requestedOutputs(ovl(u.value(), v.value()), nargout);
  }

  // 2-by-2-by-M-by-N, trailing singleton dimensions dropped as Octave does.
  dim_vector blockDims(2, 2, in.M, in.N);
  blockDims.chop_trailing_singletons();
  NDArray dUV = scenemap::unwrittenArray(blockDims);
  double *pd = dUV.fortran_vec();
  // dCam only when asked for, 19-by-2-by-M-by-N. Its absent points' blocks
  // are zeroed per run (the walk writes every entry of the others), so that
  // its 304 bytes a point are not written twice.
  NDArray dCam;
  double *pc = nullptr;
  if (nargout > 3) {
    dim_vector camDims(19, 2, in.M, in.N);
    camDims.chop_trailing_singletons();
    dCam = scenemap::unwrittenArray(camDims);
    pc = dCam.fortran_vec();
  }
  scenemap::walkInRuns(
      static_cast<std::ptrdiff_t>(in.M) * in.N,
      [&](std::ptrdiff_t first, std::int32_t count) {
        scenemap::zeroRun(pu, 1, first, count);
        scenemap::zeroRun(pv, 1, first, count);
        scenemap::zeroRun(pd, 4, first, count);
        if (pc) {
          for (std::ptrdiff_t k = first; k < first + count; ++k) {
            if (in.Xw[k] == 0) {
              std::fill_n(pc + 38 * k, 38, 0.0);
            }
          }
        }
        scenemap::projectSceneGridWithDerivatives(
            in.params, in.Xw + first, in.Yw + first, in.Zw + first, count, 1,
            pu + first, pv + first, pd + 4 * first,
            pc ? pc + 38 * first : nullptr);
      },
      quit);
  if (pc) {
    return ovl(u.value(), v.value(), dUV, dCam);
  }
  return ovl(u.value(), v.value(), dUV);
}
