// The grid walk of the derivatives module: projection plus the 2x2
// derivative block of every present point.
#pragma once

#include <cstdint>

#include "camera_model.hpp"

namespace scenemap {

// Walks an M-by-N grid exactly as projectSceneGrid does (column-major,
// points with Xw[k] == 0 absent and left untouched) and, for every present
// point, also writes its derivative block to dUV[4k .. 4k+3] in the slot
// order of frameCoordDerivatives: du/dX, du/dY, dv/dX, dv/dY. dUV holds
// 4 * M * N doubles (a 2-by-2-by-M-by-N array in the host's layout), or is
// null: then only u and v are written, as projectSceneGrid writes them.
void projectSceneGridWithDerivatives(const CameraParams &params,
                                     const double *Xw, const double *Yw,
                                     const double *Zw, std::int32_t M,
                                     std::int32_t N, double *u, double *v,
                                     double *dUV);

}  // namespace scenemap
