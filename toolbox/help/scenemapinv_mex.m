% SCENEMAPINV_MEX  From image coordinates back to points of world planes.
%
%   [XW, YW] = SCENEMAPINV_MEX(U, V, ZW, DX, DY, SX, CX, CY, F, KAPPA1, R, T)
%   [XW, YW, DXY] = SCENEMAPINV_MEX(...)
%
%   Finds, for every image point (U(k), V(k)), the world point
%   (XW(k), YW(k), ZW(k)) on the plane Z = ZW(k) that SCENEMAP_MEX maps to
%   it: where on a calibration target, a specimen or the floor each pixel
%   looks. The camera is the one of SCENEMAP_MEX, with the same arguments.
%   Every pixel is computed (no value of U marks an absent point), but a
%   point it returns with XW exactly 0 is absent for SCENEMAP_MEX, which
%   gives it U = V = 0: to take such points forward again, shift the world
%   frame along X (XW + S and T - R*[S; 0; 0]; see SCENEMAP_MEX).
%   The inverse is closed form, without iteration:
%
%     xd = (U - CX) * DX / SX,  yd = (V - CY) * DY     distorted sensor coords
%     xu = xd * (1 + KAPPA1*rd^2),  yu = yd * (1 + KAPPA1*rd^2),
%         rd^2 = xd^2 + yd^2                     undistorted ones: the
%         distortion model run in its own direction needs no root
%     the camera ray: the points t * [xu; yu; F] in camera coordinates,
%         inv(R) * (t * [xu; yu; F] - T) in world coordinates; the one t
%         that puts the point on the plane Z = ZW(k) gives XW(k), YW(k)
%
%   R is inverted as given (for a rotation, inv(R) = R'), so a rotation
%   that is orthonormal only to rounding still inverts SCENEMAP_MEX exactly.
%
%   Where no world point exists, XW, YW and the DXY block are NaN:
%     - KAPPA1 < 0 and rd beyond the fold radius sqrt(-1/(3*KAPPA1)): the
%       lens bends no point that far out (SCENEMAP_MEX clamps its distorted
%       radius to the fold radius);
%     - the ray is parallel to the plane, or lies in it;
%     - the ray meets the plane behind the camera or at its centre (depth
%       zc <= 0). SCENEMAP_MEX maps such a point to this pixel too, since
%       it projects a point behind the camera like its mirror image in
%       front, but no camera sees it: for a camera looking across a floor,
%       every pixel above the horizon would otherwise return a floor point
%       behind the camera, and a rectified image would show the sky painted
%       mirrored onto the floor. NaN says: this pixel sees no point of the
%       plane;
%     - a NaN input, a singular R, or DX or DY zero (then SCENEMAP_MEX
%       gives every point an infinite U or V).
%   Every element is computed: unlike XW == 0 for SCENEMAP_MEX, no value of
%   U marks an absent point.
%
%   Inputs (all double):
%     U, V        image coordinates, image units. U is M-by-N and sets the
%                 shape of the results; V needs at least M*N elements.
%     ZW          world Z of each point's plane, world length unit, at least
%                 M*N elements (a scalar plane: ZW = zeros(size(U))).
%     DX ... T    the camera, exactly as for SCENEMAP_MEX.
%
%   Outputs:
%     XW, YW      M-by-N world coordinates, world length unit.
%     DXY         2-by-2-by-M-by-N derivatives of XW, YW with respect to
%                 U, V (world length units per image unit), laid out like
%                 DUV of SCENEMAPGRAD_MEX:
%                   DXY(1,1,m,n) = dX/dU    DXY(1,2,m,n) = dY/dU
%                   DXY(2,1,m,n) = dX/dV    DXY(2,2,m,n) = dY/dV
%                 Each block is the transpose of the Jacobian
%                 d(XW,YW)/d(U,V) and the matrix inverse of SCENEMAPGRAD_MEX's
%                 block at the point found. They come from the chain rule
%                 through the three steps above, in closed form. At the fold
%                 radius the block is finite but singular (there the
%                 projection's derivative is infinite).
%
%   Misuse raises the errors of SCENEMAP_MEX (scenemap:nargin, nargout,
%   notDouble, complex, sparse, tooShort, notNumeric, empty, tooLarge),
%   naming U, V and ZW. At most three outputs. Ctrl-C and out of memory
%   behave as for SCENEMAP_MEX (see there: the MEX builds finish a call
%   before Ctrl-C takes effect).
%
%   Example: rectify a small synthetic image onto the plane Z = 0. A
%   64-by-48-pixel camera, tilted 0.5 rad, photographs a checkerboard of
%   5 mm squares; each pixel is taken back to the plane, and the pixels are
%   resampled on a 0.5 mm grid of the plane, where the squares come out
%   square again.
%     cam = {1e-5, 1e-5, 1, 32, 24, 0.004, 2e5};   % 10 um pixels, 4 mm lens
%     a = 0.5;  R = [1 0 0; 0 cos(a) -sin(a); 0 sin(a) cos(a)];
%     T = [-0.015; -0.01; 0.2];                    % metres
%     [u, v] = meshgrid (0:63, 0:47);              % every pixel
%     [X, Y] = scenemapinv_mex (u, v, zeros (size (u)), cam{:}, R, T);
%     img = mod (floor (X / 0.005) + floor (Y / 0.005), 2);   % the photo
%     [Xg, Yg] = meshgrid (0.005:0.0005:0.025, 0.005:0.0005:0.02);
%     flat = griddata (X(:), Y(:), img(:), Xg, Yg, 'nearest');
%     imagesc (Xg(1,:), Yg(:,1), flat);  axis equal xy
%
%   See also SCENEMAP_MEX, SCENEMAPGRAD_MEX, SCENEMAP (version).

%!shared cam, R, T, X, Y, Z
%! cam = {5e-6, 5.2e-6, 1.01, 320, 240, 0.008};
%! ## Tilted about two axes, so that every entry of the blocks depends on
%! ## both image coordinates.
%! a = 0.3;  b = 0.2;
%! R = [cos(a) 0 -sin(a); 0 1 0; sin(a) 0 cos(a)] * ...
%!     [1 0 0; 0 cos(b) -sin(b); 0 sin(b) cos(b)];
%! T = [-0.1; -0.07; 0.6];
%! [X, Y] = meshgrid (0.01 + 0.05 * (0:4), 0.02 + 0.04 * (0:2));
%! Z = 0.01 * X;

%!test  # world -> image -> world, and the blocks invert SCENEMAPGRAD_MEX's
%! ## 1e-12 of the 0.6 m scene: rounding of a few operations on coordinates
%! ## of that size, amplified by the tilt; the blocks carry the projection
%! ## derivative's own error, below 1e-10 relative.
%! for k = [0 2e4 -2e4]
%!   [u, v, dUV] = scenemapgrad_mex (X, Y, Z, cam{:}, k, R, T);
%!   [Xb, Yb, dXY] = scenemapinv_mex (u, v, Z, cam{:}, k, R, T);
%!   assert ([Xb Yb], [X Y], 1e-12 * 0.6);
%!   assert (size (dXY), [2 2 size(X)]);
%!   assert (all (dXY(:) ~= 0));
%!   for i = 1:numel (X)
%!     assert (dXY(:,:,i) * dUV(:,:,i), eye (2), 1e-10);
%!   endfor
%! endfor

%!test  # NaN where no point exists
%! ## Identity camera at depth 1 above the plane Z = 0; kappa1 = -1/3 puts
%! ## the fold at rd = 1.
%! c1 = {1, 1, 1, 0, 0, 1};
%! [Xb, Yb, d] = scenemapinv_mex ([1-1e-9 1+1e-9], [0 0], [0 0], c1{:}, ...
%!                                -1/3, eye (3), [0 0 1]);
%! assert (all (isfinite ([Xb(1) Yb(1) d(:,:,1)(:)'])));
%! assert (all (isnan ([Xb(2) Yb(2) d(:,:,2)(:)'])));
%! ## A camera at the origin looking along world X, v along world Z: the ray
%! ## through v = 0 runs parallel to the planes Z = const; the one through
%! ## v = 0.5 meets Z = 1 in front of the camera, Z = -1 behind it and
%! ## Z = 0 in its centre.
%! Rx = [0 1 0; 0 0 1; 1 0 0];
%! [Xb, Yb] = scenemapinv_mex ([0.2 0.2 0.2 0.2], [0 0.5 0.5 0.5], ...
%!                             [1 1 -1 0], c1{:}, 0, Rx, [0 0 0]);
%! assert ([Xb; Yb], [NaN 2 NaN NaN; NaN 0.4 NaN NaN]);
%! ## NaN input, singular R, dx = 0.
%! assert (isnan (scenemapinv_mex (NaN, 0, 0, c1{:}, 0, eye (3), [0 0 1])));
%! assert (isnan (scenemapinv_mex (0, 0, 0, c1{:}, 0, zeros (3), [0 0 1])));
%! assert (isnan (scenemapinv_mex (0, 0, 0, 0, c1{2:end}, 0, eye (3), [0 0 1])));
%! [Xb, Yb, d] = scenemapinv_mex (0.5, 7, 0, 1, 0, c1{3:end}, 0, eye (3), [0 0 1]);
%! assert (all (isnan ([Xb Yb d(:)'])));   # dy = 0

%!test  # the help's example: the rectified squares are the checkerboard
%! cam = {1e-5, 1e-5, 1, 32, 24, 0.004, 2e5};
%! a = 0.5;  R = [1 0 0; 0 cos(a) -sin(a); 0 sin(a) cos(a)];
%! T = [-0.015; -0.01; 0.2];
%! [u, v] = meshgrid (0:63, 0:47);
%! [X, Y] = scenemapinv_mex (u, v, zeros (size (u)), cam{:}, R, T);
%! img = mod (floor (X / 0.005) + floor (Y / 0.005), 2);
%! [Xg, Yg] = meshgrid (0.005:0.0005:0.025, 0.005:0.0005:0.02);
%! flat = griddata (X(:), Y(:), img(:), Xg, Yg, 'nearest');
%! truth = mod (floor (Xg / 0.005) + floor (Yg / 0.005), 2);
%! ## Nearest-pixel resampling may miss an edge by a pixel's footprint on
%! ## the plane (under 0.6 mm here); farther from the edges it must not.
%! m = @(x) min (mod (x, 0.005), 0.005 - mod (x, 0.005));
%! far = min (m (Xg), m (Yg)) > 0.0006;
%! assert (flat(far), truth(far));

%!test  # pixels the projection clamps to the fold come back to the fold
%! c = {1e-5, 1e-5, 1, 320, 240, 0.008, -3e4, eye(3), [0 0 1]};
%! X = linspace (1, 100, 1200);
%! [u, v] = scenemap_mex (X, 0.3 * X, zeros (size (X)), c{:});
%! [Xb, Yb] = scenemapinv_mex (u, v, zeros (size (X)), c{:});
%! ## Undistorted radius (2/3) * rf, rf = 1/300: 16 ulps of rounding.
%! assert (hypot (Xb, Yb) * 0.008, 2/900 + zeros (size (X)), 16 * eps / 300);

%!test  # scaled out of the normal numbers: the unscaled camera's answer
%! s = 2^530;   # kappa1 = 0: the squared radius overflows
%! assert (scenemapinv_mex (400, 300, 0, 1e-5*s, 1e-5*s, 1, 320, 240, ...
%!                          0.008*s, 0, eye (3), [0 0 1]), 0.1, eps (0.1));
%! R = reshape ([0.99583444969517776 0.053514139898698652 ...
%!   0.073824017983342399 -0.058350227268522396 0.99617874300489573 ...
%!   0.064985867408981546 -0.070064254638254303 -0.069022813736390465 ...
%!   0.9951516725634828], 3, 3);
%! s = 2^-356;   # det (R*s) is subnormal
%! c = {1e-5, 1e-5, 1, 320, 240, 0.008, 100};
%! assert (scenemapinv_mex (400, 300, 0.05, c{:}, R*s, [0.01 0.02 1]*s), ...
%!         scenemapinv_mex (400, 300, 0.05, c{:}, R, [0.01 0.02 1]), 0);
%! ## 2e306 from the camera: depth over f overflows; X = 2e305.
%! assert (scenemapinv_mex (400, 300, 1e306, c{1:6}, 0, eye (3), ...
%!                          [0 0 1e306]), 2e305, 4 * eps (2e305));

%!error id=scenemap:nargout [a, b, c, d] = scenemapinv_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1])
%!error <expected 12 input arguments \(u, v, Zw,> scenemapinv_mex (1, 1, 1)
%!error <argument 2 \(v\) has 1 elements but needs at least 2, as many as u> scenemapinv_mex ([1 2], 1, [1 2], 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1])
%!error <argument 1 \(u\) must be a double array> scenemapinv_mex (single (1), 1, 1, 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1])
%!error id=scenemap:notNumeric scenemapinv_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 'k', eye (3), [0 0 1])
