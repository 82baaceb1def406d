// Accuracy of the image derivatives against a quad-precision reference.
//
//   derivative_band sweep   prints, per decade of kappa1*rho from 1e-20 to
//                           1e20, the largest relative error of the closed
//                           form, of the chain-rule form and of
//                           frameCoordDerivatives (which picks between them),
//                           then the same for every other branch.
//   derivative_band check   a smaller grid over every branch; fails when a
//                           block is non-finite where the projection is
//                           finite and differentiable, when its error
//                           exceeds 1e-9, or when a block is finite where the
//                           projection is not.
//
// The reference differentiates the projection in forward mode (dual numbers)
// in __float128, taking the camera coordinates and parameters as exact. It
// does not use Cardano's formula: h = rd/ru is the root of
// h + t*h^3 = 1 (t = kappa1*ru^2), found by Newton's method
// (quad_reference.hpp), and its derivative comes from differentiating that
// equation implicitly. Beyond the fold (kappa1 < 0, t <= -4/27) h is the fold
// radius over ru.
//
// Error of a block: max over the four slots of |a - r| / max(|r|, 1e-6 * m),
// with m the largest |r| of the block. A slot far smaller than the rest of
// its block (a nearly rank-deficient block, or a rotation that makes one
// derivative cancel) can only be computed to an absolute accuracy of a few
// ulps of the terms it is made of, which are of the block's size; the floor
// keeps such slots from dominating, while still demanding that a slot down to
// a millionth of the block be right to about 1e-9 of itself.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "../axis_rotation.hpp"
#include "camera_model.hpp"
#include "frame_derivatives.hpp"
#include "quad_reference.hpp"
#ifdef SCENEMAP_X87
#include "../x87_control.hpp"
#endif

namespace {

using scenemap::CameraParams;
using scenemap_test::qabs;
using scenemap_test::qsqrt;
using scenemap_test::quad;
using scenemap_test::solveH;

struct Dual {
  quad v;  // value
  quad d;  // derivative along one world axis
};

Dual operator+(Dual x, Dual y) { return {x.v + y.v, x.d + y.d}; }
Dual operator*(Dual x, Dual y) { return {x.v * y.v, x.d * y.v + x.v * y.d}; }
Dual operator*(quad c, Dual y) { return {c * y.v, c * y.d}; }
Dual operator/(Dual x, Dual y) {
  return {x.v / y.v, (x.d * y.v - x.v * y.d) / (y.v * y.v)};
}

// Reference derivatives of (u, v) along world X (col = 0) or Y (col = 1).
void referenceColumn(const CameraParams &p, double xc, double yc, double zc,
                     int col, quad *du, quad *dv) {
  const double *R = p.R + 3 * col;
  const Dual X{xc, R[0]}, Y{yc, R[1]}, Z{zc, R[2]};
  const quad f = p.f, k = p.kappa1;
  const Dual xu = (f * X) / Z;
  const Dual yu = (f * Y) / Z;
  Dual h{1, 0};
  if (k != 0) {
    const Dual r2 = xu * xu + yu * yu;
    const Dual t = k * r2;
    if (k < 0 && scenemap_test::beyondFold(t.v)) {
      // (xd, yd) = rf * n with n = (xu, yu) / ru: only the motion of
      // (xu, yu) across n moves it. Of the motion (f/zc) * (w0, w1) -
      // (w2/zc) * (xu, yu) the second term is along n and drops out
      // exactly; differentiating xu * rf / ru as a whole would subtract it
      // from itself, which at large ru costs more digits than quad has.
      const quad rf = qsqrt(-1 / (3 * k));
      const quad ru = qsqrt(r2.v);
      const quad n0 = xu.v / ru, n1 = yu.v / ru;
      const quad a0 = f * R[0] / quad(zc), a1 = f * R[1] / quad(zc);
      const quad along = n0 * a0 + n1 * a1;
      *du = quad(p.sx) * (rf * (a0 - along * n0) / ru) / quad(p.dx);
      *dv = rf * (a1 - along * n1) / ru / quad(p.dy);
      return;
    } else {
      const quad hv = solveH(t.v);
      h = {hv, -hv * hv * hv * t.d / (1 + 3 * t.v * hv * hv)};
    }
  }
  const Dual xd = xu * h, yd = yu * h;
  *du = quad(p.sx) * xd.d / quad(p.dx);
  *dv = yd.d / quad(p.dy);
}

void reference(const CameraParams &p, double xc, double yc, double zc,
               quad r[4]) {
  referenceColumn(p, xc, yc, zc, 0, &r[0], &r[2]);
  referenceColumn(p, xc, yc, zc, 1, &r[1], &r[3]);
}

bool allFinite(const double a[4]) {
  return std::isfinite(a[0]) && std::isfinite(a[1]) && std::isfinite(a[2]) &&
         std::isfinite(a[3]);
}

// Relative error of a block (see the file comment); infinity when the block
// is not finite.
double blockError(const double a[4], const quad r[4]) {
  if (!allFinite(a)) return INFINITY;
  quad m = 0;
  for (int i = 0; i < 4; ++i)
    if (qabs(r[i]) > m) m = qabs(r[i]);
  const quad floor = m * quad(1e-6);
  double worst = 0;
  for (int i = 0; i < 4; ++i) {
    const quad den = qabs(r[i]) > floor ? qabs(r[i]) : floor;
    const double e = den == 0 ? (a[i] == 0 ? 0.0 : INFINITY)
                              : static_cast<double>(qabs(a[i] - r[i]) / den);
    if (e > worst) worst = e;
  }
  return worst;
}

// Normwise error of a block: max |a - r| over max |r|; infinity when the
// block is not finite.
double normwiseError(const double a[4], const quad r[4]) {
  if (!allFinite(a)) return INFINITY;
  quad m = 0, d = 0;
  for (int i = 0; i < 4; ++i) {
    if (qabs(r[i]) > m) m = qabs(r[i]);
    if (qabs(a[i] - r[i]) > d) d = qabs(a[i] - r[i]);
  }
  return m == 0 ? (d == 0 ? 0.0 : INFINITY) : static_cast<double>(d / m);
}

// Error of what frameCoordDerivatives returns at a point.
double returnedError(const CameraParams &p, double xc, double yc, double zc) {
  quad r[4];
  reference(p, xc, yc, zc, r);
  double a[4];
  scenemap::frameCoordDerivatives(p, xc, yc, zc, a);
  return blockError(a, r);
}

// Deterministic uniform numbers in [0, 1).
struct Rng {
  std::uint64_t s;
  double next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<double>(s >> 11) * 0x1p-53;
  }
};

