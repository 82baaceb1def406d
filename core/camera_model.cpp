#include "camera_model.hpp"

#include <cmath>
#include <cstddef>

#include "projection_kernel.hpp"

namespace scenemap {

double distortedRadius(double ru, double kappa1, RadiusBranch *branch) {
  return kernel::distortedRadius(ru, kernel::solverConstants(kappa1), branch);
}

void undistortedToDistortedSensorCoord(double xu, double yu, double *xd_out,
                                       double *yd_out, double kappa1) {
  // At the origin and without distortion the map is the identity. IEEE
  // equality: -0.0 passes through, NaN goes on and propagates.
  if ((xu == 0 && yu == 0) || kappa1 == 0) {
    *xd_out = xu;
    *yd_out = yu;
    return;
  }
  const double ru = std::sqrt(yu * yu + xu * xu);
  RadiusBranch branch;
  const double rd = distortedRadius(ru, kappa1, &branch);
  const double k = rd / ru;
  *xd_out = xu * k;
  *yd_out = k * yu;
}

void sceneToFrameCoord(const CameraParams &params, double X, double Y, double Z,
                       FramePoint *out) {
  const kernel::SolverConstants sc = kernel::solverConstants(params.kappa1);
  kernel::PointFront front;
  kernel::projectFront(params, sc, X, Y, Z, &front);
  double rd = 0;
  if (front.solve) {
    RadiusBranch branch;
    rd = kernel::cubicRoot(front.E, front.D, sc, &branch);
  }
  kernel::projectBack(params, front, rd, out);
}

void projectSceneGrid(const CameraParams &params, const double *Xw,
                      const double *Yw, const double *Zw, std::int32_t M,
                      std::int32_t N, double *u, double *v) {
  if (M < 1 || N < 1) {
    return;
  }
  kernel::clearUpperVectorHalves();
  // The parameters are copied once so the walk reads locals only.
  const CameraParams cam = params;
  const kernel::SolverConstants sc = kernel::solverConstants(cam.kappa1);
  // 64-bit linear index: n * M + m exceeds a 32-bit int above 2^31 points.
  const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(M) * N;
  kernel::walkGrid(
      cam, sc, Xw, Yw, Zw, count, [](int, const kernel::PointFront &) {},
      [&](std::ptrdiff_t k, int, const kernel::PointFront &front, double rd,
          RadiusBranch) {
        FramePoint pt;
        kernel::projectBack(cam, front, rd, &pt);
        u[k] = pt.u;
        v[k] = pt.v;
      });
}

namespace kernel {

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
namespace {
__attribute__((target("avx"))) void zeroUpper() { __builtin_ia32_vzeroupper(); }
}  // namespace

void clearUpperVectorHalves() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx")) {
    zeroUpper();
  }
}
#else
void clearUpperVectorHalves() {}
#endif

}  // namespace kernel

}  // namespace scenemap
