// output_digest: every result bit of the public camera-model functions over
// a fixed set of inputs, for proving that a change keeps them all.
//
//   output_digest [--dump FILE] [CORPUS_FILE_OR_DIR...]
//
// Inputs: each corpus file's bytes decoded as cameras and points (any bit
// pattern: NaN, infinities, subnormals), then a seeded sweep over every
// regime of the distortion solve (kappa1 from 1e-300 to 1e300 of both
// signs, radii next to the solve's switching points, extreme coordinates).
// Each input goes through undistortedToDistortedSensorCoord,
// projectSceneGrid, projectSceneGridWithDerivatives (dUV, and dUV with
// dCam), the per-point frameCoordDerivatives and backProjectFrameGrid (with
// dXY). The program
// prints one line per function: how many doubles and a 64-bit FNV-1a hash of
// their bits (every NaN counted as one pattern: a NaN's sign and payload are
// not part of a result). --dump writes the doubles themselves, so that two
// builds' dumps can be compared with cmp to find the first difference.
#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "../fuzz/fuzz_input.hpp"
#include "camera_model.hpp"
#include "derivative_grid.hpp"
#include "frame_derivatives.hpp"
#include "image_to_plane.hpp"

namespace {

using scenemap::CameraParams;
using scenemap::fuzz::Input;

enum Family { kSolve, kProject, kGrad, kPoint, kInverse, kCamera, kFamilies };
const char *const kNames[kFamilies] = {
    "undistortedToDistortedSensorCoord",
    "projectSceneGrid",
    "projectSceneGridWithDerivatives",
    "frameCoordDerivatives",
    "backProjectFrameGrid",
    "projectSceneGridWithDerivatives (dCam)"};

struct Digest {
  std::uint64_t hash[kFamilies];
  std::uint64_t count[kFamilies] = {};
  std::FILE *dump = nullptr;
  Digest() {
    for (auto &h : hash) h = 1469598103934665603ull;
  }
  void add(Family f, double x) {
    if (std::isnan(x)) x = std::numeric_limits<double>::quiet_NaN();
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    for (int i = 0; i < 8; ++i) {
      hash[f] = (hash[f] ^ ((bits >> (8 * i)) & 0xff)) * 1099511628211ull;
    }
    ++count[f];
    if (dump) std::fwrite(&x, sizeof x, 1, dump);
  }
  void add(Family f, const std::vector<double> &xs) {
    for (double x : xs) add(f, x);
  }
};

constexpr int kM = 3, kN = 2, kCount = kM * kN;

// Runs one camera and grid through every function.
void runCase(const CameraParams &cam, const double (&X)[kCount],
             const double (&Y)[kCount], const double (&Z)[kCount], Digest *d) {
  for (int k = 0; k < kCount; ++k) {
    double xd, yd;
    scenemap::undistortedToDistortedSensorCoord(X[k], Y[k], &xd, &yd,
                                                cam.kappa1);
    d->add(kSolve, xd);
    d->add(kSolve, yd);
  }
  std::vector<double> u(kCount), v(kCount), gu(kCount), gv(kCount),
      dUV(4 * kCount);
  scenemap::projectSceneGrid(cam, X, Y, Z, kM, kN, u.data(), v.data());
  d->add(kProject, u);
  d->add(kProject, v);
  scenemap::projectSceneGridWithDerivatives(cam, X, Y, Z, kM, kN, gu.data(),
                                            gv.data(), dUV.data());
  d->add(kGrad, gu);
  d->add(kGrad, gv);
  d->add(kGrad, dUV);
  // With the camera Jacobian too: u, v and dUV again (they must not change
  // with it), then dCam.
  std::vector<double> cu(kCount), cv(kCount), cdUV(4 * kCount),
      dCam(38 * kCount);
  scenemap::projectSceneGridWithDerivatives(
      cam, X, Y, Z, kM, kN, cu.data(), cv.data(), cdUV.data(), dCam.data());
  d->add(kCamera, cu);
  d->add(kCamera, cv);
  d->add(kCamera, cdUV);
  d->add(kCamera, dCam);
  for (int k = 0; k < kCount; ++k) {
    scenemap::FramePoint pt;
    scenemap::sceneToFrameCoord(cam, X[k], Y[k], Z[k], &pt);
    double block[4];
    scenemap::frameCoordDerivatives(cam, pt.xc, pt.yc, pt.zc, block);
    for (double b : block) d->add(kPoint, b);
  }
  // Back from the projected pixels (and from the raw inputs as pixels).
  std::vector<double> Xb(kCount), Yb(kCount), dXY(4 * kCount);
  scenemap::backProjectFrameGrid(cam, u.data(), v.data(), Z, kM, kN, Xb.data(),
                                 Yb.data(), dXY.data());
  d->add(kInverse, Xb);
  d->add(kInverse, Yb);
  d->add(kInverse, dXY);
  scenemap::backProjectFrameGrid(cam, X, Y, Z, kM, kN, Xb.data(), Yb.data(),
                                 dXY.data());
  d->add(kInverse, Xb);
  d->add(kInverse, Yb);
  d->add(kInverse, dXY);
}

// A value from the byte stream: raw bits, or a magnitude in a wide range.
double decode(Input &in, double lo, double hi) {
  return in.pick(4) == 0 ? in.raw() : in.logUniform(lo, hi, true);
}

void runCorpusFile(const std::string &path, Digest *d) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) return;
  std::vector<std::uint8_t> bytes;
  int c;
  while ((c = std::fgetc(f)) != EOF)
    bytes.push_back(static_cast<std::uint8_t>(c));
  std::fclose(f);
  Input in(bytes.data(), bytes.size());
  do {
    CameraParams cam;
    cam.dx = decode(in, 1e-8, 1e2);
    cam.dy = decode(in, 1e-8, 1e2);
    cam.sx = decode(in, 0.5, 2);
    cam.cx = decode(in, 1, 1e4);
    cam.cy = decode(in, 1, 1e4);
    cam.f = decode(in, 1e-4, 1e4);
    cam.kappa1 = decode(in, 1e-300, 1e300);
    for (double &r : cam.R) r = decode(in, 1e-3, 1);
    for (double &t : cam.T) t = decode(in, 1e-3, 1e3);
    double X[kCount], Y[kCount], Z[kCount];
    for (int k = 0; k < kCount; ++k) {
      X[k] = decode(in, 1e-6, 1e6);
      Y[k] = decode(in, 1e-6, 1e6);
      Z[k] = decode(in, 1e-6, 1e6);
    }
    runCase(cam, X, Y, Z, d);
  } while (!in.exhausted());
}

