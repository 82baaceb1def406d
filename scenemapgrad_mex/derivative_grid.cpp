#include "derivative_grid.hpp"

#include <cstddef>

#include "derivative_kernel.hpp"
#include "projection_kernel.hpp"

namespace scenemap {

namespace {

// The walk with the block of derivatives by world X and Y.
void walkWithBlocks(const CameraParams &params, const double *Xw,
                    const double *Yw, const double *Zw, std::ptrdiff_t count,
                    double *u, double *v, double *dUV) {
  const kernel::ExtendedPrecision precision;
  kernel::clearUpperVectorHalves();
  const CameraParams cam = params;
  const kernel::SolverConstants sc = kernel::solverConstants(cam.kappa1);
  const kernel::DerivativeConstants dc = kernel::derivativeConstants(cam);
  // Absent points (Xw[k] == 0) are skipped: u, v and the block stay zero.
  // The closed form's library calls are issued beside the solve's; the
  // chain-rule form reuses the projection's distortion solve, including the
  // scaled solve's record.
  kernel::ClosedForm closed[2 * kernel::kBlock];
  kernel::walkGrid(
      cam, sc, Xw, Yw, Zw, count,
      [&](int slot, const kernel::PointFront &front) {
        kernel::closedFormPrepare(cam, dc, front.xc, front.yc, front.zc,
                                  &closed[slot]);
      },
      [&](std::ptrdiff_t k, int slot, const kernel::PointFront &front,
          double rd, RadiusBranch branch) {
        FramePoint pt;
        kernel::ScaledSolve scaled;
        kernel::projectBack(cam, front, rd, &pt, &scaled);
        u[k] = pt.u;
        v[k] = pt.v;
        kernel::frameDerivatives(cam, dc, front, closed[slot], rd, branch,
                                 &scaled, dUV + 4 * k);
      });
}

}  // namespace

void projectSceneGridWithDerivatives(const CameraParams &params,
                                     const double *Xw, const double *Yw,
                                     const double *Zw, std::int32_t M,
                                     std::int32_t N, double *u, double *v,
                                     double *dUV) {
  if (M < 1 || N < 1) {
    return;
  }
  if (!dUV) {
    // Without derivatives the walk is the projection's.
    projectSceneGrid(params, Xw, Yw, Zw, M, N, u, v);
    return;
  }
  walkWithBlocks(params, Xw, Yw, Zw, static_cast<std::ptrdiff_t>(M) * N, u, v,
                 dUV);
}

}  // namespace scenemap
