#include "camera_model.hpp"

#include <cfloat>
#include <cmath>
#include <cstddef>

#include "projection_kernel.hpp"

namespace scenemap {

namespace kernel {

double scaledPerspective(double x, double f, double z) {
  const double p = x * f;
  if (isNormalNumber(p) ||
      !(x != 0 && f != 0 && z != 0 && std::fabs(x) <= DBL_MAX &&
        std::fabs(f) <= DBL_MAX && std::fabs(z) <= DBL_MAX)) {
    return p / z;
  }
  // Each operand is m * 2^e with m in [0.5, 1): the products and quotient
  // of the mantissas round as the formula's would without the range's
  // limits, and the powers of two are exact.
  int ex, ef, ez;
  const double m = std::frexp(x, &ex) * std::frexp(f, &ef);
  const double mz = std::frexp(z, &ez);
  return std::ldexp(m / mz, ex + ef - ez);
}

}  // namespace kernel

void sceneToFrameCoord(const CameraParams &params, double X, double Y, double Z,
                       FramePoint *out) {
  const kernel::ExtendedPrecision precision;
  kernel::PointFront front;
  kernel::cameraCoordinates(params, X, Y, Z, &front);
  double xu, yu;
  kernel::perspective(params, front, &xu, &yu);
  kernel::Distortion d;
  kernel::solveDistortion(kernel::solverConstants(params.kappa1), xu, yu,
                          &front, &d);
  kernel::imagePoint(params, front, d, out);
}

void projectSceneGrid(const CameraParams &params, const double *Xw,
                      const double *Yw, const double *Zw, std::int32_t M,
                      std::int32_t N, double *u, double *v) {
  if (M < 1 || N < 1) {
    return;
  }
  const kernel::ExtendedPrecision precision;
  kernel::clearUpperVectorHalves();
  // The parameters are copied once so the walk reads locals only.
  const CameraParams cam = params;
  const kernel::SolverConstants sc = kernel::solverConstants(cam.kappa1);
  // 64-bit linear index: n * M + m exceeds a 32-bit int above 2^31 points.
  const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(M) * N;
  kernel::walkGrid<kernel::NoExtra>(
      cam, sc, Xw, Yw, Zw, count,
      [](const kernel::PointFront &, const kernel::CubeRoots &,
         kernel::NoExtra *) {},
      [cam, u, v](std::ptrdiff_t k, const kernel::PointFront &front, double rd,
                  RadiusBranch, const kernel::NoExtra &) {
        FramePoint pt;
        kernel::projectBack(cam, front, rd, &pt);
        u[k] = pt.u;
        v[k] = pt.v;
      });
}

}  // namespace scenemap
