// Writes a set of projection cases, with the core's results, to a binary
// file that the Octave tests read back to check the built module bit for bit
// against the core. Layout (little-endian doubles):
//   count, then per case: M, N, dx, dy, sx, cx, cy, f, kappa1, R[9], T[3],
//   Xw[M*N], Yw[M*N], Zw[M*N], u[M*N], v[M*N], dUV[4*M*N].
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "camera_model.hpp"
#include "derivative_grid.hpp"

namespace {

using scenemap::CameraParams;

void put(std::FILE *out, double value) {
  std::fwrite(&value, sizeof value, 1, out);
}

void writeCase(std::FILE *out, const CameraParams &cam, std::int32_t M,
               std::int32_t N, std::mt19937 &gen) {
  std::uniform_real_distribution<double> plane(-0.5, 0.5);
  const std::size_t count = static_cast<std::size_t>(M) * N;
  std::vector<double> Xw(count), Yw(count), Zw(count), u(count), v(count),
      dUV(4 * count);
  for (std::size_t k = 0; k < count; ++k) {
    Xw[k] = k % 7 == 3 ? 0.0 : plane(gen);  // some absent points
    Yw[k] = plane(gen);
    Zw[k] = 0.1 * plane(gen);
  }
  scenemap::projectSceneGridWithDerivatives(cam, Xw.data(), Yw.data(),
                                            Zw.data(), M, N, u.data(), v.data(),
                                            dUV.data());
  put(out, M);
  put(out, N);
  for (double p : {cam.dx, cam.dy, cam.sx, cam.cx, cam.cy, cam.f, cam.kappa1})
    put(out, p);
  for (double r : cam.R) put(out, r);
  for (double t : cam.T) put(out, t);
  for (const auto *a : {&Xw, &Yw, &Zw, &u, &v, &dUV})
    for (double x : *a) put(out, x);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTFILE\n", argv[0]);
    return 2;
  }
  std::FILE *out = std::fopen(argv[1], "wb");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  std::mt19937 gen(2024);
  // A tilted camera 1.5 units from the target; kappa1 spans no distortion,
  // barrel, pincushion below the fold and pincushion reaching the fold.
  const double c = std::cos(0.3), s = std::sin(0.3);
  CameraParams cam{5e-6,
                   5e-6,
                   1.02,
                   320,
                   240,
                   0.008,
                   0,
                   {c, 0, s, 0, 1, 0, -s, 0, c},
                   {0.05, -0.02, 1.5}};
  const double kappas[] = {0, 2e3, 4e4, -2e3, -4e4, -2e5};
  put(out, 2 * (sizeof kappas / sizeof kappas[0]));
  for (double k : kappas) {
    cam.kappa1 = k;
    writeCase(out, cam, 9, 11, gen);
    writeCase(out, cam, 1, 40, gen);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
