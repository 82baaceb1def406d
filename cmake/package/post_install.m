## Run by pkg install. Octave looks for a compiled function's help text in a
## .m file beside it, but pkg puts the modules (.mex) into the
## architecture-dependent folder and the .m help files elsewhere; copy each
## module's help file next to its module so that `help scenemap_mex` works.
function post_install (desc)
  roots = {desc.dir};
  if (isfield (desc, "archprefix"))
    roots{end+1} = desc.archprefix;
  endif
  for root = unique (roots)
    for mex = glob (fullfile (root{1}, "*", "*.mex"))'
      [archdir, name] = fileparts (mex{1});
      helpfile = fullfile (desc.dir, [name ".m"]);
      if (exist (helpfile, "file"))
        copyfile (helpfile, archdir);
      endif
    endfor
  endfor
endfunction
