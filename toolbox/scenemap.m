% SCENEMAP  Project world points through a calibrated camera.
% Version 0.1.0
%
%   Functions
%     scenemap_mex      - image coordinates u, v of a grid of world points
%     scenemapgrad_mex  - the same u, v and their derivatives with respect
%                         to world X and Y
%     scenemapinv_mex   - from image u, v back to world points on planes
%
%   Calibration
%     scenemap_calibrate - estimate f, kappa1, cx, cy, sx and the poses from
%                          views of a target, with standard deviations
%     scenemap_rotation  - rotation vector to rotation matrix and back, and
%                          the derivative of the matrix
%     scenemap_undistort - observed pixels without distortion, as pixels or
%                          rays; the map that undistorts an image
%
%   Demo and build
%     scenemap_demo     - project a checkerboard, draw the derivatives,
%                         calibrate from noisy views
%     build_mex         - build the modules with the host's mex command
%
%   V = SCENEMAP returns the version above as a string, e.g. '0.1.0'.
%
%   See also SCENEMAP_MEX, SCENEMAPGRAD_MEX, SCENEMAPINV_MEX,
%   SCENEMAP_CALIBRATE, SCENEMAP_DEMO.
function v = scenemap ()
  % The version is the one in the help text above, so that there is one.
  tok = regexp (help ('scenemap'), 'Version (\d+\.\d+\.\d+)', 'tokens', 'once');
  v = tok{1};
end

%!test
%! assert (regexp (scenemap (), '^\d+\.\d+\.\d+$'));