using scenemap_test::rotation;

// Cameras of the sweep: focal lengths, pixel pitches, and rotations from the
// identity to a camera looking almost along the world plane.
std::vector<CameraParams> cameras(double kappa1) {
  const double fs[] = {0.008, 1.0, 850.0};
  std::vector<CameraParams> out;
  int i = 0;
  for (double f : fs) {
    CameraParams p{};
    p.dx = 1e-5 * (1 + 0.1 * i);
    p.dy = 1.1e-5;
    p.sx = 1.02;
    p.cx = 320;
    p.cy = 240;
    p.f = f;
    p.kappa1 = kappa1;
    p.T[0] = 0.1;
    p.T[1] = -0.2;
    p.T[2] = 3;
    for (int r = 0; r < 3; ++r) {
      if (r == 0) rotation(0, 0, 1, 0, p.R);
      if (r == 1) rotation(0.3, -0.5, 0.8, 0.7, p.R);
      if (r == 2) rotation(1, 0.2, 0, 1.5, p.R);
      out.push_back(p);
    }
    ++i;
  }
  return out;
}

// Camera coordinates with kappa1 * ru^2 = t (in exact arithmetic), at depth
// zc and polar angle phi on the sensor.
void pointFor(const CameraParams &p, double t, double zc, double phi,
              double *xc, double *yc) {
  const double ru = std::sqrt(t / std::fabs(p.kappa1));
  *xc = ru * std::cos(phi) * zc / p.f;
  *yc = ru * std::sin(phi) * zc / p.f;
}

struct Stat {
  double worst = 0;
  long n = 0;
  long nonFinite = 0;
  void add(double e) {
    ++n;
    if (!std::isfinite(e))
      ++nonFinite;
    else if (e > worst)
      worst = e;
  }
};

