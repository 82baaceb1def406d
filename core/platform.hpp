// What the processors and their compilers make of the arithmetic, kept
// apart from the math: the x87 unit's wider registers and precision control,
// the packed division, and the AVX register state. None of it changes a
// result on any platform; each piece makes the results the same in every
// compiled copy of the code, or makes them faster.
#pragma once

#include <cfloat>

namespace scenemap {
namespace kernel {

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__)) && \
    defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 2
#define SCENEMAP_KERNEL_X87 1
#endif

// x as a stored double. Where doubles are evaluated in the x87 unit, a
// square or a cube kept in its registers has the wider exponent range and
// neither overflows nor underflows where the stored double does, and
// whether it stays in a register depends on how each copy of the code was
// compiled. The range tests that choose between the solves read their
// values through this, so they decide as the stored doubles do in every
// copy. Elsewhere a double is already exactly a double and this is x.
inline double storedDouble(double x) {
#ifdef SCENEMAP_KERNEL_X87
  volatile double stored = x;
  return stored;
#else
  return x;
#endif
}

// Where doubles are evaluated in the x87 unit, a host may have set its
// precision control to 53 bits. The i386 math library computes pow and its
// relatives in the unit's registers and counts on a 64-bit significand:
// with 53 bits, pow(x, 1/3) errs by up to about 180 units in the last place
// for bases far from 1, which Cardano's cancellation then multiplies. The
// public functions therefore run with the 64-bit significand, whatever the
// caller's setting, and restore the caller's control word on return (both
// settings give the same results). Elsewhere this does nothing.
class ExtendedPrecision {
 public:
#ifdef SCENEMAP_KERNEL_X87
  ExtendedPrecision() {
    __asm__ volatile("fnstcw %0" : "=m"(saved_));
    const unsigned short extended = saved_ | 0x300;  // precision bits: 64
    if ((saved_ & 0x300) != 0x300) {
      __asm__ volatile("fldcw %0" : : "m"(extended));
    }
  }
  ~ExtendedPrecision() {
    if ((saved_ & 0x300) != 0x300) {
      __asm__ volatile("fldcw %0" : : "m"(saved_));
    }
  }

 private:
  unsigned short saved_;
#else
  ExtendedPrecision() {}
#endif
  ExtendedPrecision(const ExtendedPrecision &) = delete;
  ExtendedPrecision &operator=(const ExtendedPrecision &) = delete;
};

// Two independent quotients n0 / d0 and n1 / d1, in one packed division
// where the compiler has vector types: each lane is an IEEE division, so the
// bits are those of the two scalar divisions, at half the divider's time.
struct Quotients {
  double first;
  double second;
};

inline Quotients divide2(double n0, double n1, double d0, double d1) {
#if defined(__GNUC__) && (defined(__SSE2__) || defined(__ARM_NEON))
  typedef double Pair __attribute__((vector_size(16)));
  const Pair n = {n0, n1};
  const Pair d = {d0, d1};
  const Pair q = n / d;
  return {q[0], q[1]};
#else
  return {n0 / d0, n1 / d1};
#endif
}

// An inline function that the compiler is to inline whatever its size
// (the per-point kernels of a walk). Where doubles are evaluated in the x87
// unit, whether an intermediate stays in a wider register depends on the
// code around it, so there each such kernel is kept one function, never
// inlined: every walk that calls it gets the same bits.
#if defined(SCENEMAP_KERNEL_X87)
#define SCENEMAP_KERNEL_INLINE __attribute__((noinline)) inline
#elif defined(__GNUC__)
#define SCENEMAP_KERNEL_INLINE __attribute__((always_inline)) inline
#elif defined(_MSC_VER)
#define SCENEMAP_KERNEL_INLINE __forceinline
#else
#define SCENEMAP_KERNEL_INLINE inline
#endif

// Two doubles side by side, multiplied lane by lane (each lane an IEEE
// multiplication, so the bits of the two scalar products): a vector where
// the compiler has vector types, else a pair of scalars.
#if defined(__GNUC__) && (defined(__SSE2__) || defined(__ARM_NEON))
typedef double DoublePair __attribute__((vector_size(16)));
inline DoublePair pairOf(double a, double b) { return DoublePair{a, b}; }
inline DoublePair pairOf(double a) { return DoublePair{a, a}; }
inline double low(DoublePair v) { return v[0]; }
inline double high(DoublePair v) { return v[1]; }
#else
struct DoublePair {
  double lo;
  double hi;
};
inline DoublePair pairOf(double a, double b) { return {a, b}; }
inline DoublePair pairOf(double a) { return {a, a}; }
inline double low(DoublePair v) { return v.lo; }
inline double high(DoublePair v) { return v.hi; }
inline DoublePair operator*(DoublePair a, DoublePair b) {
  return {a.lo * b.lo, a.hi * b.hi};
}
#endif

// Stores of a pair of adjacent doubles, p[0] = low(v) and p[1] = high(v),
// for results written once and not read again soon. OrdinaryStores stores
// them as any assignment does. StreamingStores, where the processor has
// SSE2, stores them past the caches (a non-temporal store of the 16 bytes; p
// must be 16-byte aligned): an ordinary store to a line that is not in the
// cache first reads that line from memory, which for results much larger
// than the caches is as much traffic again as the stores. Either way the
// bytes stored are those of the pair. After streaming stores,
// streamingFence() orders them before the stores that follow (a no-op where
// there are none).
struct OrdinaryStores {
  static void pair(double *p, DoublePair v) {
#if defined(__GNUC__) && (defined(__SSE2__) || defined(__ARM_NEON))
    typedef double Unaligned
        __attribute__((vector_size(16), aligned(8), may_alias));
    *reinterpret_cast<Unaligned *>(p) = v;
#else
    p[0] = v.lo;
    p[1] = v.hi;
#endif
  }
};

#if defined(__GNUC__) && defined(__SSE2__)
#define SCENEMAP_KERNEL_STREAMING_STORES 1
struct StreamingStores {
  static void pair(double *p, DoublePair v) {
#ifdef __clang__
    __builtin_nontemporal_store(v, reinterpret_cast<DoublePair *>(p));
#else
    __builtin_ia32_movntpd(p, v);
#endif
  }
};
constexpr bool kStreamingStores = true;
#else
typedef OrdinaryStores StreamingStores;
constexpr bool kStreamingStores = false;
#endif

inline void streamingFence() {
#ifdef SCENEMAP_KERNEL_STREAMING_STORES
  __builtin_ia32_sfence();
#endif
}

// Clears the upper halves of the vector registers when the processor has
// AVX (checked at run time; a no-op elsewhere). A caller that leaves them
// dirty would otherwise slow every math-library call of the walk.
void clearUpperVectorHalves();

}  // namespace kernel
}  // namespace scenemap
