% SCENEMAP_MEX  Project a grid of world points to image coordinates.
%
%   [U, V] = SCENEMAP_MEX(XW, YW, ZW, DX, DY, SX, CX, CY, F, KAPPA1, R, T)
%
%   Projects every world point (XW(k), YW(k), ZW(k)) through a calibrated
%   camera and returns its image coordinates U(k), V(k). A point whose XW
%   is exactly zero (0 or -0) is absent: its U and V are 0, whatever its YW
%   and ZW, the point on the optical axis included. To project points that
%   lie on the plane X = 0 (a target's first column, a grid through the
%   origin), shift the world frame along X: pass XW + S and T - R*[S; 0; 0]
%   for any S that moves every XW off zero; the camera sees the same points.
%
%     [xc; yc; zc] = R * [X; Y; Z] + T          camera coordinates
%     xu = xc * F / zc,  yu = yc * F / zc         undistorted sensor coords
%     (xd, yd) = (xu, yu) * rd / ru               radial distortion, where
%         ru = sqrt(yu*yu + xu*xu) and rd solves KAPPA1*rd^3 + rd = ru
%         (in closed form; for KAPPA1 < 0 beyond the reachable radius, rd
%         is clamped to the fold radius sqrt(-1/(3*KAPPA1)))
%     U = SX * xd / DX + CX,  V = yd / DY + CY    image coordinates
%
%   Accuracy: the closed form is kept, bit for bit, where it is accurate:
%   1e-6 <= |KAPPA1*ru^2| (and KAPPA1*ru^2 <= 100 for KAPPA1 > 0) with
%   ru^2, its E^2 and (p/3)^3 normal numbers, which covers every physical
%   lens. Every other finite point and KAPPA1 (tiny or huge) is solved
%   without cancellation or overflow, to a few units in the last place of
%   rd. The README's Accuracy section gives the measured errors.
%
%   Derivatives: SCENEMAPGRAD_MEX returns the same U, V with their
%   derivatives by world X and Y (world Z held fixed; none by Z) and by
%   the camera parameters; SCENEMAPINV_MEX goes from U, V back to world
%   planes, with the derivatives of X, Y by U, V.
%
%   Inputs (all double):
%     XW, YW, ZW  world coordinates, world length unit. XW is M-by-N and
%                 sets the shape of the results; YW and ZW need at least
%                 M*N elements, read in column-major order. An N-d XW
%                 counts as M by the product of its other dimensions (the
%                 host's column count): 2-by-3-by-4 gives 2-by-12 results.
%     DX, DY      sensor length per image unit along U and V (divisors)
%     SX          scale factor applied to U only
%     CX, CY      principal point, image units
%     F           focal length, sensor length unit
%     KAPPA1      radial distortion, (sensor length unit)^-2; 0 for none,
%                 > 0 barrel, < 0 pincushion
%     R           3-by-3 rotation, world to camera: the first 9 elements in
%                 column-major order, whatever R's shape and length
%     T           translation, world length unit: the first 3 elements,
%                 row or column
%   DX to KAPPA1 are numeric scalars; only their first element is used.
%
%   Outputs:
%     U, V        M-by-N image coordinates, image units.
%
%   NaN and Inf propagate; a point with zc == 0 gives Inf or NaN.
%   Misuse raises an error with an identifier scenemap:<reason>: nargin,
%   nargout, notDouble, complex, sparse, tooShort, notNumeric, empty,
%   tooLarge.
%
%   Interrupts and memory (all three modules): the native Octave functions
%   (what pkg install builds) stop a long call at Ctrl-C within a fraction
%   of a second. The MEX builds (the modules MATLAB loads, and Octave's
%   .mex) see no Ctrl-C during a call: the MEX interface offers a module no
%   documented way to notice one, so the call runs to its end (seconds for
%   tens of millions of points) before the host stops; split a very large
%   grid into several calls to keep the session responsive. Results that do not
%   fit in memory raise the host's out-of-memory error and free what the
%   call had allocated: Octave:bad-alloc from the native functions, and
%   from a MEX build the host's own message (Octave's MEX layer raises it
%   without an identifier, before the module could give it one).
%
%   Example: a 5-by-5 grid through the world origin. Its middle column has
%   X = 0 and would be absent, so the world frame is shifted by 1 along X
%   (points X + 1, translation T - R*[1; 0; 0]): the same camera, the same
%   points, every one projected; the middle point lands on (CX, CY).
%     [X, Y] = meshgrid(-0.2:0.1:0.2);
%     R = eye(3);  T = [0; 0; 1];
%     [u, v] = scenemap_mex(X + 1, Y, zeros(size(X)), 1e-5, 1e-5, 1, ...
%                           320, 240, 0.008, 100, R, T - R*[1; 0; 0]);
%
%   See also SCENEMAPGRAD_MEX, SCENEMAPINV_MEX, SCENEMAP (version).

