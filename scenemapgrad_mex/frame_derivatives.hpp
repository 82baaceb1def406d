// Analytic derivatives of the image coordinates (u, v) of a projected point
// with respect to the point's world X and world Y (world Z held fixed).
//
// Host-free: plain doubles in, plain doubles out, so it can be tested without
// a host. Build with -ffp-contract=off and without -ffast-math: the closed
// form is evaluated in a fixed order and its results are reproducible bit for
// bit.
#pragma once

#include "camera_model.hpp"
#include "distortion.hpp"

namespace scenemap {

// True when kappa1 * rho lies in the closed form's band (distortion.hpp's
// table: kClosedFormBandLow to kClosedFormBandHigh; kappa1 > 0 implied
// by the band's positive edges; false for NaN).
inline bool closedFormIsAccurate(double kappa1, double rho) {
  const double t = kappa1 * rho;
  return t >= kClosedFormBandLow && t <= kClosedFormBandHigh;
}

// Writes the four derivatives of the projection of sceneToFrameCoord at the
// point whose camera coordinates are (xc, yc, zc) (as sceneToFrameCoord
// returns them), in this slot order:
//   out[0] = du/dX   out[1] = du/dY   out[2] = dv/dX   out[3] = dv/dY
// Read as a 2x2 column-major matrix this is the transpose of the Jacobian
// d(u, v)/d(X, Y). Points where the projection is not finite or not
// differentiable (zc == 0, NaN input, exactly at the fold for kappa1 < 0)
// give non-finite values. Close to the fold the derivative is
// ill-conditioned: at ru = ru_max * (1 - d) rounding ru alone moves it by
// about 1e-16 / d relative, and its error is about 1e-15 / d.
void frameCoordDerivatives(const CameraParams &params, double xc, double yc,
                           double zc, double out[4]);

// The closed Cardano form alone, without the band test or any fallback. Its
// results are meaningful for kappa1 > 0 off the optical axis; exposed so the
// band can be measured and the form checked bit for bit.
void frameCoordDerivativesClosedForm(const CameraParams &params, double xc,
                                     double yc, double zc, double out[4]);

// The chain-rule form alone: the exact derivative of each stage of the
// projection (camera coordinates, perspective, distortion, affine map),
// valid for every kappa1 and on the optical axis.
void frameCoordDerivativesChainRule(const CameraParams &params, double xc,
                                    double yc, double zc, double out[4]);

}  // namespace scenemap
