// What the processors and their compilers make of the arithmetic, kept
// apart from the math: the x87 unit's wider registers and precision control,
// the packed arithmetic, and the AVX register state. None of it changes a
// result on any platform; each piece makes the results the same in every
// compiled copy of the code, or makes them faster.
#pragma once

#include <cfloat>
#include <cmath>

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

// Two independent values computed side by side, as one packed operation
// where the compiler has vector types: each operator below is the IEEE
// operation on each lane (a scalar operand on both), so each lane has the
// bits of the scalar expression written with the same operations in the
// same order. Two plain doubles elsewhere.
#if defined(__GNUC__) && (defined(__SSE2__) || defined(__ARM_NEON))
struct Pair {
  typedef double Lanes __attribute__((vector_size(16)));
  Lanes v;
};
inline Pair pair(double a, double b) { return {Pair::Lanes{a, b}}; }
inline double first(Pair p) { return p.v[0]; }
inline double second(Pair p) { return p.v[1]; }
// p as two stored doubles (see storedDouble): packed lanes already are.
inline Pair storedPair(Pair p) { return p; }
#define SCENEMAP_PAIR_OP(op)                                       \
  inline Pair operator op(Pair a, Pair b) { return {a.v op b.v}; } \
  inline Pair operator op(Pair a, double b) {                      \
    return {a.v op Pair::Lanes{b, b}};                             \
  }                                                                \
  inline Pair operator op(double a, Pair b) {                      \
    return {Pair::Lanes{a, a} op b.v};                             \
  }
#else
struct Pair {
  double a, b;
};
inline Pair pair(double a, double b) { return {a, b}; }
inline double first(Pair p) { return p.a; }
inline double second(Pair p) { return p.b; }
inline Pair storedPair(Pair p) {
  return {storedDouble(p.a), storedDouble(p.b)};
}
#define SCENEMAP_PAIR_OP(op)                                                   \
  inline Pair operator op(Pair x, Pair y) { return {x.a op y.a, x.b op y.b}; } \
  inline Pair operator op(Pair x, double y) { return {x.a op y, x.b op y}; }   \
  inline Pair operator op(double x, Pair y) { return {x op y.a, x op y.b}; }
#endif
SCENEMAP_PAIR_OP(+)
SCENEMAP_PAIR_OP(-)
SCENEMAP_PAIR_OP(*)
SCENEMAP_PAIR_OP(/)
#undef SCENEMAP_PAIR_OP

// The square roots of both lanes: packed where SSE2 has the instruction,
// each lane's IEEE square root (the bits of std::sqrt) either way.
inline Pair sqrt2(Pair p) {
#if defined(__GNUC__) && defined(__SSE2__)
  return {__builtin_ia32_sqrtpd(p.v)};
#else
  return pair(std::sqrt(first(p)), std::sqrt(second(p)));
#endif
}

// Two independent quotients n0 / d0 and n1 / d1, in one packed division
// where the compiler has vector types (Pair): the bits of the two scalar
// divisions, at half the divider's time.
struct Quotients {
  double first;
  double second;
};

inline Quotients divide2(double n0, double n1, double d0, double d1) {
  const Pair q = pair(n0, n1) / pair(d0, d1);
  return {first(q), second(q)};
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

// Stores of a pair of adjacent doubles, p[0] = first(v) and p[1] = second(v),
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
  static void pair(double *p, Pair v) {
#if defined(__GNUC__) && (defined(__SSE2__) || defined(__ARM_NEON))
    typedef double Unaligned
        __attribute__((vector_size(16), aligned(8), may_alias));
    *reinterpret_cast<Unaligned *>(p) = v.v;
#else
    p[0] = v.a;
    p[1] = v.b;
#endif
  }
};

#if defined(__GNUC__) && defined(__SSE2__)
#define SCENEMAP_KERNEL_STREAMING_STORES 1
struct StreamingStores {
  static void pair(double *p, Pair v) {
#ifdef __clang__
    __builtin_nontemporal_store(v.v, reinterpret_cast<Pair::Lanes *>(p));
#else
    __builtin_ia32_movntpd(p, v.v);
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
