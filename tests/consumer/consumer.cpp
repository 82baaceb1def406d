// Projects points through a camera at depth 2 with the installed core and
// takes their derivatives with the installed derivatives library: with unit
// focal length and pixels, no distortion and no rotation, u = X / 2 and
// v = Y / 2, so du/dX = dv/dY = 1/2 and the cross terms are 0. By the
// camera's parameters: du/df = X / 2, du/dkappa1 = -xu ru^2 (xu = 1,
// yu = 1.5), du/dT = (1/2, 0, -xu/2). The first point's image goes back to
// its plane with the installed core.
#include <cstdio>
#include <scenemap/camera_model.hpp>
#include <scenemap/derivatives.hpp>
#include <scenemap/image_to_plane.hpp>

int main() {
  scenemap::CameraParams cam = {
      1, 1, 1, 0, 0, 1, 0, {1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 2}};
  const double X[2] = {2, 0}, Y[2] = {3, 5}, Z[2] = {0, 0};
  double u[2] = {0, 0}, v[2] = {0, 0};
  scenemap::projectSceneGrid(cam, X, Y, Z, 1, 2, u, v);
  // The second point has X == 0: absent, left as it was.
  bool ok = u[0] == 1 && v[0] == 1.5 && u[1] == 0 && v[1] == 0;
  std::printf("u = (%g, %g), v = (%g, %g)\n", u[0], u[1], v[0], v[1]);
  double Xb = 0, Yb = 0;
  scenemap::frameToScenePlaneCoord(cam, u[0], v[0], 0, &Xb, &Yb, nullptr);
  ok = ok && Xb == 2 && Yb == 3;
  std::printf("back to Z = 0: (%g, %g)\n", Xb, Yb);

  double ug[2] = {0, 0}, vg[2] = {0, 0}, dUV[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  scenemap::projectSceneGridWithDerivatives(cam, X, Y, Z, 1, 2, ug, vg, dUV);
  double one[4] = {0, 0, 0, 0};
  scenemap::frameCoordDerivatives(cam, 2, 3, 2, one);
  const double want[8] = {0.5, 0, 0, 0.5, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) ok = ok && dUV[i] == want[i];
  for (int i = 0; i < 4; ++i) ok = ok && one[i] == want[i];
  ok = ok && ug[0] == u[0] && vg[0] == v[0];
  std::printf("d(u, v)/d(X, Y) = [%g %g; %g %g]: %s\n", dUV[0], dUV[1], dUV[2],
              dUV[3], ok ? "ok" : "WRONG");

  // The derivatives by the 19 camera parameters, 38 doubles a point.
  double dCam[76] = {};
  scenemap::projectSceneGridWithDerivatives(cam, X, Y, Z, 1, 2, ug, vg, nullptr,
                                            dCam);
  const double *du = dCam, *dv = dCam + 19;
  ok = ok && du[3] == 1 && dv[4] == 1 && du[5] == 1 && dv[5] == 1.5 &&
       du[6] == -3.25 && dv[6] == -4.875 && du[16] == 0.5 && du[18] == -0.5 &&
       dv[18] == -0.75 && du[7] == 2 * du[16] && dCam[38] == 0;
  std::printf("du/d(f, kappa1, T) = (%g, %g, %g %g %g): %s\n", du[5], du[6],
              du[16], du[17], du[18], ok ? "ok" : "WRONG");
  return ok ? 0 : 1;
}