%!shared R, T, cam
%! R = eye (3);  T = [0 0 1];
%! cam = {1, 1, 1, 0, 0, 1, 0};   % dx dy sx cx cy f kappa1: identity camera

%!test  # identity camera on the plane Z = 0 maps (X, Y) to itself
%! [X, Y] = meshgrid (-2:2, [-1 0.5 3]);
%! X(X == 0) = 0.25;
%! [u, v] = scenemap_mex (X, Y, zeros (size (X)), cam{:}, R, T);
%! assert (u, X, 0);
%! assert (v, Y, 0);

%!test  # the help's example: the shifted frame projects the X = 0 column
%! [X, Y] = meshgrid (-0.2:0.1:0.2);
%! Rh = eye (3);  Th = [0; 0; 1];
%! c = {1e-5, 1e-5, 1, 320, 240, 0.008, 100};
%! [u, v] = scenemap_mex (X + 1, Y, zeros (size (X)), c{:}, Rh, Th - Rh*[1; 0; 0]);
%! assert ([u(3,3) v(3,3)], [320 240]);
%! ## Off X = 0 the unshifted call agrees; the shift rounds xc = (X + 1) - 1
%! ## by up to eps(1), 1e-10 pixels at 800 pixels per unit of X.
%! [u0, v0] = scenemap_mex (X, Y, zeros (size (X)), c{:}, Rh, Th);
%! off = X ~= 0;
%! assert (u(off), u0(off), 1e-10);  assert (v(off), v0(off), 1e-10);

%!test  # points with Xw == 0 or -0 stay zero, NaN is projected
%! [u, v] = scenemap_mex ([0 -0 NaN 1], [5 5 5 5], [1 1 1 1], cam{:}, R, T);
%! assert (u(1:2), [0 0]);
%! assert (v(1:2), [0 0]);
%! assert (isnan (u(3)) && isnan (v(3)));
%! assert ([u(4) v(4)], [0.5 2.5], 0);

%!test  # without distortion: u = (sx*xu)/dx + cx, v = yu/dy + cy exactly
%! Rr = [0.36 0.48 -0.8; -0.8 0.6 0; 0.48 0.64 0.6];
%! X = [0.3 -1.2; 2.5 0.7];  Y = [1.1 0.2; -0.4 3];  Z = [0.5 1; 2 -0.5];
%! Tt = [0.1; -0.2; 10];
%! [u, v] = scenemap_mex (X, Y, Z, 2e-3, 3e-3, 1.1, 320, 240, 0.05, 0, Rr, Tt);
%! xc = ((Rr(1,1)*X + Rr(1,2)*Y) + Rr(1,3)*Z) + Tt(1);
%! yc = ((Rr(2,1)*X + Rr(2,2)*Y) + Rr(2,3)*Z) + Tt(2);
%! zc = ((Rr(3,1)*X + Rr(3,2)*Y) + Rr(3,3)*Z) + Tt(3);
%! assert (u, (1.1 * ((xc*0.05)./zc)) / 2e-3 + 320, 0);
%! assert (v, ((yc*0.05)./zc) / 3e-3 + 240, 0);

%!test  # barrel and pincushion: rd solves kappa1*rd^3 + rd = ru
%! ## The closed forms cancel terms of size sqrt(1/(3*|kappa1|)): a few
%! ## ulps of that, not of rd.
%! for k = [0.01 -0.01]
%!   [u, v] = scenemap_mex (2, 0, 0, 1, 1, 1, 0, 0, 1, k, R, T);
%!   assert (k*u^3 + u, 2, 16*eps*sqrt (1/(3*abs (k))));
%!   assert (v, 0);
%! endfor

