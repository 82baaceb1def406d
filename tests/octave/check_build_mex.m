% CHECK_BUILD_MEX(TOOLBOX)  Builds the modules with TOOLBOX/build_mex into a
% temporary folder (from cmake/modules.txt, the list the CMake build reads:
% every module once, each source once), calls the modules from there and runs
% their test blocks, also from inside TOOLBOX, whose files must not shadow
% them. Also checks that a failing compile stops build_mex with
% scenemap:buildFailed.
function check_build_mex (toolbox)
  addpath (toolbox);
  out = tempname ();
  unwind_protect
    info = build_mex (out);

    assert (sort ({info.name}),
            {"scenemap_mex", "scenemapgrad_mex", "scenemapinv_mex"});
    for i = 1:numel (info)
      assert (numel (unique (info(i).sources)), numel (info(i).sources));
      assert (exist (info(i).file, "file"), 3);
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
