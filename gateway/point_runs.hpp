// Walking a grid in runs of points, so that a host can do its own work
// between them (Octave: honour a pending Ctrl-C) without touching the
// per-point arithmetic.
//
// The walks (projectSceneGrid, projectSceneGridWithDerivatives) treat an
// M-by-N grid as one column-major sequence of M * N independent points, so
// the run [first, first + count) is walked as a count-by-1 grid at the
// arrays' offset pointers, with bit-identical results.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "camera_model.hpp"
#include "scene_checks.hpp"

namespace scenemap {

// Points per run: about a millisecond of work, so an interrupt is seen
// promptly while the per-run set-up of the walk stays negligible, and few
// enough that a run's results (up to 48 bytes a point) stay in cache
// between being zeroed and being written.
constexpr std::ptrdiff_t kPointsPerRun = std::ptrdiff_t{1} << 14;

// Zeroes the results of the points [first, first + count) in an array of
// width doubles per point. The walks leave absent points untouched, so a
// host that creates its results without zeroing them zeroes each run just
// before walking it, while it is in cache.
inline void zeroRun(double *out, int width, std::ptrdiff_t first,
                    std::int32_t count) {
  std::fill_n(out + width * first, std::ptrdiff_t{width} * count, 0.0);
}

// Calls between() and then walk(first, count) for consecutive runs covering
// the points [0, total); count fits a 32-bit grid dimension. between() may
// throw to abandon the walk.
template <class Walk, class Between>
void walkInRuns(std::ptrdiff_t total, Walk walk, Between between) {
  for (std::ptrdiff_t first = 0; first < total; first += kPointsPerRun) {
    between();
    const std::ptrdiff_t left = total - first;
    walk(first, static_cast<std::int32_t>(
                    left < kPointsPerRun ? left : kPointsPerRun));
  }
}

// projectSceneGrid over the checked inputs, in runs, zeroing u and v first
// (see zeroRun).
template <class Between>
void projectSceneInRuns(const SceneInputs &in, double *u, double *v,
                        Between between) {
  walkInRuns(
      static_cast<std::ptrdiff_t>(in.M) * in.N,
      [&](std::ptrdiff_t first, std::int32_t count) {
        zeroRun(u, 1, first, count);
        zeroRun(v, 1, first, count);
        projectSceneGrid(in.params, in.Xw + first, in.Yw + first, in.Zw + first,
                         count, 1, u + first, v + first);
      },
      between);
}

}  // namespace scenemap
