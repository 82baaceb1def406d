## check_native_matches_mex (mex_dir)
##
## The native functions on the path against the MEX builds in MEX_DIR, on
## every adversarial case of the modules (the back-projection takes the
## derivatives module's, its arguments being alike) and on grids longer than
## the runs the native walk is split into: the same error identifier and
## message, or the same outputs bit for bit (NaN payloads included) in class
## and shape. The MEX files are copied under other names so that both can be
## loaded.
function check_native_matches_mex (mex_dir)
  tmp = tempname ();
  mkdir (tmp);
  unwind_protect
    modules = {"scenemap_mex", "scenemapgrad_mex", "scenemapinv_mex"};
    for module = modules
      copyfile (fullfile (mex_dir, [module{1} ".mex"]),
                fullfile (tmp, ["viamex_" module{1} ".mex"]));
    endfor
    addpath (tmp);
    n = 0;
    for module = modules
      for c = adversarial_cases (strrep (module{1}, "inv", "grad"))
        compare (module{1}, c.args, c.nout, c.name);
        n += 1;
      endfor
      ## 450-by-400 points: several runs and a partial last one; absent,
      ## NaN and infinite points; both signs of kappa1.
      rand ("seed", 7);
      [X, Y] = meshgrid (linspace (-3, 3, 400), linspace (-2, 2, 450));
      X(rand (size (X)) < 0.1) = 0;
      X(17) = NaN;  Y(70000) = Inf;
      Z = 0.3 * rand (size (X));
      R = [0.36 0.48 -0.8; -0.8 0.6 0; 0.48 0.64 0.6];
      for k1 = [0.2 -0.2 0]
        args = {X, Y, Z, 2e-3, 3e-3, 1.1, 320, 240, 0.05, k1, R, [0.1 -0.2 4]};
        nmax = 3 - strcmp (module{1}, "scenemap_mex") ...
               + strcmp (module{1}, "scenemapgrad_mex");
        for nout = 1:nmax
          compare (module{1}, args, nout, sprintf ("grid k1=%g", k1));
          n += 1;
        endfor
      endfor
    endfor
    printf ("native and MEX builds agree on %d calls\n", n);
  unwind_protect_cleanup
    if (any (strcmp (strsplit (path (), pathsep ()), tmp)))
      rmpath (tmp);
    endif
    confirm_recursive_rmdir (false, "local");
    rmdir (tmp, "s");
  end_unwind_protect
endfunction

function compare (module, args, nout, name)
  [native, enative] = run (module, args, nout);
  [viamex, emex] = run (["viamex_" module], args, nout);
  if (! isempty (enative) || ! isempty (emex))
    assert (! isempty (enative) && ! isempty (emex),
            "%s %s: only one build raised an error", module, name);
    assert (enative.identifier, emex.identifier);
    assert (strrep (emex.message, "viamex_", ""), enative.message);
    return;
  endif
  for k = 1:numel (native)
    a = native{k};  b = viamex{k};
    assert (class (a), class (b));
    assert (size (a), size (b));
    assert (isreal (a) && isreal (b) && ! issparse (a) && ! issparse (b));
    assert (isequal (typecast (a(:), "uint64"), typecast (b(:), "uint64")),
            "%s %s: output %d differs", module, name, k);
  endfor
endfunction

function [out, err] = run (fn, args, nout)
  out = cell (1, max (nout, 1));
  err = [];
  try
    if (nout == 0)
      feval (fn, args{:});
      out{1} = ans;
    else
      [out{:}] = feval (fn, args{:});
    endif
  catch e
    err = e;
  end_try_catch
endfunction
