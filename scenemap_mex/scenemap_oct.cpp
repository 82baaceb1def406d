// [u, v] = scenemap_mex (Xw, Yw, Zw, dx, dy, sx, cx, cy, f, kappa1, R, T)
//
// The projection module as a native Octave function (scenemap_mex.oct):
// the same checks and results as the MEX build, but the results are created
// as Octave arrays and returned without the copy the MEX interface makes,
// and Ctrl-C stops a long call between runs of points.
#include <octave/oct.h>

#include "octave_results.hpp"
#include "point_runs.hpp"
#include "scene_args_octave.hpp"
#include "scenemap_mex_help.h"

DEFUN_DLD(scenemap_mex, args, nargout, SCENEMAP_HELP_TEXT) {
  const scenemap::OctaveSceneArgs checked("scenemap_mex", args, nargout, 2,
                                          "u, v");
  const scenemap::SceneInputs &in = checked.inputs();

  const dim_vector dims(in.M, in.N);
  scenemap::OctaveResult u(dims);
  scenemap::OctaveResult v(dims);
  scenemap::projectSceneInRuns(in, u.data(), v.data(), [] { octave_quit(); });
  return scenemap::requestedOutputs(ovl(u.value(), v.value()), nargout);
}
