% SCENEMAP_DEMO  Project a checkerboard target through a sample camera.
%
%   SCENEMAP_DEMO prints the image coordinates of some corners of a planar
%   checkerboard (30 mm squares, 0.7 m in front of the camera and facing
%   it) seen by a 640-by-480 camera with no, barrel (kappa1 > 0) and
%   pincushion (kappa1 < 0) distortion, how far SCENEMAPINV_MEX takes those
%   image points back from the corners, and draws a figure: top, the whole
%   board for each kappa1 (red frame: the image; blue: the undistorted
%   board), where the board's straight lines bow outward (barrel) or inward
%   (pincushion); bottom, the size of the derivative block of
%   SCENEMAPGRAD_MEX (its Frobenius norm, pixels per millimetre of world
%   motion) across the image.
%
%   Then it calibrates the barrel camera with SCENEMAP_CALIBRATE from six
%   views of the board (tilted 20 to 35 degrees, 0.6 to 0.85 m away, 0.2 px
%   of Gaussian noise on every corner seen in the image), prints the recovered intrinsics
%   beside the true ones with their standard deviations, and draws, in the
%   bottom row, the views' corners, their residuals magnified and the
%   residuals' scatter.
%
%   SCENEMAP_DEMO(FILE) draws the figure invisibly and writes it to the PNG
%   file FILE (1200-by-1200 pixels), for example without a display:
%     octave-cli --eval "scenemap_demo('demo.png')"
%   In Octave, the picture needs the font Octave draws text with (Debian
%   and Ubuntu: fonts-freefont-otf) and Ghostscript for the PNG; without
%   them the demo stops with an error that names the package.
%
%   See also SCENEMAP_MEX, SCENEMAPGRAD_MEX, SCENEMAPINV_MEX,
%   SCENEMAP_CALIBRATE.
function scenemap_demo (file)
  cam = sample_camera ();
  [X, Y] = meshgrid (0.02 + 0.06 * (0:5), 0.02 + 0.06 * (0:4));
  Z = zeros (size (X));
  kappas = [0, cam.kappa_barrel, cam.kappa_pincushion];

  fprintf ('Sample camera: f = %g m, pixels %g m, principal point (%g, %g)\n', ...
           cam.f, cam.dx, cam.cx, cam.cy);
  fprintf ('Target: 10-by-8 squares of 30 mm, 0.7 m away, facing the camera;\n');
  fprintf ('every other corner\n\n');
  fprintf ('%7s %7s | %17s | %17s | %17s\n', 'X [m]', 'Y [m]', ...
           sprintf ('kappa1 = %g', kappas(1)), ...
           sprintf ('kappa1 = %g', kappas(2)), ...
           sprintf ('kappa1 = %g', kappas(3)));
  fprintf ('%7s %7s | %8s %8s | %8s %8s | %8s %8s\n', '', '', ...
           'u [px]', 'v [px]', 'u [px]', 'v [px]', 'u [px]', 'v [px]');
  uv = cell (1, numel (kappas));
  for i = 1:numel (kappas)
    [u, v] = project (cam, kappas(i), X, Y, Z);
    uv{i} = [u(:), v(:)];
  end
  for k = 1:numel (X)
    fprintf ('%7.3f %7.3f | %8.2f %8.2f | %8.2f %8.2f | %8.2f %8.2f\n', ...
             X(k), Y(k), uv{1}(k,:), uv{2}(k,:), uv{3}(k,:));
  end
  fprintf ('\nThe corners taken back to the target plane by SCENEMAPINV_MEX:\n');
  for i = 1:numel (kappas)
    [Xb, Yb] = scenemapinv_mex (uv{i}(:,1), uv{i}(:,2), Z(:), cam.dx, ...
                                cam.dy, cam.sx, cam.cx, cam.cy, cam.f, ...
                                kappas(i), cam.R, cam.T);
    fprintf ('  kappa1 = %7g: largest distance from the corner %.1e m\n', ...
             kappas(i), max (hypot (Xb - X(:), Yb - Y(:))));
  end

  calib = calibrate_views (cam);
  draw_figure (cam, nargin > 0, calib);
  if nargin > 0
    write_png (file);
    fprintf ('\nWrote %s\n', file);
  end
