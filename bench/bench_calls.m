## bench_calls (build_dir, smoke, before_dir)
##
## The cost of a call: each module on a 1-by-1 grid (one point) against
## trivial_call, a function of the same build that takes the same twelve
## arguments, does nothing with them and returns as many 1-by-1 values as
## asked for (bench/trivial_call_*.cpp), in each Octave build: the native
## functions (BUILD_DIR/octave, .oct; the trivial one in
## BUILD_DIR/bench/octave) and the MEX builds (BUILD_DIR/octave-mex, .mex;
## BUILD_DIR/bench/octave-mex). scenemapgrad_mex is called for 2, 3 and 4
## outputs, scenemapinv_mex for 2 and 3, each against trivial_call with as
## many.
##
## A build is timed in a fresh octave-cli: per repetition a loop of CALLS
## calls of the module, the same loop of the trivial function and the empty
## loop, taking turns going first, in processor time (user and system); the
## empty loop's time is subtracted from the other two. Each build is
## measured in ROUNDS such processes, the builds taking turns; a row gives
## the medians over all repetitions, module / trivial, and the spread (the
## interquartile range over the median) of the module's time. BEFORE_DIR,
## when given, is another build tree whose modules are timed in the same
## rounds, against the same trivial functions (those of BUILD_DIR): rows
## "before" and "after". SMOKE (true in make test): 10 calls, one
## repetition and round. Prints a Markdown table.
function bench_calls (build_dir, smoke = false, before_dir = "")
  if (strcmp (build_dir, "--child"))
    child (smoke, before_dir);
    return;
  endif
  here = fileparts (mfilename ("fullpath"));
  cli = fullfile (OCTAVE_HOME (), "bin", "octave-cli");
  if (! exist (cli, "file"))
    cli = "octave-cli";
  endif
  calls = 20000;  reps = 9;  rounds = 3;
  if (smoke)
    calls = 10;  reps = 1;  rounds = 1;
  endif
  trees = {build_dir, "after"};
  if (! isempty (before_dir))
    trees = {before_dir, "before"; build_dir, "after"};
  endif
  kinds = {"octave", "native"; "octave-mex", "MEX"};
  ## times{tree, kind}: one row a case, [module trivial] ns per call, one
  ## column pair a repetition.
  times = cell (rows (trees), rows (kinds));
  turn = 0;
  for round = 1:rounds
    jobs = [kron(1:rows (trees), ones (1, rows (kinds)));
            repmat(1:rows (kinds), 1, rows (trees))];
    if (mod (round, 2) == 0)
      jobs = fliplr (jobs);
    endif
    for job = jobs
      [ti, ki] = deal (job(1), job(2));
      code = sprintf ("addpath ('%s'); bench_calls ('--child', %d, %d)", here,
                      calls, reps);
      cmd = sprintf ("%s --no-init-file --no-gui --quiet -p '%s' -p '%s' --eval \"%s\"",
                     cli, fullfile (trees{ti, 1}, kinds{ki, 1}),
                     fullfile (build_dir, "bench", kinds{ki, 1}), code);
      [status, text] = system (cmd);
      lines = regexp (text, 'CALL (\S+) ([^\n]*)', "tokens");
      if (status != 0 || isempty (lines))
        error ("bench:child", "bench_calls in %s failed:\n%s",
               fullfile (trees{ti, 1}, kinds{ki, 1}), text);
      endif
      t = cell2mat (cellfun (@(l) str2num (l{2}), lines(:), "UniformOutput", false));
      times{ti, ki} = [times{ti, ki}, t(:, 2:end)];
      names = cellfun (@(l) l{1}, lines, "UniformOutput", false);
      outs = t(:, 1);
    endfor
  endfor

  printf ("| tree | build | call, 1 point | outputs | module us | trivial us | ratio | module - trivial us | spread |\n");
  printf ("|---|---|---|---|---|---|---|---|---|\n");
  for ki = 1:rows (kinds)
    for ci = 1:numel (names)
      for ti = 1:rows (trees)
        t = times{ti, ki}(ci, :);
        m = median (t(1:2:end));  tr = median (t(2:2:end));
        q = quantile (t(1:2:end), [0.25 0.75]);
        printf ("| %s | %s | %s | %d | %.2f | %.2f | %.2f | %.2f | %.0f%% |\n",
                trees{ti, 2}, kinds{ki, 2}, names{ci}, outs(ci), m / 1e3,
                tr / 1e3, m / tr, (m - tr) / 1e3, 100 * (q(2) - q(1)) / m);
      endfor
    endfor
  endfor
endfunction

## In a process with one build of the modules and of trivial_call on the
## path: prints "CALL name outputs module trivial module trivial ..." (ns
## per call, empty loop subtracted, one pair a repetition) for each case.
function child (calls, reps)
  c = bench_camera (0.02);
  [X, Y, Z] = bench_scene (c, 1, 0.2, 6);
  A = {X, Y, Z, c.dx, c.dy, c.sx, c.cx, c.cy, c.f, c.k1, c.R, c.T};
  [u, v] = scenemap_mex (A{:});
  B = [{u, v}, A(3:end)];
  cases = {"scenemap_mex", 2, A; "scenemapgrad_mex", 2, A;
           "scenemapgrad_mex", 3, A; "scenemapgrad_mex", 4, A;
           "scenemapinv_mex", 2, B; "scenemapinv_mex", 3, B};
  for ci = 1:rows (cases)
    [name, nout, a] = cases{ci, :};
    lhs = ["[" strjoin(arrayfun (@(k) sprintf ("o%d", k), 1:nout,
                                 "UniformOutput", false), ", ") "]"];
    loops = {sprintf("for i = 1:%d\n %s = %s (a{:});\nendfor", calls, lhs, name);
             sprintf("for i = 1:%d\n %s = trivial_call (a{:});\nendfor", calls, lhs);
             sprintf("for i = 1:%d\nendfor", calls)};
    for k = 1:3
      timed (loops{k}, a);   # loads the function, warms the loop
    endfor
    t = zeros (3, reps);
    for r = 1:reps
      for k = circshift (1:3, r - 1)
        t(k, r) = timed (loops{k}, a);
      endfor
    endfor
    net = (t(1:2, :) - t(3, :)) / calls * 1e9;
    printf ("CALL %s %d%s\n", name, nout, sprintf (" %.6g", net(:)));
  endfor
endfunction

function t = timed (loop, a)
  t0 = cputime ();
  eval (loop);
  t = cputime () - t0;
endfunction
