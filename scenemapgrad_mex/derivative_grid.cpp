#include "derivative_grid.hpp"

#include <cstddef>

#include "camera_derivatives.hpp"
#include "derivative_kernel.hpp"
#include "projection_kernel.hpp"

namespace scenemap {

namespace {

// The walk, compiled for each set of derivative outputs so that an output
// not asked for costs nothing per point: kBlocks writes dUV, kCamera dCam.
template <bool kBlocks, bool kCamera>
void walk(const CameraParams &params, const double *Xw, const double *Yw,
          const double *Zw, std::ptrdiff_t count, double *u, double *v,
          double *dUV, double *dCam) {
  const kernel::ExtendedPrecision precision;
  kernel::clearUpperVectorHalves();
  const CameraParams cam = params;
  const kernel::SolverConstants sc = kernel::solverConstants(cam.kappa1);
  const kernel::DerivativeConstants dc = kernel::derivativeConstants(cam);
  const kernel::CameraJacobianConstants jc =
      kernel::cameraJacobianConstants(cam);
  // Absent points (Xw[k] == 0) are skipped: u, v and the blocks stay zero.
  // The closed form's library calls are issued beside the solve's; the
  // chain-rule form and the camera Jacobian reuse the projection's
  // distortion solve, including the scaled solve's record.
  // Not const: where kCamera is false its value would be a constant, which
  // a lambda may use without capturing it.
  bool stream = kCamera && kernel::streamCameraBlocks(dCam, count);
  kernel::walkGrid<kernel::ClosedForm>(
      cam, sc, Xw, Yw, Zw, count,
      [cam, dc](const kernel::PointFront &front, const kernel::CubeRoots &roots,
                kernel::ClosedForm *closed) {
        if (kBlocks) {
          kernel::closedFormPrepare(cam, dc, front.xc, front.yc, front.zc,
                                    closed, &roots);
        }
      },
      // Everything by value: no load of each through the frame.
      [cam, dc, &jc, u, v, dUV, dCam, Xw, Yw, Zw, stream](
          std::ptrdiff_t k, const kernel::PointFront &front, double rd,
          RadiusBranch branch, const kernel::ClosedForm &closed) {
        FramePoint pt;
        kernel::Distortion scaled;
        kernel::projectBack(cam, front, rd, &pt, &scaled);
        u[k] = pt.u;
        v[k] = pt.v;
        if (kBlocks) {
          kernel::frameDerivatives(cam, dc, front, closed, rd, branch, &scaled,
                                   dUV + 4 * k);
        }
        if (kCamera) {
          double *block = dCam + 2 * kernel::kCameraParams * k;
          if (stream) {
            kernel::cameraDerivatives<kernel::StreamingStores>(
                cam, jc, front, rd, branch, scaled, Xw[k], Yw[k], Zw[k], block);
          } else {
            kernel::cameraDerivatives(cam, jc, front, rd, branch, scaled, Xw[k],
                                      Yw[k], Zw[k], block);
          }
        }
      });
  if (stream) {
    kernel::streamingFence();
  }
}

}  // namespace

void projectSceneGridWithDerivatives(const CameraParams &params,
                                     const double *Xw, const double *Yw,
                                     const double *Zw, std::int32_t M,
                                     std::int32_t N, double *u, double *v,
                                     double *dUV, double *dCam) {
  if (M < 1 || N < 1) {
    return;
  }
  const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(M) * N;
  if (dUV && dCam) {
    walk<true, true>(params, Xw, Yw, Zw, count, u, v, dUV, dCam);
  } else if (dUV) {
    walk<true, false>(params, Xw, Yw, Zw, count, u, v, dUV, dCam);
  } else if (dCam) {
    walk<false, true>(params, Xw, Yw, Zw, count, u, v, dUV, dCam);
  } else {
    // Without derivatives the walk is the projection's.
    projectSceneGrid(params, Xw, Yw, Zw, M, N, u, v);
  }
}

}  // namespace scenemap
