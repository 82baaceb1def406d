% DISCARD_BUILD(DIR)  Takes the folder DIR of a test build off the path and
% deletes it with its contents, if it is there.
function discard_build (dir)
  if (any (strcmp (strsplit (path (), pathsep ()), dir)))
    rmpath (dir);
  endif
  confirm_recursive_rmdir (false, "local");
  if (exist (dir, "dir"))
    rmdir (dir, "s");
  endif
endfunction
