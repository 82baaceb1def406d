% SCENEMAP_UNDISTORT  Observed image points without the lens distortion,
% and the map that undistorts an image.
%
%   [UU, VU] = SCENEMAP_UNDISTORT(CAM, U, V) takes observed image points
%   (U, V, arrays of any one shape) of the camera CAM to the image points
%   the same camera would see without distortion (kappa1 = 0): for a world
%   point that the camera maps to (U, V), the pixel (UU, VU) is its
%   pinhole image sx * f * xc / (dx * zc) + cx, f * yc / (dy * zc) + cy.
%
%   [XN, YN] = SCENEMAP_UNDISTORT(CAM, U, V, 'normalized') returns the
%   normalized camera coordinates instead: XN = xc / zc, YN = yc / zc, the
%   direction of the ray through the pixel.
%
%   [MU, MV] = SCENEMAP_UNDISTORT(CAM, 'map', [WIDTH HEIGHT]) is the map
%   that undistorts an image: for every pixel of the undistorted image,
%   where it lies in the observed one. Pixel (i, j) of an image is at
%   u = j - 1, v = i - 1 (the first pixel's centre at 0); MU and MV are
%   HEIGHT-by-WIDTH, and for an observed image I (HEIGHT-by-WIDTH)
%     J = interp2(I, MU + 1, MV + 1);
%   is the image without distortion (NaN where it sees outside I).
%   [MU, MV] = SCENEMAP_UNDISTORT(CAM, 'map', UU, VU) does the same for
%   undistorted points UU, VU of any one shape: their observed pixels, the
%   inverse of the first form.
%
%   CAM is a struct with the fields dx, dy, sx, cx, cy, f and kappa1 (as
%   SCENEMAP_CALIBRATE returns it; other fields are ignored; dx, dy, sx
%   and f non-zero). No pose and no plane are needed: the distortion acts
%   on the sensor plane alone,
%     xd = (U - cx) * dx / sx,   yd = (V - cy) * dy
%     xu = xd * (1 + kappa1 * rd^2),   yu likewise,   rd^2 = xd^2 + yd^2
%     UU = sx * xu / dx + cx,    VU = yu / dy + cy
%   The first two forms evaluate this polynomial (no root to solve); the
%   map solves it for xd with the cubic of SCENEMAP_MEX (the closed form of
%   every projection). Both are exact at the principal point, which maps
%   to itself. For kappa1 < 0, an observed point beyond the fold radius
%   sqrt(-1/(3*kappa1)) is the image of no point, and an undistorted point
%   beyond the largest radius the lens reaches, 2/3 of the fold radius, is
%   observed nowhere: both give NaN.
%
%   Example: straighten detected corners, and undistort an image
%     [uu, vu] = scenemap_undistort(cam, corners(:,1), corners(:,2));
%     [mu, mv] = scenemap_undistort(cam, 'map', [640 480]);
%     J = interp2(double(I), mu + 1, mv + 1);
%
%   See also SCENEMAP_CALIBRATE, SCENEMAPINV_MEX, INTERP2.
function [a, b] = scenemap_undistort (cam, u, v, form)
  if nargin < 3 || nargin > 4
    error ('scenemap:nargin', ['scenemap_undistort: call it as ' ...
           'scenemap_undistort(CAM, U, V), (CAM, U, V, ''normalized''), ' ...
           '(CAM, ''map'', [WIDTH HEIGHT]) or (CAM, ''map'', UU, VU)']);
  end
  c = camera_fields (cam);
  if ischar (u)
    if ~strcmpi (u, 'map')
      error ('scenemap:badArgument', ['scenemap_undistort: argument 2 ' ...
             'is U or ''map''']);
    end
    if nargin == 3
      sz = v;
      if ~isnumeric (sz) || ~isreal (sz) || numel (sz) ~= 2 || ...
         ~all (isfinite (sz)) || any (sz < 1) || any (sz ~= round (sz))
        error ('scenemap:badArgument', ['scenemap_undistort: argument 3 ' ...
               '([WIDTH HEIGHT]) must be two positive whole numbers']);
      end
      [uu, vu] = meshgrid (0:sz(1) - 1, 0:sz(2) - 1);
    else
      uu = v;
      vu = form;
      check_points (uu, vu, 3);
    end
    [a, b] = distort (c, double (uu), double (vu));
    return;
  end
  normalized = false;
  if nargin > 3
    if ~ischar (form) || ~strcmpi (form, 'normalized')
      error ('scenemap:badArgument', ['scenemap_undistort: argument 4 ' ...
             'must be ''normalized''']);
    end
    normalized = true;
  end
  check_points (u, v, 2);
  xd = (double (u) - c.cx) * c.dx / c.sx;
  yd = (double (v) - c.cy) * c.dy;
  rd2 = xd .* xd + yd .* yd;
  g = 1 + c.kappa1 * rd2;
  xu = xd .* g;
  yu = yd .* g;
  if c.kappa1 < 0
    beyond = rd2 > -1 / (3 * c.kappa1);
    xu(beyond) = NaN;
    yu(beyond) = NaN;
  end
  if normalized
    a = xu / c.f;
    b = yu / c.f;
  else
    a = c.sx * xu / c.dx + c.cx;
    b = yu / c.dy + c.cy;
  end
end

% Undistorted pixels to observed ones through SCENEMAP_MEX. The sensor
% point (xu, yu) is passed as a world point whose X is the depth: with
% f = 1, T = 0 and R taking world (X, Y, Z) to camera (Y, Z, X), the module
% sees xc = xu, yc = yu, zc = 1 exactly, so its undistorted sensor point is
% (xu, yu) itself, and no point is absent (world X is 1, never 0), the
% principal point included.
function [ud, vd] = distort (c, uu, vu)
  xu = (uu - c.cx) * c.dx / c.sx;
  yu = (vu - c.cy) * c.dy;
  R = [0 1 0; 0 0 1; 1 0 0];
  [ud, vd] = scenemap_mex (ones (size (xu)), xu, yu, c.dx, c.dy, c.sx, ...
                           c.cx, c.cy, 1, c.kappa1, R, [0 0 0]);
  % The module returns M-by-N for any shape; the points keep theirs.
  ud = reshape (ud, size (uu));
  vd = reshape (vd, size (uu));
  if c.kappa1 < 0
    beyond = xu .* xu + yu .* yu > (4 / 9) * (-1 / (3 * c.kappa1));
    ud(beyond) = NaN;
    vd(beyond) = NaN;
  end
end

function check_points (u, v, pos)
  if ~isnumeric (u) || ~isreal (u) || ~isnumeric (v) || ~isreal (v)
    error ('scenemap:badArgument', ['scenemap_undistort: arguments %d ' ...
           'and %d must be real numeric arrays'], pos, pos + 1);
  end
  if ~isequal (size (u), size (v))
    error ('scenemap:sizeMismatch', ['scenemap_undistort: arguments %d ' ...
           'and %d must have one size'], pos, pos + 1);
  end
end

function c = camera_fields (cam)
  need = {'dx', 'dy', 'sx', 'cx', 'cy', 'f', 'kappa1'};
  if ~isstruct (cam) || ~isscalar (cam) || ~all (isfield (cam, need))
    error ('scenemap:badArgument', ['scenemap_undistort: argument 1 ' ...
           '(CAM) must be a struct with the fields dx, dy, sx, cx, cy, ' ...
           'f, kappa1']);
  end
  for i = 1:numel (need)
    x = cam.(need{i});
    if ~isnumeric (x) || ~isreal (x) || ~isscalar (x) || ~isfinite (x)
      error ('scenemap:badArgument', ['scenemap_undistort: CAM.%s must ' ...
             'be a finite real scalar'], need{i});
    end
    % The divisors, the scale and f divide: zero maps nothing.
    if x == 0 && any (strcmp (need{i}, {'dx', 'dy', 'sx', 'f'}))
      error ('scenemap:badArgument', ['scenemap_undistort: CAM.%s must ' ...
             'not be 0'], need{i});
    end
    c.(need{i}) = double (x);
  end
end

%!shared cam, P
%! cam = struct ("dx", 5e-6, "dy", 5.5e-6, "sx", 1.02, "cx", 320, ...
%!               "cy", 240, "f", 0.008, "kappa1", 4e4);
%! ## Camera-frame points across the view, the axis among them.
%! [a, b] = meshgrid (linspace (-0.2, 0.2, 9), linspace (-0.15, 0.15, 7));
%! P = [a(:), b(:), ones(63, 1)];
%! P(32, 1:2) = 0;

%!function uv = observe (c, P)
%! ## The projection written out, the distorted radius by Newton's method
%! ## on kappa1 rd^3 + rd = ru.
%! xu = c.f * P(:,1) ./ P(:,3);  yu = c.f * P(:,2) ./ P(:,3);
%! ru = hypot (xu, yu);  rd = ru;
%! for i = 1:60
%!   rd = rd - (c.kappa1 * rd.^3 + rd - ru) ./ (3 * c.kappa1 * rd.^2 + 1);
%! endfor
%! s = ones (size (ru));  s(ru > 0) = rd(ru > 0) ./ ru(ru > 0);
%! uv = [c.sx * xu .* s / c.dx + c.cx, yu .* s / c.dy + c.cy];
%!endfunction

%!test  # back to the pinhole image and to the ray, both signs of kappa1
%! for k = [4e4, 0, -2.5e4]
%!   cam.kappa1 = k;
%!   uv = observe (cam, P);
%!   [uu, vu] = scenemap_undistort (cam, uv(:,1), uv(:,2));
%!   c0 = cam;  c0.kappa1 = 0;
%!   ## Newton's root to rounding, through the polynomial: ~1e-13 px.
%!   assert ([uu, vu], observe (c0, P), 1e-9);
%!   [xn, yn] = scenemap_undistort (cam, uv(:,1), uv(:,2), "normalized");
%!   assert ([xn, yn], P(:,1:2) ./ P(:,3), 1e-14);
%! endfor
%! ## The principal point maps to itself exactly; shapes are kept.
%! [uu, vu] = scenemap_undistort (cam, [320 320; 0 1], [240 240; 0 1]);
%! assert ([uu(1), vu(1)], [320, 240]);
%! assert (size (uu), [2 2]);

%!test  # beyond the fold of a pincushion lens: no world point, NaN
%! cam.kappa1 = -2.5e4;
%! r = sqrt (1 / (3 * 2.5e4)) / cam.dy;           # the fold radius in v
%! [uu, vu] = scenemap_undistort (cam, [320 320], 240 + r * [0.99 1.01]);
%! assert (isfinite (vu(1)) && isnan (vu(2)) && isnan (uu(2)));

%!test  # the map: undistorted pixels to observed ones, exact at the centre
%! for k = [4e4, 0, -2.5e4]
%!   cam.kappa1 = k;
%!   c0 = cam;  c0.kappa1 = 0;
%!   u0 = observe (c0, P);
%!   [mu, mv] = scenemap_undistort (cam, "map", u0(:,1), u0(:,2));
%!   ## Two solutions of one cubic: rounding of pixels, ~1e-13 px.
%!   assert ([mu, mv], observe (cam, P), 1e-9);
%! endfor
%! ## The image grid: the column and the row through the principal point
%! ## (x or y exactly 0 there) map like every other, the centre pixel to
%! ## itself, and the map inverts the first form.
%! cam.kappa1 = -4e4;
%! [mu, mv] = scenemap_undistort (cam, "map", [641 481]);
%! assert (size (mu), [481 641]);
%! assert ([mu(241, 321), mv(241, 321)], [320, 240]);
%! assert (mu(:, 321), 320 * ones (481, 1));
%! assert (mv(241, :), 240 * ones (1, 641));
%! [uu, vu] = scenemap_undistort (cam, mu, mv);
%! [gu, gv] = meshgrid (0:640, 0:480);
%! ok = isfinite (uu);
%! assert (uu(ok), gu(ok), 1e-9);  assert (vu(ok), gv(ok), 1e-9);
%! ## Beyond the lens's reach (the far corners for this pincushion): NaN.
%! assert (isnan (mu(1, 1)) && isnan (mv(1, 1)) && nnz (~ok) < 0.1 * numel (ok));

%!error <call it as> scenemap_undistort (1, 2)
%!error <fields dx, dy> scenemap_undistort (struct ("f", 1), 1, 2)
%!error <CAM.f must be> scenemap_undistort (setfield (cam, "f", NaN), 1, 2)
%!error <must be 'normalized'> scenemap_undistort (cam, 1, 2, "metres")
%!error <arguments 2 and 3 must have one size> scenemap_undistort (cam, [1 2], 2)
%!error <CAM.dx must not be 0> scenemap_undistort (setfield (cam, "dx", 0), 1, 2)
%!error <argument 3 \(\[WIDTH HEIGHT\]\)> scenemap_undistort (cam, "map", [640 480i])
%!test  # the map of points of any shape keeps their shape
%! [mu, mv] = scenemap_undistort (cam, "map", 300 * ones (2, 3, 4), ...
%!                                200 * ones (2, 3, 4));
%! assert (size (mu), [2 3 4]);
%! assert (size (mv), [2 3 4]);
%!error <real numeric> scenemap_undistort (cam, "map", "a", 2)
%!error <two positive whole> scenemap_undistort (cam, "map", [640 -1])
%!error <argument 2 is U or 'map'> scenemap_undistort (cam, "mop", [640 480])
