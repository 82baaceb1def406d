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
