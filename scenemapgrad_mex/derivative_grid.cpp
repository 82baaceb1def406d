#include "derivative_grid.hpp"

#include <cstddef>

#include "derivative_kernel.hpp"
#include "projection_kernel.hpp"

namespace scenemap {

void projectSceneGridWithDerivatives(const CameraParams &params,
                                     const double *Xw, const double *Yw,
                                     const double *Zw, std::int32_t M,
                                     std::int32_t N, double *u, double *v,
                                     double *dUV) {
  if (M < 1 || N < 1) {
    return;
  }
  kernel::clearUpperVectorHalves();
  const CameraParams cam = params;
  const kernel::SolverConstants sc = kernel::solverConstants(cam.kappa1);
  const kernel::DerivativeConstants dc = kernel::derivativeConstants(cam);
  const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(M) * N;
  for (std::ptrdiff_t k = 0; k < count; ++k) {
    if (Xw[k] == 0) {
      continue;  // absent point: u, v and its block stay zero
    }
    FramePoint pt;
    kernel::Distortion dist;
    kernel::projectPoint(cam, sc, Xw[k], Yw[k], Zw[k], &pt, &dist);
    u[k] = pt.u;
    v[k] = pt.v;
    // The chain-rule form reuses this projection's distortion solve.
    kernel::frameDerivatives(cam, dc, pt.xc, pt.yc, pt.zc, dist, dUV + 4 * k);
  }
}

}  // namespace scenemap
