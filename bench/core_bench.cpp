// Time per point of the camera model's walks, each beside its floor: a loop
// that makes only the math-library calls the same points need, on the same
// argument values and in the same dependence chain, and nothing else.
//
// Prints one Markdown table row per comparison (medians over repetitions,
// interleaved at random so that a busy neighbour slows both sides alike):
//   ratio = module / floor          for the projection and the derivatives
//   ratio = dirty / clean            for calls made with the upper halves of
//                                    the AVX registers left dirty
// Options: --smoke (tiny grids, one repetition: checks that it runs) and
// any Google Benchmark flag.
//
// core_bench --instructions OP CASE POINTS runs one walk or floor (OP: proj,
// proj-floor, deriv, deriv-floor; CASE as the benchmarks number them) once
// over POINTS points, with callgrind's collection switched on for that call
// alone (valgrind --tool=callgrind --collect-atstart=no), and prints the
// case's name. bench/instructions.sh turns its counts into table rows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "../tests/axis_rotation.hpp"
#include "camera_derivatives.hpp"
#include "camera_model.hpp"
#include "derivative_grid.hpp"
#include "frame_derivatives.hpp"
#include "platform.hpp"

#if defined(__has_include)
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#endif
#endif
#ifndef CALLGRIND_TOGGLE_COLLECT
#define CALLGRIND_TOGGLE_COLLECT
#endif

namespace {

using scenemap::CameraParams;

constexpr double kOneThird = 0.3333333333333333;
constexpr double kTwoThirds = 0.6666666666666666;

// Which solution of the distortion cubic the points need.
enum class Case { kOneRoot, kThreeRoots, kFold, kNoDistortion, kStraddle };

const char *caseName(Case c) {
  switch (c) {
    case Case::kOneRoot:
      return "one root (k1 > 0)";
    case Case::kThreeRoots:
      return "three roots (k1 < 0)";
    case Case::kFold:
      return "beyond the fold";
    case Case::kNoDistortion:
      return "k1 = 0";
    case Case::kStraddle:
      return "straddling the fold";
  }
  return "";
}

// Arguments of the math-library calls one point makes, in call order.
struct PointCalls {
  int kind;      // 0 no call, 1 one root, 2 three roots
  bool closed;   // the derivatives take the closed form
  double ru2;    // sqrt -> ru
  double disc;   // sqrt(D) (one root) or sqrt(-D) (three roots)
  double a;      // one root: |E + s|; three roots: y*y + E*E
  double b;      // one root: |E - s|; three roots: E (atan2's x)
  double third;  // three roots: theta / 3 (sin, cos)
  // Closed-form derivatives: sqrt(rho), sqrt(Dc), pow(rho, 1.5), then
  // pow(s - E, 1/3 and 2/3), pow(E + s, 1/3 and 2/3).
  double rho, dc, sMinusE, sPlusE;
};

struct Scene {
  CameraParams cam;
  std::vector<double> X, Y, Z;
  std::vector<PointCalls> calls;
};

using scenemap_test::rotation;

// Records the calls of the distortion solve and of the closed-form
// derivatives for a point with camera coordinates (xc, yc, zc), evaluating
// their arguments as the camera model does.
PointCalls recordCalls(const CameraParams &p, double xc, double yc, double zc) {
  PointCalls c{};
  const double k = p.kappa1;
  const double xu = (xc * p.f) / zc, yu = (yc * p.f) / zc;
  if (k != 0) {
    c.ru2 = yu * yu + xu * xu;
    const double ru = std::sqrt(c.ru2);
    const double pk = 1 / k, E = ru * pk * 0.5, p3 = pk / 3;
    const double D = p3 * p3 * p3 + E * E;
    if (D >= 0) {
      const double s = std::sqrt(D);
      c.kind = 1;
      c.disc = D;
      c.a = std::fabs(E + s);
      c.b = std::fabs(E - s);
    } else {
      const double y = std::sqrt(-D);
      c.kind = 2;
      c.disc = -D;
      c.a = y * y + E * E;
      c.b = E;
      c.third = std::atan2(y, E) / 3;
    }
  }
  const double f2 = p.f * p.f, zc2 = zc * zc;
  c.rho = xc * xc / zc2 * f2 + f2 * (yc * yc / zc2);
  c.closed = scenemap::closedFormIsAccurate(k, c.rho);
  if (c.closed) {
    const double k2 = k * k;
    c.dc = (0.25 / k2) * c.rho + 0.037037037037037035 / (k * k2);
    const double s = std::sqrt(c.dc), E = (0.5 / k) * std::sqrt(c.rho);
    c.sMinusE = s - E;
    c.sPlusE = E + s;
  }
  return c;
}

Scene makeScene(Case which, std::size_t n) {
  Scene sc;
  CameraParams &p = sc.cam;
  p = CameraParams{};
  p.dx = 1.1e-2;
  p.dy = 0.9e-2;
  p.sx = 1.05;
  p.cx = 320;
  p.cy = 240;
  p.f = 8;
  rotation(0.3, -0.5, 0.8, 0.7, p.R);
  p.T[0] = 0.2;
  p.T[1] = -0.1;
  p.T[2] = 5;
  // Undistorted sensor radii: kappa1 = -0.02 reaches ru = 2.72 at most.
  double rmin = 0.2, rmax = 6;
  switch (which) {
    case Case::kOneRoot:
      p.kappa1 = 0.02;
      break;
    case Case::kThreeRoots:
      p.kappa1 = -0.02;
      rmax = 2.6;
      break;
    case Case::kFold:
      p.kappa1 = -0.02;
      rmin = 2.9;
      break;
    case Case::kNoDistortion:
      p.kappa1 = 0;
      break;
    case Case::kStraddle:
      p.kappa1 = -0.02;
      break;
  }
  std::mt19937_64 gen(42);
  std::uniform_real_distribution<double> unit(0, 1);
  sc.X.resize(n);
  sc.Y.resize(n);
  sc.Z.resize(n);
  sc.calls.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double ru = rmin + (rmax - rmin) * unit(gen);
    const double phi = 6.283185307179586 * unit(gen);
    const double zc = 3 + 4 * unit(gen);
    const double c[3] = {ru * std::cos(phi) * zc / p.f,
                         ru * std::sin(phi) * zc / p.f, zc};
    double w[3];
    for (int j = 0; j < 3; ++j) {
      w[j] = 0;
      for (int r = 0; r < 3; ++r) w[j] += p.R[r + 3 * j] * (c[r] - p.T[r]);
    }
    sc.X[i] = w[0];
    sc.Y[i] = w[1];
    sc.Z[i] = w[2];
    scenemap::FramePoint pt;
    scenemap::sceneToFrameCoord(p, w[0], w[1], w[2], &pt);
    sc.calls[i] = recordCalls(p, pt.xc, pt.yc, pt.zc);
  }
  return sc;
}

