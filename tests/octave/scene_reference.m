## [u, v, kept] = scene_reference (Xw, Yw, Zw, dx, dy, sx, cx, cy, f, kappa1, R, T)
##
## The camera model written out point by point in the modules' order of
## evaluation, as an oracle for the adversarial tests: any input for which
## the modules keep Cardano's form (KEPT true) gives what the modules must
## return, bit for bit. Elsewhere (finite points with |kappa1*ru^2| below
## 1e-6 or, for kappa1 > 0, above 100, or whose ru^2, E^2, (p/3)^3 or
## discriminant leave the normal numbers) the modules solve more accurately
## than these formulas. Arguments are doubles; the scalars' first elements
## are used and the grid shape is taken from Xw (rows by the product of the
## remaining dimensions).
function [u, v, kept] = scene_reference (Xw, Yw, Zw, dx, dy, sx, cx, cy, f, k, R, T)
  sz = size (Xw);
  M = sz(1);
  N = prod (sz(2:end));
  u = zeros (M, N);
  v = zeros (M, N);
  kept = true (M, N);
  dx = dx(1);  dy = dy(1);  sx = sx(1);  cx = cx(1);  cy = cy(1);
  f = f(1);  k = k(1);
  for i = 1:M*N
    X = Xw(i);
    if (X == 0)
      continue;   # absent point
    endif
    Y = Yw(i);  Z = Zw(i);
    xc = ((R(1)*X + R(4)*Y) + R(7)*Z) + T(1);
    yc = ((R(2)*X + R(5)*Y) + R(8)*Z) + T(2);
    zc = ((R(3)*X + R(6)*Y) + R(9)*Z) + T(3);
    xu = (xc*f) / zc;
    yu = (yc*f) / zc;
    if ((xu == 0 && yu == 0) || k == 0)
      xd = xu;  yd = yu;
    else
      ru = sqrt (yu*yu + xu*xu);
      [rd, kept(i)] = distorted_radius (ru, k);
      kept(i) = kept(i) || ! all (isfinite ([xu, yu, k]));
      s = rd / ru;
      xd = xu * s;  yd = s * yu;
    endif
    u(i) = (sx*xd) / dx + cx;
    v(i) = yd / dy + cy;
  endfor
endfunction

function [rd, kept] = distorted_radius (ru, k)
  third = 0.3333333333333333;
  sqrt3 = 1.7320508075688772;
  p = 1 / k;
  E = ru * p * 0.5;
  p3 = p / 3;
  D = p3*p3*p3 + E*E;
  normal = @(x) abs (x) >= realmin && abs (x) <= realmax;
  t = k * (ru*ru);
  kept = normal (ru*ru) && normal (E*E) && normal (p3*p3*p3) ...
         && abs (D) <= realmax && abs (t) >= 1e-6 && t <= 100;
  if (D >= 0)
    s = sqrt (D);
    if (E + s > 0)
      c1 = (E + s) ^ third;
    else
      c1 = -((-E - s) ^ third);
    endif
    if (E - s > 0)
      c2 = (E - s) ^ third;
    else
      c2 = -((s - E) ^ third);
    endif
    rd = c2 + c1;
    if (rd < 0)
      rd = sqrt (-1 / (k * 3));   # folded: clamp to the fold radius
    endif
  else
    y = sqrt (-D);
    rho = sqrt (y*y + E*E);
    m = rho ^ third;
    theta = atan2 (y, E);
    rd = m * sqrt3 * sin (theta / 3) - m * cos (theta / 3);
  endif
endfunction
