// The derivatives of the image coordinates, for C++ programs: of one point
// from its camera coordinates (frameCoordDerivatives), or of a whole grid
// together with its projection (projectSceneGridWithDerivatives). Installed
// as <scenemap/derivatives.hpp> with the CMake target scenemap::derivatives,
// beside the camera model, <scenemap/camera_model.hpp> and scenemap::core.
#pragma once

#include "derivative_grid.hpp"
#include "frame_derivatives.hpp"
