// Inline kernel of the derivatives of the image coordinates by the camera's
// parameters, for the derivatives module's walk.
//
// A point's block holds 2 * kCameraParams doubles: entry j (0-based) of the
// first 19 is du/dp_j, of the last 19 dv/dp_j, the parameters in the order of
// the arguments:
//   0 dx   1 dy   2 sx   3 cx   4 cy   5 f   6 kappa1
//   7 .. 15  R[0] .. R[8] (storage order: R[r + 3c] is R(r, c), 0-based)
//   16 .. 18 T[0] .. T[2]
// Read column by column as a 19-by-2 matrix: its first index the parameter,
// its second u or v, like the 2-by-2 block of derivatives by world X and Y.
//
// The derivation follows the projection's stages, with (xc, yc, zc) = R X + T
// the camera-frame point, (xu, yu) = f (xc, yc) / zc, (xd, yd) = h (xu, yu)
// with h = rd/ru, and u = sx xd / dx + cx, v = yd / dy + cy:
//   - dx, dy, sx, cx, cy act on the affine map alone: du/ddx = -(sx xd/dx)/dx,
//     dv/ddy = -(yd/dy)/dy, du/dsx = xd/dx, du/dcx = dv/dcy = 1, the rest 0.
//   - The distortion's Jacobian is h I + (dr - h) n n^T, n = (xu, yu)/ru the
//     direction and dr = drd/dru: tangential motion is stretched by h,
//     radial motion by dr.
//   - f moves (xu, yu) radially by (xc, yc)/zc, so d(xd, yd)/df =
//     dr (xc, yc)/zc.
//   - kappa1 moves rd alone: from rd + kappa1 rd^3 = ru, drd/dkappa1 =
//     -rd^3 dr, so d(xd, yd)/dkappa1 = -(xd, yd) rd^2 dr (at kappa1 = 0,
//     -(xu, yu) ru^2). Beyond the fold rd is the fold radius
//     sqrt(-1/(3 kappa1)), whose derivative is 1.5 rd^3.
//   - T moves the camera-frame point: d(xu, yu)/dxc = (f/zc, 0),
//     d(xu, yu)/dyc = (0, f/zc), d(xu, yu)/dzc = -(xu, yu)/zc (radial, so
//     stretched by dr). Beyond the fold (dr = 0) the tangential stretch is
//     written h ny^2 (for xc) rather than h + (dr - h) nx^2, which would
//     cancel.
//   - R(r, c) moves the r-th camera coordinate by the c-th world coordinate:
//     d/dR(r, c) = X_c d/dT_r, an identity of P = R X + T.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "camera_model.hpp"
#include "derivative_kernel.hpp"
#include "platform.hpp"
#include "projection_kernel.hpp"

