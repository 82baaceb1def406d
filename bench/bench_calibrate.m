## Calibration benchmark: ten views of a 9-by-7 board (63 corners, the
## first at (0, 0)), 0.2 px noise. Prints
##  - the noiseless recovery error of each intrinsic,
##  - a Monte Carlo of z-scores (error / info.std): mean and std per
##    intrinsic over DRAWS draws,
##  - the time per Levenberg-Marquardt iteration with the analytic
##    Jacobian and with central differences, medians of 5 runs, and the
##    share of an analytic iteration spent in the modules (the same calls
##    timed alone).
## Usage: octave-cli bench_calibrate.m [--smoke]   (modules and toolbox on
## the load path)
1;

function uv = observe (c, X, R, T)
  P = X * R' + T(:)';
  xu = c.f * P(:,1) ./ P(:,3);  yu = c.f * P(:,2) ./ P(:,3);
  ru = hypot (xu, yu);  rd = ru;
  for i = 1:60
    rd = rd - (c.kappa1 * rd.^3 + rd - ru) ./ (3 * c.kappa1 * rd.^2 + 1);
  endfor
  s = ones (size (ru));  s(ru > 0) = rd(ru > 0) ./ ru(ru > 0);
  uv = [c.sx * xu .* s / c.dx + c.cx, yu .* s / c.dy + c.cy];
endfunction

smoke = any (strcmp (argv (), "--smoke"));
draws = 200;
if (smoke)
  draws = 10;
endif
[bx, by] = meshgrid (0.03 * (0:8), 0.03 * (0:6));
board = [bx(:), by(:), zeros(63, 1)];
c0 = struct ("dx", 5e-6, "dy", 5.5e-6, "sx", 1.02, "cx", 331, "cy", 247, ...
             "f", 0.008, "kappa1", 3e4);
rand ("seed", 2);
V = 10;
R = zeros (3, 3, V);  T = zeros (3, V);  img0 = cell (1, V);
for v = 1:V
  a = randn (2, 1);  a = a / norm (a);
  w = (15 + 3 * v) * pi / 180 * [a; 0] + [0; 0; 0.2 * randn];
  R(:,:,v) = scenemap_rotation (w);
  T(:,v) = [0; 0; 0.5 + 0.03 * v] - R(:,:,v) * mean (board, 1)';
  img0{v} = observe (c0, board, R(:,:,v), T(:,v));
endfor
names = {"f", "kappa1", "cx", "cy", "sx"};

cam = scenemap_calibrate (board, img0, c0.dx, c0.dy, "ImageSize", [640 480]);
printf ("\n### Calibration, 10 views of 63 corners\n\n");
printf ("Noiseless recovery, relative error: ");
for i = 1:5
  printf ("%s %.1e  ", names{i}, abs (cam.(names{i}) / c0.(names{i}) - 1));
endfor
printf ("\nposes: T %.1e of the distance\n\n", max (abs (cam.T(:) - T(:))) / 0.5);

randn ("state", 5);
z = zeros (draws, 5);
iters = zeros (draws, 1);
for d = 1:draws
  img = cellfun (@(x) x + 0.2 * randn (size (x)), img0, "uniformoutput", false);
  [cam, info] = scenemap_calibrate (board, img, c0.dx, c0.dy, ...
                                    "ImageSize", [640 480]);
  for i = 1:5
    z(d, i) = (cam.(names{i}) - c0.(names{i})) / info.std.(names{i});
  endfor
  iters(d) = info.iterations;
endfor
printf ("z-scores (error / std) over %d draws of 0.2 px noise (mean %.1f iterations):\n\n", ...
        draws, mean (iters));
printf ("| intrinsic | mean z | std z |\n|---|---|---|\n");
for i = 1:5
  printf ("| %s | %+.3f | %.3f |\n", names{i}, mean (z(:, i)), std (z(:, i)));
endfor

## Timing: whole calibrations divided by their iterations.
img = cellfun (@(x) x + 0.2 * randn (size (x)), img0, "uniformoutput", false);
runs = 5;
tj = zeros (runs, 2);
it = zeros (1, 2);
for r = 1:runs
  for m = 1:2
    jac = {"analytic", "central"}{m};
    t0 = tic ();
    [~, info] = scenemap_calibrate (board, img, c0.dx, c0.dy, ...
                                    "ImageSize", [640 480], "Jacobian", jac);
    tj(r, m) = toc (t0);
    it(m) = info.iterations;
  endfor
endfor
## The start alone (no iteration), to take out of the totals.
ts = zeros (runs, 1);
state = warning ("off", "scenemap:notConverged");
for r = 1:runs
  t0 = tic ();
  scenemap_calibrate (board, img, c0.dx, c0.dy, "ImageSize", [640 480], ...
                      "MaxIterations", 0);
  ts(r) = toc (t0);
endfor
warning (state);
## The module calls of one analytic iteration: one scenemapgrad_mex call
## with four outputs per view.
n = 200;
X = board;  X(:,1) += 1;
t0 = tic ();
for k = 1:n
  for v = 1:V
    [u, w, d, D] = scenemapgrad_mex (X(:,1), X(:,2), X(:,3), c0.dx, c0.dy, ...
                                     c0.sx, c0.cx, c0.cy, c0.f, c0.kappa1, ...
                                     R(:,:,v), T(:,v));
  endfor
endfor
tm = toc (t0) / n;
per = (median (tj) - median (ts)) ./ it;
printf ("\nTime per iteration (medians of %d, start %.1f ms excluded): ", runs, ...
        1e3 * median (ts));
printf ("analytic %.2f ms (%d iterations), central differences %.2f ms (%d iterations), ratio %.1f\n", ...
        1e3 * per(1), it(1), 1e3 * per(2), it(2), per(2) / per(1));
printf ("Modules' share of an analytic iteration: %.2f ms of %.2f ms (%.0f %%)\n", ...
        1e3 * tm, 1e3 * per(1), 100 * tm / per(1));
printf ("Spread of the runs (max/min): analytic %.2f, central %.2f\n", ...
        max (tj(:,1)) / min (tj(:,1)), max (tj(:,2)) / min (tj(:,2)));