void runPath(const std::string &path, Digest *d) {
  DIR *dir = opendir(path.c_str());
  if (!dir) {
    runCorpusFile(path, d);
    return;
  }
  std::vector<std::string> names;
  while (dirent *e = readdir(dir)) {
    if (e->d_name[0] != '.') names.push_back(e->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const auto &n : names) runPath(path + "/" + n, d);
}

// The seeded sweep: a tilted camera of random size and distortion, points
// whose undistorted radius puts t = kappa1 * ru^2 anywhere from 1e-30 to
// 1e30, and next to the decades where the solves switch (a few units in the
// last place either side of 1e-6, 2e-4, 1, 100, 1e3 and the fold).
void runSweep(Digest *d) {
  std::mt19937_64 gen(20261209);
  std::uniform_real_distribution<double> unit(-1, 1);
  const double edges[] = {1e-6, 2e-4, 1e-2, 1, 100, 1e3, 1.0 / 3, 4.0 / 27};
  for (int trial = 0; trial < 40000; ++trial) {
    const double scale = std::pow(10.0, 12 * unit(gen));
    CameraParams cam;
    cam.dx = 1e-5 * scale * (1 + 0.1 * unit(gen));
    cam.dy = 1e-5 * scale * (1 + 0.1 * unit(gen));
    cam.sx = 1 + 0.05 * unit(gen);
    cam.cx = 320 + 10 * unit(gen);
    cam.cy = 240 + 10 * unit(gen);
    cam.f = 0.008 * scale * (1 + 0.5 * unit(gen));
    const double sign = trial % 2 ? -1 : 1;
    const double kmag = std::pow(10.0, 300 * unit(gen));
    cam.kappa1 = trial % 17 == 0 ? 0 : sign * kmag;
    // A rotation about a random axis by up to about a radian.
    const double ax = unit(gen), ay = unit(gen), az = unit(gen);
    const double n = std::sqrt(ax * ax + ay * ay + az * az);
    const double th = unit(gen), c = std::cos(th), s = std::sin(th);
    const double x = ax / n, y = ay / n, z = az / n, C = 1 - c;
    const double R[9] = {
        c + x * x * C,     y * x * C + z * s, z * x * C - y * s,
        x * y * C - z * s, c + y * y * C,     z * y * C + x * s,
        x * z * C + y * s, y * z * C - x * s, c + z * z * C};
    for (int i = 0; i < 9; ++i) cam.R[i] = R[i];
    cam.T[0] = 0.1 * unit(gen);
    cam.T[1] = 0.1 * unit(gen);
    cam.T[2] = 1 + 0.5 * unit(gen);
    double X[kCount], Y[kCount], Z[kCount];
    for (int k = 0; k < kCount; ++k) {
      // Aim at a target t: ru^2 = t / |kappa1| in sensor units, then back to
      // a world point on the camera's axis plane (R^T of the sensor ray).
      double t = std::pow(10.0, 30 * unit(gen));
      if (k % 3 == 0) {
        const double e = edges[gen() % (sizeof edges / sizeof *edges)];
        t = e * (1 + (static_cast<int>(gen() % 17) - 8) *
                         std::numeric_limits<double>::epsilon());
      }
      const double kk = cam.kappa1 == 0 ? 1 : std::fabs(cam.kappa1);
      const double ru = std::sqrt(t / kk);
      const double phi = 3.14159 * unit(gen);
      const double xc = ru / cam.f * std::cos(phi),
                   yc = ru / cam.f * std::sin(phi);
      const double xw = xc - cam.T[0], yw = yc - cam.T[1], zw = 1 - cam.T[2];
      X[k] = R[0] * xw + R[1] * yw + R[2] * zw;
      Y[k] = R[3] * xw + R[4] * yw + R[5] * zw;
      Z[k] = R[6] * xw + R[7] * yw + R[8] * zw;
      if (trial % 29 == 0 && k == 1) X[k] = 0;  // an absent point
      if (trial % 31 == 0 && k == 2) Z[k] = std::pow(10.0, 200 * unit(gen));
    }
    runCase(cam, X, Y, Z, d);
  }
}

}  // namespace

int main(int argc, char **argv) {
  Digest d;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "--dump") == 0) {
    d.dump = std::fopen(argv[2], "wb");
    if (!d.dump) {
      std::perror(argv[2]);
      return 1;
    }
    first = 3;
  }
  for (int i = first; i < argc; ++i) runPath(argv[i], &d);
  runSweep(&d);
  for (int f = 0; f < kFamilies; ++f) {
    std::printf("%-40s %10llu doubles  %016llx\n", kNames[f],
                static_cast<unsigned long long>(d.count[f]),
                static_cast<unsigned long long>(d.hash[f]));
  }
  if (d.dump) std::fclose(d.dump);
  return 0;
}
