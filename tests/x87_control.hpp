// The x87 unit's control word: its precision control read, set from
// SCENEMAP_X87_PRECISION (53 or 64) and checked by the rounding it gives.
// Used by the test programs of builds that evaluate doubles in the x87 unit.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace scenemap_test {

inline std::uint16_t controlWord() {
  std::uint16_t cw;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

inline void setControlWord(std::uint16_t cw) {
  __asm__ volatile("fldcw %0" : : "m"(cw));
}

// Precision control, bits 8 and 9: 2 rounds significands to 53 bits, 3 to 64.
constexpr std::uint16_t kPrecisionMask = 0x300;

inline int significandBits(std::uint16_t cw) {
  switch ((cw & kPrecisionMask) >> 8) {
    case 0:
      return 24;
    case 2:
      return 53;
    case 3:
      return 64;
    default:
      return 0;  // reserved
  }
}

// 1 + 2^-60 in the x87 unit: kept with a 64-bit significand, rounded back to
// 1 with a 53-bit one.
inline bool keepsExtendedBits() {
  volatile long double one = 1, tiny = 0x1p-60L;
  const long double sum = one + tiny;
  volatile long double stored = sum;
  return stored != 1;
}

// Sets the precision control that SCENEMAP_X87_PRECISION names (unset or
// empty: left as it is). Returns an error message, or null on success.
inline const char *setPrecisionFromEnvironment() {
  const char *want = std::getenv("SCENEMAP_X87_PRECISION");
  if (want == nullptr || *want == '\0') return nullptr;
  std::uint16_t pc;
  if (std::strcmp(want, "53") == 0) {
    pc = 2;
  } else if (std::strcmp(want, "64") == 0) {
    pc = 3;
  } else {
    return "SCENEMAP_X87_PRECISION must be 53 or 64";
  }
  setControlWord(
      static_cast<std::uint16_t>((controlWord() & ~kPrecisionMask) | pc << 8));
  if (keepsExtendedBits() != (pc == 3)) {
    return "the x87 unit does not round as its control word says";
  }
  return nullptr;
}

}  // namespace scenemap_test
