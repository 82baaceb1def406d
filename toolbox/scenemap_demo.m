% SCENEMAP_DEMO  Project a checkerboard target through a sample camera.
%
%   SCENEMAP_DEMO prints the image coordinates of the corners of a planar
%   6-by-4 checkerboard seen by a 640-by-480 camera with no, barrel
%   (kappa1 > 0) and pincushion (kappa1 < 0) distortion, how far
%   SCENEMAPINV_MEX takes them back from the corners, and draws a
%   figure: top, the checkerboard in the image for each kappa1; bottom, the
%   size of the derivative block of SCENEMAPGRAD_MEX (its Frobenius norm,
%   pixels per millimetre of world motion) across the image.
%
%   SCENEMAP_DEMO(FILE) draws the figure invisibly and writes it to the PNG
%   file FILE (1200-by-800 pixels), for example without a display:
%     octave-cli --eval "scenemap_demo('demo.png')"
%
%   See also SCENEMAP_MEX, SCENEMAPGRAD_MEX, SCENEMAPINV_MEX.
function scenemap_demo (file)
  cam = sample_camera ();
  [X, Y] = meshgrid (0.02 + 0.04 * (0:5), 0.02 + 0.04 * (0:3));
  Z = zeros (size (X));
  kappas = [0, cam.kappa1, -cam.kappa1];

  fprintf ('Sample camera: f = %g m, pixels %g m, principal point (%g, %g)\n', ...
           cam.f, cam.dx, cam.cx, cam.cy);
  fprintf ('Target: 6-by-4 corners, 40 mm pitch, 0.6 m away, tilted 10 deg\n\n');
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

  draw_figure (cam, nargin > 0);
  if nargin > 0
    print (gcf (), '-dpng', '-r100', file);
    close (gcf ());
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

% Top row: the checkerboard of the table's corners, extended beyond the
% image, each square's outline sampled densely so that the distortion bends
% it; blue outlines show the squares without distortion. Bottom row: the
% norm of the derivative block over a grid covering the image. The sample
% counts are
% even on intervals symmetric about X = 0, so no sample has X exactly 0 (an
% absent point, projected to 0).
function draw_figure (cam, offscreen)
  if exist ('OCTAVE_VERSION', 'builtin')
    warning ('off', 'Octave:gnuplot-graphics');   % the headless toolkit
  end
  kappas = [cam.kappa1, 0, -cam.kappa1];
  names = {'barrel', 'no distortion', 'pincushion'};
  if offscreen
    h = figure ('visible', 'off');
  else
    h = figure ();
  end
  set (h, 'paperunits', 'inches', 'paperposition', [0 0 12 8], ...
       'color', 'w');

  t = linspace (0, 0.04, 16);
  [Xg, Yg] = meshgrid (linspace (-0.0525, 0.3125, 74), ...
                       linspace (-0.1025, 0.2425, 70));
  limits = [0 640 0 480];   % the image
  sizes = cell (1, 3);
  for i = 1:3
    subplot (2, 3, i);
    hold on;
    for a = -2:8
      for b = -2:6
        x0 = -0.02 + 0.04 * a;  y0 = -0.02 + 0.04 * b;
        px = [x0 + t, x0 + 0.04 + 0 * t, x0 + fliplr(t), x0 + 0 * t];
        py = [y0 + 0 * t, y0 + t, y0 + 0.04 + 0 * t, y0 + fliplr(t)];
        if mod (a + b, 2) == 0
          [u, v] = project (cam, kappas(i), px, py, 0 * px);
          patch (u, v, [0.2 0.2 0.2], 'edgecolor', 'none');
        end
        if kappas(i) ~= 0   % the undistorted squares, for comparison
          [u, v] = project (cam, 0, px, py, 0 * px);
          plot (u([1:end 1]), v([1:end 1]), 'color', [0.2 0.6 1]);
        end
      end
    end
    hold off;
    axis ij equal;
    axis (limits);
    title (sprintf ('%s, kappa1 = %g', names{i}, kappas(i)));
    xlabel ('u [px]');  ylabel ('v [px]');

    subplot (2, 3, 3 + i);
    [u, v, d] = project (cam, kappas(i), Xg, Yg, 0 * Xg);
    s = squeeze (sqrt (sum (sum (d .^ 2, 1), 2))) / 1000;   % px per mm
    sizes{i} = s(u >= 0 & u <= 640 & v >= 0 & v <= 480);
    pcolor (u, v, s);
    shading flat;
    axis ij equal;
    axis (limits);
    title (sprintf ('|dUV| [px/mm], kappa1 = %g', kappas(i)));
    xlabel ('u [px]');
  end
  % One colour scale, from the points that land inside the image.
  range = [min(cellfun (@(s) min (s(:)), sizes)), ...
           max(cellfun (@(s) max (s(:)), sizes))];
  for i = 1:3
    subplot (2, 3, 3 + i);
    caxis (range);
    colorbar ();
  end

  fprintf ('\nDerivative block size |dUV| across the image [px/mm]:\n');
  for i = 1:3
    fprintf ('  %-13s kappa1 = %7g: %.3f to %.3f\n', names{i}, kappas(i), ...
             min (sizes{i}(:)), max (sizes{i}(:)));
  end
end

function cam = sample_camera ()
  a = 10 * pi / 180;                      % tilt about the camera's y axis
  cam.R = [cos(a) 0 sin(a); 0 1 0; -sin(a) 0 cos(a)];
  cam.T = [-0.12; -0.08; 0.6];
  cam.f = 0.008;                          % 8 mm lens
  cam.dx = 5e-6;  cam.dy = 5e-6;          % 5 um pixels
  cam.sx = 1;
  cam.cx = 320;  cam.cy = 240;
  cam.kappa1 = 1.5e4;                     % m^-2: about 5 % at the corners
end
