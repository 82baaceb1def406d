// The argument rules of the modules, written once for every host.
//
// A host adapter describes each input array in an ArgInfo (class, complex,
// sparse, element count, and an ArgHost through which the checks ask for
// its class name, shape, data and first element where they need them) and
// raises the ArgError these checks return through the host's own error
// facility. The checks know no host and never allocate.
#pragma once

#include <cstddef>
#include <cstdint>

#include "camera_model.hpp"

namespace scenemap {

// Input positions of the twelve arguments every module takes, 0-based:
//   (Xw, Yw, Zw, dx, dy, sx, cx, cy, f, kappa1, R, T)
// The back-projection takes image points in the first two places:
//   (u, v, Zw, dx, ...).
enum SceneArg {
  kArgXw,
  kArgYw,
  kArgZw,
  kArgDx,
  kArgDy,
  kArgSx,
  kArgCx,
  kArgCy,
  kArgF,
  kArgKappa1,
  kArgR,
  kArgT,
  kNumSceneArgs
};

// How the checks ask a host about one of its arrays, beyond the flags the
// adapter fills in eagerly. These are asked only where needed (the class
// name for a message, the shape of the grid argument, the data and first
// element of an accepted argument), since a host may do work for them.
struct ArgHost {
  const char *(*className)(const void *arg);  // for messages
  // Rows (first dimension) and columns (product of the other dimensions).
  void (*shape)(const void *arg, std::size_t *rows, std::size_t *cols);
  const double *(*data)(const void *arg);  // real double data
  double (*first)(const void *arg);        // first element as a double
};

// What a host tells about one input array.
struct ArgInfo {
  bool isDouble;        // class double (complex and sparse included)
  bool isNumeric;       // a numeric class (not logical, char, cell, ...)
  bool isComplex;       // stores an imaginary part
  bool isSparse;        // stored sparse
  std::size_t count;    // number of elements
  const void *arg;      // the host's array
  const ArgHost *host;  // how to ask about it
};

// A misuse found by the checks: an identifier "scenemap:<reason>" and a
// message naming the argument.
struct ArgError {
  const char *id;
  char message[384];
};

// The checked inputs: camera parameters copied out of the host arrays, the
// three point arrays (host-owned, read-only during the call) and the grid
// shape taken from the first of them. For the back-projection Xw and Yw
// hold its u and v.
struct SceneInputs {
  CameraParams params;
  const double *Xw;
  const double *Yw;
  const double *Zw;
  std::int32_t M;
  std::int32_t N;
};

// The names of the three point arrays in messages: world points for the
// projections, image points on world planes for the back-projection.
extern const char *const kWorldPointNames[3];  // Xw, Yw, Zw
extern const char *const kImagePointNames[3];  // u, v, Zw

// Checks one call: exactly kNumSceneArgs inputs (args holds the first
// min(nrhs, kNumSceneArgs) of them), at most maxOutputs outputs (named in
// outputNames for the message) and every argument, the point arrays named
// by pointNames. Point arrays, R and T must be real, full double arrays
// with enough elements (the second and third as many as the first, R 9,
// T 3); the seven scalars real, full, non-empty and numeric (their first
// element is used). M and N must fit 32 bits. Fills *in and returns true,
// or fills *err and returns false.
bool checkSceneInputs(int nlhs, int maxOutputs, const char *outputNames,
                      int nrhs, const ArgInfo *args, SceneInputs *in,
                      ArgError *err,
                      const char *const pointNames[3] = kWorldPointNames);

// The same rules one argument at a time, for modules with other argument
// lists. pos is the 0-based position, name the argument's name; each
// returns false with *err filled on misuse.
bool checkCounts(int nlhs, int maxOutputs, const char *outputNames, int nrhs,
                 int expectedInputs, const char *inputNames, ArgError *err);
bool checkDoubleArray(const ArgInfo &a, int pos, const char *name,
                      std::size_t minElems, const char *needs, ArgError *err);
bool checkScalar(const ArgInfo &a, int pos, const char *name, ArgError *err);
// A grid's rows and columns must each fit the 32-bit sizes of the results;
// fills *rows and *cols.
bool checkGridShape(const ArgInfo &a, int pos, const char *name,
                    std::size_t *rows, std::size_t *cols, ArgError *err);

}  // namespace scenemap
