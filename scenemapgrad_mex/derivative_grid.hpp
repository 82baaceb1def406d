// The grid walk of the derivatives module: projection plus, for every
// present point, the derivatives that the caller asks for.
#pragma once

#include <cstdint>

#include "camera_model.hpp"

namespace scenemap {

// Walks an M-by-N grid exactly as projectSceneGrid does (column-major,
// points with Xw[k] == 0 absent and left untouched in every output) and
// writes u and v as it does. The derivative outputs may each be null, and
// only those given are computed; u, v and each of them are the same bits
// whichever others are asked for.
//
// dUV: the block of derivatives by world X and Y, dUV[4k .. 4k+3] in the
// slot order of frameCoordDerivatives: du/dX, du/dY, dv/dX, dv/dY; 4 * M * N
// doubles (a 2-by-2-by-M-by-N array in the host's layout).
//
// dCam: the derivatives by the camera's parameters, 38 doubles per point,
// 38 * M * N in all (a 19-by-2-by-M-by-N array in the host's layout). The
// point at k has dCam[38k + j] = du/dp_j and dCam[38k + 19 + j] = dv/dp_j,
// the parameters p_j (j from 0) in the order of CameraParams:
//   0 dx, 1 dy, 2 sx, 3 cx, 4 cy, 5 f, 6 kappa1,
//   7 + i: R[i] for i = 0 .. 8 (storage order, R[r + 3c] = R(r, c)),
//   16 + i: T[i] for i = 0 .. 2.
// du/dcx and dv/dcy are exactly 1; du/dcy, dv/dcx, du/ddy, dv/ddx and
// dv/dsx exactly 0; the R entries are exactly X_c times the T entries
// (d/dR(r, c) = X_c d/dT_r, with X_c the c-th of Xw, Yw, Zw). Every entry is
// within 1e-9 of the true derivative, relative to the norm of its parameter's
// pair (du, dv), wherever the projection is finite and differentiable: every
// branch of the distortion solve, kappa1 = 0 (where du/dkappa1 =
// -(sx/dx) xu ru^2), the optical axis, and beyond the fold for kappa1 < 0
// (the derivatives of the clamped projection, whose radius is the fold
// radius sqrt(-1/(3 kappa1))). Close to the fold the derivatives grow
// without bound, as those by X and Y do.
void projectSceneGridWithDerivatives(const CameraParams &params,
                                     const double *Xw, const double *Yw,
                                     const double *Zw, std::int32_t M,
                                     std::int32_t N, double *u, double *v,
                                     double *dUV, double *dCam = nullptr);

}  // namespace scenemap
