% CHECK_MODULES_RUN  Calls the modules found on the path on a point the
% identity camera maps to itself and runs their help files' test blocks.
function check_modules_run ()
  [u, v] = scenemap_mex (2, 3, 0, 1, 1, 1, 0, 0, 1, 0, eye (3), [0 0 1]);
  assert ([u v], [2 3]);
  [u, v, d] = scenemapgrad_mex (2, 3, 0, 1, 1, 1, 0, 0, 1, 0, eye (3), ...
                                [0 0 1]);
  assert ([u v], [2 3]);
  assert (d, eye (2));
  assert (test ("scenemap_mex", "quiet"), "test scenemap_mex failed");
  assert (test ("scenemapgrad_mex", "quiet"), "test scenemapgrad_mex failed");
  [X, Y, d] = scenemapinv_mex (2, 3, 0, 1, 1, 1, 0, 0, 1, 0, eye (3), ...
                               [0 0 1]);
  assert ([X Y], [2 3]);
  assert (d, eye (2));
  assert (test ("scenemapinv_mex", "quiet"), "test scenemapinv_mex failed");
endfunction
