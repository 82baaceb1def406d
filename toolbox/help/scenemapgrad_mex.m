% SCENEMAPGRAD_MEX  Project world points and differentiate u, v by world X, Y
% and by the camera's parameters.
%
%   [U, V, DUV] = SCENEMAPGRAD_MEX(XW, YW, ZW, DX, DY, SX, CX, CY, F, ...
%                                  KAPPA1, R, T)
%   [U, V, DUV, DCAM] = SCENEMAPGRAD_MEX(...)
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
%     DCAM     19-by-2-by-M-by-N, only when four outputs are asked for:
%              DCAM(j,1,m,n) = dU/dP(j) and DCAM(j,2,m,n) = dV/dP(j) for
%              the point (m, n), the parameters P in the order of the
%              arguments:
%                 1 DX   2 DY   3 SX   4 CX   5 CY   6 F   7 KAPPA1
%                 8..16  R(1)..R(9) (storage order: R(:), column by column)
%                17..19  T(1)..T(3)
%              The first index is what is varied, as for DUV, so
%              DCAM(17:19,:,m,n) sits beside DUV(:,:,m,n). dU/dCX = dV/dCY
%              = 1 and dU/dCY = dV/dCX = dV/dSX = dU/dDY = dV/dDX = 0
%              exactly. The camera-frame point is R*W + T (W the world
%              point [XW YW ZW](m,n)), so the row of R(r,c) is exactly W(c)
%              times the row of T(r): DCAM(7+r+3*(c-1),:,m,n) =
%              W(c) * DCAM(16+r,:,m,n).
%              Within 1e-9 (relative to each parameter's pair dU, dV) of
%              the true derivative wherever the projection is finite and
%              differentiable: every branch of the distortion, KAPPA1 = 0
%              (dU/dKAPPA1 = -(SX/DX)*xu*ru^2 there), the optical axis,
%              and beyond the fold (the derivative of the clamped
%              projection, including that of the fold radius). Measured
%              against a quad-precision reference: below 2e-14.
%              Cost: 304 bytes per point, and at 1e6 points about 1.4 to
%              1.9 times the time of the three-output call, most of it
%              the system zeroing and mapping the new result's memory.
%
%   A point whose XW is exactly zero is absent: its U, V, DUV and DCAM
%   blocks are all zero. U, V and DUV are the same bits with four outputs
%   as with three.
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
%   Arguments, units and errors: see SCENEMAP_MEX. At most four outputs.
%
%   Example: the Jacobian of a target point, checked by a difference
%     R = eye(3);  T = [0 0 1];  cam = {1e-5, 1e-5, 1, 320, 240, 0.008, 1e4};
%     [u, v, d] = scenemapgrad_mex(0.1, 0.05, 0, cam{:}, R, T);
%     h = 1e-6;
%     [u2, v2] = scenemap_mex(0.1 + h, 0.05, 0, cam{:}, R, T);
%     [(u2 - u) / h, d(1,1); (v2 - v) / h, d(1,2)]
%
%   Example: the Jacobian by a rotation vector w, for calibration, through
%   dR = dR(:)/dw (9-by-3) from SCENEMAP_ROTATION:
%     [R, dR] = scenemap_rotation(w);
%     [u, v, ~, dCam] = scenemapgrad_mex(X, Y, Z, cam{:}, R, T);
%     Jw = dCam(8:16, :, m, n).' * dR;      % 2-by-3: d(u, v)/dw
%     JT = dCam(17:19, :, m, n).';          % 2-by-3: d(u, v)/dT
%     Jc = dCam(4:7, :, m, n).';            % by cx, cy, f and kappa1
%
%   See also SCENEMAP_MEX, SCENEMAPINV_MEX, SCENEMAP_ROTATION, SCENEMAP (version).

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

%!test  # dCam: each parameter against a central difference of scenemap_mex
%! ## Steps of 1e-6 of each parameter (of 1 for cx, cy and R, 1e-7 m for T,
%! ## 1 for kappa1 in 1/m^2, which moves kappa1*ru^2 by 1e-6): the truncation (of the third derivative
%! ## times h^2) and the rounding 2 eps |u| / h stay near 1e-7 of the
%! ## largest derivative of u, v by that parameter.
%! P = {cam{:}, 0, R, T};
%! for k = [0 2e4 -2e4]
%!   P{7} = k;
%!   [u, v, d3] = scenemapgrad_mex (X, Y, Z, P{:});
%!   [u4, v4, d4, dc] = scenemapgrad_mex (X, Y, Z, P{:});
%!   assert (u4, u, 0);  assert (v4, v, 0);  assert (d4, d3, 0);
%!   assert (size (dc), [19 2 size(X)]);
%!   p = [P{1:7}, P{8}(:).', P{9}(:).'];
%!   for j = 1:19
%!     h = 1e-6 * max (abs (p(j)), 1);
%!     if (j <= 3 || j == 6), h = 1e-6 * abs (p(j)); end
%!     if (j == 7), h = 1; end
%!     if (j >= 17), h = 1e-7; end
%!     q = p;  q(j) += h;
%!     Pp = [num2cell(q(1:7)), {reshape(q(8:16), 3, 3), q(17:19)}];
%!     [up, vp] = scenemap_mex (X, Y, Z, Pp{:});
%!     q = p;  q(j) -= h;
%!     Pm = [num2cell(q(1:7)), {reshape(q(8:16), 3, 3), q(17:19)}];
%!     [um, vm] = scenemap_mex (X, Y, Z, Pm{:});
%!     fd = [(up(:) - um(:)).'; (vp(:) - vm(:)).'] / (2 * h);
%!     got = reshape (dc(j, :, :, :), 2, []);
%!     assert (got, fd, 1e-6 * max (norm (fd(:), Inf), 1));
%!   endfor
%! endfor

%!test  # dCam: exact entries, the R rows from the T rows, absent points
%! [u, v, d, dc] = scenemapgrad_mex ([X(:); 0], [Y(:); 1], [Z(:); 1], ...
%!                                   cam{:}, 2e4, R, T);
%! n = numel (X);
%! assert (squeeze (dc(4, 1, :)), [ones(n, 1); 0]);
%! assert (squeeze (dc(5, 2, :)), [ones(n, 1); 0]);
%! assert (all (all (dc([2 5], 1, :) == 0)) && all (all (dc([1 3 4], 2, :) == 0)));
%! assert (dc(:, :, end), zeros (19, 2));
%! W = [X(:), Y(:), Z(:)];
%! for i = 1:n
%!   for c = 1:3
%!     assert (dc(7 + 3*(c-1) + (1:3), :, i), W(i, c) * dc(17:19, :, i), 0);
%!   endfor
%! endfor

%!test  # a result large enough for its own mapping has each point's bits
%! ## 400-by-300 points: dCam is 36 MB, which the native build maps apart
%! ## (and advises for huge pages); absent points at both ends.
%! [Xb, Yb] = meshgrid (linspace (0.01, 0.2, 300), linspace (0.02, 0.1, 400));
%! Xb([1 end]) = 0;
%! Zb = 0.01 * Xb;
%! [u, v, d, dc] = scenemapgrad_mex (Xb, Yb, Zb, cam{:}, -2e4, R, T);
%! s = [1:3, 59999:60002, numel(Xb) - (2:-1:0)];
%! [us, vs, ds, dcs] = scenemapgrad_mex (Xb(s), Yb(s), Zb(s), cam{:}, -2e4, R, T);
%! assert (u(s), us, 0);  assert (v(s), vs, 0);
%! assert (reshape (d(:, :, s), size (ds)), ds, 0);
%! assert (reshape (dc(:, :, s), size (dcs)), dcs, 0);
%! assert (dc(:, :, 1), zeros (19, 2));  assert (dc(:, :, end), zeros (19, 2));

%!test  # shapes of dUV follow the grid
%! [~, ~, d] = scenemapgrad_mex (zeros (0, 0), [], [], cam{:}, 0, R, T);
%! assert (size (d), [2 2 0 0]);
%! [~, ~, d] = scenemapgrad_mex (ones (1, 4), ones (1, 4), ones (1, 4), ...
%!                               cam{:}, 0, R, T);
%! assert (size (d), [2 2 1 4]);
%! [u, ~, d] = scenemapgrad_mex (ones (2, 3, 4), ones (2, 3, 4), ...
%!                               ones (2, 3, 4), cam{:}, 0, R, T);
%! assert (size (u), [2 12]);  assert (size (d), [2 2 2 12]);

%!error id=scenemap:nargout [a, b, c, d, e] = scenemapgrad_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1])
%!error id=scenemap:nargin scenemapgrad_mex (1, 1, 1)
%!error <argument 3 \(Zw\) has 1 elements but needs at least 2> scenemapgrad_mex ([1 2], [1 2], 1, 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1])
%!error id=scenemap:notDouble scenemapgrad_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, single (eye (3)), [0 0 1])
%!error id=scenemap:complex scenemapgrad_mex (1, 1, 1, 1, 1, 1, 1, 1, 1, 1, eye (3), [0 0 1i])
