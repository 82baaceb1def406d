## c = bench_camera (kappa1)
##
## The benchmarks' camera: a tilted rotation, 8 mm focal length, the
## distortion coefficient KAPPA1. Fields R, T, dx, dy, sx, cx, cy, f, k1.
function c = bench_camera (kappa1)
  ax = [0.3; -0.5; 0.8] / norm ([0.3; -0.5; 0.8]);  an = 0.7;
  K = [0 -ax(3) ax(2); ax(3) 0 -ax(1); -ax(2) ax(1) 0];
  c.R = eye (3) + sin (an) * K + (1 - cos (an)) * K * K;
  c.T = [0.2; -0.1; 5];
  c.dx = 1.1e-2;  c.dy = 0.9e-2;  c.sx = 1.05;  c.cx = 320;  c.cy = 240;
  c.f = 8;  c.k1 = kappa1;
endfunction
