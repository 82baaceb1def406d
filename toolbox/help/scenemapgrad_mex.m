% SCENEMAPGRAD_MEX  Project world points and differentiate u, v by world X, Y.
%
%   [U, V, DUV] = SCENEMAPGRAD_MEX(XW, YW, ZW, DX, DY, SX, CX, CY, F, ...
%                                  KAPPA1, R, T)
%
%   Takes the same twelve arguments as SCENEMAP_MEX and returns the same
%   U and V (bit for bit), plus, for every point, the partial derivatives
%   of U and V with respect to the point's world X and Y (world Z held
%   fixed), as below. A point whose XW is exactly zero is absent (all its
%   outputs are zero); to keep points on the plane X = 0, shift the world
%   frame along X (XW + S and T - R*[S; 0; 0]; see SCENEMAP_MEX).
%
%     DUV      2-by-2-by-M-by-N (N the host's column count of XW, also
%              for an N-d XW); for the point (m, n):
%                DUV(1,1,m,n) = dU/dX    DUV(1,2,m,n) = dV/dX
%                DUV(2,1,m,n) = dU/dY    DUV(2,2,m,n) = dV/dY
%              Units: image units per world length unit. Each 2-by-2 block
%              is the transpose of the Jacobian d(U,V)/d(X,Y), so
%              J = DUV(:,:,m,n).' is the usual Jacobian.
%
%   A point whose XW is exactly zero is absent: its U, V and DUV block are
%   all zero.
%
%   The derivatives are exact (to rounding) wherever the projection is
%   finite and differentiable, for every KAPPA1: barrel (KAPPA1 > 0), none
%   (KAPPA1 = 0), pincushion (KAPPA1 < 0, also beyond the fold, where the
%   distorted radius is clamped and the image stops moving radially), and
%   on the optical axis. Where the projection is not differentiable (depth
%   zc == 0, NaN inputs, exactly at the fold) the block is Inf or NaN.
%   Measured against a quad-precision reference over every exponent of
%   KAPPA1, F, zc and the point: within 2.1e-10 relative per block.
%
%   Arguments, units and errors: see SCENEMAP_MEX. At most three outputs.
%
%   Example: the Jacobian of a target point, checked by a difference
%     R = eye(3);  T = [0 0 1];  cam = {1e-5, 1e-5, 1, 320, 240, 0.008, 1e4};
%     [u, v, d] = scenemapgrad_mex(0.1, 0.05, 0, cam{:}, R, T);
%     h = 1e-6;
%     [u2, v2] = scenemap_mex(0.1 + h, 0.05, 0, cam{:}, R, T);
%     [(u2 - u) / h, d(1,1); (v2 - v) / h, d(1,2)]
%
%   See also SCENEMAP_MEX, SCENEMAPINV_MEX, SCENEMAP (version).

%!shared R, T, cam, X, Y, Z
%! a = 0.3;
%! R = [cos(a) 0 -sin(a); 0 1 0; sin(a) 0 cos(a)];
%! T = [-0.1; -0.07; 0.6];
%! cam = {5e-6, 5.2e-6, 1.01, 320, 240, 0.008};
%! [X, Y] = meshgrid (0.01 + 0.05 * (0:4), 0.02 + 0.04 * (0:2));
%! Z = 0.01 * X;

%!test  # u, v identical to scenemap_mex; block layout and shape
%! for k = [0 2e4 -2e4 -3e5]
%!   [u, v, d] = scenemapgrad_mex (X, Y, Z, cam{:}, k, R, T);
%!   [u0, v0] = scenemap_mex (X, Y, Z, cam{:}, k, R, T);
%!   assert (u, u0, 0);  assert (v, v0, 0);
%!   assert (size (d), [2 2 size(X)]);
%!   assert (all (isfinite (d(:))));
%! endfor

%!test  # each slot against a central difference of the projection
%! ## h = 1e-6 m on coordinates of 0.1 m: truncation error h^2 * u''' / 6
%! ## and rounding 2 eps |u| / h are both well under 1e-6 relative.
%! h = 1e-6;
%! for k = [0 2e4 -2e4 -3e5]
%!   [~, ~, d] = scenemapgrad_mex (X, Y, Z, cam{:}, k, R, T);
%!   [up, vp] = scenemap_mex (X + h, Y, Z, cam{:}, k, R, T);
%!   [um, vm] = scenemap_mex (X - h, Y, Z, cam{:}, k, R, T);
%!   assert (squeeze (d(1,1,:,:)), (up - um) / (2*h), -1e-6);
%!   assert (squeeze (d(1,2,:,:)), (vp - vm) / (2*h), -1e-6);
%!   [up, vp] = scenemap_mex (X, Y + h, Z, cam{:}, k, R, T);
%!   [um, vm] = scenemap_mex (X, Y - h, Z, cam{:}, k, R, T);
%!   assert (squeeze (d(2,1,:,:)), (up - um) / (2*h), -1e-6);
%!   assert (squeeze (d(2,2,:,:)), (vp - vm) / (2*h), -1e-6);
%! endfor

%!test  # absent points and the optical axis
%! Rid = eye (3);  Tz = [0 0 2];
%! [u, v, d] = scenemapgrad_mex ([0 1e-300 -0], [1 0 1], [0 0 0], ...
%!                               1, 1, 1, 0, 0, 1, 0.5, Rid, Tz);
%! assert (d(:,:,1,1), zeros (2));  assert (d(:,:,1,3), zeros (2));
%! ## On the axis the map is the pinhole to first order: f / (dx * zc).
%! assert (d(:,:,1,2), eye (2) / 2, eps);

%!test  # shapes of dUV follow the grid
%! [~, ~, d] = scenemapgrad_mex (zeros (0, 0), [], [], cam{:}, 0, R, T);
%! assert (size (d), [2 2 0 0]);
%! [~, ~, d] = scenemapgrad_mex (ones (1, 4), ones (1, 4), ones (1, 4), ...
%!                               cam{:}, 0, R, T);
%! assert (size (d), [2 2 1 4]);
%! [u, ~, d] = scenemapgrad_mex (ones (2, 3, 4), ones (2, 3, 4), ...
%!                               ones (2, 3, 4), cam{:}, 0, R, T);
%! assert (size (u), [2 12]);  assert (size (d), [2 2 2 12]);

%!error id=scenemap:nargout [a, b, c, d] = scenemapgrad_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1])
%!error id=scenemap:nargin scenemapgrad_mex (1, 1, 1)
%!error <argument 3 \(Zw\) has 1 elements but needs at least 2> scenemapgrad_mex ([1 2], [1 2], 1, 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1])
%!error id=scenemap:notDouble scenemapgrad_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, single (eye (3)), [0 0 1])
%!error id=scenemap:complex scenemapgrad_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1i])