namespace scenemap {
namespace kernel {

// Parameters per block; a point's block holds twice as many doubles.
constexpr int kCameraParams = 19;

// Whether the walk writes the blocks with streaming stores: where the
// processor has them, dCam is 16-byte aligned (then so is every block, of 304
// bytes) and the blocks of count points are far larger than the caches. A
// smaller result is left in the cache by ordinary stores, where the caller
// reads it next.
constexpr std::ptrdiff_t kStreamingMinPoints = 1 << 18;  // 76 MiB of blocks

inline bool streamCameraBlocks(const double *dCam, std::ptrdiff_t count) {
  return kStreamingStores && count >= kStreamingMinPoints &&
         reinterpret_cast<std::uintptr_t>(dCam) % 16 == 0;
}

// Values of the camera Jacobian that depend on the camera alone.
struct CameraJacobianConstants {
  // sx, dx, dy and f within [1e-40, 1e40]: with a depth in that range and a
  // point that Cardano's form solved or that passes through, the plain
  // products below neither overflow nor underflow before their end.
  bool plain;
  double su;   // sx / dx
  double idx;  // 1 / dx
  double idy;  // 1 / dy
};

inline CameraJacobianConstants cameraJacobianConstants(const CameraParams &p) {
  CameraJacobianConstants c;
  c.plain = withinClosedFormRange(p.sx) && withinClosedFormRange(p.dx) &&
            withinClosedFormRange(p.dy) && withinClosedFormRange(p.f);
  c.su = p.sx / p.dx;
  c.idx = 1 / p.dx;
  c.idy = 1 / p.dy;
  return c;
}

// The block from the distortion as the scaled solve records it (h = s.h *
// 2^-s.q, s.radial = dr/h, s.radialMinusOne, s.xd, s.yd, s.branch), every
// product taken in mantissas and powers of two: for points that the scaled
// solve distorted and wherever the plain products would leave the range of
// doubles. (xu, yu) are the undistorted coordinates, (X, Y, Z) the world
// point.
void cameraDerivativesScaled(const CameraParams &p, double xc, double yc,
                             double zc, double xu, double yu,
                             const Distortion &s, double X, double Y, double Z,
                             double out[2 * kCameraParams]);

// The block of a point that Cardano's form solved or that passes through
// (sl its slopes, folded beyond the fold), from the same values as a record
// of the scaled solve's kind (scaled by 2^0), for the products in mantissas
// and powers of two: where the plain products would leave the range of
// doubles.
void cameraDerivativesRescaled(const CameraParams &p, const PointFront &front,
                               const DistortionSlopes &sl, bool folded,
                               double X, double Y, double Z,
                               double out[2 * kCameraParams]);

// Stores a block computed elsewhere through Store.
template <class Store>
inline void storeBlock(const double block[2 * kCameraParams],
                       double out[2 * kCameraParams]) {
  for (int j = 0; j < 2 * kCameraParams; j += 2) {
    Store::pair(out + j, pair(block[j], block[j + 1]));
  }
}

// Writes the block of the point with world coordinates (X, Y, Z), from its
// projection's distortion solve (front, rd and branch as the walk has them,
// scaled the scaled solve's record where front.form == SolveForm::kScaled),
// two doubles at a time through Store (OrdinaryStores or StreamingStores,
// whose out must be 16-byte aligned). Inlined into the walk, where its
// inputs are already in registers and no call saves them.
template <class Store = OrdinaryStores>
SCENEMAP_KERNEL_INLINE void cameraDerivatives(const CameraParams &p,
                                              const CameraJacobianConstants &c,
                                              const PointFront &front,
                                              double rd, RadiusBranch branch,
                                              const Distortion &scaled,
                                              double X, double Y, double Z,
                                              double out[2 * kCameraParams]) {
  if (front.form == SolveForm::kScaled) {
    double block[2 * kCameraParams];
    cameraDerivativesScaled(p, front.xc, front.yc, front.zc, front.xu, front.yu,
                            scaled, X, Y, Z, block);
    storeBlock<Store>(block, out);
    return;
  }
  // Cardano's rd as solved: its error (up to 1.6e-13 relative) moves the
  // slopes by less than 1e-12.
  const DistortionSlopes sl =
      distortionSlopes(p.kappa1, front, rd, branch, false);
  const double xu = front.xu;
  const double yu = front.yu;
  const double zc = front.zc;
  const double r2 = yu * yu + xu * xu;
  const bool folded =
      front.form == SolveForm::kCardano && branch == RadiusBranch::kFolded;
  const double xd = xu * sl.h;
  const double yd = sl.h * yu;
  if (!(c.plain && withinClosedFormRange(zc))) {
    double block[2 * kCameraParams];
    cameraDerivativesRescaled(p, front, sl, folded, X, Y, Z, block);
    storeBlock<Store>(block, out);
    return;
  }
  // Every input is read before the first store (which the compiler must
  // otherwise assume can change them); each pair is stored as soon as it is
  // known, in the order of the block, and the range test on the sum comes
  // last: where it fails, the block is written again.
  const double su = c.su;
  const double idx = c.idx;
  const double idy = c.idy;
  const double xc = front.xc;
  const double yc = front.yc;
  const double uo = su * xd;   // u - cx
  const double vo = yd * idy;  // v - cy
  // d(xd, yd)/dkappa1 = (xd, yd) * kk.
  const double rd2 = sl.h * sl.h * r2;
  const double kk = folded ? 1.5 * rd2 : -rd2 * sl.dr;
  const double iz = 1 / zc;
  const double a = xc * iz;  // xc / zc
  const double b = yc * iz;
  const double fz = p.f * iz;  // d(xu, yu)/d(xc, yc)
  const double rz = sl.dr * iz;
  // d(xd, yd)/dxc = (d11, off), d(xd, yd)/dyc = (off, d22), from the
  // distortion's Jacobian h I + g (xu, yu)^T (xu, yu). h + g xu^2 keeps its
  // digits while dr > 0 (it lies between dr and h); beyond the fold, where
  // dr = 0, it is written h ny^2 (n the direction), which does not cancel.
  double d11;
  double d22;
  if (folded) {
    const Quotients n2 = divide2(xu * xu, yu * yu, r2, r2);
    d11 = fz * (sl.h * n2.second);
    d22 = fz * (sl.h * n2.first);
  } else {
    d11 = fz * (sl.h + sl.g * xu * xu);
    d22 = fz * (sl.h + sl.g * yu * yu);
  }
  const double off = fz * (sl.g * xu * yu);
  const double duDx = -(uo * idx);
  const double duF = su * (sl.dr * a);
  const double duK = uo * kk;
  // The T entries two at a time, and the R entries X_c times them.
  const Pair duT01 = pair(su, su) * pair(d11, off);
  const double duT0 = first(duT01);
  const double duT1 = second(duT01);
  const double duT2 = -(su * (rz * xu));
  const Pair duT12 = pair(duT1, duT2);
  const Pair x2 = pair(X, X);
  const Pair y2 = pair(Y, Y);
  const Pair z2 = pair(Z, Z);
  // The block in pairs of adjacent doubles: du[0 .. 18], then dv[0 .. 18].
  Store::pair(out + 0, pair(duDx, 0));
  Store::pair(out + 2, pair(xd * idx, 1));
  Store::pair(out + 4, pair(0, duF));
  Store::pair(out + 6, pair(duK, X * duT0));
  Store::pair(out + 8, x2 * duT12);
  Store::pair(out + 10, y2 * duT01);
  Store::pair(out + 12, pair(Y, Z) * pair(duT2, duT0));
  Store::pair(out + 14, z2 * duT12);
  Store::pair(out + 16, duT01);
  const double dvDy = -(vo * idy);
  const double dvF = (sl.dr * b) * idy;
  const double dvK = vo * kk;
  const Pair dvT01 = pair(off, d22) * pair(idy, idy);
  const double dvT0 = first(dvT01);
  const double dvT1 = second(dvT01);
  const double dvT2 = -((rz * yu) * idy);
  const Pair dvT12 = pair(dvT1, dvT2);
  Store::pair(out + 18, pair(duT2, 0));
  Store::pair(out + 20, pair(dvDy, 0));
  Store::pair(out + 22, pair(0, 1));
  Store::pair(out + 24, pair(dvF, dvK));
  Store::pair(out + 26, x2 * dvT01);
  Store::pair(out + 28, pair(X, Y) * pair(dvT2, dvT0));
  Store::pair(out + 30, y2 * dvT12);
  Store::pair(out + 32, z2 * dvT01);
  Store::pair(out + 34, pair(Z * dvT2, dvT0));
  Store::pair(out + 36, dvT12);
  // A product that left the range of doubles: again without overflow.
  // (NaN inputs come out NaN either way.)
  const double sum = duT0 + duT1 + duT2 + dvT0 + dvT1 + dvT2 + duF + dvF + duK +
                     dvK + duDx + dvDy;
  if (!std::isfinite(sum)) {
    double block[2 * kCameraParams];
    cameraDerivativesRescaled(p, front, sl, folded, X, Y, Z, block);
    storeBlock<Store>(block, out);
  }
}

}  // namespace kernel
}  // namespace scenemap
