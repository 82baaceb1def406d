## Times scenemap_mex and scenemapgrad_mex in Octave against a vectorized
## Octave implementation of the same camera model (all branches of the
## distortion solve, both forms of the derivatives), after checking that
## they agree to 1e-12 relative. Prints Markdown table rows:
##   ratio = vectorized Octave / module   (how many times faster the module is)
## and the per-call cost on a 1-by-1 grid beside a builtin call.
## Usage: octave-cli bench_octave.m [--smoke]   (modules on the load path)
1;

## The camera model, vectorized; dUV only when asked for.
function [u, v, dUV] = model (X, Y, Z, c)
  R = c.R;  T = c.T;  f = c.f;  k = c.k1;
  u = zeros (size (X));  v = u;
  on = X != 0;
  X = X(on);  Y = Y(on);  Z = Z(on);
  xc = ((R(1)*X + R(4)*Y) + R(7)*Z) + T(1);
  yc = ((R(2)*X + R(5)*Y) + R(8)*Z) + T(2);
  zc = ((R(3)*X + R(6)*Y) + R(9)*Z) + T(3);
  xu = (xc * f) ./ zc;  yu = (yc * f) ./ zc;
  ru = sqrt (yu .* yu + xu .* xu);
  rd = ru;  fold = false (size (ru));  solved = (xu != 0 | yu != 0) & k != 0;
  if (k != 0)
    p = 1 / k;  E = ru * p * 0.5;  p3 = p / 3;  D = p3 * p3 * p3 + E .* E;
    one = D >= 0;
    s = sqrt (D(one));  Eo = E(one);
    a = Eo + s;  b = Eo - s;
    r1 = sign (b) .* abs (b) .^ (1/3) + sign (a) .* abs (a) .^ (1/3);
    folded = r1 < 0;
    r1(folded) = sqrt (-1 / (k * 3));
    rd(one) = r1;  fold(one) = folded;
    y = sqrt (-D(!one));  Et = E(!one);
    m = sqrt (y .* y + Et .* Et) .^ (1/3);
    th = atan2 (y, Et);
    rd(!one) = m * sqrt (3) .* sin (th / 3) - m .* cos (th / 3);
  endif
  h = ones (size (ru));
  h(solved) = rd(solved) ./ ru(solved);
  u(on) = (c.sx * (xu .* h)) / c.dx + c.cx;
  v(on) = (yu .* h) / c.dy + c.cy;
  if (nargout < 3)
    return;
  endif
  d = zeros (4, numel (xu));
  ## Closed form inside its band for kappa1 > 0.
  f2 = f * f;  zc2 = zc .* zc;
  rho = xc .^ 2 ./ zc2 * f2 + f2 * (yc .^ 2 ./ zc2);
  lim = @(x) abs (x) >= 1e-40 & abs (x) <= 1e40;
  band = false (size (rho));
  if (k >= 1e-40 && k <= 1e40 && lim (f) && lim (c.dx) && lim (c.dy) && lim (c.sx))
    band = k * rho >= 2e-4 & k * rho <= 1e3 & lim (zc);
  endif
  if (any (band))
    x = xc(band);  y = yc(band);  z = zc(band);  z2 = zc2(band);  q = rho(band);
    a = x ./ z;  b = y ./ z;  ax = x ./ z2;  by = y ./ z2;  z3 = z2 .* z;
    P = sqrt (q);  k2 = k * k;
    s = sqrt ((0.25 / k2) * q + 0.037037037037037035 / (k * k2));
    E = (0.5 / k) * P;
    Q = (s - E) .^ (1/3) - (E + s) .^ (1/3);
    O = (1 / c.dx) * c.sx * f;  G = (1 / c.dy) * f;
    Rk = 0.125 / k2 ./ s;  Uk = 0.25 / k ./ P;
    V = (1/3) ./ (s - E) .^ (2/3);  W = (1/3) ./ (E + s) .^ (2/3);
    F = f2 + f2;
    SX = F*R(1)*ax + F*R(2)*by - x.^2 * (F*R(3)) ./ z3 - F*R(3)*y.^2 ./ z3;
    SY = F*R(5)*by + F*R(4)*ax - x.^2 * (F*R(6)) ./ z3 - F*R(6)*y.^2 ./ z3;
    dQ = (Rk - Uk) .* V - (Uk + Rk) .* W;
    QX = SX .* dQ;  QY = SY .* dQ;
    r15 = q .^ 1.5;
    HX = (0.5 / c.dx * c.sx * f ./ r15) .* Q;  HY = (0.5 / c.dy * f ./ r15) .* Q;
    OP = O ./ P;  GP = G ./ P;  QP = Q ./ P;  Qz = QP ./ z;
    cf = [O*R(3)*QP.*ax - O*R(1)*Qz - OP.*QX.*a + HX.*SX.*a;
          O*R(6)*QP.*ax - O*R(4)*Qz - OP.*QY.*a + HX.*SY.*a;
          SX.*HY.*b - R(2)*G*Qz - QX.*GP.*b + R(3)*G*QP.*by;
          SY.*HY.*b - R(5)*G*Qz - QY.*GP.*b + G*R(6)*QP.*by];
    ok = all (isfinite (cf), 1);
    idx = find (band);
    d(:, idx(ok)) = cf(:, ok);
    band(idx(!ok)) = false;
  endif
  ## Chain rule elsewhere: Jacobian of the distortion h*I + g*(xu,yu)'(xu,yu)
  ## and the radial derivative dr, then perspective and the affine map.
  cr = !band;
  if (any (cr))
    xu = xu(cr);  yu = yu(cr);  ru = ru(cr);  rd = rd(cr);  zc = zc(cr);
    fold = fold(cr);  h = h(cr);
    g = zeros (size (ru));  dr = ones (size (ru));
    if (k != 0)
      g(:) = -2 * k;
      in = ru != 0 & !fold;
      r = rd(in);
      if (k > 0)
        for i = 1:2
          r = r - (k * r .^ 3 + r - ru(in)) ./ (1 + 3 * k * r .^ 2);
        endfor
      endif
      t = k * r .* r;
      h(in) = 1 ./ (1 + t);  dr(in) = 1 ./ (1 + 3 * t);
      g(in) = -2 * k * h(in) .^ 3 .* dr(in);
      fo = fold & ru != 0;
      g(fo) = -h(fo) ./ ru(fo) .^ 2;  dr(fo) = 0;
    endif
    fz = f ./ zc;
    for col = 0:1
      w = R(:, col + 1);
      uw = xu * w(1) + yu * w(2);
      rad = w(3) * dr ./ zc;
      d(1 + col, cr) = c.sx / c.dx * (fz .* (h * w(1) + g .* uw .* xu) - rad .* xu);
      d(3 + col, cr) = (fz .* (h * w(2) + g .* uw .* yu) - rad .* yu) / c.dy;
    endfor
  endif
  dUV = zeros (4, numel (X));
  dUV(:, on) = d;
  dUV = reshape (dUV, [2, 2, size(u)]);
