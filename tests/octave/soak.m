## soak (calls)
##
## CALLS calls in this one process, cycling through valid calls of both
## modules on grids of varied size and misuses that raise errors. Every
## valid call must return exactly what it returned the first time (so an
## error leaves nothing behind that changes the next call), every misuse its
## error id, and resident memory must stay flat: it is sampled after a
## warm-up and at the end, and may grow by at most 2 MiB.
function soak (calls)
  R = [0.36 0.48 -0.8; -0.8 0.6 0; 0.48 0.64 0.6];
  T = [0.1; -0.2; 4];
  cam = {2e-3, 3e-3, 1.1, 320, 240, 0.05, 0.3};
  pin = cam;  pin{7} = -0.3;
  valid = {};
  for sz = {[1 1], [2 3], [7 5], [40 30], [0 4], [3 0]}
    [X, Y] = meshgrid (linspace (-1, 1, sz{1}(2)), linspace (-2, 2, sz{1}(1)));
    X(1:3:end) = 0;   # some absent points
    Z = 0.1 * (X + Y);
    valid(end+1, :) = {"scenemap_mex", 2, {X, Y, Z, cam{:}, R, T}};
    valid(end+1, :) = {"scenemapgrad_mex", 3, {X, Y, Z, pin{:}, R, T}};
    valid(end+1, :) = {"scenemapgrad_mex", 4, {X, Y, Z, cam{:}, R, T}};
  endfor
  good = {1, 1, 1, cam{:}, R, T};
  invalid = {
    "scenemap:nargin",     "scenemap_mex",     2, good(1:11)
    "scenemap:nargout",    "scenemap_mex",     3, good
    "scenemap:nargout",    "scenemapgrad_mex", 5, good
    "scenemap:notDouble",  "scenemapgrad_mex", 3, [{single(1)}, good(2:end)]
    "scenemap:complex",    "scenemap_mex",     2, [good(1:2), {complex(1, 0)}, good(4:end)]
    "scenemap:sparse",     "scenemapgrad_mex", 1, [good(1:10), {speye(3)}, good(12)]
    "scenemap:tooShort",   "scenemap_mex",     2, [{ones(30)}, good(2:end)]
    "scenemap:notNumeric", "scenemapgrad_mex", 2, [good(1:9), {"k"}, good(11:12)]
    "scenemap:empty",      "scenemap_mex",     1, [good(1:3), {[]}, good(5:end)]
    "scenemap:tooLarge",   "scenemapgrad_mex", 3, [{zeros(0, 2^31)}, good(2:end)]
  };

  ## The first result of every valid call is the one all later calls must
  ## reproduce.
  expected = cell (rows (valid), 1);
  for k = 1:rows (valid)
    expected{k} = call (valid(k, :));
  endfor

  nv = rows (valid);
  ni = rows (invalid);
  warmup = min (2000, calls);
  rss_start = 0;
  errors = 0;
  tic;
  for i = 1:calls
    if (i == warmup)
      rss_start = resident_kib ();
    endif
    ## Alternate valid and invalid calls, with the big grid rarely.
    j = mod (i * 7919, 2 * nv + ni) + 1;
    if (j <= 2 * nv)
      k = mod (j - 1, nv) + 1;
      if (k >= 7 && k <= 8 && mod (i, 50) != 0)
        k -= 4;
      endif
      got = call (valid(k, :));
      if (! isequaln (got, expected{k}))
        error ("soak: call %d (%s) differs from its first result", i, ...
               valid{k, 1});
      endif
    else
      c = invalid(j - 2 * nv, :);
      try
        call (c(2:4));
        error ("soak: call %d (%s) should have failed with %s", i, c{2}, c{1});
      catch e
        if (! strcmp (e.identifier, c{1}))
          rethrow (e);
        endif
        errors += 1;
      end_try_catch
    endif
  endfor
  rss_end = resident_kib ();
  printf ("soak: %d calls (%d errors) in %.1f s; resident memory %d KiB after %d calls, %d KiB at the end\n",
          calls, errors, toc, rss_start, warmup, rss_end);
  if (rss_end - rss_start > 2048)
    error ("soak: resident memory grew by %d KiB", rss_end - rss_start);
  endif
endfunction

function out = call (c)
  out = cell (1, c{2});
  [out{:}] = feval (c{1}, c{3}{:});
endfunction

function kib = resident_kib ()
  s = fileread ("/proc/self/status");
  kib = str2double (regexp (s, 'VmRSS:\s*(\d+)', "tokens", "once"){1});
endfunction
