% SCENEMAP_CALIBRATE  Calibrate the camera model from views of a target.
%
%   [CAM, INFO] = SCENEMAP_CALIBRATE(WORLD, IMAGE, DX, DY) estimates the
%   focal length f, the distortion coefficient kappa1, the principal point
%   (cx, cy), the scale factor sx and the pose (R, T) of every view from
%   observed image points of a target with known world points, by least
%   squares on the image residuals (pixels), with standard deviations.
%
%   WORLD  the target's points: a cell array of V matrices, world{v}(k, :)
%          = [X Y Z] the k-th point seen in view v; or one K-by-3 matrix
%          when every view sees the same target.
%   IMAGE  a cell array of V matrices, image{v}(k, :) = [u v] the observed
%          image point of world point k in view v (K_v-by-2, or one K-by-2
%          matrix for one view). Rows with a NaN (a corner not found) are
%          left out.
%   DX, DY the sensor's divisors (sensor length per image unit), known.
%
%   CAM is a struct with the scalars dx, dy, sx, cx, cy, f, kappa1 and the
%   poses R (3-by-3-by-V) and T (3-by-V), in the caller's world frame, so
%   that view v is reproduced by
%     scenemap_mex(X, Y, Z, cam.dx, cam.dy, cam.sx, cam.cx, cam.cy, ...
%                  cam.f, cam.kappa1, cam.R(:,:,v), cam.T(:,v))
%   Lengths are in the caller's units: f in the unit of DX and DY, T in
%   the unit of WORLD, kappa1 in (unit of f)^-2.
%
%   INFO is a struct:
%     rms         root mean square reprojection distance (pixels) over the
%                 points of all views
%     sigma       the noise per image coordinate estimated from the
%                 residuals, sqrt(sum of squares / (observations - params))
%     residuals   cell of V matrices, observed minus reprojected [u v]
%                 (K_v-by-2; NaN in the rows left out)
%     std         standard deviations: fields sx, cx, cy, f, kappa1 (0 for
%                 a parameter held fixed), rotation (3-by-V, of the rotation
%                 vectors scenemap_rotation(cam.R(:,:,v))) and T (3-by-V)
%     names       {'sx', 'cx', 'cy', 'f', 'kappa1'}, the order of:
%     covariance  the 5-by-5 covariance of those intrinsics (zero rows and
%                 columns for the fixed ones): sigma^2 (J'J)^-1 from the
%                 Jacobian J at the solution, with the poses estimated too
%     iterations  Levenberg-Marquardt iterations taken (from the start
%                 kept, see Method)
%     converged   true when the step fell below the tolerance. When false
%                 (the iteration limit, or no step reduces the residuals),
%                 SCENEMAP_CALIBRATE warns (scenemap:notConverged), CAM
%                 holds the last iterate and every standard deviation and
%                 the covariance are NaN: it is not a result.
%
%   Targets: planar (all points on one plane, e.g. a checkerboard at Z = 0)
%   or three-dimensional, one view or more. One view of a planar target
%   cannot fix the principal point: hold cx and cy ('Fix', {'cx', 'cy'})
%   and it gives f, sx and kappa1; two views or more at different angles
%   give everything. One view of a 3-D target gives everything. Views that
%   leave an estimated parameter undetermined are refused.
%
%   Points whose world X is exactly 0 count (the modules treat X == 0 as
%   absent; the world frame is shifted internally and the poses returned
%   in the caller's frame).
%
%   Options (name/value pairs, names in any case):
%     'Fix'           cell of names from 'sx', 'cx', 'cy', 'f', 'kappa1':
%                     parameters held at their start values
%     'Start'         struct with start values of any of sx, cx, cy, f,
%                     kappa1 (the default start: sx, cx, cy, f in closed
%                     form, kappa1 from 0 by a linear step; a fixed sx is
%                     1, a fixed kappa1 is 0, a fixed cx, cy the image
%                     centre, or without 'ImageSize' the observations'
%                     centroid)
%     'ImageSize'     [width height]: the image centre [width height]/2 is
%                     the start of cx, cy (default: the observations'
%                     centroid)
%     'Tolerance'     relative step size at which to stop (default 1e-10)
%     'MaxIterations' iteration limit (default 100)
%     'Verbose'       true to print the residual at every iteration
%     'Jacobian'      'analytic' (default: the camera Jacobian of
%                     SCENEMAPGRAD_MEX) or 'central' (central differences
%                     of SCENEMAP_MEX, 22 extra projections per view and
%                     iteration; for comparison)
%
%   Method: the closed-form start (for planar views the homographies and
%   the image of the absolute conic with zero skew; for 3-D targets the
%   direct linear transform; kappa1 first, as the value whose undistorted
%   observations fit those best), then Levenberg-Marquardt on the rotation vectors
%   (SCENEMAP_ROTATION), translations and the free intrinsics, with the
%   analytic Jacobian and the columns scaled to unit norm, so that any
%   units (metres, millimetres, pixels of 1 or 10 um) solve alike. Each
%   iteration projects each view once (one SCENEMAPGRAD_MEX call). A 3-D
%   target's camera matrix fixes the principal point poorly where the
%   target is shallow or nearly flat, and the iteration can settle in a
%   false minimum from there; so with a 3-D target the iteration also
%   runs from the start with the principal point held at its default,
%   and from the start of the views' best planes, and keeps the solution
%   with the smallest residual (of those within 1e-6 of it, a converged
%   one). A start whose iteration is refused is passed over while another
%   gives a solution.
%
%   Errors (identifiers): scenemap:nargin, scenemap:badArgument,
%   scenemap:sizeMismatch, scenemap:notFinite, scenemap:tooFewPoints,
%   scenemap:degenerate, scenemap:underdetermined, scenemap:badOption,
%   scenemap:noStart.
%
%   Example: ten views of a 9-by-7 board
%     [X, Y] = meshgrid(0:0.03:0.24, 0:0.03:0.18);
%     world = [X(:), Y(:), zeros(numel(X), 1)];
%     ... observe image{v} in each view v ...
%     [cam, info] = scenemap_calibrate(world, image, 5e-6, 5e-6, ...
%                                      'ImageSize', [640 480]);
%     fprintf('f = %.6g +- %.2g\n', cam.f, info.std.f);
%
%   See also SCENEMAP_ROTATION, SCENEMAP_UNDISTORT, SCENEMAPGRAD_MEX.
function [cam, info] = scenemap_calibrate (world, image, dx, dy, varargin)
  if nargin < 4
    error ('scenemap:nargin', ['scenemap_calibrate: needs WORLD, IMAGE, ' ...
           'DX and DY']);
  end
  dx = check_divisor (dx, 'DX', 3);
  dy = check_divisor (dy, 'DY', 4);
  opt = parse_options (varargin);
  [W, O, keep] = check_views (world, image);
  V = numel (W);
  names = {'sx', 'cx', 'cy', 'f', 'kappa1'};
  free = ~ismember (names, opt.fix);

  % Geometry of each view: planar or not, and points off a line.
  planar = false (1, V);
  for v = 1:V
    if size (W{v}, 1) < 4
      error ('scenemap:tooFewPoints', ['scenemap_calibrate: view %d has ' ...
             '%d usable points; a planar target needs at least 4, a 3-D ' ...
             'one 6'], v, size (W{v}, 1));
    end
    planar(v) = view_shape (W{v}, v);
    need = 6 - 2 * planar(v);
    if size (W{v}, 1) < need
      error ('scenemap:tooFewPoints', ['scenemap_calibrate: view %d has ' ...
             '%d usable points; a %s target needs at least %d'], v, ...
             size (W{v}, 1), target_kind (planar(v)), need);
    end
  end
  if V == 1 && planar(1) && (free(2) || free(3))
    error ('scenemap:underdetermined', ['scenemap_calibrate: one view of ' ...
           'a planar target cannot fix the principal point: hold it with ' ...
           '''Fix'', {''cx'', ''cy''} (its value from ''Start'' or ' ...
           '''ImageSize''), or add views']);
  end
  nobs = 0;
  for v = 1:V
    nobs = nobs + 2 * size (W{v}, 1);
  end
  npar = sum (free) + 6 * V;
  if nobs <= npar
    error ('scenemap:tooFewPoints', ['scenemap_calibrate: %d image ' ...
           'coordinates for %d parameters; more points or views are ' ...
           'needed'], nobs, npar);
  end

  % The modules skip a point with world X exactly 0. Shift X so that none
  % is, by more than the target's extent: X' = X + s, so R X + T =
  % R X' + (T - s R(:,1)). The poses are turned back at the end.
  s = 0;
  for v = 1:V
    if any (W{v}(:, 1) == 0)
      s = 1;
    end
  end
  if s
    ext = 0;
    for v = 1:V
      ext = max (ext, max (abs (W{v}(:))));
    end
    s = 3 * ext;
    for v = 1:V
      W{v}(:, 1) = W{v}(:, 1) + s;
    end
  end

  c.dx = dx;
  c.dy = dy;
  starts = closed_form_start (W, O, planar, c, opt, free);

  % Levenberg-Marquardt from each start. A start whose iteration is
  % refused (it projects to non-finite points, or its Jacobian does not fix
  % every parameter, as where points lie beyond the fold) is passed over
  % while another start gives a solution; where none does, the first
  % refusal stands. Of the solutions the one with the smallest residual is
  % kept; a converged one among those within 1e-6 of it goes first. A
  % singular damped system within an iteration is met by more damping, so
  % Octave's and MATLAB's warnings of it are silenced meanwhile.
  % Parameters: the free intrinsics, then per view the rotation vector and
  % the translation.
  saved = warning ();
  restore = onCleanup (@() warning (saved));
  ids = {'Octave:singular-matrix', 'Octave:nearly-singular-matrix', ...
         'MATLAB:singularMatrix', 'MATLAB:nearlySingularMatrix'};
  for k = 1:numel (ids)
    warning ('off', ids{k});
  end
  runs = {};
  first = [];
  for i = 1:numel (starts)
    if opt.verbose && numel (starts) > 1
      fprintf ('start %d of %d\n', i, numel (starts));
    end
    q = starts{i}.q;
    p = [q(free); reshape([starts{i}.w; starts{i}.T], [], 1)];
    try
      [p, r, J, iters, converged] = levenberg_marquardt (p, q, free, W, ...
                                                          O, c, opt);
    catch err
      if ~any (strcmp (err.identifier, {'scenemap:noStart', ...
                                         'scenemap:underdetermined'}))
        rethrow (err);
      end
      if isempty (first)
        first = err;
      end
      continue;
    end
    runs{end+1} = struct ('p', p, 'q', q, 'r', r, 'J', J, 'iters', iters, ...
                          'converged', converged, 'F', r' * r, 'start', i);
  end
  clear restore;
  if isempty (runs)
    rethrow (first);
  end
  F = cellfun (@(x) x.F, runs);
  near = find (F <= min (F) * (1 + 1e-6));
  [~, j] = max (cellfun (@(x) x.converged, runs(near)));
  best = runs{near(j)};
  if opt.verbose && numel (starts) > 1
    fprintf ('kept the solution of start %d\n', best.start);
  end
  [p, r, J, iters, converged] = deal (best.p, best.r, best.J, best.iters, ...
                                      best.converged);
  [q, w, T] = unpack (p, best.q, free, V);

  % Covariance sigma^2 (J'J)^-1 through the QR factor of the scaled
  % Jacobian.
  dof = nobs - npar;
  sigma = sqrt ((r' * r) / dof);
  D = sqrt (sum (J .^ 2, 1));
  D(D == 0) = 1;
  [~, Rq] = qr (bsxfun (@rdivide, J, D), 0);
  Ri = Rq \ eye (npar);
  C = (sigma ^ 2) * ((Ri * Ri') ./ (D' * D));
  if ~converged
    C(:) = NaN;
  end

  cam.dx = dx;
  cam.dy = dy;
  for i = 1:5
    cam.(names{i}) = q(i);
  end
  cam.R = zeros (3, 3, V);
  cam.T = zeros (3, V);
  info.rms = 0;
  info.sigma = sigma;
  info.residuals = cell (1, V);
  info.std = struct ();
  info.names = names;
  info.covariance = zeros (5);
  fi = find (free);
  info.covariance(fi, fi) = C(1:numel (fi), 1:numel (fi));
  for i = 1:5
    info.std.(names{i}) = sqrt (info.covariance(i, i));
  end
  info.std.rotation = zeros (3, V);
  info.std.T = zeros (3, V);
  sq = 0;
  npts = 0;
  for v = 1:V
    [R, dR] = scenemap_rotation (w(:, v));
    cam.R(:, :, v) = R;
    cam.T(:, v) = T(:, v) + s * R(:, 1);
    % The translation in the caller's frame depends on w through R(:,1)
    % (elements 1 to 3 of R(:)).
    k = numel (fi) + 6 * (v - 1) + (1:6);
    G = [eye(3), zeros(3); s * dR(1:3, :), eye(3)];
    Cv = G * C(k, k) * G';
    d = sqrt (diag (Cv));
    info.std.rotation(:, v) = d(1:3);
    info.std.T(:, v) = d(4:6);
    [u, vv] = project (W{v}, c, q, R, T(:, v));
    res = NaN (numel (keep{v}), 2);
    res(keep{v}, :) = O{v} - [u, vv];
    info.residuals{v} = res;
    sq = sq + sum (sum ((O{v} - [u, vv]) .^ 2));
    npts = npts + size (O{v}, 1);
  end
  info.rms = sqrt (sq / npts);
  info.iterations = iters;
  info.converged = converged;
  if ~converged
    warning ('scenemap:notConverged', ['scenemap_calibrate: did not ' ...
             'converge in %d iterations (rms %.3g px); the result is the ' ...
             'last iterate, not a solution'], iters, info.rms);
  end
end

% ---------------------------------------------------------------------
% Arguments

% The divisor as a double (the solve runs in double whatever its class).
function x = check_divisor (x, name, pos)
  if ~isnumeric (x) || ~isreal (x) || issparse (x) || ~isscalar (x) || ...
     ~isfinite (x) || x == 0
    error ('scenemap:badArgument', ['scenemap_calibrate: argument %d ' ...
           '(%s) must be a finite non-zero real full scalar'], pos, name);
  end
  x = double (x);
end

function opt = parse_options (args)
  opt.fix = {};
  opt.start = struct ();
  opt.imagesize = [];
  opt.tol = 1e-10;
  opt.maxit = 100;
  opt.verbose = false;
  opt.central = false;
  if mod (numel (args), 2) ~= 0
    error ('scenemap:badOption', ['scenemap_calibrate: options come in ' ...
           'name/value pairs']);
  end
  names = {'sx', 'cx', 'cy', 'f', 'kappa1'};
  for i = 1:2:numel (args)
    name = args{i};
    val = args{i + 1};
    if ~ischar (name)
      error ('scenemap:badOption', ['scenemap_calibrate: option names ' ...
             'must be strings (argument %d)'], i + 4);
    end
    switch lower (name)
      case 'fix'
        if ischar (val)
          val = {val};
        end
        if ~iscellstr (val) || ~all (ismember (val, names))
          error ('scenemap:badOption', ['scenemap_calibrate: ''Fix'' ' ...
                 'takes a cell of names from sx, cx, cy, f, kappa1']);
        end
        opt.fix = val;
      case 'start'
        if ~isstruct (val) || ~isscalar (val)
          error ('scenemap:badOption', ['scenemap_calibrate: ''Start'' ' ...
                 'takes a struct']);
        end
        fields = fieldnames (val);
        for k = 1:numel (fields)
          x = val.(fields{k});
          if ~ismember (fields{k}, names)
            error ('scenemap:badOption', ['scenemap_calibrate: ''Start'' ' ...
                   'has the field %s; it takes sx, cx, cy, f, kappa1'], ...
                   fields{k});
          end
          if ~isnumeric (x) || ~isreal (x) || ~isscalar (x) || ~isfinite (x)
            error ('scenemap:badOption', ['scenemap_calibrate: ' ...
                   'Start.%s must be a finite real scalar'], fields{k});
          end
          val.(fields{k}) = double (x);
        end
        opt.start = val;
      case 'imagesize'
        if ~isnumeric (val) || ~isreal (val) || numel (val) ~= 2 || ...
           ~all (isfinite (val)) || any (val <= 0)
          error ('scenemap:badOption', ['scenemap_calibrate: ' ...
                 '''ImageSize'' takes [width height]']);
        end
        opt.imagesize = double (val(:)');
      case 'tolerance'
        if ~isnumeric (val) || ~isscalar (val) || ~(val > 0 && val < 1)
          error ('scenemap:badOption', ['scenemap_calibrate: ' ...
                 '''Tolerance'' takes a number between 0 and 1']);
        end
        opt.tol = double (val);
      case 'maxiterations'
        if ~isnumeric (val) || ~isscalar (val) || ~(val >= 0) || ...
           val ~= round (val)
          error ('scenemap:badOption', ['scenemap_calibrate: ' ...
                 '''MaxIterations'' takes a count']);
        end
        opt.maxit = double (val);
      case 'verbose'
        if ~(islogical (val) || (isnumeric (val) && isreal (val))) || ...
           ~isscalar (val) || isnan (val)
          error ('scenemap:badOption', ['scenemap_calibrate: ' ...
                 '''Verbose'' takes true or false']);
        end
        opt.verbose = logical (val);
      case 'jacobian'
        if ~ischar (val) || ~any (strcmpi (val, {'analytic', 'central'}))
          error ('scenemap:badOption', ['scenemap_calibrate: ' ...
                 '''Jacobian'' is ''analytic'' or ''central''']);
        end
        opt.central = strcmpi (val, 'central');
      otherwise
        error ('scenemap:badOption', ['scenemap_calibrate: unknown option ' ...
               '''%s'''], name);
    end
  end
  if isfield (opt.start, 'f') && opt.start.f == 0
    error ('scenemap:badOption', 'scenemap_calibrate: Start.f is 0');
  end
  if isfield (opt.start, 'sx') && opt.start.sx == 0
    error ('scenemap:badOption', 'scenemap_calibrate: Start.sx is 0');
  end
end

% The views as cells of finite world points (K_v-by-3) and their observed
% points (K_v-by-2), without the rows that have a NaN; keep{v} marks the
% rows kept.
function [W, O, keep] = check_views (world, image)
  if ~iscell (image)
    image = {image};
  end
  V = numel (image);
  if V == 0
    error ('scenemap:badArgument', ['scenemap_calibrate: argument 2 ' ...
           '(IMAGE) holds no views']);
  end
  if iscell (world)
    if numel (world) ~= V
      error ('scenemap:sizeMismatch', ['scenemap_calibrate: argument 1 ' ...
             '(WORLD) has %d views but IMAGE has %d'], numel (world), V);
    end
  else
    world = repmat ({world}, 1, V);
  end
  W = cell (1, V);
  O = cell (1, V);
  keep = cell (1, V);
  for v = 1:V
    x = world{v};
    y = image{v};
    if ~isnumeric (x) || ~isreal (x) || issparse (x) || ndims (x) ~= 2 || ...
       size (x, 2) ~= 3
      error ('scenemap:badArgument', ['scenemap_calibrate: WORLD (view ' ...
             '%d) must be a real K-by-3 matrix [X Y Z]'], v);
    end
    if ~isnumeric (y) || ~isreal (y) || issparse (y) || ndims (y) ~= 2 || ...
       size (y, 2) ~= 2
      error ('scenemap:badArgument', ['scenemap_calibrate: IMAGE{%d} ' ...
             'must be a real K-by-2 matrix [u v]'], v);
    end
    if size (x, 1) ~= size (y, 1)
      error ('scenemap:sizeMismatch', ['scenemap_calibrate: IMAGE{%d} has ' ...
             '%d rows but WORLD (view %d) has %d'], v, size (y, 1), v, ...
             size (x, 1));
    end
    if ~all (isfinite (x(:)))
      error ('scenemap:notFinite', ['scenemap_calibrate: WORLD (view %d) ' ...
             'has non-finite points'], v);
    end
    k = ~any (isnan (y), 2);
    if any (any (isinf (y(k, :))))
      error ('scenemap:notFinite', ['scenemap_calibrate: IMAGE{%d} has ' ...
             'infinite coordinates'], v);
    end
    W{v} = double (x(k, :));
    O{v} = double (y(k, :));
    keep{v} = k;
  end
end

% True for a planar set of points (the smallest extent across the best
% plane below 1e-9 of the largest); an error for points on a line.
function planar = view_shape (X, v)
  if size (X, 1) < 3
    sv = [0 0 0];
  else
    sv = svd (bsxfun (@minus, X, mean (X, 1)));
    sv(end+1:3) = 0;
  end
  if sv(1) == 0 || sv(2) <= 1e-9 * sv(1)
    error ('scenemap:degenerate', ['scenemap_calibrate: the world points ' ...
           'of view %d lie on a line (or coincide)'], v);
  end
  planar = sv(3) <= 1e-9 * sv(1);
end

function s = target_kind (planar)
  if planar
    s = 'planar';
  else
    s = '3-D';
  end
end

% ---------------------------------------------------------------------
% The closed-form start

% The starts of the iteration, a cell of structs with fields q, w, T.
% Planar views give one. A 3-D target's camera matrix pins the principal
% point down poorly where the target is shallow or nearly flat, and a start
% from there can lead the iteration to a false minimum; so for 3-D targets
% the principal point is also held at its default start, and the views are
% also taken by their best planes, each a further start.
function starts = closed_form_start (W, O, planar, c, opt, free)
  st = opt.start;
  % Known: given, or held at its default start (sx 1, cx and cy the image
  % centre, kappa1 0); a held f without a given value is estimated here.
  known = isfield (st, {'sx', 'cx', 'cy', 'f', 'kappa1'}) | ...
          (~free & [true, true, true, false, true]);
  q = [1; 0; 0; 0; 0];
  if ~isempty (opt.imagesize)
    q(2:3) = opt.imagesize(:) / 2;
  else
    all_obs = cat (1, O{:});
    q(2:3) = mean (all_obs, 1)';
  end
  names = {'sx', 'cx', 'cy', 'f', 'kappa1'};
  for i = 1:5
    if isfield (st, names{i})
      q(i) = st.(names{i});
    end
  end
  tries = {planar, known};
  if ~all (planar)
    held = known;
    held(2:3) = true;
    if ~(known(2) && known(3))
      tries(end+1, :) = {planar, held};
    end
    tries(end+1, :) = {true(size (planar)), held};
  end
  % A start that finds no f is passed over while another does.
  starts = {};
  for i = 1:size (tries, 1)
    try
      [q1, w, T] = one_start (W, O, tries{i, 1}, c, q, tries{i, 2});
    catch err
      if ~strcmp (err.identifier, 'scenemap:noStart')
        rethrow (err);
      end
      if i == 1
        first = err;
      end
      continue;
    end
    starts{end+1} = struct ('q', q1, 'w', w, 'T', T);
  end
  if isempty (starts)
    rethrow (first);
  end
end

% One start from the start values q, those marked known held.
function [q, w, T] = one_start (W, O, planar, c, q, known)
  V = numel (W);
  % kappa1 first: with the right kappa1 the undistorted observations are
  % an exact projective image of the target (a homography of a plane, a
  % camera matrix of a 3-D target), whatever the other intrinsics; search
  % for the kappa1 whose undistorted points fit best. The principal point
  % is the centre of the distortion: where a 3-D target's camera matrix
  % estimates it, search again about that estimate.
  rounds = 1 + (~all (planar) && ~(known(2) && known(3)));
  for round = 1:rounds
    if ~known(5)
      q(5) = kappa_search (W, O, planar, c, q);
    end
    U = cell (1, V);
    for v = 1:V
      U{v} = undistort_pixels (O{v}, c, q);
    end
    [q, w, T] = pinhole_start (W, U, planar, c, q, known);
  end
end

% Observed pixels to the pixels of the same camera without distortion.
function U = undistort_pixels (O, c, q)
  xd = (O(:, 1) - q(2)) * c.dx / q(1);
  yd = (O(:, 2) - q(3)) * c.dy;
  g = 1 + q(5) * (xd .* xd + yd .* yd);
  U = [q(1) * (xd .* g) / c.dx + q(2), (yd .* g) / c.dy + q(3)];
end

% The kappa1 that minimizes the projective fit's residual, searched over
% t = kappa1 * rd^2 at the largest observed radius from -0.5 (the image
% corner pulled out by a third) to 1 (pushed in by half): a grid, then a
% golden-section search about its best point.
function k = kappa_search (W, O, planar, c, q)
  % Three views with the most points fix it well enough for a start, at a
  % third of the cost of ten.
  [~, order] = sort (cellfun (@(x) size (x, 1), W), 'descend');
  keep = order(1:min (3, numel (W)));
  W = W(keep);
  O = O(keep);
  planar = planar(keep);
  r2 = 0;
  for v = 1:numel (W)
    xd = (O{v}(:, 1) - q(2)) * c.dx / q(1);
    yd = (O{v}(:, 2) - q(3)) * c.dy;
    r2 = max (r2, max (xd .* xd + yd .* yd));
  end
  if r2 == 0
    k = 0;
    return;
  end
  t = linspace (-0.5, 1, 11);
  e = zeros (size (t));
  for i = 1:numel (t)
    e(i) = fit_residual (W, O, planar, c, q, t(i) / r2);
  end
  [~, i] = min (e);
  a = t(max (i - 1, 1));
  b = t(min (i + 1, numel (t)));
  g = (sqrt (5) - 1) / 2;
  x1 = b - g * (b - a);
  x2 = a + g * (b - a);
  e1 = fit_residual (W, O, planar, c, q, x1 / r2);
  e2 = fit_residual (W, O, planar, c, q, x2 / r2);
  for i = 1:20                            % the bracket to 7e-5 of itself
    if e1 < e2
      b = x2;  x2 = x1;  e2 = e1;
      x1 = b - g * (b - a);
      e1 = fit_residual (W, O, planar, c, q, x1 / r2);
    else
      a = x1;  x1 = x2;  e1 = e2;
      x2 = a + g * (b - a);
      e2 = fit_residual (W, O, planar, c, q, x2 / r2);
    end
  end
  k = (a + b) / 2 / r2;
end

% The residual of the projective fit to the observations undistorted with
% kappa1 = k, relative to their spread, summed over the views.
function e = fit_residual (W, O, planar, c, q, k)
  q(5) = k;
  e = 0;
  for v = 1:numel (W)
    U = undistort_pixels (O{v}, c, q);
    if planar(v)
      [H, E, cen] = plane_homography (W{v}, U);
      x = [bsxfun(@minus, W{v}, cen) * E(:, 1:2), ones(size (U, 1), 1)] * H';
    else
      P = camera_matrix (W{v}, U);
      x = [W{v}, ones(size (U, 1), 1)] * P';
    end
    d = x(:, 1:2) ./ [x(:, 3), x(:, 3)] - U;
    m = bsxfun (@minus, U, mean (U, 1));
    e = e + sum (d(:) .^ 2) / sum (m(:) .^ 2);
  end
end

% A pinhole camera (fu = sx f / dx, fv = f / dy, principal point, no skew)
% and the poses, from the undistorted observations U.
function [q, w, T] = pinhole_start (W, U, planar, c, q, known)
  V = numel (W);
  H = cell (1, V);
  E = cell (1, V);
  cen = cell (1, V);
  P = cell (1, V);
  K3 = zeros (4, 0);
  for v = 1:V
    if planar(v)
      [H{v}, E{v}, cen{v}] = plane_homography (W{v}, U{v});
    else
      P{v} = camera_matrix (W{v}, U{v});
      K = intrinsics_of (P{v});
      if isempty (K)
        % A target too flat for the linear estimate: use its best plane.
        planar(v) = true;
        [H{v}, E{v}, cen{v}] = plane_homography (W{v}, U{v});
      else
        K3(:, end+1) = [K(1,1); K(2,2); K(1,3); K(2,3)];
      end
    end
  end
  if ~isempty (K3)
    k = median (K3, 2);
  else
    % The principal point stays at its start here: the conic's estimate
    % of it is the first to suffer from noise and from what remains of the
    % distortion (hundreds of pixels off at 0.1 px noise and 20 %
    % distortion), while f and sx do not; the iteration then finds it.
    kn = known;
    kn(2:3) = true;
    k = conic_intrinsics (H(planar), c, q, kn);
    if ~all (isfinite (k)) && ~kn(1)
      kn(1) = true;
      k = conic_intrinsics (H(planar), c, q, kn);
    end
  end
  % k = [fu; fv; cx; cy]; what is known stays.
  if ~known(2)
    q(2) = k(3);
  end
  if ~known(3)
    q(3) = k(4);
  end
  if ~known(4)
    if known(1)
      q(4) = (k(1) * c.dx / q(1) + k(2) * c.dy) / 2;
    else
      q(4) = k(2) * c.dy;
    end
  end
  if ~known(1)
    q(1) = k(1) * c.dx / q(4);
  end
  if ~(isfinite (q(4)) && q(4) ~= 0 && isfinite (q(1)) && q(1) ~= 0)
    error ('scenemap:noStart', ['scenemap_calibrate: no start for f from ' ...
           'these views; give one with ''Start'', struct(''f'', ...)']);
  end
  K = [q(1) * q(4) / c.dx, 0, q(2); 0, q(4) / c.dy, q(3); 0, 0, 1];
  w = zeros (3, V);
  T = zeros (3, V);
  for v = 1:V
    if planar(v)
      B = K \ H{v};
      l = 2 / (norm (B(:, 1)) + norm (B(:, 2)));
      if B(3, 3) < 0
        l = -l;
      end
      r1 = l * B(:, 1);
      r2 = l * B(:, 2);
      Rp = nearest_rotation ([r1, r2, cross(r1, r2)]);
      R = Rp * E{v}';
      t = l * B(:, 3) - R * cen{v}';
    else
      M = K \ P{v};
      [A, S, Bv] = svd (M(:, 1:3));
      R = A * Bv';
      if det (R) < 0
        R = -R;
        M = -M;
      end
      t = M(:, 4) * (3 / trace (S));
    end
    w(:, v) = scenemap_rotation (R);
    T(:, v) = t;
  end
end

function R = nearest_rotation (M)
  [A, ~, B] = svd (M);
  R = A * diag ([1, 1, sign(det (A * B'))]) * B';
end

% Points normalized to centroid 0 and mean distance sqrt(n): N * [x; 1].
function [xn, N] = normalize_points (x)
  n = size (x, 2);
  m = mean (x, 1);
  d = mean (sqrt (sum (bsxfun (@minus, x, m) .^ 2, 2)));
  a = sqrt (n) / d;
  N = [a * eye(n), -a * m'; zeros(1, n), 1];
  xn = bsxfun (@minus, x, m) * a;
end

% The homography from plane coordinates to pixels (direct linear transform
% on normalized points), the plane's axes E (a rotation; columns 1 and 2 in
% the plane) and its origin cen.
function [H, E, cen] = plane_homography (X, U)
  cen = mean (X, 1);
  [~, ~, E] = svd (bsxfun (@minus, X, cen), 0);
  if det (E) < 0
    E(:, 3) = -E(:, 3);
  end
  ab = bsxfun (@minus, X, cen) * E(:, 1:2);
  [a, Na] = normalize_points (ab);
  [b, Nb] = normalize_points (U);
  o = ones (size (a, 1), 1);
  z = zeros (size (a, 1), 3);
  A = [a, o, z, bsxfun(@times, -b(:, 1), [a, o]); ...
       z, a, o, bsxfun(@times, -b(:, 2), [a, o])];
  [~, ~, Vs] = svd (A, 0);
  H = Nb \ reshape (Vs(:, 9), 3, 3)' * Na;
end

% The 3-by-4 camera matrix of a 3-D target (direct linear transform),
% signed so that the points lie in front.
function P = camera_matrix (X, U)
  [a, Na] = normalize_points (X);
  [b, Nb] = normalize_points (U);
  o = ones (size (a, 1), 1);
  z = zeros (size (a, 1), 4);
  A = [a, o, z, bsxfun(@times, -b(:, 1), [a, o]); ...
       z, a, o, bsxfun(@times, -b(:, 2), [a, o])];
  [~, ~, Vs] = svd (A, 0);
  P = Nb \ reshape (Vs(:, 12), 4, 3)' * Na;
  if det (P(:, 1:3)) < 0
    P = -P;
  end
end

% The upper-triangular K of P(:, 1:3) = K R from the Cholesky factor of
% (M M')^-1 = K^-T K^-1; empty when P has no such form.
function K = intrinsics_of (P)
  M = P(:, 1:3);
  K = [];
  A = M * M';
  if ~(rcond (A) > eps)
    return;
  end
  [Ui, bad] = chol (inv (A));
  if bad || ~all (isfinite (Ui(:)))
    return;
  end
  K = inv (Ui);
  K = K / K(3, 3);
  if K(1, 1) <= 0 || K(2, 2) <= 0
    K = [];
  end
end

% fu, fv, cx, cy from the homographies of planar views: the image of the
% absolute conic, omega = K^-T K^-1, with zero skew, satisfies
% h1' omega h2 = 0 and h1' omega h1 = h2' omega h2 for every view. The
% pixels are normalized about the start of the principal point first.
% Where sx is known, omega22 = (fu/fv)^2 omega11; where the principal point
% is known it is the normalization's centre and omega13 = omega23 = 0.
function k = conic_intrinsics (H, c, q, known)
  sc = 0;
  for v = 1:numel (H)
    sc = max (sc, norm (H{v}(1:2, 3) / H{v}(3, 3) - q(2:3)));
  end
  if sc == 0
    sc = 1;
  end
  N = [1 / sc, 0, -q(2) / sc; 0, 1 / sc, -q(3) / sc; 0, 0, 1];
  A = zeros (2 * numel (H), 5);
  for v = 1:numel (H)
    h = N * H{v};
    A(2 * v - 1, :) = conic_row (h(:, 1), h(:, 2));
    A(2 * v, :) = conic_row (h(:, 1), h(:, 1)) - conic_row (h(:, 2), h(:, 2));
  end
  pp_known = known(2) && known(3);
  rho_known = known(1);
  cols = 1:5;
  if rho_known
    rho = q(1) * c.dy / c.dx;                % fu / fv
    A(:, 1) = A(:, 1) + rho ^ 2 * A(:, 2);
    cols(2) = 0;
  end
  if pp_known
    cols(3:4) = 0;
  end
  cols = cols(cols > 0);
  b = zeros (5, 1);
  if known(4) && rho_known && pp_known
    k = [q(1) * q(4) / c.dx; q(4) / c.dy; q(2); q(3)];
    return;
  end
  [~, ~, Vs] = svd (A(:, cols));
  b(cols) = Vs(:, end);
  if rho_known
    b(2) = rho ^ 2 * b(1);
  end
  % omega = l * [1/a^2 0 -p/a^2; 0 1/b^2 -q/b^2; . . p^2/a^2+q^2/b^2+1]
  p = -b(3) / b(1);
  r = -b(4) / b(2);
  l = b(5) - b(3) ^ 2 / b(1) - b(4) ^ 2 / b(2);
  k = [sqrt(l / b(1)) * sc; sqrt(l / b(2)) * sc; q(2) + p * sc; ...
       q(3) + r * sc];
  if ~all (isfinite (k)) || l / b(1) <= 0 || l / b(2) <= 0
    k = NaN (4, 1);
  end
end

% The coefficients of h' omega g in [w11 w22 w13 w23 w33] (w12 = 0).
function a = conic_row (h, g)
  a = [h(1) * g(1), h(2) * g(2), h(1) * g(3) + h(3) * g(1), ...
       h(2) * g(3) + h(3) * g(2), h(3) * g(3)];
end

% ---------------------------------------------------------------------
% Levenberg-Marquardt

function [q, w, T] = unpack (p, q, free, V)
  nf = sum (free);
  q(free) = p(1:nf);
  x = reshape (p(nf + 1:end), 6, V);
  w = x(1:3, :);
  T = x(4:6, :);
end

function [u, v] = project (X, c, q, R, T)
  [u, v] = scenemap_mex (X(:, 1), X(:, 2), X(:, 3), c.dx, c.dy, q(1), ...
                         q(2), q(3), q(4), q(5), R, T);
end

% Residuals (model minus observed, u and v of each point in turn) and the
% Jacobian by the parameters.
function [r, J] = residuals (p, q, free, W, O, c, central)
  V = numel (W);
  [q, w, T] = unpack (p, q, free, V);
  nf = sum (free);
  n = 0;
  for v = 1:V
    n = n + 2 * size (W{v}, 1);
  end
  r = zeros (n, 1);
  J = zeros (n, numel (p));
  row = 0;
  for v = 1:V
    X = W{v};
    K = size (X, 1);
    rows = row + (1:2 * K);
    cols = nf + 6 * (v - 1) + (1:6);
    [R, dR] = scenemap_rotation (w(:, v));
    if central
      [u, vv] = project (X, c, q, R, T(:, v));
      [Ji, Jp] = central_jacobian (X, c, q, free, w(:, v), T(:, v));
    else
      [u, vv, ~, dCam] = scenemapgrad_mex (X(:, 1), X(:, 2), X(:, 3), ...
                                           c.dx, c.dy, q(1), q(2), q(3), ...
                                           q(4), q(5), R, T(:, v));
      % dCam(j, i, k): output i (u, v) of point k by parameter j:
      % 3 sx, 4 cx, 5 cy, 6 f, 7 kappa1, 8..16 R(:), 17..19 T.
      G = reshape (dCam, 19, 2 * K);
      idx = 3:7;
      Ji = G(idx(free), :)';
      Jp = [G(8:16, :)' * dR, G(17:19, :)'];
    end
    r(rows) = reshape ([u - O{v}(:, 1), vv - O{v}(:, 2)]', [], 1);
    J(rows, 1:nf) = Ji;
    J(rows, cols) = Jp;
    row = row + 2 * K;
  end
end

% Central differences of scenemap_mex by the free intrinsics and the pose.
function [Ji, Jp] = central_jacobian (X, c, q, free, w, T)
  K = size (X, 1);
  typical = [1; 1; 1; abs(q(4)); 1 / q(4) ^ 2];
  fi = find (free);
  Ji = zeros (2 * K, numel (fi));
  step = 6e-6;                             % about eps^(1/3)
  for j = 1:numel (fi)
    i = fi(j);
    h = step * max (abs (q(i)), typical(i));
    qp = q;
    qp(i) = q(i) + h;
    qm = q;
    qm(i) = q(i) - h;
    Ji(:, j) = difference (X, c, qp, qm, w, w, T, T, h);
  end
  Jp = zeros (2 * K, 6);
  for j = 1:3
    e = zeros (3, 1);
    e(j) = step;
    Jp(:, j) = difference (X, c, q, q, w + e, w - e, T, T, step);
    e(j) = step * max (norm (T), 1e-300);
    Jp(:, 3 + j) = difference (X, c, q, q, w, w, T + e, T - e, e(j));
  end
end

function d = difference (X, c, qp, qm, wp, wm, Tp, Tm, h)
  [up, vp] = project (X, c, qp, scenemap_rotation (wp), Tp);
  [um, vm] = project (X, c, qm, scenemap_rotation (wm), Tm);
  d = reshape ([up - um, vp - vm]', [], 1) / (2 * h);
end

% Rotation vectors beyond pi turned to the equivalent one below it, so
% that the parameters stay away from the vector's singularity at 2 pi.
function p = wrap_rotations (p, nf, V)
  for v = 1:V
    k = nf + 6 * (v - 1) + (1:3);
    t = norm (p(k));
    if t > pi
      p(k) = p(k) * (1 - 2 * pi / t);
    end
  end
end

function [p, r, J, it, converged] = levenberg_marquardt (p, q, free, W, ...
                                                           O, c, opt)
  V = numel (W);
  nf = sum (free);
  [r, J] = residuals (p, q, free, W, O, c, opt.central);
  if ~all (isfinite (r)) || ~all (isfinite (J(:)))
    error ('scenemap:noStart', ['scenemap_calibrate: the start projects ' ...
           'to non-finite points; give a start with ''Start''']);
  end
  % Columns scaled to unit norm (the largest norm seen so far), so that the
  % damping and the step test do not depend on the parameters' units.
  D = sqrt (sum (J .^ 2, 1))';
  D(D == 0) = 1;
  [~, Rq] = qr (bsxfun (@rdivide, J, D'), 0);
  if rcond (Rq) < 1e-12
    error ('scenemap:underdetermined', ['scenemap_calibrate: the views do ' ...
           'not fix every estimated parameter; hold some with ''Fix'' or ' ...
           'add views at other angles']);
  end
  F = r' * r;
  lambda = 1e-3;
  nu = 2;
  converged = false;
  it = 0;
  np = numel (p);
  while it < opt.maxit
    it = it + 1;
    Js = bsxfun (@rdivide, J, D');
    g = Js' * r;
    % The damped step from the normal equations of the scaled columns
    % (Js' Js + lambda I) ds = -Js' r: with unit columns they stay well
    % conditioned, and the small square system (65 unknowns for ten views)
    % is much cheaper than a least-squares solve of the stacked one.
    A = Js' * Js;
    A(1:np + 1:end) = A(1:np + 1:end) + lambda;
    ds = -(A \ g);
    dp = ds ./ D;
    small = norm (ds) <= opt.tol * (norm (D .* p) + opt.tol);
    pn = wrap_rotations (p + dp, nf, V);
    [rn, Jn] = residuals (pn, q, free, W, O, c, opt.central);
    Fn = rn' * rn;
    % The reduction the damped linear model predicts: ds' (lambda ds - g).
    pred = ds' * (lambda * ds - g);
    if opt.verbose
      fprintf ('%4d  rms %.6g px  lambda %.2g  step %.2g\n', it, ...
               sqrt (F / (numel (r) / 2)), lambda, norm (ds));
    end
    if isfinite (Fn) && all (isfinite (Jn(:))) && Fn <= F
      rho = (F - Fn) / pred;
      p = pn;
      r = rn;
      J = Jn;
      F = Fn;
      D = max (D, sqrt (sum (J .^ 2, 1))');
      lambda = lambda * max (1 / 3, 1 - (2 * rho - 1) ^ 3);
      nu = 2;
    else
      lambda = lambda * nu;
      nu = 2 * nu;
    end
    if small || F == 0
      converged = true;
      break;
    end
    if lambda > 1e16
      break;
    end
  end
end

%!shared board, cam0, views
%! ## A 9-by-7 board of 30 mm squares whose first corner is at (0, 0): 7 of
%! ## its 63 corners have world X exactly 0.
%! [bx, by] = meshgrid (0.03 * (0:8), 0.03 * (0:6));
%! board = [bx(:), by(:), zeros(63, 1)];
%! cam0 = struct ("dx", 5e-6, "dy", 5.5e-6, "sx", 1.02, "cx", 331, ...
%!                "cy", 247, "f", 0.008, "kappa1", 3e4);
%! ## Poses 0.5 to 0.9 m away, tilted 15 to 45 degrees.
%! views = {[0.35 0.1 0.05], [-0.3 0.25 -0.1], [0.1 -0.5 0.2], ...
%!          [-0.45 -0.2 0.3], [0.2 0.4 -0.3], [-0.1 -0.3 0.6]};

%!function uv = observe (c, X, w, T)
%! ## The model written out, with the distorted radius from Newton's method
%! ## on kappa1 rd^3 + rd = ru (not the modules).
%! t = norm (w);  n = w(:) / max (t, realmin);
%! K = [0 -n(3) n(2); n(3) 0 -n(1); -n(2) n(1) 0];
%! R = eye (3) + sin (t) * K + (1 - cos (t)) * K * K;
%! P = X * R' + T(:)';
%! xu = c.f * P(:,1) ./ P(:,3);  yu = c.f * P(:,2) ./ P(:,3);
%! ru = hypot (xu, yu);  rd = ru;
%! for i = 1:60
%!   rd = rd - (c.kappa1 * rd.^3 + rd - ru) ./ (3 * c.kappa1 * rd.^2 + 1);
%! endfor
%! s = ones (size (ru));  s(ru > 0) = rd(ru > 0) ./ ru(ru > 0);
%! uv = [c.sx * xu .* s / c.dx + c.cx, yu .* s / c.dy + c.cy];
%!endfunction

%!function [img, T] = shoot (c, X, views)
%! ## Each view looks at the board's centre from 0.5 to 0.9 m.
%! img = cell (1, numel (views));  T = zeros (3, numel (views));
%! for v = 1:numel (views)
%!   t = norm (views{v});  n = views{v}(:) / t;
%!   K = [0 -n(3) n(2); n(3) 0 -n(1); -n(2) n(1) 0];
%!   R = eye (3) + sin (t) * K + (1 - cos (t)) * K * K;
%!   T(:, v) = [0; 0; 0.5 + 0.08 * v] - R * mean (X, 1)';
%!   img{v} = observe (c, X, views{v}, T(:, v));
%! endfor
%!endfunction

%!test  # noiseless planar views: the true camera, X = 0 corners included
%! [img, T] = shoot (cam0, board, views);
%! [cam, info] = scenemap_calibrate (board, img, cam0.dx, cam0.dy, ...
%!                                   "ImageSize", [640 480]);
%! assert (info.converged);
%! ## Exact data: only rounding in the solve remains (measured ~1e-13).
%! for name = {"sx", "cx", "cy", "f", "kappa1"}
%!   assert (cam.(name{1}), cam0.(name{1}), -1e-9);
%! endfor
%! assert (cam.T, T, 1e-9 * norm (T(:, 1)));
%! for v = 1:numel (views)
%!   assert (scenemap_rotation (cam.R(:,:,v)), views{v}(:), 1e-9);
%! endfor
%! assert (info.rms < 1e-8);
%! ## The poses reproduce the views through the module in the caller's
%! ## frame; the X = 0 corners are absent there and project to 0.
%! [u, v] = scenemap_mex (board(:,1), board(:,2), board(:,3), cam.dx, ...
%!                        cam.dy, cam.sx, cam.cx, cam.cy, cam.f, ...
%!                        cam.kappa1, cam.R(:,:,2), cam.T(:,2));
%! on = board(:,1) ~= 0;
%! assert ([u(on), v(on)], img{2}(on,:), 1e-8);

%!test  # a 3-D target in millimetres, one view, every intrinsic free
%! [gx, gy, gz] = meshgrid (10 + 40 * (0:4), 5 + 40 * (0:3), 30 * (0:2));
%! X = [gx(:), gy(:), gz(:)];
%! c = struct ("dx", 0.01, "dy", 0.01, "sx", 0.98, "cx", 510, "cy", 390, ...
%!             "f", 12, "kappa1", -4e-4);
%! T = [-90; -60; 700];
%! img = {observe(c, X, [0.3 -0.4 0.1], T)};
%! cam = scenemap_calibrate ({X}, img, c.dx, c.dy);
%! for name = {"sx", "cx", "cy", "f", "kappa1"}
%!   assert (cam.(name{1}), c.(name{1}), -1e-9);
%! endfor
%! assert (cam.T, T, 1e-9 * 700);

%!test  # shallow and nearly flat targets: the true camera from exact views
%! ## One view of a target 0.1 m deep, off the axis, 4 to 15 % barrel
%! ## distortion: its camera matrix puts the principal point 400 px off.
%! [gx, gy, gz] = meshgrid (0.01 + 0.03 * (0:4), 0.03 * (0:3), 0.05 * (0:2));
%! X = [gx(:), gy(:), gz(:)];
%! w = [0.3 -0.4 0];
%! T = [0.03; -0.02; 0.5] - scenemap_rotation (w) * mean (X, 1)';
%! img = {observe(cam0, X, w, T)};
%! ## Four views of a board whose corners lie up to 3 um off its plane.
%! randn ("state", 1);
%! B = board + [zeros(63, 2), 1e-6 * randn(63, 1)];
%! for target = {{X, img}, {B, shoot(cam0, B, views(1:4))}}
%!   [cam, info] = scenemap_calibrate (target{1}{1}, target{1}{2}, ...
%!                                     cam0.dx, cam0.dy);
%!   assert (info.converged);
%!   assert (info.rms < 1e-8);
%!   for name = {"sx", "cx", "cy", "f", "kappa1"}
%!     assert (cam.(name{1}), cam0.(name{1}), -1e-9);
%!   endfor
%! endfor

%!test  # a start refused (points beyond the fold) leaves the others
%! ## One view of a 5-by-4-by-3 grid 300 px off the centre, pincushion
%! ## distortion, 0.3 px noise: the start with the principal point held
%! ## puts points beyond the fold, where the Jacobian loses f.
%! [gx, gy, gz] = meshgrid (0.05 * (0:4), 0.05 * (0:3), 0.05 * (0:2));
%! X = [gx(:), gy(:), gz(:)];
%! c = struct ("dx", 5e-6, "dy", 5e-6, "sx", 1, "cx", 640.7, "cy", 480.1, ...
%!             "f", 0.0326, "kappa1", -2.02e4);
%! w = [-0.2245 0.3550 -0.1128];
%! T = [-0.2997; -0.2444; 4.6978];
%! randn ("state", 1);
%! img = observe (c, X, w, T) + 0.3 * randn (60, 2);
%! [cam, info] = scenemap_calibrate (X, img, c.dx, c.dy);
%! assert (info.converged);
%! assert (info.rms < 0.45);
%! assert (abs (cam.f - c.f) < 4 * info.std.f);

%!test  # a false minimum is not kept over a lower residual
%! ## A long lens (f = 42 mm at 9.7 m), one view, 0.25 px noise: from one
%! ## start the iteration converges at 6.8 px; the lowest residual (0.42 px)
%! ## is what is kept, converged or not.
%! [gx, gy, gz] = meshgrid (0.05 * (0:4), 0.05 * (0:3), 0.05 * (0:2));
%! X = [gx(:), gy(:), gz(:)];
%! c = struct ("dx", 5e-6, "dy", 5e-6, "sx", 1, "cx", 316.1, "cy", 292.4, ...
%!             "f", 0.0416, "kappa1", -1.919e4);
%! randn ("state", 15);
%! img = observe (c, X, [0.01147 -0.12742 0.0071965], ...
%!                [0.08955; -0.09632; 9.7463]) + 0.25 * randn (60, 2);
%! s = warning ("off", "scenemap:notConverged");
%! [~, info] = scenemap_calibrate (X, img, c.dx, c.dy);
%! warning (s);
%! assert (info.rms < 0.5);

%!test  # one planar view: f, sx, kappa1 with the principal point held
%! img = shoot (cam0, board, views(2));
%! cam = scenemap_calibrate (board, img, cam0.dx, cam0.dy, "Fix", ...
%!                           {"cx", "cy"}, "Start", struct ("cx", 331, ...
%!                           "cy", 247));
%! for name = {"sx", "f", "kappa1"}
%!   assert (cam.(name{1}), cam0.(name{1}), -1e-9);
%! endfor

%!test  # Monte Carlo: errors agree with info.std (z-scores)
%! ## 40 draws of 0.2 px noise on 4 views; the mean z-score of 40 draws has
%! ## a standard deviation of 1/sqrt(40) = 0.16 and their spread one of
%! ## 0.11: bounds of 0.6 and [0.6, 1.5] fail only for a wrong std.
%! randn ("state", 17);
%! img0 = shoot (cam0, board, views(1:4));
%! names = {"sx", "cx", "cy", "f", "kappa1"};
%! z = zeros (40, 5);
%! for d = 1:40
%!   img = cellfun (@(x) x + 0.2 * randn (size (x)), img0, "uniformoutput", false);
%!   [cam, info] = scenemap_calibrate (board, img, cam0.dx, cam0.dy);
%!   for i = 1:5
%!     z(d, i) = (cam.(names{i}) - cam0.(names{i})) / info.std.(names{i});
%!   endfor
%! endfor
%! assert (all (abs (mean (z)) < 0.6));
%! assert (all (std (z) > 0.6 & std (z) < 1.5));

%!test  # NaN rows are left out, fixed parameters held, central differences
%! img = shoot (cam0, board, views(1:3));
%! img{2}(5, :) = NaN;
%! [cam, info] = scenemap_calibrate (board, img, cam0.dx, cam0.dy, ...
%!                                   "Fix", {"sx"}, "Start", ...
%!                                   struct ("sx", 1.02), "Jacobian", "central");
%! assert (cam.sx, 1.02);
%! assert (info.std.sx, 0);
%! assert (isnan (info.residuals{2}(5, :)));
%! ## Differences converge to the same exact solution (rounding).
%! assert (cam.f, cam0.f, -1e-9);
%! ## A held f without a value keeps its closed-form start.
%! [cam, info] = scenemap_calibrate (board, img, cam0.dx, cam0.dy, "Fix", {"f"});
%! assert (info.std.f == 0 && abs (cam.f / cam0.f - 1) < 0.05);  # a start: within 5 %

%!warning <did not converge> scenemap_calibrate (board, shoot (cam0, board, views), 5e-6, 5.5e-6, "MaxIterations", 1);

%!error <needs WORLD, IMAGE> scenemap_calibrate (1, 2, 3)
%!error <argument 3 \(DX\) must be a finite non-zero real full> scenemap_calibrate (board, {board(:,1:2)}, sparse (1), 1)
%!error <'Verbose' takes true or false> scenemap_calibrate (board, {board(:,1:2)}, 1, 1, "Verbose", "no")
%!error <'ImageSize' takes> scenemap_calibrate (board, {board(:,1:2)}, 1, 1, "ImageSize", [640 480i])
%!error <view 1 has 0 usable points> scenemap_calibrate (board, {NaN(63, 2)}, 1, 1)
%!test  # divisors of another class: the solve still runs in double
%! img = shoot (cam0, board, views(1:3));
%! cam = scenemap_calibrate (board, img, single (cam0.dx), single (cam0.dy));
%! assert (class (cam.dx), "double");
%! assert (cam.f, 0.008, -1e-6);
%!error <argument 3 \(DX\)> scenemap_calibrate (board, {board(:,1:2)}, 0, 1)
%!error <has 2 views but IMAGE has 1> scenemap_calibrate ({board, board}, {board(:,1:2)}, 1, 1)
%!error <IMAGE\{1\} has 62 rows but WORLD> scenemap_calibrate (board, {board(2:end,1:2)}, 1, 1)
%!error <IMAGE\{1\} must be a real K-by-2> scenemap_calibrate (board, {board}, 1, 1)
%!error <non-finite points> scenemap_calibrate ([board(1:62,:); NaN 0 0], {board(:,1:2)}, 1, 1)
%!error <lie on a line> scenemap_calibrate ([board(:,1), 0*board(:,1:2)], {board(:,1:2)}, 1, 1)
%!error <at least 4> scenemap_calibrate (board(1:3,:) + [0 0.1 0; 0 0 0; 0.1 0 0], {board(1:3,1:2)}, 1, 1)
%!error <8 image coordinates for 9 parameters> scenemap_calibrate (board([1 2 8 9],:), {board([1 2 8 9],1:2)}, 1, 1, "Fix", {"cx", "cy"})
%!error <cannot fix the principal point> scenemap_calibrate (board, {board(:,1:2)}, 1, 1)
%!error <unknown option> scenemap_calibrate (board, {board(:,1:2)}, 1, 1, "Colour", 1)
%!error <'Fix' takes> scenemap_calibrate (board, {board(:,1:2)}, 1, 1, "Fix", {"dx"})
%!error <do not fix every> scenemap_calibrate (board, shoot (cam0, board, {[0 0 1e-9], [0 0 0.1]}), 5e-6, 5.5e-6, "Fix", {"kappa1"}, "Start", struct ("sx", 1, "cx", 320, "cy", 240, "f", 0.008, "kappa1", 0))