// A zero that the processor must wait for: x - x is 0 for finite x, and the
// compiler may not fold it. Adding it to a recorded argument chains the call
// to the result it depended on.
inline double after(double x) { return x - x; }

// The calls of the distortion solve of one point.
inline double solverCalls(const PointCalls &c) {
  if (c.kind == 0) return 0;
  const double ru = std::sqrt(c.ru2);
  const double root = std::sqrt(c.disc + after(ru));
  if (c.kind == 1) {
    const double t = after(root);
    return std::pow(c.a + t, kOneThird) + std::pow(c.b + t, kOneThird);
  }
  const double m = std::pow(std::sqrt(c.a + after(root)), kOneThird);
  const double theta = std::atan2(root, c.b);
  const double t = after(theta);
  return m * std::sin(c.third + t) - m * std::cos(c.third + t);
}

// The calls of the closed-form derivatives of one point.
inline double closedFormCalls(const PointCalls &c) {
  if (!c.closed) return 0;
  const double P = std::sqrt(c.rho);
  const double s = std::sqrt(c.dc);
  const double h = std::pow(c.rho, 1.5);
  const double t = after(P) + after(s);
  const double sm = c.sMinusE + t, sp = c.sPlusE + t;
  return h + (std::pow(sm, kOneThird) - std::pow(sp, kOneThird)) +
         (std::pow(sm, kTwoThirds) + std::pow(sp, kTwoThirds));
}

void floorProjection(const Scene &sc, double *out) {
  const std::size_t n = sc.calls.size();
  for (std::size_t i = 0; i < n; ++i) out[i] = solverCalls(sc.calls[i]);
}

