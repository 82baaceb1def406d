// Time per point of the back-projection beside the projection it inverts,
// on the same camera and points: world points on a tilted target, and the
// pixels the projection gives them. Google Benchmark's table with medians
// over repetitions run in random order (so a busy neighbour slows both
// alike); ns/pt is 1e9 / the items_per_second column.
// Options: --smoke (tiny grid, one repetition) and any Google Benchmark flag.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../tests/axis_rotation.hpp"
#include "camera_model.hpp"
#include "derivative_grid.hpp"
#include "image_to_plane.hpp"

namespace {

struct Grid {
  scenemap::CameraParams cam;
  std::vector<double> X, Y, Z, u, v;
};

// An 8 mm lens with 5 um pixels and 5 % barrel distortion at the corners,
// 0.6 m from a target tilted 0.5 rad, points spread over the image.
Grid makeGrid(std::size_t n) {
  Grid g;
  g.cam = {5e-6, 5e-6, 1, 320, 240, 0.008, 2.5e4, {}, {0.01, -0.02, 0.6}};
  scenemap_test::rotation(1, 0.3, 0, 0.5, g.cam.R);
  std::mt19937_64 gen(1);
  std::uniform_real_distribution<double> pixel(0, 1);
  g.u.resize(n);
  g.v.resize(n);
  g.Z.assign(n, 0);
  for (std::size_t k = 0; k < n; ++k) {
    g.u[k] = 640 * pixel(gen);
    g.v[k] = 480 * pixel(gen);
  }
  g.X.resize(n);
  g.Y.resize(n);
  const auto M = static_cast<std::int32_t>(n);
  scenemap::backProjectFrameGrid(g.cam, g.u.data(), g.v.data(), g.Z.data(), M,
                                 1, g.X.data(), g.Y.data(), nullptr);
  return g;
}

enum Walk { kProject, kProjectDerivatives, kBack, kBackDerivatives };

void run(benchmark::State &state, const Grid *g, Walk walk) {
  const std::size_t n = g->X.size();
  const auto M = static_cast<std::int32_t>(n);
  std::vector<double> a(n), b(n), d(4 * n);
  for (auto _ : state) {
    switch (walk) {
      case kProject:
        scenemap::projectSceneGrid(g->cam, g->X.data(), g->Y.data(),
                                   g->Z.data(), M, 1, a.data(), b.data());
        break;
      case kProjectDerivatives:
        scenemap::projectSceneGridWithDerivatives(
            g->cam, g->X.data(), g->Y.data(), g->Z.data(), M, 1, a.data(),
            b.data(), d.data());
        break;
      case kBack:
      case kBackDerivatives:
        scenemap::backProjectFrameGrid(g->cam, g->u.data(), g->v.data(),
                                       g->Z.data(), M, 1, a.data(), b.data(),
                                       walk == kBack ? nullptr : d.data());
        break;
    }
    benchmark::DoNotOptimize(a.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<char *> args(argv, argv + argc);
  const auto flags = std::remove_if(args.begin(), args.end(), [](char *a) {
    return std::strcmp(a, "--smoke") == 0;
  });
  const bool smoke = flags != args.end();
  args.erase(flags, args.end());
  // Defaults, overridable by the same flags on the command line.
  std::string reps =
      smoke ? "--benchmark_repetitions=1" : "--benchmark_repetitions=9";
  std::string minTime = smoke ? "--benchmark_min_time=0" : "";
  std::string aggregates = "--benchmark_report_aggregates_only=true";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1,
              {reps.data(), aggregates.data(), interleave.data()});
  if (smoke) args.insert(args.begin() + 1, minTime.data());
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 2;

  static const Grid grid = makeGrid(smoke ? 64 : 1000000);
  const char *names[] = {"projectSceneGrid", "projectSceneGridWithDerivatives",
                         "backProjectFrameGrid", "backProjectFrameGrid+dXY"};
  for (Walk w : {kProject, kProjectDerivatives, kBack, kBackDerivatives}) {
    benchmark::RegisterBenchmark(names[w], run, &grid, w)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