void printStat(const char *label, const Stat &s) {
  std::printf("  %-34s %7ld %10.2e %6ld\n", label, s.n, s.worst, s.nonFinite);
}

const double kKappas[] = {1e-7, 0.05, 3.0, 2e4};
const double kDepths[] = {2.5, 0.03, -4.0};

// Runs fn(params, xc, yc, zc) over the cameras, depths and angles for one
// target t (signed like kappa1).
template <class Fn>
void forPoints(double kappaSign, double t, int angles, Rng &rng, Fn fn) {
  for (double k : kKappas) {
    for (const CameraParams &p : cameras(kappaSign * k)) {
      for (double zc : kDepths) {
        for (int a = 0; a < angles; ++a) {
          const double phi = 6.283185307179586 * rng.next();
          double xc, yc;
          pointFor(p, t, zc, phi, &xc, &yc);
          fn(p, xc, yc, zc);
        }
      }
    }
  }
}

int sweep() {
  Rng rng{0x9e3779b97f4a7c15ULL};
  std::printf(
      "kappa1 > 0, per decade of kappa1*rho: max relative block error\n"
      "decade      n   closed  nonfin    chain  combined\n");
  Stat inBand;
  for (int e = -20; e < 20; ++e) {
    Stat closed, chain, combined;
    for (int j = 0; j < 4; ++j) {
      const double t = std::pow(10.0, e + (j + rng.next()) / 4);
      forPoints(1, t, 2, rng,
                [&](const CameraParams &p, double xc, double yc, double zc) {
                  quad r[4];
                  reference(p, xc, yc, zc, r);
                  double a[4];
                  scenemap::frameCoordDerivativesClosedForm(p, xc, yc, zc, a);
                  closed.add(blockError(a, r));
                  const double f2 = p.f * p.f;
                  const double rho =
                      xc * xc / (zc * zc) * f2 + f2 * (yc * yc / (zc * zc));
                  if (scenemap::closedFormIsAccurate(p.kappa1, rho)) {
                    inBand.add(blockError(a, r));
                  }
                  scenemap::frameCoordDerivativesChainRule(p, xc, yc, zc, a);
                  chain.add(blockError(a, r));
                  scenemap::frameCoordDerivatives(p, xc, yc, zc, a);
                  combined.add(blockError(a, r));
                });
    }
    std::printf("1e%+03d %6ld %9.2e %6ld %9.2e %9.2e\n", e, closed.n,
                closed.worst, closed.nonFinite, chain.worst, combined.worst);
  }
  std::printf("closed form inside the band [%g, %g]: %ld blocks, max %.2e\n",
              scenemap::kClosedFormBandLow, scenemap::kClosedFormBandHigh,
              inBand.n, inBand.worst);

  std::printf(
      "\nkappa1 > 0 near the band's edges, closed form only\n"
      "kappa1*rho from    n   closed  nonfin\n");
  for (double x :
       {-5.0, -4.75, -4.5, -4.25, -4.0, -3.75, -3.5, -3.25, -3.0, 2.0, 2.5,
        3.0,  3.25,  3.5,  3.75,  4.0,  4.25,  4.5,  4.75,  5.0,  5.5, 6.0}) {
    Stat closed;
    for (int j = 0; j < 8; ++j) {
      const double t = std::pow(10.0, x + (j + rng.next()) / 32);
      forPoints(1, t, 2, rng,
                [&](const CameraParams &p, double xc, double yc, double zc) {
                  quad r[4];
                  reference(p, xc, yc, zc, r);
                  double a[4];
                  scenemap::frameCoordDerivativesClosedForm(p, xc, yc, zc, a);
                  closed.add(blockError(a, r));
                });
    }
    std::printf("10^%+.2f  %6ld %9.2e %6ld\n", x, closed.n, closed.worst,
                closed.nonFinite);
  }

  std::printf(
      "\nother branches (frameCoordDerivatives): n, max error, non-finite\n");
  Stat s;
  for (int e = -20; e < 20; ++e) {
    forPoints(1, std::pow(10.0, e + rng.next()), 1, rng,
              [&](const CameraParams &p0, double xc, double yc, double zc) {
                CameraParams p = p0;
                p.kappa1 = 0;
                s.add(returnedError(p, xc, yc, zc));
              });
  }
  printStat("kappa1 = 0", s);
  for (int e = -20; e < 0; e += 2) {
    Stat s3;
    forPoints(-1, std::pow(10.0, e + rng.next()) * (4.0 / 27) * 0.9, 1, rng,
              [&](const CameraParams &p, double xc, double yc, double zc) {
                s3.add(returnedError(p, xc, yc, zc));
              });
    char label[64];
    std::snprintf(label, sizeof label, "kappa1 < 0, three roots, t~1e%+03d", e);
    printStat(label, s3);
  }
  // Approach to the fold from inside and from beyond: ru = ru_max*(1 -+ d).
  for (int side = -1; side <= 1; side += 2) {
    for (int e = -1; e >= -12; --e) {
      Stat sf;
      const double d = std::pow(10.0, e);
      const double scale = (1 + side * d) * (1 + side * d);
      forPoints(-1, (4.0 / 27) * scale, 1, rng,
                [&](const CameraParams &p, double xc, double yc, double zc) {
                  sf.add(returnedError(p, xc, yc, zc));
                });
      char label[64];
      std::snprintf(label, sizeof label, "kappa1 < 0, ru = ru_max*(1%c1e%03d)",
                    side < 0 ? '-' : '+', e);
      printStat(label, sf);
    }
  }
  for (int e = 0; e < 20; e += 2) {
    Stat sb;
    forPoints(-1, std::pow(10.0, e + rng.next()), 1, rng,
              [&](const CameraParams &p, double xc, double yc, double zc) {
                sb.add(returnedError(p, xc, yc, zc));
              });
    char label[64];
    std::snprintf(label, sizeof label, "kappa1 < 0, folded, |t|~1e%+03d", e);
    printStat(label, sb);
  }
  for (double sign : {1.0, -1.0, 0.0}) {
    Stat sa;
    forPoints(1, 1, 1, rng,
              [&](const CameraParams &p0, double, double, double zc) {
                CameraParams p = p0;
                p.kappa1 *= sign;
                quad r[4];
                reference(p, 0, 0, zc, r);
                double a[4];
                scenemap::frameCoordDerivatives(p, 0, 0, zc, a);
                sa.add(blockError(a, r));
              });
    printStat(sign > 0   ? "on the axis, kappa1 > 0"
              : sign < 0 ? "on the axis, kappa1 < 0"
                         : "on the axis, kappa1 = 0",
              sa);
  }
  return 0;
}

