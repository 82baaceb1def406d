// Projects two points through an identity camera with the installed core,
// and takes the first back to its plane.
#include <cstdio>
#include <scenemap/camera_model.hpp>
#include <scenemap/image_to_plane.hpp>

int main() {
  scenemap::CameraParams cam = {
      1, 1, 1, 0, 0, 1, 0, {1, 0, 0, 0, 1, 0, 0, 0, 1}, {0, 0, 1}};
  const double X[2] = {2, 0}, Y[2] = {3, 5}, Z[2] = {0, 0};
  double u[2] = {0, 0}, v[2] = {0, 0};
  scenemap::projectSceneGrid(cam, X, Y, Z, 1, 2, u, v);
  double Xb = 0, Yb = 0;
  scenemap::frameToScenePlaneCoord(cam, u[0], v[0], 0, &Xb, &Yb, nullptr);
  // The second point has X == 0: absent, left as it was.
  const bool ok =
      u[0] == 2 && v[0] == 3 && u[1] == 0 && v[1] == 0 && Xb == 2 && Yb == 3;
  std::printf("u = (%g, %g), v = (%g, %g), back (%g, %g): %s\n", u[0], u[1],
              v[0], v[1], Xb, Yb, ok ? "ok" : "WRONG");
  return ok ? 0 : 1;
}
