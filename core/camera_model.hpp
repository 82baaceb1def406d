// Camera model: rigid motion, perspective, one-coefficient radial distortion
// inverted in closed form, and the affine sensor-to-image map.
//
// Plain free functions over plain records and arrays of doubles; nothing
// here knows about a host. Arithmetic follows a fixed order of evaluation so
// that results are reproducible bit for bit: build without -ffast-math and
// with -ffp-contract=off.
#pragma once

#include <cstdint>

namespace scenemap {

// Camera parameters, in the order the modules read them (arguments 4 to 12):
//   dx, dy  sensor length per image unit along u and v (divisors)
//   sx      scale factor applied to u only
//   cx, cy  principal point, image units (added last)
//   f       focal length, sensor length unit
//   kappa1  radial distortion coefficient, (sensor length unit)^-2
//   R       rotation, 3x3 column-major: R(i, j) = R[i + 3 * j], 0-based
//   T       translation, world length unit
struct CameraParams {
  double dx;
  double dy;
  double sx;
  double cx;
  double cy;
  double f;
  double kappa1;
  double R[9];
  double T[3];
};

// One projected point: image coordinates and the camera-frame coordinates
// they came from (the derivatives need the latter).
struct FramePoint {
  double u;
  double v;
  double xc;
  double yc;
  double zc;
};

// Maps undistorted sensor coordinates (xu, yu) to distorted ones by solving
// kappa1 * rd^3 + rd = ru for the distorted radius rd in closed form and
// scaling (xu, yu) by rd / ru. Both outputs are always written; they must not
// alias the inputs' storage in a way that matters (inputs are taken by value).
void undistortedToDistortedSensorCoord(double xu, double yu, double *xd_out,
                                       double *yd_out, double kappa1);

// Projects the world point (X, Y, Z) through the camera into *out.
void sceneToFrameCoord(const CameraParams &params, double X, double Y, double Z,
                       FramePoint *out);

// Walks an M-by-N grid (column-major, k = n * M + m) and writes u[k], v[k]
// for every point whose Xw[k] is non-zero. Points with Xw[k] == 0 (including
// -0.0) are absent: their u[k], v[k] are left untouched. Yw and Zw must hold
// at least M * N elements; nothing happens when M < 1 or N < 1.
void projectSceneGrid(const CameraParams &params, const double *Xw,
                      const double *Yw, const double *Zw, std::int32_t M,
                      std::int32_t N, double *u, double *v);

}  // namespace scenemap
