// Inline kernels of the projection, shared by the walks of both modules so
// that the per-point work is compiled into each walk's loop (independent
// points overlap, per-call constants stay in registers): the rigid motion,
// the perspective step, the distortion solve (distortion.hpp) and the affine
// map to the image. Every expression is the one of the public functions, in
// the same order; only values that do not depend on the point are computed
// once per call.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstddef>

#include "camera_model.hpp"
#include "distortion.hpp"
#include "platform.hpp"

namespace scenemap {
namespace kernel {

// One point's projection up to the distortion solve's library calls: its
// camera coordinates and the solve's front.
struct PointFront : SolveFront {
  double xc, yc, zc;  // camera coordinates
};

// Camera coordinates of the world point (X, Y, Z): rows of R times the
// point, then the translation.
inline void cameraCoordinates(const CameraParams &cam, double X, double Y,
                              double Z, PointFront *f) {
  const double *R = cam.R;
  const double *T = cam.T;
  f->xc = ((R[0] * X + R[3] * Y) + R[6] * Z) + T[0];
  f->yc = ((R[1] * X + R[4] * Y) + R[7] * Z) + T[1];
  f->zc = ((R[2] * X + R[5] * Y) + R[8] * Z) + T[2];
}

// (x * f) / z where x * f overflows or underflows: in mantissas and powers
// of two, so that only the result can (the formula's bits wherever its
// product is normal; zero, infinite and NaN operands give the formula's
// values).
double scaledPerspective(double x, double f, double z);

// The perspective step: undistorted sensor coordinates (xc * f) / zc and
// (yc * f) / zc, as the formula wherever the products are normal numbers;
// elsewhere (a product beyond the double range or subnormal, where the true
// quotient may be an ordinary number) by scaledPerspective.
inline void perspective(const CameraParams &cam, const PointFront &f,
                        double *xu, double *yu) {
  const double px = f.xc * cam.f;
  const double py = f.yc * cam.f;
  // Both normal numbers (as stored): the smaller magnitude at least DBL_MIN
  // and the sum at most DBL_MAX, false for a NaN or an infinity. (Where two
  // normal products sum beyond DBL_MAX, the second way gives the same
  // quotients.)
  const double a = std::fabs(storedDouble(px));
  const double b = std::fabs(storedDouble(py));
  if ((a < b ? a : b) >= DBL_MIN && a + b <= DBL_MAX) {
    const Quotients q = divide2(px, py, f.zc, f.zc);
    *xu = q.first;
    *yu = q.second;
    return;
  }
  *xu = scaledPerspective(f.xc, cam.f, f.zc);
  *yu = scaledPerspective(f.yc, cam.f, f.zc);
}

// The affine map from the distorted sensor point to the image.
inline void imagePoint(const CameraParams &cam, const PointFront &f,
                       const Distortion &d, FramePoint *out) {
  // u = (sx * xd) / dx + cx and v = yd / dy + cy side by side (1 * yd is
  // yd exactly).
  const Pair image = pair(cam.sx, 1) * pair(d.xd, d.yd) / pair(cam.dx, cam.dy) +
                     pair(cam.cx, cam.cy);
  out->u = first(image);
  out->v = second(image);
  out->xc = f.xc;
  out->yc = f.yc;
  out->zc = f.zc;
}

// The walks' first stage: the projection up to the solve's library calls.
inline void projectFront(const CameraParams &cam, const SolverConstants &sc,
                         double X, double Y, double Z, PointFront *f) {
  cameraCoordinates(cam, X, Y, Z, f);
  double xu, yu;
  perspective(cam, *f, &xu, &yu);
  solveFront(sc, xu, yu, f);
}

// The walks' last stage: the rest of the projection, given Cardano's
// distorted radius rd (read only when Cardano's form solves the point).
//
// A caller that differentiates the point too passes solved to keep the
// solve's record (the scaled solve's slopes, or Cardano's root and branch).
inline void projectBack(const CameraParams &cam, const PointFront &f, double rd,
                        FramePoint *out, Distortion *solved = nullptr) {
  Distortion own;
  Distortion &d = solved ? *solved : own;
  d.rd = rd;
  solveBack(f, cam.kappa1, &d);
  imagePoint(cam, f, d, out);
}

// Points per block of the walk.
constexpr int kBlock = 16;

// A point of the walk while its block is in flight: its front, the solve's
// radius and branch, its index in the grid, and the caller's own record
// (Extra, NoExtra where there is none), side by side.
template <class Extra>
struct WalkSlot {
  PointFront front;
  double rd;
  RadiusBranch branch;
  std::ptrdiff_t index;
  Extra extra;
};
struct NoExtra {};

// Walks the present points (Xw[k] != 0) of a grid of count points in
// blocks, as a two-stage pipeline: the arithmetic before the solve for every
// point of a block (projectFront), then its points' library calls (the
// solve's cardanoRoot, and extraCalls(front, roots, &extra) for the
// caller's own, roots the cube roots cardanoRoot took), each followed by the
// arithmetic after them, finish(k, front, rd, branch, extra), of the point
// at the same place in the previous block. The calls then overlap with the
// divisions of independent points. Each point's values come from its own
// expressions, unchanged; finish runs in increasing k.
template <class Extra, class ExtraCalls, class Finish>
inline void walkGrid(const CameraParams &cam, const SolverConstants &sc,
                     const double *Xw, const double *Yw, const double *Zw,
                     std::ptrdiff_t count, ExtraCalls extraCalls,
                     Finish finish) {
  WalkSlot<Extra> slots[2 * kBlock];
  int pending = 0;  // points of the previous block still to finish
  WalkSlot<Extra> *prev = slots + kBlock;
  for (std::ptrdiff_t k0 = 0; k0 < count || pending > 0; k0 += kBlock) {
    WalkSlot<Extra> *const cur = prev == slots ? slots + kBlock : slots;
    int m = 0;
    const std::ptrdiff_t end = count - k0 < kBlock ? count : k0 + kBlock;
    for (std::ptrdiff_t k = k0; k < end; ++k) {
      if (Xw[k] == 0) {
        continue;  // a zero world X marks an absent point
      }
      cur[m].index = k;
      projectFront(cam, sc, Xw[k], Yw[k], Zw[k], &cur[m].front);
      ++m;
    }
    const int steps = m > pending ? m : pending;
    for (int j = 0; j < steps; ++j) {
      if (j < m) {
        WalkSlot<Extra> &s = cur[j];
        CubeRoots roots = kNoCubeRoots;
        if (s.front.form == SolveForm::kCardano) {
          s.rd = cardanoRoot(sc, s.front.E, s.front.D, &s.branch, &roots);
        } else {
          s.rd = 0;
          s.branch = RadiusBranch::kOneRoot;
        }
        extraCalls(s.front, roots, &s.extra);
      }
      if (j < pending) {
        const WalkSlot<Extra> &s = prev[j];
        finish(s.index, s.front, s.rd, s.branch, s.extra);
      }
    }
    pending = m;
    prev = cur;
  }
}

}  // namespace kernel
}  // namespace scenemap
