#include "distortion.hpp"

#include <cmath>

#include "camera_model.hpp"
#include "platform.hpp"

namespace scenemap {

void undistortedToDistortedSensorCoord(double xu, double yu, double *xd_out,
                                       double *yd_out, double kappa1) {
  const kernel::ExtendedPrecision precision;
  kernel::SolveFront front;
  kernel::Distortion d;
  kernel::solveDistortion(kernel::solverConstants(kappa1), xu, yu, &front, &d);
  *xd_out = d.xd;
  *yd_out = d.yd;
}

namespace kernel {

namespace {

// x * m * 2^n, with x split into a mantissa and a power of two first so
// that only the final result can overflow or underflow.
double scaledBy(double x, double m, int n) {
  if (x == 0) {
    return x * m;
  }
  const int ex = std::ilogb(x);
  return std::ldexp(std::ldexp(x, -ex) * m, ex + n);
}

// drd/dru over rd/ru from 1 - h: with h + t*h^3 = 1, (1 + t*h^2) * h = 1
// and drd/dru = 1/(1 + 3t*h^2) = h/(3 - 2h), so the ratio is
// 1/(1 + 2(1 - h)); its difference from 1 is taken from 1 - h directly.
void setRadial(double shrink, Distortion *s) {
  s->radial = 1 / (1 + 2 * shrink);
  s->radialMinusOne = -2 * shrink / (1 + 2 * shrink);
}

// a / b rounded towards minus infinity (b > 0).
int floorDiv(int a, int b) { return a >= 0 ? a / b : -((b - 1 - a) / b); }

}  // namespace

void solveScaled(double xu, double yu, double kappa1, Distortion *s) {
  // Small t with a normal squared radius, the usual case here (a tiny
  // kappa1, or a point near the axis): h = 1 - t + 3t^2 - 12t^3 + 55t^4...,
  // whose first omitted term is below 1e-22 for |t| < 1e-6.
  const double r2 = yu * yu + xu * xu;
  const double t0 = kappa1 * r2;
  if (isNormalNumber(r2) && std::fabs(t0) < kCardanoMinT) {
    const double shrink = t0 * (1 - t0 * (3 - 12 * t0));  // 1 - h
    const double h = 1 - shrink;
    const double ru = std::sqrt(r2);
    s->xd = xu * h;
    s->yd = h * yu;
    s->h = h;
    s->q = 0;
    setRadial(shrink, s);
    s->nx = xu / ru;
    s->ny = yu / ru;
    s->branch = t0 > 0 ? RadiusBranch::kOneRoot : RadiusBranch::kThreeRoots;
    return;
  }
  // Elsewhere everything in mantissas and powers of two. (xs, ys) =
  // (xu, yu) / 2^e with the larger in [1, 2), so ru^2 = r2s * 2^(2e) with
  // r2s in [1, 8); kappa1 = km * 2^ek with |km| in [0.5, 1); t = tm * 2^n.
  const int e = std::ilogb(std::fmax(std::fabs(xu), std::fabs(yu)));
  const double xs = std::ldexp(xu, -e);
  const double ys = std::ldexp(yu, -e);
  const double r2s = ys * ys + xs * xs;
  const double rs = std::sqrt(r2s);
  s->nx = xs / rs;
  s->ny = ys / rs;
  int ek;
  const double km = std::frexp(kappa1, &ek);
  const double tm = km * r2s;
  const int n = ek + 2 * e;
  const double t = std::ldexp(tm, n);  // +-inf or 0 far from 1: see below
  double h;
  int q = 0;
  double shrink = NAN;  // 1 - h where the series gives it without cancelling
  if (std::fabs(t) < kCardanoMinT) {
    shrink = t * (1 - t * (3 - 12 * t));
    h = 1 - shrink;
    s->branch = t > 0 ? RadiusBranch::kOneRoot : RadiusBranch::kThreeRoots;
  } else if (t > 0) {
    // One real root. Cardano's cube roots A = cbrt(E + s) and B =
    // cbrt(s - E) of the cubic in h satisfy A - B = h, A*B = 1/(3t) and
    // A^3 - B^3 = 1/t, so h = 1/(w + 1/3 + 1/(9w)) with w = t*A^2 and
    // w^3 = (t/4) * (1 + sqrt(1 + 4/(27t)))^2: a sum of positive terms.
    // With t = T * 2^(3q), w = cbrt(T * ...) * 2^q and h = hm * 2^-q.
    q = floorDiv(n, 3);
    const double T = std::ldexp(tm, n - 3 * q);
    const double S = std::sqrt(1 + 4 / (27 * t));  // 1 where t is infinite
    const double W = std::pow(T * ((1 + S) * (1 + S) * 0.25), kOneThird);
    h = 1 / (W + std::ldexp(1.0 / 3, -q) + std::ldexp(1 / (9 * W), -2 * q));
    s->branch = RadiusBranch::kOneRoot;
  } else if (t > -4.0 / 27) {
    // Three real roots; the smallest positive one of the trigonometric form
    // is 2/sqrt(3|t|) * sin(theta/3 - pi/6), and theta/3 - pi/6 =
    // asin(sqrt(27|t|/4)) / 3 without the cancellation.
    const double a = -t * 27 / 4;
    h = 2 / std::sqrt(-3 * t) * std::sin(std::asin(std::sqrt(a)) / 3);
    s->branch = RadiusBranch::kThreeRoots;
  } else {
    // Beyond the fold: rd = sqrt(-1/(3 kappa1)), h = 1/sqrt(-3t), with
    // -3t = 3|tm| * 2^(2q + (n - 2q)).
    q = floorDiv(n, 2);
    h = 1 / std::sqrt(3 * -tm * std::ldexp(1.0, n - 2 * q));
    s->branch = RadiusBranch::kFolded;
  }
  s->h = h;
  s->q = q;
  if (s->branch == RadiusBranch::kFolded) {
    s->radial = 0;
    s->radialMinusOne = -1;
  } else {
    setRadial(std::isnan(shrink) ? 1 - std::ldexp(h, -q) : shrink, s);
  }
  s->xd = scaledBy(xu, h, -q);
  s->yd = scaledBy(yu, h, -q);
}

}  // namespace kernel

}  // namespace scenemap
