## bench_one (what, module, n, kappa1, rmin, rmax, reps)
##
## One measurement of MODULE (as found on the path) in this fresh process,
## on N points of bench_scene with camera bench_camera (KAPPA1):
##   what = "time": prints "NS t", the median over REPS repetitions of the
##          processor time (user and system, so that other processes on a
##          busy machine count less) per point in ns of a loop of calls
##          (enough calls for about 1e6 points, at most 20000), after one
##          untimed call;
##   what = "peak": prints "PEAK growth outputs" in KiB: the growth of the
##          peak resident memory (VmHWM, reset just before) during one call
##          over the resident memory before it, and the size of the results.
## scenemapgrad_mex is asked for all three results, scenemap_mex for two.
function bench_one (what, module, n, kappa1, rmin, rmax, reps)
  c = bench_camera (kappa1);
  [X, Y, Z] = bench_scene (c, n, rmin, rmax);
  A = {X, Y, Z, c.dx, c.dy, c.sx, c.cx, c.cy, c.f, c.k1, c.R, c.T};
  nout = 2 + strcmp (module, "scenemapgrad_mex");
  out = cell (1, nout);
  fn = str2func (module);
  switch (what)
    case "time"
      calls = min (20000, max (1, round (1e6 / n)));
      [out{:}] = fn (A{:});
      t = zeros (1, reps);
      for r = 1:reps
        t0 = cputime ();
        for i = 1:calls
          [out{:}] = fn (A{:});
        endfor
        t(r) = cputime () - t0;
      endfor
      printf ("NS %.6g\n", median (t) / (calls * n) * 1e9);
    case "peak"
      [out{:}] = fn (X(1), Y(1), Z(1), A{4:end});   # loads the module
      out = cell (1, nout);
      fid = fopen ("/proc/self/clear_refs", "w");
      fputs (fid, "5");                       # resets VmHWM to VmRSS
      fclose (fid);
      before = status_kib ("VmRSS");
      [out{:}] = fn (A{:});
      printf ("PEAK %d %d\n", status_kib ("VmHWM") - before,
              sum (cellfun (@numel, out)) * 8 / 1024);
  endswitch
endfunction

function kib = status_kib (field)
  s = fileread ("/proc/self/status");
  kib = str2double (regexp (s, [field ':\s*(\d+)'], "tokens", "once"){1});
endfunction