void floorDerivatives(const Scene &sc, double *out) {
  const std::size_t n = sc.calls.size();
  for (std::size_t i = 0; i < n; ++i) {
    const PointCalls &c = sc.calls[i];
    out[i] = solverCalls(c);
    out[n + i] = closedFormCalls(c);
  }
}

// Leaves the upper halves of the AVX registers dirty, as a caller compiled
// for AVX may do before it calls a module.
void dirtyUpperHalves() {
#if defined(__x86_64__) || defined(__i386__)
  __asm__ volatile("vpcmpeqd %%ymm15, %%ymm15, %%ymm15" ::: "xmm15");
#endif
}

bool haveAvx() {
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("avx");
#else
  return false;
#endif
}

// kCamera: the derivative walk with dCam too; its "floor" side only writes
// dCam's 304 bytes a point (the time of the stores alone) with ordinary
// stores, its "floor-stream" side with the streaming stores that the walk
// uses for large grids.
enum class Op { kProjection, kDerivatives, kCamera };
enum class Side { kModule, kFloor, kModuleDirty, kFloorDirty, kFloorStream };

const char *sideName(Side s) {
  switch (s) {
    case Side::kModule:
      return "module";
    case Side::kFloor:
      return "floor";
    case Side::kModuleDirty:
      return "module-dirty";
    case Side::kFloorDirty:
      return "floor-dirty";
    case Side::kFloorStream:
      return "floor-stream";
  }
  return "";
}

struct Key {
  int op, kase;
  long points;
  bool operator<(const Key &o) const {
    return std::tie(op, kase, points) < std::tie(o.op, o.kase, o.points);
  }
};

// Median CPU time per point (ns) of every benchmark, by key and side.
std::map<Key, std::map<int, double>> g_median;

// What one side of a comparison writes.
struct Outputs {
  std::vector<double> u, v, d, cam, sink;
  Outputs(Op op, std::size_t n)
      : u(n),
        v(n),
        d(op != Op::kProjection ? 4 * n : 0),
        cam(op == Op::kCamera ? 38 * n : 0),
        sink(2 * n) {}
};

// One walk of a side over the scene's points.
void runSide(Op op, Side side, const Scene &sc, Outputs *o) {
  const auto M = static_cast<std::int32_t>(sc.X.size());
  switch (side) {
    case Side::kModule:
    case Side::kModuleDirty:
      if (op == Op::kProjection) {
        scenemap::projectSceneGrid(sc.cam, sc.X.data(), sc.Y.data(),
                                   sc.Z.data(), M, 1, o->u.data(), o->v.data());
      } else if (op == Op::kCamera) {
        scenemap::projectSceneGridWithDerivatives(
            sc.cam, sc.X.data(), sc.Y.data(), sc.Z.data(), M, 1, o->u.data(),
            o->v.data(), o->d.data(), o->cam.data());
      } else {
        scenemap::projectSceneGridWithDerivatives(
            sc.cam, sc.X.data(), sc.Y.data(), sc.Z.data(), M, 1, o->u.data(),
            o->v.data(), o->d.data());
      }
      break;
    case Side::kFloor:
    case Side::kFloorDirty:
      if (op == Op::kProjection) {
        floorProjection(sc, o->sink.data());
      } else if (op == Op::kCamera) {
        std::fill_n(o->cam.data(), o->cam.size(),
                    static_cast<double>(sc.X.size()));
        benchmark::DoNotOptimize(o->cam.data());
      } else {
        floorDerivatives(sc, o->sink.data());
      }
      break;
    case Side::kFloorStream: {
      const double n = static_cast<double>(sc.X.size());
      const scenemap::kernel::Pair value = scenemap::kernel::pair(n, n);
      for (std::size_t i = 0; i < o->cam.size(); i += 2) {
        scenemap::kernel::StreamingStores::pair(o->cam.data() + i, value);
      }
      scenemap::kernel::streamingFence();
      benchmark::DoNotOptimize(o->cam.data());
      break;
    }
  }
  benchmark::DoNotOptimize(o->u.data());
  benchmark::DoNotOptimize(o->sink.data());
  benchmark::ClobberMemory();
}

