% CHECK_DEMO  Runs scenemap_demo headless and checks the PNG it writes: a
% valid PNG header, 1200-by-800 pixels, more than a blank page's bytes.
function check_demo ()
  file = [tempname() ".png"];
  unwind_protect
    out = evalc ("scenemap_demo (file)");
    assert (strfind (out, "kappa1 = 60000"));
    assert (strfind (out, "kappa1 = -30000"));
    assert (strfind (out, "Derivative block size"));
    ## The round trip through the back-projection lands on the corners.
    err = regexp (out, 'from the corner ([-+.e\d]+) m', "tokens");
    assert (numel (err), 3);
    assert (cellfun (@(t) str2double (t{1}), err) < 1e-12);
    fid = fopen (file, "r");
    assert (fid >= 0, "scenemap_demo wrote no %s", file);
    head = fread (fid, 24, "uint8=>uint8")';
    fclose (fid);
    assert (head(1:8), uint8 ([137 80 78 71 13 10 26 10]));   # PNG signature
    be32 = @(b) double (b) * [2^24; 2^16; 2^8; 1];
    assert ([be32(head(17:20)), be32(head(21:24))], [1200 800]);
    info = dir (file);
    assert (info.bytes > 10000);
  unwind_protect_cleanup
    if (exist (file, "file"))
      delete (file);
    endif
  end_unwind_protect
endfunction
