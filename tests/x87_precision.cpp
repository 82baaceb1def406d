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

#include "x87_control.hpp"

namespace {

using scenemap_test::controlWord;
using scenemap_test::setControlWord;
using scenemap_test::significandBits;

class X87Precision : public ::testing::Environment {
 public:
  void SetUp() override {
    saved_ = controlWord();
    if (const char *error = scenemap_test::setPrecisionFromEnvironment()) {
      FAIL() << error;
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