end

function [u, v, d] = project (cam, kappa1, X, Y, Z)
  if nargout > 2
    [u, v, d] = scenemapgrad_mex (X, Y, Z, cam.dx, cam.dy, cam.sx, cam.cx, ...
                                  cam.cy, cam.f, kappa1, cam.R, cam.T);
  else
    [u, v] = scenemap_mex (X, Y, Z, cam.dx, cam.dy, cam.sx, cam.cx, ...
                           cam.cy, cam.f, kappa1, cam.R, cam.T);
  end
end

% Six views of the board's 99 corners by the barrel camera, 0.2 px of
% noise, calibrated with every intrinsic free; prints the table.
function calib = calibrate_views (cam)
  [X, Y] = meshgrid (0.02 + 0.03 * (0:10), 0.02 + 0.03 * (0:8));
  board = [X(:), Y(:), zeros(numel (X), 1)];
  tilts = [0.35 0.05 0; -0.3 0.2 0.1; 0.1 -0.45 -0.1; ...
           -0.25 -0.35 0.2; 0.4 0.3 -0.2; -0.05 0.5 0.3];   % rotation vectors
  sigma = 0.2;
  rng (7);
  V = size (tilts, 1);
  image = cell (1, V);
  for v = 1:V
    R = scenemap_rotation (tilts(v, :));
    T = [0; 0; 0.55 + 0.05 * v] - R * mean (board, 1)';
    [u, w] = scenemap_mex (board(:, 1), board(:, 2), board(:, 3), cam.dx, ...
                           cam.dy, cam.sx, cam.cx, cam.cy, cam.f, ...
                           cam.kappa_barrel, R, T);
    image{v} = [u, w] + sigma * randn (numel (u), 2);
    % Corners outside the image are not seen: NaN rows, left out.
    out = u < 0 | u > 640 | w < 0 | w > 480;
    image{v}(out, :) = NaN;
  end
  [est, info] = scenemap_calibrate (board, image, cam.dx, cam.dy, ...
                                    'ImageSize', [640 480]);
  seen = sum (cellfun (@(x) sum (isfinite (x(:, 1))), image));
  fprintf (['\nCalibration from %d views of the board (%d corners seen ' ...
            'of %d, %g px noise),\nbarrel camera, every intrinsic ' ...
            'free:\n'], V, seen, V * size (board, 1), sigma);
  fprintf ('  %-14s %12s %12s %10s %9s\n', 'parameter', 'true', ...
           'estimate', 'std', 'error/std');
  truth = struct ('sx', cam.sx, 'cx', cam.cx, 'cy', cam.cy, 'f', cam.f, ...
                  'kappa1', cam.kappa_barrel);
  units = struct ('sx', '', 'cx', ' [px]', 'cy', ' [px]', 'f', ' [m]', ...
                  'kappa1', ' [m^-2]');
  for name = {'f', 'kappa1', 'cx', 'cy', 'sx'}
    n = name{1};
    fprintf ('  %-14s %12.7g %12.7g %10.2g %9.2f\n', [n, units.(n)], ...
             truth.(n), est.(n), info.std.(n), ...
             (est.(n) - truth.(n)) / info.std.(n));
  end
  fprintf (['  rms residual %.3f px (noise per coordinate estimated %.3f ' ...
            'px), %d iterations\n'], info.rms, info.sigma, info.iterations);
  calib.board = board;
  calib.image = image;
  calib.est = est;
  calib.info = info;
end

