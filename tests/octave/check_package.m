% CHECK_PACKAGE(TARBALL, VERSION)  Installs the Octave package TARBALL into a
% temporary prefix (never the user's or the system's package list), loads it,
% checks its version and runs the modules' test blocks from the install.
function check_package (tarball, version)
  prefix = tempname ();
  mkdir (prefix);
  unwind_protect
    pkg ("prefix", prefix, prefix);
    pkg ("local_list", fullfile (prefix, "octave_packages"));
    pkg ("install", "-local", tarball);
    pkg ("load", "scenemap");

    info = pkg ("list", "scenemap");
    assert (numel (info), 1);
    assert (info{1}.version, version);
    packinfo = fullfile (info{1}.dir, "packinfo");
    assert (regexp (fileread (fullfile (packinfo, "DESCRIPTION")),
                    'License: BSD-3-Clause'));
    assert (strfind (fileread (fullfile (packinfo, "COPYING")),
                     "BSD 3-Clause License"));
    assert (scenemap (), version);
    ## The help names only what the package ships (build_mex stays behind).
    assert (isempty (regexpi (help ("scenemap"), "build_mex")),
            "help scenemap names build_mex, which the package does not ship");
    for name = {"scenemap_mex", "scenemapgrad_mex", "scenemapinv_mex"}
      file = which (name{1});
      assert (strncmp (file, prefix, numel (prefix)),
              "%s comes from %s, not from the package", name{1}, file);
      assert (regexp (file, '\.oct$'));
      ## The help text is found beside the module.
      assert (strfind (help (name{1}), upper (name{1})));
    endfor

    check_modules_run ();
    assert (test ("scenemap", "quiet"));
    pkg ("unload", "scenemap");
  unwind_protect_cleanup
    confirm_recursive_rmdir (false, "local");
    rmdir (prefix, "s");
  end_unwind_protect
endfunction
