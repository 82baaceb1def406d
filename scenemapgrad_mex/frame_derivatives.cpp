#include "frame_derivatives.hpp"

#include <cmath>

#include "derivative_kernel.hpp"

namespace scenemap {

namespace {

// The distortion solve of the projection at camera coordinates (xc, yc, zc),
// as sceneToFrameCoord does it: only the values the chain-rule form reads.
kernel::Distortion solveAt(const CameraParams &params, double xc, double yc,
                           double zc) {
  kernel::Distortion dist;
  dist.xu = (xc * params.f) / zc;
  dist.yu = (yc * params.f) / zc;
  dist.ru = 0;
  dist.rd = 0;
  dist.branch = RadiusBranch::kOneRoot;
  if (params.kappa1 != 0) {
    dist.ru = std::sqrt(dist.yu * dist.yu + dist.xu * dist.xu);
    if (dist.ru != 0) {
      dist.rd = distortedRadius(dist.ru, params.kappa1, &dist.branch);
    }
  }
  return dist;
}

}  // namespace

void frameCoordDerivativesClosedForm(const CameraParams &params, double xc,
                                     double yc, double zc, double out[4]) {
  const kernel::DerivativeConstants c = kernel::derivativeConstants(params);
  const double xc2 = xc * xc;
  const double yc2 = yc * yc;
  const double zc2 = zc * zc;
  const double rho = xc2 / zc2 * c.f2 + c.f2 * (yc2 / zc2);
  kernel::closedForm(c, xc, yc, zc, xc2, yc2, zc2, rho, out);
}

void frameCoordDerivativesChainRule(const CameraParams &params, double xc,
                                    double yc, double zc, double out[4]) {
  kernel::chainRule(params, kernel::derivativeConstants(params),
                    solveAt(params, xc, yc, zc), zc, out);
}

void frameCoordDerivatives(const CameraParams &params, double xc, double yc,
                           double zc, double out[4]) {
  kernel::frameDerivatives(params, kernel::derivativeConstants(params), xc, yc,
                           zc, solveAt(params, xc, yc, zc), out);
}

}  // namespace scenemap
