## adversarial_batch (module, group)
##
## Runs the adversarial cases of one group against MODULE and prints one
## line per case: "CASE i" before the call (flushed, so that the parent can
## name the case that took the process down), then "FAIL i reason" when the
## outcome is wrong, and "DONE n" at the end. Exits with 1 if any case
## failed.
function adversarial_batch (module, group)
  cases = adversarial_cases (module);
  failed = 0;
  ran = 0;
  for i = find (strcmp ({cases.group}, group))
    c = cases(i);
    printf ("CASE %d\n", i);
    fflush (stdout);
    ran += 1;
    why = check_case (module, c);
    if (! isempty (why))
      printf ("FAIL %d %s\n", i, why);
      failed += 1;
    endif
  endfor
  printf ("DONE %d\n", ran);
  fflush (stdout);
  exit (failed > 0);
endfunction

## Returns "" when the call gave the expected error or result, otherwise why
## not.
function why = check_case (module, c)
  why = "";
  outs = cell (1, max (c.nout, 1));
  err = [];
  try
    if (c.nout == 0)
      feval (module, c.args{:});
      outs{1} = ans;
    else
      [outs{1:c.nout}] = feval (module, c.args{:});
    endif
  catch e
    err = e;
  end_try_catch

  if (! isempty (c.id))
    if (isempty (err))
      why = sprintf ("expected error %s but the call succeeded", c.id);
    elseif (! strcmp (err.identifier, c.id))
      why = sprintf ("expected error %s, got %s: %s", c.id, err.identifier, ...
                     err.message);
    elseif (isempty (strfind (err.message, c.msg)))
      why = sprintf ("message \"%s\" lacks \"%s\"", err.message, c.msg);
    endif
    return;
  endif
  if (! isempty (err))
    why = sprintf ("unexpected error %s: %s", err.identifier, err.message);
    return;
  endif

  args = cellfun (@(a) double (full (a)), c.args, "UniformOutput", false);
  [u, v, kept] = scene_reference (args{:});
  got = {u, v};
  ## Bit for bit where the modules keep the model's formulas; elsewhere
  ## (checked against a quad-precision solve by the C++ tests) no NaN where
  ## the model's affine map has none of its own.
  for k = 1:min (max (c.nout, 1), 2)
    a = outs{k};
    b = got{k};
    if (! isequal (size (a), size (b)))
      why = sprintf ("output %d has the wrong size", k);
      return;
    endif
    a(! kept) = 0;
    b(! kept) = 0;
    if (! same_bits (a, b))
      why = sprintf ("output %d differs from the model", k);
      return;
    endif
    affine = cellfun (@(a) a(1), args(4:8));
    if (all (isfinite (affine)) && any (isnan (outs{k}(! kept))))
      why = sprintf ("output %d is NaN where the model has no NaN", k);
      return;
    endif
  endfor
  if (c.nout >= 3)
    d = outs{3};
    [M, N] = size (u);
    if (! isequal (size (d), size (zeros (2, 2, M, N))) || ! isa (d, "double"))
      why = sprintf ("dUV is %s %s, expected 2x2x%dx%d", class (d), ...
                     mat2str (size (d)), M, N);
    elseif (any (any (d(:, :, args{1} == 0))))
      why = "dUV of an absent point is not zero";
    endif
  endif
  if (c.nout >= 4 && isempty (why))
    d = outs{4};
    [M, N] = size (u);
    if (! isequal (size (d), size (zeros (19, 2, M, N))) || ! isa (d, "double"))
      why = sprintf ("dCam is %s %s, expected 19x2x%dx%d", class (d), ...
                     mat2str (size (d)), M, N);
    elseif (any (any (d(:, :, args{1} == 0))))
      why = "dCam of an absent point is not zero";
    elseif (any (any (reshape (d, 38, [])([4 24], args{1}(:) != 0) != 1)))
      why = "du/dcx or dv/dcy of a point is not 1";
    endif
  endif
endfunction

## Same shape, class double and real, NaN where b has NaN, otherwise the
## same bits (so -0 and 0 differ). NaN payloads may differ: the compiler may
## swap the operands of a commutative operation.
function ok = same_bits (a, b)
  ok = isa (a, "double") && isreal (a) && ! issparse (a) ...
       && isequal (size (a), size (b));
  if (ok)
    na = isnan (a(:));
    ok = isequal (na, isnan (b(:))) ...
         && isequal (typecast (a(! na), "uint64"), typecast (b(! na), "uint64"));
  endif
endfunction
