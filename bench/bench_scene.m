## [X, Y, Z] = bench_scene (c, n, rmin, rmax)
##
## N world points (1-by-N) whose undistorted sensor radius lies in [RMIN, RMAX]
## for camera C, the same for every call.
function [X, Y, Z] = bench_scene (c, n, rmin, rmax)
  rand ("seed", 42);
  ru = rmin + (rmax - rmin) * rand (1, n);
  phi = 2 * pi * rand (1, n);
  zc = 3 + 4 * rand (1, n);
  w = c.R' * ([ru .* cos(phi) .* zc / c.f; ru .* sin(phi) .* zc / c.f; zc] - c.T);
  X = w(1,:);  Y = w(2,:);  Z = w(3,:);
endfunction