% Top row: the board's squares, each outline sampled densely so that the
% distortion bends it, the image's frame and the undistorted board's
% outline. Bottom row: the norm of the derivative block over a grid that
% covers the image. No sample has world X exactly 0 (an absent point,
% projected to 0): the board starts at X = 0.02 m, and the grid moves off 0.
function draw_figure (cam, offscreen, calib)
  in_octave = exist ('OCTAVE_VERSION', 'builtin') ~= 0;
  if in_octave
    warning ('off', 'Octave:gnuplot-graphics');   % the headless toolkit
  end
  kappas = [cam.kappa_barrel, 0, cam.kappa_pincushion];
  names = {'barrel', 'no distortion', 'pincushion'};
  if offscreen
    h = figure ('visible', 'off');
  else
    h = figure ();
  end
  if in_octave
    check_text (h);
  end
  set (h, 'paperunits', 'inches', 'paperposition', [0 0 12 12], ...
       'color', 'w');

  s = 0.03;                           % square size [m]
  t = linspace (0, s, 24);
  edge = 0.02 + [0, 10 * s];          % the board's outline, X
  edge(3:4) = 0.02 + [0, 8 * s];      % and Y
  ox = [edge(1) + linspace(0, 10 * s, 200), edge(2) + zeros(1, 160), ...
        edge(2) - linspace(0, 10 * s, 200), edge(1) + zeros(1, 160)];
  oy = [edge(3) + zeros(1, 200), edge(3) + linspace(0, 8 * s, 160), ...
        edge(4) + zeros(1, 200), edge(4) - linspace(0, 8 * s, 160)];
  % Barrel distortion brings points from beyond the board into the image.
  [Xg, Yg] = meshgrid (linspace (-0.02, 0.36, 120), ...
                       linspace (-0.05, 0.33, 100));
  Xg(Xg == 0) = 1e-9;
  view = [-120 760 -100 580];          % the image, 640 by 480, and around it
  sizes = cell (1, 3);
  for i = 1:3
    subplot (3, 3, i);
    hold on;
    for a = 0:9
      for b = 0:7
        if mod (a + b, 2) == 0
          x0 = 0.02 + s * a;  y0 = 0.02 + s * b;
          px = [x0 + t, x0 + s + 0 * t, x0 + fliplr(t), x0 + 0 * t];
          py = [y0 + 0 * t, y0 + t, y0 + s + 0 * t, y0 + fliplr(t)];
          [u, v] = project (cam, kappas(i), px, py, 0 * px);
          patch (u, v, [0.25 0.25 0.25], 'edgecolor', 'none');
        end
      end
    end
    [u, v] = project (cam, kappas(i), ox, oy, 0 * ox);
    plot (u([1:end 1]), v([1:end 1]), 'k', 'linewidth', 1);
    if kappas(i) ~= 0   % the undistorted outline, for comparison
      [u, v] = project (cam, 0, ox, oy, 0 * ox);
      plot (u([1:end 1]), v([1:end 1]), 'color', [0.1 0.5 1], ...
            'linewidth', 1.5);
    end
    plot ([0 640 640 0 0], [0 0 480 480 0], 'r', 'linewidth', 1.5);
    hold off;
    axis ij equal;
    axis (view);
    title (sprintf ('%s, kappa1 = %g', names{i}, kappas(i)));
    xlabel ('u [px]');  ylabel ('v [px]');

    subplot (3, 3, 3 + i);
    [u, v, d] = project (cam, kappas(i), Xg, Yg, 0 * Xg);
    n = squeeze (sqrt (sum (sum (d .^ 2, 1), 2))) / 1000;   % px per mm
    inside = u >= 0 & u <= 640 & v >= 0 & v <= 480;
    sizes{i} = n(inside);
    pcolor (u, v, n);
    shading flat;
    axis ij equal;
    axis ([0 640 0 480]);
    title (sprintf ('|dUV| [px/mm], kappa1 = %g', kappas(i)));
    xlabel ('u [px]');
  end
  % One colour scale, from the points that land inside the image.
  range = [min(cellfun (@(s) min (s(:)), sizes)), ...
           max(cellfun (@(s) max (s(:)), sizes))];
  for i = 1:3
    subplot (3, 3, 3 + i);
    caxis (range);
    colorbar ();
  end

  fprintf ('\nDerivative block size |dUV| across the image [px/mm]:\n');
  for i = 1:3
    fprintf ('  %-13s kappa1 = %7g: %.3f to %.3f\n', names{i}, kappas(i), ...
             min (sizes{i}(:)), max (sizes{i}(:)));
  end
  draw_calibration (calib);
end