%!test  # beyond the fold the radius is clamped, direction kept
%! [u, v] = scenemap_mex (3, 4, 0, 1, 1, 1, 0, 0, 1, -0.01, R, T);
%! assert (hypot (u, v), sqrt (100/3), 8*eps (10));
%! assert (v/u, 4/3, 4*eps);

%!test  # shapes come from Xw; R and T shapes and long scalars do not matter
%! [u, v] = scenemap_mex (zeros (0, 0), [], [], cam{:}, R, T);
%! assert (size (u), [0 0]);  assert (size (v), [0 0]);
%! [u, v] = scenemap_mex (zeros (0, 3), [], [], cam{:}, R, T);
%! assert (size (u), [0 3]);
%! [u1, v1] = scenemap_mex ([1 2 3], [1 2 3 4 5]', 1:6, cam{:}, R, T);
%! assert (size (u1), [1 3]);
%! [u2, v2] = scenemap_mex ([1 2 3], 1:3, 1:3, [1 9], 1, 1, 0, 0, [1 2], 0, ...
%!                          R(:)', T');
%! assert ([u2; v2], [u1; v1], 0);

%!test  # an N-d Xw gives M-by-prod(rest); R and T beyond 9 and 3 are unread
%! X = reshape (1:24, 2, 3, 4);
%! a = 10 * pi / 180;  Rt = [cos(a) 0 sin(a); 0 1 0; -sin(a) 0 cos(a)];
%! [u, v] = scenemap_mex (X, X + 1, X / 7, cam{:}, [Rt(:); NaN; 5], [0 0 40 NaN]);
%! [u2, v2] = scenemap_mex (X(:, :), X(:, :) + 1, X(:, :) / 7, cam{:}, Rt, [0 0 40]);
%! assert (size (u), [2 12]);  assert (size (v), [2 12]);
%! assert ([u; v], [u2; v2], 0);

%!test  # a single output is allowed
%! u = scenemap_mex (2, 1, 0, cam{:}, R, T);
%! assert (u, 2);

%!test  # each module returns as many values as asked: cellfun counts them
%! twice = cellfun (@(x) {x, x}, [cam, {R, T}], 'UniformOutput', false);
%! for f = {@scenemap_mex, @scenemapgrad_mex, @scenemapinv_mex}
%!   r = cellfun (f{1}, {2, 'a'}, {1, 1}, {0, 0}, twice{:}, ...
%!                'ErrorHandler', @(e, varargin) -1);
%!   assert (r, [2 -1]);
%! endfor

%!error <expected 12 input arguments> scenemap_mex ()
%!error id=scenemap:nargin scenemap_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, eye (3))
%!error id=scenemap:nargout [a, b, c] = scenemap_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1])
%!error <argument 2 \(Yw\) has 3 elements but needs at least 6> scenemap_mex (ones (2, 3), ones (1, 3), ones (2, 3), 1, 1, 1, 0, 0, 1, 0, eye (3), [0 0 1])
%!error id=scenemap:tooShort scenemap_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, eye (2), [0 0 1])
%!error id=scenemap:tooShort scenemap_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, eye (3), [0 1])
%!error id=scenemap:notDouble scenemap_mex (single (1), 1, 1, 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1])
%!error id=scenemap:notDouble scenemap_mex (1, int8 (1), 1, 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1])
%!error id=scenemap:complex scenemap_mex (1, 1, complex (1, 0), 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1])
%!error id=scenemap:sparse scenemap_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, speye (3), [0 0 1])
%!error id=scenemap:notNumeric scenemap_mex (1, 1, 1, 'a', 1, 1, 1, 1, 1, 1, eye (3), [0 0 1])
%!error id=scenemap:notNumeric scenemap_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, true, eye (3), [0 0 1])
%!error id=scenemap:empty scenemap_mex (1, 1, 1, 1, 1, 1, 1, 1, [], 1, eye (3), [0 0 1])
%!error id=scenemap:complex scenemap_mex (1, 1, 1, 1, 1, 1i, 1, 1, 1, 1, eye (3), [0 0 1])
%!error <argument 11 \(R\)> scenemap_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, {eye(3)}, [0 0 1])
