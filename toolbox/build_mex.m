% BUILD_MEX  Build the scenemap modules with the host's own mex command.
%
%   BUILD_MEX compiles scenemap_mex, scenemapgrad_mex and scenemapinv_mex
%   from the C++ sources of the scenemap source tree (the folder above this
%   file) and puts them beside this file, each with its help file (from
%   help/).
%
%   BUILD_MEX(OUTDIR) puts them and their help files into the folder OUTDIR
%   instead (created when missing). Add OUTDIR to the path, addpath(OUTDIR),
%   and the modules work from any current folder, this one included.
%
%   BUILD_MEX(OUTDIR, FLAG, ...) passes the extra flags to mex, for example
%   '-g' for a debug build or '-v' to see the compiler's command lines.
%
%   INFO = BUILD_MEX(...) also returns a struct array, one element per
%   module, with fields NAME, SOURCES (paths relative to the source tree)
%   and FILE (the module built).
%
%   In MATLAB the modules are built with -compatibleArrayDims (they use the
%   32-bit array-size interface) as C++17 without multiply-add contraction,
%   so results are bit-identical to the other builds. This needs a C++17
%   compiler that MATLAB's mex is configured for (mex -setup C++).
%   In Octave they are built by Octave's mex (mkoctfile --mex). The Octave
%   package (pkg install) gives Octave users the same functions built
%   against Octave's own interface instead (.oct files): same arguments,
%   errors and results, half the peak memory, and Ctrl-C stops a long call.
%
%   A failed compile stops BUILD_MEX with an error of identifier
%   scenemap:buildFailed; the compiler's messages are printed above it.
%
%   Example:
%     build_mex                     % in the toolbox folder of the sources
%     [u, v] = scenemap_mex(0.1, 0.2, 0, 1e-5, 1e-5, 1, 320, 240, ...
%                           0.008, 0, eye(3), [0 0 1])
%
%   See also SCENEMAP_MEX, SCENEMAPGRAD_MEX, SCENEMAPINV_MEX.
function info = build_mex (outdir, varargin)
  here = fileparts (mfilename ('fullpath'));
  root = fileparts (here);
  if nargin < 1 || isempty (outdir)
    outdir = here;
  end
  if ~ischar (outdir)
    error ('scenemap:buildFailed', 'build_mex: OUTDIR must be a folder name');
  end
  if ~exist (outdir, 'dir') && ~mkdir (outdir)
    error ('scenemap:buildFailed', 'build_mex: cannot create folder %s', outdir);
  end

  mods = module_list ();
  % Every source's folder is searched for headers.
  folders = unique (cellfun (@fileparts, [mods.sources], ...
                             'UniformOutput', false));
  include_flags = cellfun (@(d) ['-I' fullfile(root, d)], folders, ...
                           'UniformOutput', false);
  flags = [varargin, include_flags];
  in_octave = exist ('OCTAVE_VERSION', 'builtin') ~= 0;

  for i = 1:numel (mods)
    name = mods(i).name;
    sources = cellfun (@(s) fullfile (root, s), mods(i).sources, ...
                       'UniformOutput', false);
    file = fullfile (outdir, [name '.' mexext()]);
    fprintf ('build_mex: %s from %d sources\n', file, numel (sources));
    if in_octave
      status = octave_mex (outdir, name, flags, sources);
    else
      status = matlab_mex (outdir, name, flags, sources);
    end
    if status ~= 0 || ~exist (file, 'file')
      error ('scenemap:buildFailed', ...
             'build_mex: building %s failed (status %d); see the compiler messages above', ...
             name, status);
    end
    % The help text (help NAME) is read from the .m file beside a module.
    help_file = fullfile (here, 'help', [name '.m']);
    if ~strcmp (fullfile (outdir, [name '.m']), help_file)
      [ok, msg] = copyfile (help_file, outdir);
      if ~ok
        error ('scenemap:buildFailed', 'build_mex: cannot copy %s: %s', ...
               help_file, msg);
      end
    end
    mods(i).file = file;
  end
  if nargout > 0
    info = mods;
  end
end

% The modules and their sources, relative to the source tree. The CMake
% build lists the same sources; its tests check that both lists agree.
function mods = module_list ()
  common = {'gateway/scene_checks.cpp', 'gateway/scene_args.cpp', ...
            'core/camera_model.cpp', 'core/distortion.cpp', ...
            'core/platform.cpp'};
  mods = struct ('name', {'scenemap_mex', 'scenemapgrad_mex', ...
                         'scenemapinv_mex'}, ...
                 'sources', {[{'scenemap_mex/scenemap_mex.cpp'}, common], ...
                             [{'scenemapgrad_mex/scenemapgrad_mex.cpp', ...
                               'scenemapgrad_mex/derivative_grid.cpp', ...
                               'scenemapgrad_mex/frame_derivatives.cpp'}, ...
                              common], ...
                             [{'scenemapinv_mex/scenemapinv_mex.cpp', ...
                               'core/image_to_plane.cpp'}, common]}, ...
                 'file', '');
end

% Octave: mex is mkoctfile --mex, which takes its compiler flags from the
% environment. With an output argument mex returns the status instead of
% raising, so the status is checked by the caller.
function status = octave_mex (outdir, name, flags, sources)
  old = getenv ('CXXFLAGS');
  setenv ('CXXFLAGS', '-O2 -std=c++17 -ffp-contract=off -fno-fast-math');
  try
    status = mex (flags{:}, '-o', fullfile (outdir, name), sources{:});
  catch err
    setenv ('CXXFLAGS', old);
    fprintf ('%s\n', err.message);
    status = -1;
    return;
  end
  setenv ('CXXFLAGS', old);
end

% MATLAB: mex raises on failure; turn that into a status so both hosts
% report alike. GCC and Clang get -std=c++17 -ffp-contract=off appended to
% the configured flags; MSVC does not contract under /fp:precise and takes
% /std:c++17. (Only the Octave route is built by this project's CI.)
function status = matlab_mex (outdir, name, flags, sources)
  cc = mex.getCompilerConfigurations ('C++', 'Selected');
  if isempty (cc)
    fprintf ('No C++ compiler is configured for mex; run mex -setup C++\n');
    status = -1;
    return;
  end
  if ispc && ~isempty (strfind (lower (cc.ShortName), 'msvc'))
    cxx = 'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise';
  else
    cxx = 'CXXFLAGS=$CXXFLAGS -std=c++17 -ffp-contract=off -fno-fast-math';
  end
  try
    mex ('-compatibleArrayDims', cxx, flags{:}, ...
         '-outdir', outdir, '-output', name, sources{:});
    status = 0;
  catch err
    fprintf ('%s\n', err.message);
    status = -1;
  end
end