void registerOne(Op op, Case kase, std::size_t points, Side side,
                 const Scene *sc) {
  const std::string name = std::string(op == Op::kProjection    ? "proj"
                                       : op == Op::kDerivatives ? "deriv"
                                                                : "camera") +
                           "/" + std::to_string(static_cast<int>(kase)) + "/" +
                           std::to_string(points) + "/" + sideName(side);
  benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State &state) {
    Outputs o(op, sc->X.size());
    const bool dirty = side == Side::kModuleDirty || side == Side::kFloorDirty;
    for (auto _ : state) {
      if (dirty) dirtyUpperHalves();
      runSide(op, side, *sc, &o);
    }
    state.counters["points"] = static_cast<double>(sc->X.size());
  });
}

// The --instructions mode: one run of a side, collected by callgrind, after
// one on a few points of the same case (which binds the library calls).
int countInstructions(const char *what, const char *kase, const char *points) {
  const std::string name = what;
  const bool floor =
      name.size() > 6 && name.substr(name.size() - 6) == "-floor";
  const std::string op = floor ? name.substr(0, name.size() - 6) : name;
  const int c = std::atoi(kase);
  const long n = std::atol(points);
  if ((op != "proj" && op != "deriv") || c < 0 || c > 4 || n < 1) {
    std::fprintf(stderr,
                 "usage: core_bench --instructions "
                 "proj|proj-floor|deriv|deriv-floor CASE POINTS\n");
    return 2;
  }
  const Op o = op == "proj" ? Op::kProjection : Op::kDerivatives;
  const Side side = floor ? Side::kFloor : Side::kModule;
  const Scene warm = makeScene(static_cast<Case>(c), 64);
  const Scene sc = makeScene(static_cast<Case>(c), static_cast<std::size_t>(n));
  Outputs wo(o, warm.X.size()), out(o, sc.X.size());
  runSide(o, side, warm, &wo);
  CALLGRIND_TOGGLE_COLLECT;
  runSide(o, side, sc, &out);
  CALLGRIND_TOGGLE_COLLECT;
  std::printf("%s\n", caseName(static_cast<Case>(c)));
  return 0;
}

// Collects the medians; prints nothing per run but a dot to stderr.
class TableReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context &) override { return true; }
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs) {
      const bool single = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
      if (!(r.aggregate_name == "median" || single)) continue;
      int op = 0, kase = 0;
      long points = 0;
      char side[32] = {};
      const std::string name = r.run_name.function_name;
      char kind[16] = {};
      if (std::sscanf(name.c_str(), "%15[^/]/%d/%ld/%31s", kind, &kase, &points,
                      side) != 4)
        continue;
      op = std::strcmp(kind, "proj") == 0    ? 0
           : std::strcmp(kind, "deriv") == 0 ? 1
                                             : 2;
      int s = 0;
      for (Side x : {Side::kModule, Side::kFloor, Side::kModuleDirty,
                     Side::kFloorDirty, Side::kFloorStream})
        if (std::strcmp(sideName(x), side) == 0) s = static_cast<int>(x);
      const double ns = r.GetAdjustedCPUTime() * 1e9 /
                        benchmark::GetTimeUnitMultiplier(r.time_unit) / points;
      g_median[Key{op, kase, points}][s] = ns;
      std::fputc('.', stderr);
    }
  }
};

