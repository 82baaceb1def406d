% SCENEMAP_DEMO  Project a checkerboard target through a sample camera.
%
%   SCENEMAP_DEMO prints the image coordinates of the corners of a planar
%   6-by-4 checkerboard seen by a 640-by-480 camera with no, barrel
%   (kappa1 > 0) and pincushion (kappa1 < 0) distortion.
%
%   See also SCENEMAP_MEX.
function scenemap_demo ()
  cam = sample_camera ();
  [X, Y] = meshgrid (0.02 + 0.04 * (0:5), 0.02 + 0.04 * (0:3));
  Z = zeros (size (X));
  kappas = [0, cam.kappa1, -cam.kappa1];

  printf ("Sample camera: f = %g m, pixels %g m, principal point (%g, %g)\n",
          cam.f, cam.dx, cam.cx, cam.cy);
  printf ("Target: 6-by-4 corners, 40 mm pitch, 0.6 m away, tilted 10 deg\n\n");
  printf ("%7s %7s | %17s | %17s | %17s\n", "X [m]", "Y [m]", ...
          sprintf ("kappa1 = %g", kappas(1)), ...
          sprintf ("kappa1 = %g", kappas(2)), ...
          sprintf ("kappa1 = %g", kappas(3)));
  printf ("%7s %7s | %8s %8s | %8s %8s | %8s %8s\n", "", "", ...
          "u [px]", "v [px]", "u [px]", "v [px]", "u [px]", "v [px]");
  uv = cell (1, numel (kappas));
  for i = 1:numel (kappas)
    [u, v] = scenemap_mex (X, Y, Z, cam.dx, cam.dy, cam.sx, cam.cx, cam.cy,
                           cam.f, kappas(i), cam.R, cam.T);
    uv{i} = [u(:), v(:)];
  endfor
  for k = 1:numel (X)
    printf ("%7.3f %7.3f | %8.2f %8.2f | %8.2f %8.2f | %8.2f %8.2f\n", ...
            X(k), Y(k), uv{1}(k,:), uv{2}(k,:), uv{3}(k,:));
  endfor
endfunction

function cam = sample_camera ()
  a = 10 * pi / 180;                      # tilt about the camera's y axis
  cam.R = [cos(a) 0 sin(a); 0 1 0; -sin(a) 0 cos(a)];
  cam.T = [-0.12; -0.08; 0.6];
  cam.f = 0.008;                          # 8 mm lens
  cam.dx = 5e-6;  cam.dy = 5e-6;          # 5 um pixels
  cam.sx = 1;
  cam.cx = 320;  cam.cy = 240;
  cam.kappa1 = 1.5e4;                     # m^-2: about 5 % at the corners
endfunction
