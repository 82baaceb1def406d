// A = fresh_fill (n)
//
// The floor of the camera Jacobian's memory in a native Octave call, for
// bench_octave.m: a 19-by-2-by-n array created as scenemapgrad_mex creates
// dCam (new memory, huge pages asked for where it is large) and written
// once, with the stores the derivative walk uses for a result of that size.
// What it costs is what the fourth output costs besides its arithmetic. A
// benchmark fixture, not part of the toolbox.
#include <octave/oct.h>

#include <cstddef>

#include "camera_derivatives.hpp"
#include "octave_results.hpp"
#include "platform.hpp"

namespace {

template <class Store>
void fill(double *out, std::ptrdiff_t count, double value) {
  const scenemap::kernel::Pair p = scenemap::kernel::pair(value, value);
  for (std::ptrdiff_t i = 0; i < count; i += 2) {
    Store::pair(out + i, p);
  }
}

}  // namespace

DEFUN_DLD(fresh_fill, args, ,
          "fresh_fill: the floor of dCam's memory (benchmark fixture)") {
  namespace k = scenemap::kernel;
  if (args.length() != 1) {
    print_usage();
  }
  const octave_idx_type n = args(0).idx_type_value(true);
  if (n < 0) {
    error("fresh_fill: N must be a count of points");
  }
  dim_vector dims(k::kCameraParams, 2, n);
  NDArray a = scenemap::unwrittenArray(dims);
  double *out = a.fortran_vec();
  const std::ptrdiff_t count = 2 * k::kCameraParams * std::ptrdiff_t{n};
  if (k::streamCameraBlocks(out, n)) {
    fill<k::StreamingStores>(out, count, 1.0);
    k::streamingFence();
  } else {
    fill<k::OrdinaryStores>(out, count, 1.0);
  }
  return ovl(a);
}
