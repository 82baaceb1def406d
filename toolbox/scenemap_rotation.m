% SCENEMAP_ROTATION  Rotation vector to rotation matrix and back.
%
%   R = SCENEMAP_ROTATION(W) returns the 3-by-3 rotation matrix of the
%   rotation vector W (3 elements, row or column): a rotation by the angle
%   norm(W) (radians, right-handed) about the axis W / norm(W),
%     R = cos(t)*I + sin(t)/t * [W]x + (1 - cos(t))/t^2 * W*W.'
%   with t = norm(W) and [W]x the matrix of the cross product W x (.).
%   W = 0 gives the identity. R is the R of SCENEMAP_MEX (world to camera).
%
%   [R, DR] = SCENEMAP_ROTATION(W) also returns DR, the 9-by-3 derivative
%   of R(:) by W: DR(i, k) = d R(i) / d W(k), the elements of R in storage
%   order (column by column, R(1) to R(9)), the order of rows 8 to 16 of
%   the camera Jacobian of SCENEMAPGRAD_MEX. So for a point (m, n)
%     J = DCAM(8:16, :, m, n).' * DR
%   is the 2-by-3 Jacobian of its (u, v) by the rotation vector.
%
%   W = SCENEMAP_ROTATION(R) for a 3-by-3 rotation matrix R (orthonormal
%   to 1e-6 with determinant +1; anything else is an error) returns its
%   rotation vector as a 3-by-1 column, of angle in [0, pi]. At the angle
%   pi, W and -W are the same rotation; either is returned.
%
%   Both directions are accurate to rounding at every angle: near 0 the
%   coefficients come from their Taylor series, near pi the axis from the
%   symmetric part of R.
%
%   Example: the Jacobian of the image of a point by the rotation vector
%     w = [0.1; -0.2; 0.05];
%     [R, dR] = scenemap_rotation(w);
%     [u, v, dUV, dCam] = scenemapgrad_mex(0.1, 0.05, 0, 5e-6, 5e-6, 1, ...
%                                          320, 240, 0.008, 0, R, [0 0 1]);
%     J = dCam(8:16, :).' * dR        % d(u, v) / dw, 2-by-3
%
%   See also SCENEMAPGRAD_MEX, SCENEMAP_CALIBRATE.
function [out, dR] = scenemap_rotation (in)
  if nargin ~= 1
    error ('scenemap:nargin', 'scenemap_rotation: one argument, W or R');
  end
  if ~isnumeric (in) || ~isreal (in)
    error ('scenemap:badArgument', ...
           'scenemap_rotation: argument 1 (W or R) must be real and numeric');
  end
  if issparse (in)
    error ('scenemap:badArgument', ...
           'scenemap_rotation: argument 1 (W or R) must be a full array');
  end
  in = double (in);
  if ~all (isfinite (in(:)))
    error ('scenemap:notFinite', ...
           'scenemap_rotation: argument 1 (W or R) has non-finite elements');
  end
  if numel (in) == 3
    if nargout > 1
      [out, dR] = vector_to_matrix (in(:));
    else
      out = vector_to_matrix (in(:));
    end
  elseif isequal (size (in), [3 3])
    if nargout > 1
      error ('scenemap:nargout', ['scenemap_rotation: the derivative ' ...
             '(second output) is of R by W; call it with W']);
    end
    out = matrix_to_vector (in);
  else
    error ('scenemap:badArgument', ['scenemap_rotation: argument 1 must ' ...
           'be a rotation vector (3 elements) or a 3-by-3 matrix, not %s'], ...
           size_text (in));
  end
end

