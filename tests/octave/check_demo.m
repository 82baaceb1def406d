% CHECK_DEMO  Runs scenemap_demo headless and checks what it prints (the
% back-projection's round trip, the calibration's table) and the PNG it
% writes: a valid PNG header, 1200-by-1200 pixels, more than a blank page's
% bytes.
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
    ## The calibration recovers each intrinsic within 4 of its standard
    ## deviations (0.2 px noise, a fixed seed: a wrong estimate or a wrong
    ## error bar is off by far more), the residuals at the noise.
    z = regexp (out, '^  (f|kappa1|cx|cy|sx) [^\n]* ([-.\d]+)$', "tokens",
                "lineanchors");
    assert (numel (z), 5);
    assert (abs (cellfun (@(t) str2double (t{2}), z)) < 4);
    rms = regexp (out, 'rms residual ([.\d]+) px', "tokens", "once");
    assert (str2double (rms{1}) < 0.2 * sqrt (2) * 1.2);
    fid = fopen (file, "r");
    assert (fid >= 0, "scenemap_demo wrote no %s", file);
    head = fread (fid, 24, "uint8=>uint8")';
    fclose (fid);
    assert (head(1:8), uint8 ([137 80 78 71 13 10 26 10]));   # PNG signature
    be32 = @(b) double (b) * [2^24; 2^16; 2^8; 1];
    assert ([be32(head(17:20)), be32(head(21:24))], [1200 1200]);
    info = dir (file);
    assert (info.bytes > 10000);
  unwind_protect_cleanup
    if (exist (file, "file"))
      delete (file);
    endif
  end_unwind_protect
endfunction
