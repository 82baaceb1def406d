## adversarial_suite (octave_cli, module_dir)
##
## Runs every adversarial case of both modules, one child octave-cli per
## module and group, so that a module taking its process down fails the
## suite (naming the case) instead of ending it. Prints how many cases and
## kinds were tried and exits with 1 on any failure.
function adversarial_suite (octave_cli, module_dir)
  here = fileparts (mfilename ("fullpath"));
  total = 0;
  failures = 0;
  kinds = {};
  for module = {"scenemap_mex", "scenemapgrad_mex"}
    module = module{1};
    cases = adversarial_cases (module);
    kinds = union (kinds, {cases.kind});
    for group = unique ({cases.group}, "stable")
      group = group{1};
      idx = find (strcmp ({cases.group}, group));
      code = sprintf ("addpath ('%s', '%s'); adversarial_batch ('%s', '%s')", ...
                      module_dir, here, module, group);
      cmd = sprintf ("%s --no-init-file --no-gui --quiet --eval \"%s\" 2>&1", ...
                     octave_cli, code);
      [status, out] = system (cmd);
      lines = strsplit (out, "\n");
      started = regexp (out, '(?m)^CASE (\d+)$', "tokens");
      done = regexp (out, '(?m)^DONE (\d+)$', "tokens");
      for l = lines(strncmp (lines, "FAIL ", 5))
        [i, why] = strtok (l{1}(6:end));
        printf ("FAIL %s %s:%s\n", module, cases(str2double (i)).name, why);
      endfor
      nfail = sum (strncmp (lines, "FAIL ", 5));
      if (isempty (done) || numel (started) != numel (idx))
        ## The child died mid-batch: the last case it started is the culprit.
        last = "before the first case";
        if (! isempty (started))
          last = cases(str2double (started{end}{1})).name;
        endif
        printf ("CRASH %s (exit status %d) in case %s\n%s\n", module, status, ...
                last, strjoin (lines(! strncmp (lines, "CASE ", 5)), "\n"));
        nfail = max (nfail, 1);
      elseif (status != 0 && nfail == 0)
        printf ("FAIL %s %s: child exited with status %d\n%s\n", module, ...
                group, status, out);
        nfail = 1;
      endif
      total += numel (idx);
      failures += nfail;
    endfor
    printf ("%s: %d adversarial cases\n", module, numel (cases));
  endfor
  printf ("adversarial suite: %d cases of %d kinds, %d failed\n", total, ...
          numel (kinds), failures);
  exit (failures > 0);
endfunction
