## bench_builds (build_dir, smoke)
##
## The native Octave functions (BUILD_DIR/octave, .oct) against the MEX
## builds of the same sources (BUILD_DIR/octave-mex, .mex), both modules,
## both signs of kappa1, on 1 point (the cost of a call), 1e3, 1e5 and 1e6
## points, and the peak memory of one call at 4e6 points. Prints two
## Markdown tables.
##
## Every measurement runs in a fresh octave-cli (bench_one), so that no
## build inherits the other's heap, and the two builds of a pair take turns
## going first; each pair is measured in 3 such rounds and each build keeps
## its smallest time (load from other processes only ever adds). Times are
## medians of 7 repetitions of processor time within a process. The
## allocator's own state is fixed by glibc tunables, in two settings:
##   fresh pages  mmap threshold 128 KiB: every large array is mapped anew
##                and unmapped when freed, so each call pays for faulting in
##                all the memory it touches (a call on a big grid);
##   reused heap  mmap threshold 32 MiB and no trimming: freed arrays stay
##                resident and the next call reuses them (repeated calls).
## Peak memory is measured with fresh pages: the growth of VmHWM over the
## resident memory before the call is then what the call allocates, not
## what the heap happened to hold. SMOKE (true in make test): 100 points,
## one repetition and round, 1e4 points for the memory.
function bench_builds (build_dir, smoke)
  here = fileparts (mfilename ("fullpath"));
  cli = fullfile (OCTAVE_HOME (), "bin", "octave-cli");
  if (! exist (cli, "file"))
    cli = "octave-cli";
  endif
  builds = {fullfile(build_dir, "octave"), fullfile(build_dir, "octave-mex")};
  sizes = [1 1e3 1e5 1e6];  reps = 7;  rounds = 3;  big = 4e6;
  if (smoke)
    sizes = 100;  reps = 1;  rounds = 1;  big = 1e4;
  endif
  ## kappa1, radius range of the points, label.
  cases = {0.02, 0.2, 6, "k1 > 0"; -0.02, 0.2, 2.6, "k1 < 0"};

  function out = child (build, what, module, n, ci, env)
    code = sprintf ("addpath ('%s', '%s'); bench_one ('%s', '%s', %d, %.17g, %.17g, %.17g, %d)",
                    build, here, what, module, n, cases{ci, 1:3}, reps);
    [status, text] = system (sprintf ("%s %s --no-init-file --no-gui --quiet --eval \"%s\"",
                                      env, cli, code));
    out = str2double (regexp (text, '(?:NS|PEAK) ([\d.e+-]+)(?: (\d+))?', "tokens", "once"));
    if (status != 0 || isempty (out) || any (isnan (out(1))))
      error ("bench:child", "bench_one %s %s %d in %s failed:\n%s", what, module,
             n, build, text);
    endif
  endfunction

  fresh = "GLIBC_TUNABLES=glibc.malloc.mmap_threshold=131072";
  heaps = {"fresh pages", fresh;
           "reused heap", ["GLIBC_TUNABLES=glibc.malloc.mmap_threshold=33554432", ...
                           ":glibc.malloc.trim_threshold=4294967296"]};
  printf ("| suite | case | points | native ns/pt | MEX ns/pt | ratio | target |\n");
  printf ("|---|---|---|---|---|---|---|\n");
  turn = 0;
  for module = {"scenemap_mex", "scenemapgrad_mex"}
    for ci = 1:rows (cases)
      for hi = 1:rows (heaps)
        for n = sizes
          t = Inf (1, 2);
          for round = 1:rounds
            order = [1 2];
            if (mod (turn, 2))
              order = [2 1];
            endif
            turn += 1;
            for b = order
              r = child (builds{b}, "time", module{1}, n, ci, heaps{hi, 2});
              t(b) = min (t(b), r(1));
            endfor
          endfor
          printf ("| Octave %s: native / MEX | %s, %s | %d | %.1f | %.1f | %.3f | <= 1 |\n",
                  module{1}, cases{ci, 4}, heaps{hi, 1}, n, t(1), t(2),
                  t(1) / t(2));
        endfor
      endfor
    endfor
  endfor

  printf ("\n| peak memory growth of one call | points | results MiB | native MiB | native / results | MEX MiB | MEX / results | target (native) |\n");
  printf ("|---|---|---|---|---|---|---|---|\n");
  for module = {"scenemap_mex", "scenemapgrad_mex"}
    p = zeros (2, 2);
    for b = 1:2
      p(b, :) = child (builds{b}, "peak", module{1}, big, 1, fresh);
    endfor
    out = p(1, 2) / 1024;
    printf ("| Octave %s | %d | %.1f | %.1f | %.3f | %.1f | %.3f | <= 1.15 |\n",
            module{1}, big, out, p(1, 1) / 1024, p(1, 1) / p(1, 2),
            p(2, 1) / 1024, p(2, 1) / p(2, 2));
  endfor
endfunction