void printTable() {
  std::fputc('\n', stderr);
  std::printf(
      "| suite | case | points | measured ns/pt | against ns/pt | ratio | "
      "target |\n|---|---|---|---|---|---|---|\n");
  auto row = [](const char *suite, int kase, long points, double a, double b,
                const char *target) {
    std::printf("| %s | %s | %ld | %.1f | %.1f | %.3f | %s |\n", suite,
                caseName(static_cast<Case>(kase)), points, a, b, a / b, target);
  };
  for (const auto &[key, sides] : g_median) {
    if (key.op == 2) {
      // The fourth output: the walk with dCam against the walk without it,
      // and the extra time against that of writing dCam's 304 bytes alone.
      const auto walk = g_median.find(Key{1, key.kase, key.points});
      if (walk == g_median.end() || !walk->second.count(0) || !sides.count(0))
        continue;
      const double with = sides.at(0), without = walk->second.at(0);
      row("C++ proj+derivatives+dCam / proj+derivatives", key.kase, key.points,
          with, without, key.points == 1000000 ? "<= 1.3" : "");
      const int stream = static_cast<int>(Side::kFloorStream);
      if (sides.count(1))
        row("C++ dCam's extra time / writing its 304 bytes alone (ordinary "
            "stores)",
            key.kase, key.points, with - without, sides.at(1), "");
      if (sides.count(stream))
        row("C++ dCam's extra time / writing its 304 bytes alone (streaming "
            "stores)",
            key.kase, key.points, with - without, sides.at(stream), "");
      continue;
    }
    auto has = [&](Side s) { return sides.count(static_cast<int>(s)) > 0; };
    auto at = [&](Side s) { return sides.at(static_cast<int>(s)); };
    const bool proj = key.op == 0;
    // Targets: the projection at 1e6 points for kappa1 > 0; the derivative
    // walk at every size for both signs of kappa1.
    const bool oneRoot = key.kase == static_cast<int>(Case::kOneRoot);
    const bool signs =
        oneRoot || key.kase == static_cast<int>(Case::kThreeRoots);
    const char *target =
        proj ? (oneRoot && key.points == 1000000 ? "<= 1.10" : "")
             : (signs ? "<= 1.15" : "");
    if (has(Side::kModule) && has(Side::kFloor))
      row(proj ? "C++ projection / floor" : "C++ proj+derivatives / floor",
          key.kase, key.points, at(Side::kModule), at(Side::kFloor), target);
    if (has(Side::kModuleDirty) && has(Side::kModule))
      row(proj ? "C++ projection dirty AVX / clean"
               : "C++ proj+derivatives dirty AVX / clean",
          key.kase, key.points, at(Side::kModuleDirty), at(Side::kModule),
          "<= 1.05");
    if (has(Side::kFloorDirty) && has(Side::kFloor))
      row(proj ? "C++ projection floor dirty AVX / clean (the penalty)"
               : "C++ proj+derivatives floor dirty AVX / clean (the penalty)",
          key.kase, key.points, at(Side::kFloorDirty), at(Side::kFloor), "");
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 5 && std::strcmp(argv[1], "--instructions") == 0) {
    return countInstructions(argv[2], argv[3], argv[4]);
  }
  bool smoke = false;
  std::vector<char *> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0) {
      smoke = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  // Defaults, overridable by the same flags on the command line.
  std::string reps = "--benchmark_repetitions=7";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::string minTime = "--benchmark_min_time=0.2";
  if (smoke) {
    reps = "--benchmark_repetitions=1";
    minTime = "--benchmark_min_time=0";
  }
  args.insert(args.begin() + 1,
              {reps.data(), interleave.data(), minTime.data()});
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 2;

  const std::vector<std::size_t> sizes =
      smoke ? std::vector<std::size_t>{64}
            : std::vector<std::size_t>{1000, 100000, 1000000};
  const bool avx = haveAvx();
  std::vector<std::unique_ptr<Scene>> scenes;
  for (Case kase : {Case::kOneRoot, Case::kThreeRoots, Case::kFold,
                    Case::kNoDistortion, Case::kStraddle}) {
    for (std::size_t points : sizes) {
      scenes.push_back(std::make_unique<Scene>(makeScene(kase, points)));
      const Scene *sc = scenes.back().get();
      for (Op op : {Op::kProjection, Op::kDerivatives, Op::kCamera}) {
        if (op == Op::kCamera && kase != Case::kOneRoot &&
            kase != Case::kThreeRoots)
          continue;
        registerOne(op, kase, points, Side::kModule, sc);
        registerOne(op, kase, points, Side::kFloor, sc);
        // The walk streams dCam's blocks into a large aligned array (as
        // std::vector's is here) where the processor can.
        if (op == Op::kCamera && scenemap::kernel::kStreamingStores &&
            static_cast<std::ptrdiff_t>(points) >=
                scenemap::kernel::kStreamingMinPoints)
          registerOne(op, kase, points, Side::kFloorStream, sc);
        // The register state matters per call, not per point: one size and
        // the two cases that call the most (or nothing but arithmetic).
        if (avx && op != Op::kCamera && (points == sizes.back() || smoke) &&
            (kase == Case::kOneRoot || kase == Case::kThreeRoots)) {
          registerOne(op, kase, points, Side::kModuleDirty, sc);
          registerOne(op, kase, points, Side::kFloorDirty, sc);
        }
      }
    }
  }
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  printTable();
  return 0;
}
