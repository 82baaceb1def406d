// The results of the modules' native Octave entries: arrays created without
// a pass over their memory, 1-by-1 results written in place, and the list of
// results a call returns.
#pragma once

#include <octave/oct.h>

#include <cstddef>
#include <optional>

namespace scenemap {

// Asks the kernel to map the whole pages of [data, data + bytes) in huge
// pages where it offers them on request, if the range is large enough to be
// an allocation of its own (32 MiB or more); does nothing elsewhere. Only
// advice: the memory's contents do not change.
void adviseHugePages(void *data, std::size_t bytes);

// A double array of the given dimensions whose elements are not yet
// written (no pass over the memory), owned by Octave like any other; on
// Linux a large one asks for huge pages, so that writing it takes fewer
// page faults.
NDArray unwrittenArray(const dim_vector &dims);

// One result of a call: data() for the walk to write, then value() for the
// list of results. A 1-by-1 result is written in place and handed back as a
// scalar value, which is what Octave makes of a 1-by-1 array it is given
// (it narrows it), without creating the array first.
class OctaveResult {
 public:
  explicit OctaveResult(const dim_vector &dims);
  double *data() { return array_ ? array_->fortran_vec() : &scalar_; }
  octave_value value() const {
    return array_ ? octave_value(*array_) : octave_value(scalar_);
  }

 private:
  std::optional<NDArray> array_;
  double scalar_ = 0;
};

// The first max(nargout, 1) of a call's results: a native function returns
// as many values as its caller asked for, as Octave's own functions do
// (cellfun with uniform output and an error handler counts them).
octave_value_list requestedOutputs(octave_value_list results, int nargout);

}  // namespace scenemap
