// From image coordinates back to a world plane: the inverse of the camera
// model of camera_model.hpp for points known to lie on a plane Z = Zw.
//
// The model inverts in closed form. The distortion is applied in its own
// direction (distorted to undistorted needs no root), the undistorted sensor
// point gives the camera ray, and the ray meets the plane in one point:
//   1. distorted sensor coordinates: xd = (u - cx) * dx / sx,
//      yd = (v - cy) * dy
//   2. undistorted ones: xu = xd * g, yu = yd * g, with
//      g = 1 + kappa1 * rd^2 and rd^2 = xd^2 + yd^2
//   3. the ray: camera coordinates t * (xu, yu, f), world coordinates
//      inv(R) * (t * (xu, yu, f) - T), with t fixed by world Z = Zw.
// inv(R) is the inverse of the matrix given (for a rotation its transpose),
// so a rotation fitted with a little rounding still inverts exactly.
#pragma once

#include <cstdint>

#include "camera_model.hpp"

namespace scenemap {

// The world point (X, Y, Zw) on the plane Z = Zw that sceneToFrameCoord maps
// to the image point (u, v), and the derivatives of X and Y with respect to
// u and v.
//
// No point exists, and X, Y and all four derivatives are NaN, where
//   - kappa1 < 0 and rd lies beyond the fold radius sqrt(-1 / (3 * kappa1)):
//     the distortion never reaches such a radius (1 + 3 * kappa1 * rd^2,
//     the slope of rd -> ru, is negative there);
//   - the ray is parallel to the plane, or lies in it;
//   - the ray meets the plane behind the camera or in its centre (depth
//     zc = t * f not positive): the projection maps such a point to the
//     pixel of its mirror image in front, but no camera sees it, and in an
//     image it is never the point a pixel shows;
//   - R is singular, dx or dy is zero, or an input is NaN.
//
// dXY (4 doubles, or null when not wanted) receives dX/du, dX/dv, dY/du,
// dY/dv in that order. Read column-major as a 2x2 matrix it is the
// transpose of the Jacobian d(X, Y)/d(u, v), the layout of the projection's
// derivative block (du/dX, du/dY, dv/dX, dv/dY), and its matrix inverse. At the
// fold radius itself the point exists and dXY is finite but singular.
void frameToScenePlaneCoord(const CameraParams &params, double u, double v,
                            double Zw, double *X_out, double *Y_out,
                            double *dXY_out);

// The same for every element of an M-by-N grid (column-major, k = n * M + m):
// Xw[k], Yw[k] from u[k], v[k], Zw[k], and the block of element k at
// dXY[4k .. 4k + 3] when dXY is not null. Every element is computed; there
// is no absent value. v and Zw must hold at least M * N elements, Xw and Yw
// M * N, dXY 4 * M * N; nothing happens when M < 1 or N < 1.
void backProjectFrameGrid(const CameraParams &params, const double *u,
                          const double *v, const double *Zw, std::int32_t M,
                          std::int32_t N, double *Xw, double *Yw, double *dXY);

}  // namespace scenemap