% R = c*I + a*[w]x + b*w*w' with c = cos t, a = sin(t)/t, b = (1-cos t)/t^2,
% and for the derivative a' = (1/t) da/dt, b' = (1/t) db/dt, so that
% d a / d w(k) = a' * w(k), likewise b.
function [R, dR] = vector_to_matrix (w)
  t2 = w' * w;
  if ~(t2 <= 1e120)
    [R, dR] = large_angle (w);
    return;
  end
  t = sqrt (t2);
  if t < 0.1
    % Taylor series in t^2: the closed forms cancel for small t (1 - cos t,
    % t cos t - sin t). Five terms each leave a truncation below 1e-17 at
    % t = 0.1, where the closed forms below are within 3e-13.
    s = [1, t2, t2^2, t2^3, t2^4];
    a = s * [1; -1/6; 1/120; -1/5040; 1/362880];
    b = s * [1/2; -1/24; 1/720; -1/40320; 1/3628800];
    da = s * [-1/3; 1/30; -1/840; 1/45360; -1/3991680];
    db = s * [-1/12; 1/180; -1/6720; 1/453600; -1/47900160];
    c = cos (t);
  else
    st = sin (t);
    c = cos (t);
    h = sin (t / 2);
    a = st / t;
    b = 2 * h * h / t2;                     % (1 - cos t) / t^2, no cancellation
    da = (t * c - st) / (t2 * t);
    db = (t * st - 4 * h * h) / (t2 * t2);
  end
  W = [0, -w(3), w(2); w(3), 0, -w(1); -w(2), w(1), 0];
  R = c * eye (3) + a * W + b * (w * w');
  if nargout < 2
    return;
  end
  % Column k is d/dw(k) of c*I + a*W + b*w*w':
  %   -a*w(k)*I + da*w(k)*W + a*[e_k]x + db*w(k)*w*w' + b*(e_k*w' + w*e_k')
  % written for all k at once (d cos(t)/dw(k) = -a*w(k)); in storage order
  % (e_k*w')(:) is [w(1)*I; w(2)*I; w(3)*I] and (w*e_k')(:) blkdiag(w, w, w).
  S = [0 0 0; 0 0 1; 0 -1 0; 0 0 -1; 0 0 0; 1 0 0; 0 1 0; -1 0 0; 0 0 0];
  I = eye (3);
  z = zeros (3, 1);
  ww = w * w';
  dR = (da * W(:) + db * ww(:) - a * I(:)) * w' + a * S + ...
       b * ([w(1) * I; w(2) * I; w(3) * I] + [w, z, z; z, w, z; z, z, w]);
end

% The same for angles beyond 1e60, where t^4 below would overflow (from
% t = 1e77, and w'*w from 1.3e154): every term written with the unit axis
% n = w / t, so that the powers of t cancel before they are formed.
function [R, dR] = large_angle (w)
  t = norm (w);
  n = w / t;
  st = sin (t);
  c = cos (t);
  h = sin (t / 2);
  m = 2 * h * h;                          % 1 - cos t
  I = eye (3);
  N = [0, -n(3), n(2); n(3), 0, -n(1); -n(2), n(1), 0];
  nn = n * n';
  R = c * I + st * N + m * nn;
  dR = zeros (9, 3);
  for k = 1:3
    e = I(:, k);
    E = [0, -e(3), e(2); e(3), 0, -e(1); -e(2), e(1), 0];
    D = -st * n(k) * I + (c - st / t) * n(k) * N + (st / t) * E + ...
        (st - 2 * m / t) * n(k) * nn + (m / t) * (e * n' + n * e');
    dR(:, k) = D(:);
  end
end

function w = matrix_to_vector (R)
  E = R' * R - eye (3);
  if max (abs (E(:))) > 1e-6 || det (R) <= 0
    error ('scenemap:notRotation', ['scenemap_rotation: argument 1 (R) is ' ...
           'not a rotation matrix (orthonormal to 1e-6, determinant +1)']);
  end
  % 2 sin(t) * axis from the skew part, 2 cos(t) + 1 the trace.
  v = [R(3,2) - R(2,3); R(1,3) - R(3,1); R(2,1) - R(1,2)];
  s = sqrt (v' * v) / 2;
  c = (R(1,1) + R(2,2) + R(3,3) - 1) / 2;
  t = atan2 (s, c);
  if c > 0
    % Away from pi the skew part holds the axis to full precision.
    if s == 0
      w = zeros (3, 1);
    else
      w = (t / (2 * s)) * v;
    end
    return;
  end
  % Near pi the skew part vanishes; (R + R')/2 - cos(t) I = (1 - cos t) n n'
  % holds the axis, read from its largest column; v gives its sign.
  B = (R + R') / 2 - c * eye (3);
  [~, k] = max (diag (B));
  n = B(:, k) / sqrt (B(k, k) * (1 - c));
  n = n / sqrt (n' * n);
  if n' * v < 0
    n = -n;
  end
  w = t * n;
end

function s = size_text (x)
  s = sprintf ('%dx', size (x));
  s = ['an array of size ', s(1:end-1)];
end

%!function R = axis_angle (n, t)
%! ## The rotation by t about the unit axis n, written as the matrix of a
%! ## change of basis: independent of the formula above.
%! n = n(:) / norm (n);
%! [Q, ~] = qr ([n, randn(3, 2)]);
%! Q = Q * sign (Q(:,1)' * n);
%! if (det (Q) < 0)
%!   Q(:,3) = -Q(:,3);
%! endif
%! G = [1 0 0; 0 cos(t) -sin(t); 0 sin(t) cos(t)];
%! R = Q * G * Q';
%!endfunction

%!test  # against an independent construction, with the invariants
%! randn ("seed", 3);
%! for t = [0, 1e-12, 1e-5, 0.05, 0.0999999, 0.1, 1, 2.5, pi - 1e-7, pi]
%!   n = randn (3, 1);  n = n / norm (n);
%!   R = scenemap_rotation (t * n);
%!   ## Rounding of a handful of operations on numbers of size 1.
%!   assert (R, axis_angle (n, t), 1e-14);
%!   assert (R' * R, eye (3), 1e-15);
%!   assert (det (R), 1, 1e-15);
%!   assert (R * n, n, 1e-15);              # the axis is fixed
%! endfor
%! assert (scenemap_rotation ([0 0 0]), eye (3));

%!test  # round trip R -> w -> R at every angle, also at and near pi
%! randn ("seed", 4);
%! for t = [0, 1e-14, 1e-6, 0.3, 1.5, pi/2 + 1e-9, 3, pi - 1e-6, pi - 1e-12, pi]
%!   n = randn (3, 1);  n = n / norm (n);
%!   w = scenemap_rotation (axis_angle (n, t));
%!   ## W to the rounding of R's elements (a few eps of numbers of size
%!   ## 1); at pi, W and -W are the same rotation.
%!   if (t == pi)
%!     w = w * sign (w' * n);
%!   endif
%!   assert (w, t * n, 1e-14);
%!   assert (scenemap_rotation (w), axis_angle (n, t), 1e-14);
%! endfor
%! w = scenemap_rotation (diag ([1 -1 -1]));          # pi about x exactly
%! assert (abs (w), [pi; 0; 0]);

%!test  # dR against central differences with one Richardson step
%! randn ("seed", 5);
%! for t = [0, 1e-9, 0.05, 0.1, 0.7, 2, pi - 1e-4, 4]
%!   n = randn (3, 1);  n = n / norm (n);
%!   w = t * n;
%!   [R, dR] = scenemap_rotation (w);
%!   assert (size (dR), [9 3]);
%!   h = 1e-3;
%!   for k = 1:3
%!     e = zeros (3, 1);  e(k) = 1;
%!     c = @(h) (scenemap_rotation (w + h*e) - scenemap_rotation (w - h*e)) / (2*h);
%!     d = (4 * c (h/2) - c (h)) / 3;
%!     ## Richardson leaves a truncation of order h^4 (up to 1e-12 here,
%!     ## measured) and rounding of eps / h ~ 2e-13; a wrong term would
%!     ## be off by 1e-3 or more.
%!     assert (dR(:, k), d(:), 3e-12);
%!   endfor
%! endfor

%!test  # the chain with the camera Jacobian: d(u, v)/dw by differences
%! w = [0.2; -0.1; 0.05];
%! cam = {5e-6, 5e-6, 1, 320, 240, 0.008, 2e4};
%! [R, dR] = scenemap_rotation (w);
%! [~, ~, ~, dCam] = scenemapgrad_mex (0.1, 0.05, 0.02, cam{:}, R, [0 0 0.7]);
%! J = dCam(8:16, :).' * dR;
%! h = 1e-6;
%! for k = 1:3
%!   e = zeros (3, 1);  e(k) = h;
%!   [up, vp] = scenemap_mex (0.1, 0.05, 0.02, cam{:}, scenemap_rotation (w + e), [0 0 0.7]);
%!   [um, vm] = scenemap_mex (0.1, 0.05, 0.02, cam{:}, scenemap_rotation (w - e), [0 0 0.7]);
%!   ## Hundreds of pixels per radian; the difference's truncation
%!   ## (h^2 u'''/6) and rounding (eps u / h ~ 1e-7 px) stay below 1e-6.
%!   assert (J(:, k), [up - um; vp - vm] / (2*h), 1e-6 * norm (J(:, k)));
%! endfor

%!test  # angles beyond the range of t^4: finite, a rotation about w
%! for s = [1e80, 1e200, 1e307]
%!   ## The angle as the vector holds it: an ulp of it is many turns.
%!   w = s * [2; -1; 3] / sqrt (14);
%!   t = norm (w);
%!   n = w / t;
%!   [R, dR] = scenemap_rotation (w);
%!   assert (R' * R, eye (3), 4 * eps);
%!   assert (R * n, n, 4 * eps);
%!   assert (trace (R), 1 + 2 * cos (t), 8 * eps);
%!   ## Along the axis only the angle moves: d/dt of the rotation by t.
%!   N = [0, -n(3), n(2); n(3), 0, -n(1); -n(2), n(1), 0];
%!   D = -sin (t) * eye (3) + cos (t) * N + sin (t) * (n * n');
%!   assert (dR * n, D(:), 8 * eps);
%! endfor

%!error <one argument> scenemap_rotation ()
%!error <must be a full array> scenemap_rotation (sparse ([0.1 0.2 0.3]))
%!error <or a 3-by-3 matrix, not an array of size 1x2> scenemap_rotation ([1 2])
%!error <real and numeric> scenemap_rotation ('abc')
%!error <non-finite> scenemap_rotation ([1 NaN 0])
%!error <not a rotation> scenemap_rotation (2 * eye (3))
%!error <not a rotation> scenemap_rotation (diag ([1 1 -1]))
%!error <call it with W> [a, b] = scenemap_rotation (eye (3));