endfunction

function t = median_time (fn, reps)
  fn ();  # warm up
  times = zeros (1, reps);
  for r = 1:reps
    t0 = tic ();  fn ();  times(r) = toc (t0);
  endfor
  t = median (times);
endfunction

function check (name, a, b)
  scale = max (abs (b(:)));
  err = max (abs (a(:) - b(:))) / scale;
  if (!(err <= 1e-12))
    error ("bench:mismatch", "%s: vectorized and module differ by %g relative", name, err);
  endif
endfunction

function three_outputs (fn, varargin)
  [a, b, c] = fn (varargin{:});
endfunction

function four_outputs (fn, varargin)
  [a, b, c, d] = fn (varargin{:});
endfunction

function one_output (fn, varargin)
  a = fn (varargin{:});
endfunction

## Medians of the functions in fns timed in turns (so that a busy neighbour
## slows them alike), and the spread of the first one's time over the
## second's: max / min over the turns.
function [t, spread] = turn_times (fns, reps)
  cellfun (@(fn) fn (), fns);
  times = zeros (numel (fns), reps);
  for r = 1:reps
    for i = 1:numel (fns)
      t0 = tic ();  fns{i} ();  times(i, r) = toc (t0);
    endfor
  endfor
  t = median (times, 2);
  spread = max (times(1, :) ./ times(2, :)) / min (times(1, :) ./ times(2, :));
endfunction

args = argv ();
smoke = any (strcmp (args, "--smoke"));
sizes = [1e3 1e5 1e6];  reps = 7;
if (smoke)
  sizes = 100;  reps = 1;
