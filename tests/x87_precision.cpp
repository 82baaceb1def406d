// Linked into every test program of a build that evaluates doubles in the
// x87 unit. Its precision control is extended (64-bit significand) when a
// program starts, and a host may set it to double (53-bit) before calling a
// module; the results must not depend on either. SCENEMAP_X87_PRECISION=64
// or 53 sets the control word with fldcw before the first test (checked by
// the rounding it then gives) and restores it after the last; unset, the
// control word is left as the program got it. The setting is printed so
// that the measured distances of a run can be told apart.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::uint16_t controlWord() {
  std::uint16_t cw;
  __asm__ volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

void setControlWord(std::uint16_t cw) {
  __asm__ volatile("fldcw %0" : : "m"(cw));
}

// Precision control, bits 8 and 9: 2 rounds significands to 53 bits, 3 to 64.
constexpr std::uint16_t kPrecisionMask = 0x300;

int significandBits(std::uint16_t cw) {
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
bool keepsExtendedBits() {
  volatile long double one = 1, tiny = 0x1p-60L;
  const long double sum = one + tiny;
  volatile long double stored = sum;
  return stored != 1;
}

class X87Precision : public ::testing::Environment {
 public:
  void SetUp() override {
    saved_ = controlWord();
    const char *want = std::getenv("SCENEMAP_X87_PRECISION");
    if (want != nullptr && *want != '\0') {
      std::uint16_t pc;
      if (std::strcmp(want, "53") == 0) {
        pc = 2;
      } else if (std::strcmp(want, "64") == 0) {
        pc = 3;
      } else {
        FAIL() << "SCENEMAP_X87_PRECISION is " << want << "; expected 53 or 64";
      }
      setControlWord(
          static_cast<std::uint16_t>((saved_ & ~kPrecisionMask) | pc << 8));
      ASSERT_EQ(keepsExtendedBits(), pc == 3)
          << "the x87 unit does not round as its control word says";
    }
    const std::uint16_t cw = controlWord();
    std::printf(
        "x87 precision control: %d-bit significand (control word %#06x)\n",
        significandBits(cw), static_cast<unsigned>(cw));
  }
  void TearDown() override { setControlWord(saved_); }

 private:
  std::uint16_t saved_ = 0;
};

::testing::Environment *const kX87Precision =
    ::testing::AddGlobalTestEnvironment(new X87Precision);

}  // namespace
