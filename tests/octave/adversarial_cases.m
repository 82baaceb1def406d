## cases = adversarial_cases (module)
##
## Every wrong kind of call a user can make of MODULE (scenemap_mex or
## scenemapgrad_mex), one struct per case:
##   group  "counts" or "argN": the batch the case runs in
##   kind   what was done wrong, e.g. "int8", "NaN", "empty 0x3"
##   name   a readable label: group and kind
##   args   the input arguments
##   nout   number of outputs requested
##   id     the error identifier expected, or "" for a result
##   msg    a fragment the error message must contain ("" for none)
## A case expecting a result is checked against scene_reference.
function cases = adversarial_cases (module)
  if (strcmp (module, "scenemapgrad_mex"))
    maxout = 4;
  else
    maxout = 2;
  endif
  names = {"Xw", "Yw", "Zw", "dx", "dy", "sx", "cx", "cy", "f", "kappa1", ...
           "R", "T"};
  c = 0;
  cases = struct ("group", {}, "kind", {}, "name", {}, "args", {}, ...
                  "nout", {}, "id", {}, "msg", {});

  function add (group, kind, args, nout, id, msg)
    c += 1;
    cases(c).group = group;
    cases(c).kind = kind;
    cases(c).name = sprintf ("%s %s", group, kind);
    cases(c).args = args;
    cases(c).nout = nout;
    cases(c).id = id;
    cases(c).msg = msg;
  endfunction

  ## A wrong class for argument p: arrays must be double, scalars numeric.
  function wrong (kind, x, cls, numeric)
    if (grid)
      add (group, kind, with (x), 2, "scenemap:notDouble", ...
           sprintf ("%s must be a double array, not %s", label, cls));
    elseif (numeric)
      add (group, kind, with (x), 2, "", "");
    else
      add (group, kind, with (x), 2, "scenemap:notNumeric", ...
           sprintf ("%s must be a numeric scalar, not %s", label, cls));
    endif
  endfunction

  ## Two valid calls on a 2-by-3 grid with one absent point, tilted camera:
  ## barrel distortion, and pincushion strong enough that the outer points
  ## fold.
  th = 0.3;
  Rt = [cos(th) 0 sin(th); 0 1 0; -sin(th) 0 cos(th)];
  barrel = {[0.1 0 -0.2; 0.3 0.15 -0.05], [0.2 -0.1 0.05; 0.3 -0.25 0.1], ...
            [0.01 0.02 0; -0.03 0.05 0.1], 1e-3, 1.1e-3, 1.02, 320, 240, ...
            0.9, 0.4, Rt, [0.02; -0.01; 1.5]};
  pincushion = barrel;
  pincushion{10} = -2.5;

  ## Argument and output counts.
  for n = 0:11
    add ("counts", sprintf ("nargin %d", n), barrel(1:n), 1, ...
         "scenemap:nargin", sprintf ("but got %d", n));
  endfor
  for extra = 1:2
    add ("counts", sprintf ("nargin %d", 12 + extra), ...
         [barrel, num2cell(ones(1, extra))], 1, "scenemap:nargin", ...
         sprintf ("but got %d", 12 + extra));
  endfor
  for nout = maxout + (1:2)
    add ("counts", sprintf ("nargout %d", nout), barrel, nout, ...
         "scenemap:nargout", sprintf ("but %d were requested", nout));
  endfor
  add ("counts", "nargin 11 and too many outputs", barrel(1:11), ...
       maxout + 1, "scenemap:nargin", "but got 11");
  for nout = 0:maxout
    add ("counts", sprintf ("nargout %d", nout), barrel, nout, "", "");
  endfor

  int_classes = {"single", "int8", "uint8", "int16", "uint16", "int32", ...
                 "uint32", "int64", "uint64"};
  values = {"NaN", NaN; "Inf", Inf; "-Inf", -Inf; "realmax", realmax; ...
            "-realmax", -realmax; "1e300", 1e300; "denormal", 2^-1074; ...
            "-denormal", -2^-1070; "-0", -0; "0", 0};

  for p = 1:12
    group = sprintf ("arg%d", p);
    label = sprintf ("argument %d (%s)", p, names{p});
    grid = p <= 3 || p >= 11;   # arrays read as double data
    v0 = barrel{p};

    ## Replaces argument p of the barrel call.
    with = @(x) [barrel(1:p-1), {x}, barrel(p+1:end)];

    for k = 1:numel (int_classes)
      wrong (int_classes{k}, cast (v0, int_classes{k}), int_classes{k}, true);
    endfor
    wrong ("int64 max", intmax ("int64") * ones (size (v0), "int64"), ...
           "int64", true);
    wrong ("uint64 max", intmax ("uint64") * ones (size (v0), "uint64"), ...
           "uint64", true);
    wrong ("logical", v0 != 0, "logical", false);
    wrong ("char", repmat ("a", size (v0)), "char", false);
    wrong ("cell", {v0}, "cell", false);
    wrong ("struct", struct ("a", v0), "struct", false);
    wrong ("struct array", struct ("a", {1, 2}), "struct", false);
    wrong ("function handle", @sin, "function_handle", false);
    wrong ("object", containers.Map (), "containers.Map", false);
    wrong ("sparse logical", sparse (v0 != 0), "logical", false);
    if (grid)
      wrong ("empty int8", int8 ([]), "int8", true);
    else
      add (group, "empty int8", with (int8 ([])), 2, "scenemap:empty", ...
           sprintf ("%s is empty", label));
    endif
    wrong ("empty char", "", "char", false);
    wrong ("empty cell", {}, "cell", false);
    wrong ("empty struct", struct ([]), "struct", false);

    add (group, "sparse", with (sparse (v0)), 2, "scenemap:sparse", ...
         sprintf ("%s must be a full array, not sparse", label));
    add (group, "sparse complex", with (sparse (complex (v0, 1))), 2, ...
         "scenemap:complex", sprintf ("%s must be real", label));
    add (group, "complex", with (complex (v0, 1)), 2, "scenemap:complex", ...
         sprintf ("%s must be real, not complex", label));
    add (group, "complex zero imaginary", with (complex (v0, 0)), 2, ...
         "scenemap:complex", sprintf ("%s must be real, not complex", label));
    if (grid)
      add (group, "complex single", with (complex (single (v0), 0)), 2, ...
           "scenemap:notDouble", sprintf ("%s must be a double array", label));
    else
      add (group, "complex single", with (complex (single (v0), 0)), 2, ...
           "scenemap:complex", sprintf ("%s must be real", label));
    endif

    ## Empty doubles of every shape.
    for sz = {[0 0], [1 0], [0 1], [0 3], [3 0], [0 3 2]}
      e = zeros (sz{1});
      kind = sprintf ("empty %s", strjoin (arrayfun (@num2str, sz{1}, ...
                                                     "UniformOutput", false), "x"));
      if (p == 1)
        add (group, kind, with (e), 2, "", "");   # an empty grid
      elseif (grid)
        add (group, kind, with (e), 2, "scenemap:tooShort", ...
             sprintf ("%s has 0 elements", label));
      else
        add (group, kind, with (e), 2, "scenemap:empty", ...
             sprintf ("%s is empty", label));
      endif
    endfor

    ## Too few elements, more than needed, other shapes, N-d arrays.
    switch (p)
      case 1
        add (group, "more points than Yw", with (ones (3, 3)), 2, ...
             "scenemap:tooShort", ...
             "argument 2 (Yw) has 6 elements but needs at least 9");
        add (group, "N-d 2x3x2", [{cat(3, v0, -v0)}, ...
                                  {[barrel{2}, barrel{2}]}, ...
                                  {[barrel{3}, barrel{3}]}, barrel(4:end)], ...
             2, "", "");
        add (group, "all absent", with (zeros (2, 3)), 2, "", "");
        add (group, "all -0", with (-zeros (2, 3)), 2, "", "");
        add (group, "grid 0x5, empty Yw Zw", [{zeros(0, 5), [], []}, ...
                                               barrel(4:end)], 2, "", "");
        add (group, "grid 5x0, empty Yw Zw", [{zeros(5, 0), [], []}, ...
                                               barrel(4:end)], 2, "", "");
        add (group, "grid 0x(2^31-1)", [{zeros(0, 2^31 - 1), [], []}, ...
                                         barrel(4:end)], 2, "", "");
        add (group, "grid 0x2^31", [{zeros(0, 2^31), [], []}, ...
                                     barrel(4:end)], 2, ...
             "scenemap:tooLarge", "argument 1 (Xw) is 0-by-2147483648");
        add (group, "grid 2^31x0", [{zeros(2^31, 0), [], []}, ...
                                     barrel(4:end)], 2, ...
             "scenemap:tooLarge", "argument 1 (Xw) is 2147483648-by-0");
      case {2, 3}
        add (group, "one element short", with (v0(1:end-1)), 2, ...
             "scenemap:tooShort", ...
             sprintf ("%s has 5 elements but needs at least 6", label));
        add (group, "longer", with ([v0(:); 7; 8]), 2, "", "");
        add (group, "N-d 1x2x3", with (reshape (v0, 1, 2, 3)), 2, "", "");
      case 11
        add (group, "2x4", with (reshape (v0(1:8), 2, 4)), 2, ...
             "scenemap:tooShort", sprintf ("%s has 8 elements", label));
        add (group, "scalar", with (1), 2, "scenemap:tooShort", ...
             sprintf ("%s has 1 elements", label));
        add (group, "3x4", with ([v0, [9; 9; 9]]), 2, "", "");
        add (group, "N-d 1x3x3", with (reshape (v0, 1, 3, 3)), 2, "", "");
      case 12
        add (group, "two elements", with (v0(1:2)), 2, "scenemap:tooShort", ...
             sprintf ("%s has 2 elements", label));
        add (group, "row", with (v0'), 2, "", "");
        add (group, "four elements", with ([v0; 9]), 2, "", "");
        add (group, "N-d 1x1x3", with (reshape (v0, 1, 1, 3)), 2, "", "");
      otherwise
        add (group, "1x2 (first used)", with ([v0 99]), 2, "", "");
        add (group, "N-d 1x1x2", with (cat (3, v0, 99)), 2, "", "");
    endswitch

    ## Special values: in the first element of an array, as the scalar
    ## itself; with barrel and pincushion distortion.
    for k = 1:rows (values)
      for base = {{"barrel", barrel}, {"pincushion", pincushion}}
        args = base{1}{2};
        args{p}(1) = values{k, 2};
        add (group, sprintf ("%s (%s)", values{k, 1}, base{1}{1}), args, ...
             maxout, "", "");
      endfor
    endfor
  endfor
endfunction