% Bottom row: the corners of the calibration views, their residuals
% (observed minus reprojected) magnified, and the residuals' scatter with
% the estimated noise.
function draw_calibration (calib)
  V = numel (calib.image);
  colours = lines (V);
  subplot (3, 3, 7);
  hold on;
  for v = 1:V
    plot (calib.image{v}(:, 1), calib.image{v}(:, 2), '.', 'color', ...
          colours(v, :), 'markersize', 6);
  end
  plot ([0 640 640 0 0], [0 0 480 480 0], 'r', 'linewidth', 1.5);
  hold off;
  axis ij equal;
  axis ([-20 660 -20 500]);
  title (sprintf ('%d calibration views (0.2 px noise)', V));
  xlabel ('u [px]');  ylabel ('v [px]');

  subplot (3, 3, 8);
  gain = 100;
  hold on;
  for v = 1:V
    p = calib.image{v};
    r = calib.info.residuals{v};
    plot ([p(:, 1), p(:, 1) + gain * r(:, 1)]', ...
          [p(:, 2), p(:, 2) + gain * r(:, 2)]', 'color', colours(v, :));
  end
  plot ([0 640 640 0 0], [0 0 480 480 0], 'r', 'linewidth', 1.5);
  hold off;
  axis ij equal;
  axis ([-20 660 -20 500]);
  title (sprintf ('residuals x %d, rms %.3f px', gain, calib.info.rms));
  xlabel ('u [px]');

  subplot (3, 3, 9);
  hold on;
  for v = 1:V
    r = calib.info.residuals{v};
    plot (r(:, 1), r(:, 2), '.', 'color', colours(v, :), 'markersize', 6);
  end
  t = linspace (0, 2 * pi, 100);
  s = calib.info.sigma;
  plot (s * cos (t), s * sin (t), 'k', 2 * s * cos (t), 2 * s * sin (t), ...
        'k--');
  hold off;
  axis equal;
  axis ([-1 1 -1 1]);
  e = calib.est;
  title (sprintf ('f = %.5g mm +- %.2g, kappa1 = %.4g +- %.2g', ...
                  1000 * e.f, 1000 * calib.info.std.f, e.kappa1, ...
                  calib.info.std.kappa1));
  xlabel ('du [px] (circles: 1 and 2 sigma)');  ylabel ('dv [px]');
end

% Octave draws text with its own renderer, which needs its font file; without
% it every axes fails with a stack of graphics errors. Stop with one line
% (the trailing newline leaves out Octave's traceback).
function check_text (h)
  state = warning ('off', 'all');
  try
    ax = axes ('parent', h);
    delete (ax);
    ok = true;
  catch
    ok = false;
  end
  warning (state);
  if ~ok
    close (h);
    error ('scenemap:demo', ['scenemap_demo: Octave cannot draw text, its ' ...
           'font is missing: install fonts-freefont-otf (Debian, Ubuntu)\n']);
  end
end

% Octave writes a PNG through Ghostscript.
function write_png (file)
  state = warning ('off', 'print:nogs');
  try
    print (gcf (), '-dpng', '-r100', file);
  catch err
    warning (state);
    close (gcf ());
    if isempty (strfind (err.message, 'Ghostscript'))
      rethrow (err);
    end
    error ('scenemap:demo', ['scenemap_demo: Octave needs Ghostscript to ' ...
           'write %s: install ghostscript (Debian, Ubuntu)\n'], file);
  end
  warning (state);
  close (gcf ());
end

function cam = sample_camera ()
  cam.R = eye (3);                        % facing the board
  cam.T = [-0.17; -0.14; 0.7];            % board centre on the optical axis
  cam.f = 0.008;                          % 8 mm lens
  cam.dx = 5e-6;  cam.dy = 5e-6;          % 5 um pixels
  cam.sx = 1;
  cam.cx = 320;  cam.cy = 240;
  % m^-2. At the image corner (2 mm from the centre on the sensor) barrel
  % pulls points in by about 15 %, pincushion pushes them out by about
  % 22 %. Pincushion is the weaker: beyond its fold radius the model
  % clamps, and the board's corners stay inside it.
  cam.kappa_barrel = 6e4;
  cam.kappa_pincushion = -3e4;
end