endif
## kappa1, radius range, label, target for the derivatives at 1e6 points.
cases = {0.02, 0.2, 6, "k1 > 0", ">= 2"; -0.02, 0.2, 2.6, "k1 < 0", ">= 4"};
have_fill = exist ("fresh_fill") == 3;
row = @(suite, kase, n, a, b, target) printf ("| %s | %s | %d | %.1f | %.1f | %.3f | %s |\n", ...
                                              suite, kase, n, a, b, a / b, target);
for ci = 1:rows (cases)
  c = bench_camera (cases{ci, 1});
  for n = sizes
    [X, Y, Z] = bench_scene (c, n, cases{ci, 2}, cases{ci, 3});
    A = {X, Y, Z, c.dx, c.dy, c.sx, c.cx, c.cy, c.f, c.k1, c.R, c.T};
    [u, v, d] = model (X, Y, Z, c);
    [mu, mv] = scenemap_mex (A{:});
    [gu, gv, gd] = scenemapgrad_mex (A{:});
    check ("u", mu, u);  check ("v", mv, v);
    check ("grad u", gu, u);  check ("grad v", gv, v);  check ("dUV", gd, d);
    big = n == 1e6;
    tv = median_time (@() model (X, Y, Z, c), reps) / n * 1e9;
    tm = median_time (@() scenemap_mex (A{:}), reps) / n * 1e9;
    row ("Octave scenemap_mex: vectorized / module", cases{ci, 4}, n, tv, tm,
         merge (big, ">= 3", ""));
    tv = median_time (@() three_outputs (@model, X, Y, Z, c), reps) / n * 1e9;
    tm = median_time (@() three_outputs (@scenemapgrad_mex, A{:}), reps) / n * 1e9;
    row ("Octave scenemapgrad_mex: vectorized / module", cases{ci, 4}, n, tv,
         tm, merge (big, cases{ci, 5}, ""));
    ## The fourth output (dCam, 304 bytes a point) against three outputs,
    ## and its extra time against creating and filling an array like dCam
    ## (fresh_fill, a fixture built beside the benchmarks), in turns.
    fns = {@() four_outputs(@scenemapgrad_mex, A{:}), ...
           @() three_outputs(@scenemapgrad_mex, A{:})};
    if (have_fill)
      fns{3} = @() one_output (@fresh_fill, n);
    endif
    [t, spread] = turn_times (fns, reps);
    row ("Octave scenemapgrad_mex: four outputs / three", cases{ci, 4}, n,
         t(1) / n * 1e9, t(2) / n * 1e9,
         [merge(big, "<= 1.5", "") sprintf(" (ratio spread %.2f)", spread)]);
    if (have_fill)
      row ("Octave scenemapgrad_mex: four outputs' extra time / a fresh dCam's fill",
           cases{ci, 4}, n, (t(1) - t(2)) / n * 1e9, t(3) / n * 1e9,
           sprintf ("(three + fill) / three: %.3f", (t(2) + t(3)) / t(2)));
    endif
  endfor
endfor

## Per-call cost: a 1-by-1 grid, beside a builtin of two arguments.
function t = per_call (fn, calls, reps)
  times = zeros (1, reps);
  for r = 1:reps
    t0 = tic ();
    for i = 1:calls
      fn ();
    endfor
    times(r) = toc (t0);
  endfor
  t = median (times) / calls * 1e9;
endfunction

c = bench_camera (0.02);
A = {0.1, 0.2, 0.3, c.dx, c.dy, c.sx, c.cx, c.cy, c.f, c.k1, c.R, c.T};
calls = merge (smoke, 10, 20000);
tb = per_call (@() atan2 (0.1, 0.2), calls, reps);
tm = per_call (@() scenemap_mex (A{:}), calls, reps);
tg = per_call (@() three_outputs (@scenemapgrad_mex, A{:}), calls, reps);
printf ("| Octave per call, 1-by-1 grid: scenemap_mex / builtin atan2 | k1 > 0 | 1 | %.0f | %.0f | %.3f | |\n", tm, tb, tm / tb);
printf ("| Octave per call, 1-by-1 grid: scenemapgrad_mex / builtin atan2 | k1 > 0 | 1 | %.0f | %.0f | %.3f | |\n", tg, tb, tg / tb);
