// Reads a fuzzer's byte string as a stream of small decisions and doubles.
// Past the end every read gives zero, so any input decodes to something.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace scenemap {
namespace fuzz {

class Input {
 public:
  Input(const std::uint8_t *data, std::size_t size)
      : data_(data), size_(size) {}

  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  // A choice among n (n >= 1).
  unsigned pick(unsigned n) { return byte() % n; }

  // Any bit pattern: NaN, infinities, denormals and -0 included.
  double raw() {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= std::uint64_t{byte()} << (8 * i);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }

  // Zero, or a magnitude spread evenly in log scale over [lo, hi] with
  // either sign. lo > 0.
  double logUniform(double lo, double hi, bool allowZero) {
    const std::uint8_t tag = byte();
    if (allowZero && tag % 8 == 0) return 0;
    const std::uint16_t frac = static_cast<std::uint16_t>(byte() | byte() << 8);
    const double t = frac / 65535.0;
    const double mag = lo * std::pow(hi / lo, t);
    return (tag & 0x80) ? -mag : mag;
  }

  bool exhausted() const { return pos_ >= size_; }

 private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace fuzz
}  // namespace scenemap
