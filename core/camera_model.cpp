#include "camera_model.hpp"

#include <cfloat>
#include <cmath>
#include <cstddef>

#include "projection_kernel.hpp"

namespace scenemap {

double distortedRadius(double ru, double kappa1, RadiusBranch *branch) {
  const kernel::ExtendedPrecision precision;
  const kernel::SolverConstants sc = kernel::solverConstants(kappa1);
  kernel::PointFront front;
  kernel::sensorFront(sc, ru, 0, &front);
  if (front.scaled) {
    kernel::ScaledSolve s;
    kernel::solveScaled(ru, 0, kappa1, &s);
    *branch = s.branch;
    return s.xd;
  }
  return kernel::distortedRadius(ru, sc, branch);
}

// The solve step by step; the walks run the same steps through the kernels
// of projection_kernel.hpp, a block of points at a time.
void undistortedToDistortedSensorCoord(double xu, double yu, double *xd_out,
                                       double *yd_out, double kappa1) {
  // At the origin and without distortion the map is the identity. IEEE
  // equality: -0.0 passes through, NaN goes on and propagates.
  if ((xu == 0 && yu == 0) || kappa1 == 0) {
    *xd_out = xu;
    *yd_out = yu;
    return;
  }
  const kernel::ExtendedPrecision precision;
  const kernel::SolverConstants sc = kernel::solverConstants(kappa1);
  // The depressed cubic rd^3 + p*rd + q = 0 (p = 1/kappa1, q = -ru/kappa1):
  // E = -q/2 and the discriminant D = (p/3)^3 + E^2.
  const double r2 = yu * yu + xu * xu;
  const double ru = std::sqrt(r2);
  const double E = ru * sc.p * 0.5;
  const double EE = E * E;
  const double D = sc.p3cube + EE;
  if (!kernel::takesScaledSolve(xu, yu, r2, EE, D, sc)) {
    // Cardano's form (one real root, three real roots or the fold), then
    // the direction of (xu, yu) scaled by rd / ru.
    RadiusBranch branch;
    const double rd = kernel::cubicRoot(E, D, sc, &branch);
    const double k = rd / ru;
    *xd_out = xu * k;
    *yd_out = k * yu;
    return;
  }
  // Small kappa1 * ru^2, or a radius or coefficient whose squares and cubes
  // leave the range of normal numbers.
  kernel::ScaledSolve s;
  kernel::solveScaled(xu, yu, kappa1, &s);
  *xd_out = s.xd;
  *yd_out = s.yd;
}

void sceneToFrameCoord(const CameraParams &params, double X, double Y, double Z,
                       FramePoint *out) {
  const kernel::ExtendedPrecision precision;
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
  const kernel::ExtendedPrecision precision;
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

namespace {

// x * m * 2^n, with x split into a mantissa and a power of two first so
// that only the final result can overflow or underflow.
double scaledBy(double x, double m, int n) {
  if (x == 0) {
    return x * m;
  }
  const int ex = std::ilogb(x);
  return std::ldexp(std::ldexp(x, -ex) * m, ex + n);
}

// drd/dru over rd/ru from 1 - h: with h + t*h^3 = 1, (1 + t*h^2) * h = 1
// and drd/dru = 1/(1 + 3t*h^2) = h/(3 - 2h), so the ratio is
// 1/(1 + 2(1 - h)); its difference from 1 is taken from 1 - h directly.
void setRadial(double shrink, ScaledSolve *s) {
  s->radial = 1 / (1 + 2 * shrink);
  s->radialMinusOne = -2 * shrink / (1 + 2 * shrink);
}

// a / b rounded towards minus infinity (b > 0).
int floorDiv(int a, int b) { return a >= 0 ? a / b : -((b - 1 - a) / b); }

}  // namespace

void solveScaled(double xu, double yu, double kappa1, ScaledSolve *s) {
  // Small t with a normal squared radius, the usual case here (a tiny
  // kappa1, or a point near the axis): h = 1 - t + 3t^2 - 12t^3 + 55t^4...,
  // whose first omitted term is below 1e-22 for |t| < 1e-6.
  const double r2 = yu * yu + xu * xu;
  const double t0 = kappa1 * r2;
  if (isNormalNumber(r2) && std::fabs(t0) < kCardanoMinT) {
    const double shrink = t0 * (1 - t0 * (3 - 12 * t0));  // 1 - h
    const double h = 1 - shrink;
    const double ru = std::sqrt(r2);
    s->xd = xu * h;
    s->yd = h * yu;
    s->h = h;
    s->q = 0;
    setRadial(shrink, s);
    s->nx = xu / ru;
    s->ny = yu / ru;
    s->branch = t0 > 0 ? RadiusBranch::kOneRoot : RadiusBranch::kThreeRoots;
    return;
  }
  // Elsewhere everything in mantissas and powers of two. (xs, ys) =
  // (xu, yu) / 2^e with the larger in [1, 2), so ru^2 = r2s * 2^(2e) with
  // r2s in [1, 8); kappa1 = km * 2^ek with |km| in [0.5, 1); t = tm * 2^n.
  const int e = std::ilogb(std::fmax(std::fabs(xu), std::fabs(yu)));
  const double xs = std::ldexp(xu, -e);
  const double ys = std::ldexp(yu, -e);
  const double r2s = ys * ys + xs * xs;
  const double rs = std::sqrt(r2s);
  s->nx = xs / rs;
  s->ny = ys / rs;
  int ek;
  const double km = std::frexp(kappa1, &ek);
  const double tm = km * r2s;
  const int n = ek + 2 * e;
  const double t = std::ldexp(tm, n);  // +-inf or 0 far from 1: see below
  double h;
  int q = 0;
  double shrink = NAN;  // 1 - h where the series gives it without cancelling
  if (std::fabs(t) < kCardanoMinT) {
    shrink = t * (1 - t * (3 - 12 * t));
    h = 1 - shrink;
    s->branch = t > 0 ? RadiusBranch::kOneRoot : RadiusBranch::kThreeRoots;
  } else if (t > 0) {
    // One real root. Cardano's cube roots A = cbrt(E + s) and B =
    // cbrt(s - E) of the cubic in h satisfy A - B = h, A*B = 1/(3t) and
    // A^3 - B^3 = 1/t, so h = 1/(w + 1/3 + 1/(9w)) with w = t*A^2 and
    // w^3 = (t/4) * (1 + sqrt(1 + 4/(27t)))^2: a sum of positive terms.
    // With t = T * 2^(3q), w = cbrt(T * ...) * 2^q and h = hm * 2^-q.
    q = floorDiv(n, 3);
    const double T = std::ldexp(tm, n - 3 * q);
    const double S = std::sqrt(1 + 4 / (27 * t));  // 1 where t is infinite
    const double W = std::pow(T * ((1 + S) * (1 + S) * 0.25), kOneThird);
    h = 1 / (W + std::ldexp(1.0 / 3, -q) + std::ldexp(1 / (9 * W), -2 * q));
    s->branch = RadiusBranch::kOneRoot;
  } else if (t > -4.0 / 27) {
    // Three real roots; the smallest positive one of the trigonometric form
    // is 2/sqrt(3|t|) * sin(theta/3 - pi/6), and theta/3 - pi/6 =
    // asin(sqrt(27|t|/4)) / 3 without the cancellation.
    const double a = -t * 27 / 4;
    h = 2 / std::sqrt(-3 * t) * std::sin(std::asin(std::sqrt(a)) / 3);
    s->branch = RadiusBranch::kThreeRoots;
  } else {
    // Beyond the fold: rd = sqrt(-1/(3 kappa1)), h = 1/sqrt(-3t), with
    // -3t = 3|tm| * 2^(2q + (n - 2q)).
    q = floorDiv(n, 2);
    h = 1 / std::sqrt(3 * -tm * std::ldexp(1.0, n - 2 * q));
    s->branch = RadiusBranch::kFolded;
  }
  s->h = h;
  s->q = q;
  if (s->branch == RadiusBranch::kFolded) {
    s->radial = 0;
    s->radialMinusOne = -1;
  } else {
    setRadial(std::isnan(shrink) ? 1 - std::ldexp(h, -q) : shrink, s);
  }
  s->xd = scaledBy(xu, h, -q);
  s->yd = scaledBy(yu, h, -q);
}

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
namespace {
__attribute__((target("avx"))) void zeroUpper() { __builtin_ia32_vzeroupper(); }

// AVX is usable when the processor has it (CPUID leaf 1, ECX bit 28) and the
// operating system saves the upper register halves: OSXSAVE (ECX bit 27) and
// the SSE and AVX state bits (1 and 2) of XCR0. Read with the instructions
// themselves, so that the modules need nothing from the compiler's runtime
// library (whose feature tables the hosts' platforms do not all provide).
bool detectAvx() {
  unsigned eax = 1, ebx = 0, ecx = 0, edx = 0;
  __asm__("cpuid" : "+a"(eax), "=b"(ebx), "+c"(ecx), "=d"(edx));
  const unsigned needed = (1u << 27) | (1u << 28);
  if ((ecx & needed) != needed) return false;
  unsigned xcr0 = 0, xcr0High = 0;
  __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
  return (xcr0 & 6u) == 6u;
}

// CPUID is slow under virtual machines (it traps to the hypervisor), so the
// answer is kept after the first call: 0 not yet known, 1 no AVX, 2 AVX.
// Every thread computes the same value, so relaxed accesses suffice.
bool haveAvx() {
  static int known = 0;
  int k = __atomic_load_n(&known, __ATOMIC_RELAXED);
  if (k == 0) {
    k = detectAvx() ? 2 : 1;
    __atomic_store_n(&known, k, __ATOMIC_RELAXED);
  }
  return k == 2;
}
}  // namespace

void clearUpperVectorHalves() {
  if (haveAvx()) {
    zeroUpper();
  }
}
#else
void clearUpperVectorHalves() {}
#endif

}  // namespace kernel

}  // namespace scenemap
