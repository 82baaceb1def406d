#include "platform.hpp"

namespace scenemap {
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