// Grid of the check: every branch, several cameras, depths of both signs.
int check() {
  Rng rng{0x2545f4914f6cdd1dULL};
  long points = 0, failures = 0;
  double worst = 0, worstChain = 0;
  // The returned block within 1e-9 (the closed form's limit); the
  // chain-rule form alone, everywhere, within its own much smaller limit,
  // normwise (chainLimit; larger only near the fold, where the derivative
  // itself is ill-conditioned).
  double chainLimit = 1e-12;
  auto expectGood = [&](const CameraParams &p, double xc, double yc,
                        double zc) {
    quad r[4];
    reference(p, xc, yc, zc, r);
    double a[4], c[4];
    scenemap::frameCoordDerivatives(p, xc, yc, zc, a);
    scenemap::frameCoordDerivativesChainRule(p, xc, yc, zc, c);
    const double e = blockError(a, r), ec = normwiseError(c, r);
    ++points;
    if (e > worst) worst = e;
    if (ec > worstChain && chainLimit == 1e-12) worstChain = ec;
    if (!(e <= 1e-9) || !(ec <= chainLimit)) {
      ++failures;
      std::printf(
          "FAIL kappa1=%.17g f=%.17g xc=%.17g yc=%.17g zc=%.17g "
          "error=%.3g chain rule %.3g\n",
          p.kappa1, p.f, xc, yc, zc, e, ec);
    }
  };
  for (int e = -20; e < 20; ++e) {
    const double t = std::pow(10.0, e + rng.next());
    forPoints(1, t, 1, rng, expectGood);
    forPoints(1, t, 1, rng,
              [&](const CameraParams &p0, double xc, double yc, double zc) {
                CameraParams p = p0;
                p.kappa1 = 0;
                expectGood(p, xc, yc, zc);
              });
    // kappa1 < 0: three roots for t below the fold, folded above it (the
    // fold itself, where the derivative is infinite, is left out).
    if (e != 0) {
      forPoints(-1, (4.0 / 27) * std::pow(10.0, e / 2.0), 1, rng, expectGood);
    }
  }
  // Either side of the closed form's band.
  for (double edge :
       {scenemap::kClosedFormBandLow, scenemap::kClosedFormBandHigh}) {
    forPoints(1, edge * (1 - 1e-9), 1, rng, expectGood);
    forPoints(1, edge * (1 + 1e-9), 1, rng, expectGood);
  }
  // Where Cardano's rd is kept inside the closed form's band (kappa1*ru^2
  // from 1 to 100), the chain-rule form alone (taken where the camera's
  // scales keep the closed form out) slot by slot within 1e-12: the Newton
  // steps on rd give that (1.2e-13 measured); without them a slot that
  // nearly cancels errs by up to 3.4e-12.
  for (int j = 0; j < 16; ++j) {
    forPoints(1, std::pow(10.0, (j + rng.next()) / 8), 2, rng,
              [&](const CameraParams &p, double xc, double yc, double zc) {
                quad r[4];
                reference(p, xc, yc, zc, r);
                double c[4];
                scenemap::frameCoordDerivativesChainRule(p, xc, yc, zc, c);
                ++points;
                if (!(blockError(c, r) <= 1e-12)) {
                  ++failures;
                  std::printf(
                      "FAIL chain rule kappa1=%.17g xc=%.17g "
                      "yc=%.17g zc=%.17g error=%.3g\n",
                      p.kappa1, xc, yc, zc, blockError(c, r));
                }
              });
  }
  // Extreme scales of the camera coordinates: the closed form's squares and
  // cubes overflow or underflow (1e160: rho is inf/inf; 1e110: zc^3 is
  // infinite, which leaves the closed form finite but wrong) while the
  // projection stays finite.
  for (double scale : {1e-160, 1e-110, 1e-30, 1e30, 1e110, 1e160}) {
    forPoints(1, 1.0, 1, rng,
              [&](const CameraParams &p, double xc, double yc, double zc) {
                expectGood(p, xc * scale, yc * scale, zc * scale);
              });
  }
  // Extreme parameters, each on its own, across the branches.
  for (int which = 0; which < 8; ++which) {
    for (double t : {1e-9, 1e-3, 1.0, 1e6}) {
      for (double sign : {1.0, -1.0}) {
        if (sign < 0 && t > 0.1) continue;  // folded: covered above
        forPoints(sign, t, 1, rng,
                  [&](const CameraParams &p0, double, double, double zc) {
                    CameraParams p = p0;
                    if (which == 0) p.kappa1 *= 1e55;
                    if (which == 1) p.kappa1 *= 1e-55;
                    if (which == 2) p.f *= 1e45;
                    if (which == 3) p.f *= 1e-45;
                    if (which == 4) p.dx *= 1e-60;
                    if (which == 5) p.dy *= 1e60;
                    if (which == 6) p.sx *= 1e-50;
                    if (which == 7) p.sx = 0;
                    double xc, yc;
                    pointFor(p, t, zc, 6.283185307179586 * rng.next(), &xc,
                             &yc);
                    expectGood(p, xc, yc, zc);
                  });
      }
    }
  }
  // Near the fold (kappa1 < 0) the derivative's own condition number is
  // about 1/(2*d) for ru = ru_max*(1 - d): the rounding of ru alone costs
  // eps/(2*d). d = 1e-5 still leaves a factor 100 below 1e-9.
  for (double d : {1e-1, 1e-3, 1e-5}) {
    chainLimit = 1e-12 + 1e-15 / d;
    forPoints(-1, (4.0 / 27) * (1 - d) * (1 - d), 1, rng, expectGood);
    forPoints(-1, (4.0 / 27) * (1 + d) * (1 + d), 1, rng, expectGood);
  }
  chainLimit = 1e-12;
  // A kappa1 below the closed form's range (1e-40) whose kappa1*rho lies in
  // its band: its squares and cubes of kappa1 leave the range of doubles and
  // would leave it finite but 4.7e-11 off; the chain rule is within 1e-14.
  {
    CameraParams p = cameras(1.233375373526291e-99)[0];
    p.f = 1;
    quad r[4];
    const double xc = 7.3602603827098724e22, yc = 9.813680510279832e22,
                 zc = 3.0174732306612524e-25;
    reference(p, xc, yc, zc, r);
    double a[4];
    scenemap::frameCoordDerivatives(p, xc, yc, zc, a);
    ++points;
    if (!(blockError(a, r) <= 1e-12)) {
      ++failures;
      std::printf("FAIL tiny kappa1: error %.3g\n", blockError(a, r));
    }
  }
  // Every exponent: kappa1 from the smallest subnormal to the largest
  // double, f and zc over 1e+-90, kappa1 * ru^2 over 2^+-200, wherever
  // the camera coordinates and the block are normal doubles.
  long extreme = 0;
  const double worstBefore = worst;
  worst = 0;
  for (int i = 0; i < 30000; ++i) {
    CameraParams p = cameras(1)[i % 9];
    auto spread = [&](int lo, int hi, int *e) {
      *e = lo + static_cast<int>((hi - lo + 1) * rng.next());
      return std::ldexp(0.5 + 0.5 * rng.next(), *e);
    };
    int ek, ef, ez, et;
    p.kappa1 = (i & 1 ? -1 : 1) * spread(-1074, 1023, &ek);
    p.f = spread(-300, 300, &ef);
    const double zc = (i & 2 ? -1 : 1) * spread(-300, 300, &ez);
    spread(-200, 200, &et);
    const double phi = 6.283185307179586 * rng.next();
    const int eru = (et - ek) / 2;  // ru ~ 2^eru, xc ~ ru * zc / f
    const double xc = std::ldexp(std::cos(phi), eru + ez - ef);
    const double yc = std::ldexp(std::sin(phi), eru + ez - ef);
    if (!std::isnormal(xc) || !std::isnormal(yc) || !std::isnormal(xc * p.f) ||
        !std::isnormal(yc * p.f) || !std::isnormal(xc * p.f / zc))
      continue;
    quad r[4];
    reference(p, xc, yc, zc, r);
    quad m = 0;
    for (const quad &x : r) m = qabs(x) > m ? qabs(x) : m;
    if (!(m < quad(1e300) && m > quad(1e-290))) continue;
    ++extreme;
    expectGood(p, xc, yc, zc);
  }
  std::printf("%ld blocks across every exponent, worst relative error %.3g\n",
              extreme, worst);
  worst = std::fmax(worst, worstBefore);
  for (double sign : {1.0, -1.0, 0.0}) {
    forPoints(1, 1, 1, rng,
              [&](const CameraParams &p0, double, double, double zc) {
                CameraParams p = p0;
                p.kappa1 *= sign;
                expectGood(p, 0, 0, zc);
                expectGood(p, -0.0, 0, zc);
              });
  }
  // Where the projection is not finite the block must not be either.
  long bad = 0;
  for (double k : {2.0, 0.0, -2.0}) {
    for (CameraParams p : cameras(k)) {
      const double pts[][3] = {{0.3, -0.2, 0},
                               {0, 0, 0},
                               {NAN, 0.1, 1},
                               {0.1, NAN, 1},
                               {0.1, 0.1, NAN}};
      for (const auto &c : pts) {
        double a[4];
        scenemap::frameCoordDerivatives(p, c[0], c[1], c[2], a);
        ++points;
        if (allFinite(a)) {
          ++bad;
          std::printf("FAIL finite block at kappa1=%g (%g, %g, %g)\n", k, c[0],
                      c[1], c[2]);
        }
      }
    }
  }
  std::printf(
      "%ld blocks, worst relative error %.3g (chain rule alone %.3g away "
      "from the fold), %ld failures\n",
      points, worst, worstChain, failures + bad);
  return failures + bad == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
#ifdef SCENEMAP_X87
  // The x87 unit's precision control as SCENEMAP_X87_PRECISION names it.
  if (const char *error = scenemap_test::setPrecisionFromEnvironment()) {
    std::fprintf(stderr, "%s\n", error);
    return 1;
  }
  std::printf("x87 precision control: %d-bit significand\n",
              scenemap_test::significandBits(scenemap_test::controlWord()));
#endif
  if (argc > 1 && std::strcmp(argv[1], "sweep") == 0) return sweep();
  return check();
}
