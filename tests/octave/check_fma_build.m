% CHECK_FMA_BUILD(TOOLBOX, CASES)  Builds the modules with TOOLBOX/build_mex
% for this processor (-march=native, which has fused multiply-add on the
% machines that run the tests) and checks the two projections bit for bit
% against the core's cases in the file CASES: build_mex's flags, the same
% for every module, must stop the compiler from contracting a multiply and
% an add into one rounding.
function check_fma_build (toolbox, cases)
  addpath (toolbox);
  out = tempname ();
  unwind_protect
    build_mex (out, "-march=native");
    addpath (out);
    for fn = {"scenemap_mex", "scenemapgrad_mex"}
      assert (fileparts (which (fn{1})), out);
      check_core_cases (cases, fn{1});
    endfor
  unwind_protect_cleanup
    discard_build (out);
  end_unwind_protect
endfunction
