% CHECK_BUILD_MEX(TOOLBOX, SOURCES_FILE)  Builds the modules with
% TOOLBOX/build_mex into a temporary folder, checks its source lists against
% the CMake build's (SOURCES_FILE: one line per module, name then sources),
% calls the modules from there and runs their test blocks, also from inside
% TOOLBOX, whose files must not shadow them. Also checks that a failing
% compile stops build_mex with scenemap:buildFailed.
function check_build_mex (toolbox, sources_file)
  addpath (toolbox);
  out = tempname ();
  unwind_protect
    info = build_mex (out);

    expected = strsplit (strtrim (fileread (sources_file)), "\n");
    assert (numel (info), numel (expected));
    for i = 1:numel (expected)
      words = strsplit (strtrim (expected{i}));
      k = find (strcmp ({info.name}, words{1}));
      assert (numel (k) == 1, "build_mex does not build %s", words{1});
      assert (isequal (sort (info(k).sources), sort (words(2:end))),
              "build_mex and CMake list different sources for %s", words{1});
      assert (exist (info(k).file, "file"), 3);
    endfor

    addpath (out);   # ahead of any other build on the path
    ## Where build_mex lives, the modules in OUTDIR answer, help text
    ## included. (First: Octave keeps a function it has found once.)
    old = cd (toolbox);
    unwind_protect
      for name = {info.name}
        assert (fileparts (which (name{1})), out);
        assert (strfind (help (name{1}), upper (name{1})));
      endfor
      check_modules_run ();
    unwind_protect_cleanup
      cd (old);
    end_unwind_protect
    assert (fileparts (which ("scenemapgrad_mex")), out);

    ## A compile error must stop build_mex, not pass as success.
    broken = tempname ();
    try
      build_mex (broken, "-DmexFunction=");
      error ("build_mex did not report the failed compile");
    catch err
      assert (err.identifier, "scenemap:buildFailed");
      assert (strfind (err.message, "building scenemap_mex failed"));
    end_try_catch
  unwind_protect_cleanup
    discard_build (out);
    if (exist ("broken", "var"))
      discard_build (broken);
    endif
  end_unwind_protect
endfunction
