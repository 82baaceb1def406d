#include "derivative_grid.hpp"

#include <cstddef>

#include "frame_derivatives.hpp"

namespace scenemap {

void projectSceneGridWithDerivatives(const CameraParams &params,
                                     const double *Xw, const double *Yw,
                                     const double *Zw, std::int32_t M,
                                     std::int32_t N, double *u, double *v,
                                     double *dUV) {
  if (M < 1 || N < 1) {
    return;
  }
  const CameraParams cam = params;
  const std::ptrdiff_t rows = M;
  for (std::ptrdiff_t n = 0; n < N; ++n) {
    for (std::ptrdiff_t m = 0; m < rows; ++m) {
      const std::ptrdiff_t k = n * rows + m;
      if (Xw[k] == 0) {
        continue;  // absent point: u, v and its block stay zero
      }
      FramePoint pt;
      sceneToFrameCoord(cam, Xw[k], Yw[k], Zw[k], &pt);
      u[k] = pt.u;
      v[k] = pt.v;
      frameCoordDerivatives(cam, pt.xc, pt.yc, pt.zc, dUV + 4 * k);
    }
  }
}

}  // namespace scenemap
