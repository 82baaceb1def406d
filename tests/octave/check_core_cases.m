## Compares a module against the core's own results, bit for bit, on the
## cases that write_core_cases stored in FILE. FN is the module's name; the
## derivatives module's dUV is compared too.
function check_core_cases (file, fn)
  fid = fopen (file, "r", "ieee-le");
  assert (fid >= 0, "cannot open %s", file);
  data = fread (fid, Inf, "double");
  fclose (fid);
  count = data(1);
  pos = 2;
  for c = 1:count
    M = data(pos);  N = data(pos+1);  pos += 2;
    p = num2cell (data(pos:pos+6));  pos += 7;
    R = reshape (data(pos:pos+8), 3, 3);  pos += 9;
    T = data(pos:pos+2);  pos += 3;
    grab = @(k) reshape (data(pos + (k-1)*M*N + (0:M*N-1)), M, N);
    X = grab (1);  Y = grab (2);  Z = grab (3);  u = grab (4);  v = grab (5);
    d = data(pos + 5*M*N + (0:4*M*N-1));
    pos += 9 * M * N;
    ## Identical bit patterns; NaN where the core has NaN (a NaN's sign is
    ## not part of a result).
    if (strcmp (fn, "scenemapgrad_mex"))
      [mu, mv, md] = feval (fn, X, Y, Z, p{:}, R, T);
      assert (size (md), [2 2 M N]);
      same (md, d);
    else
      [mu, mv] = feval (fn, X, Y, Z, p{:}, R, T);
    endif
    same (mu, u);
    same (mv, v);
  endfor
  assert (pos == numel (data) + 1);
  printf ("%s: %d cases bit-identical to the core\n", fn, count);
endfunction

## Identical bit patterns; NaN where the core has NaN (a NaN's sign is not
## part of a result).
function same (a, b)
  assert (isnan (a(:)), isnan (b(:)));
  assert (typecast (a(! isnan (a)), "uint64"), typecast (b(! isnan (b)), "uint64"));
endfunction
