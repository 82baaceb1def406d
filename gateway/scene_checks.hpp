// The argument rules of the modules, written once for every host.
//
// A host adapter describes each input array in an ArgInfo (class, complex,
// sparse, element count, shape, class name), these checks say whether the
// call is valid, and the adapter then reads the values the call uses (the
// data of the point arrays, R and T, the first element of each scalar;
// only then, since a host may do work for them) into SceneInputs with
// takeSceneValues. An error found here is raised by the adapter through the
// host's own error facility. The checks know no host and never allocate.
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

// What a host tells about one input array.
struct ArgInfo {
  bool isDouble;          // class double (complex and sparse included)
  bool isNumeric;         // a numeric class (not logical, char, cell, ...)
  bool isComplex;         // stores an imaginary part
  bool isSparse;          // stored sparse
  std::size_t count;      // number of elements
  std::size_t rows;       // first dimension
  std::size_t cols;       // product of the other dimensions (the host's N)
  const char *className;  // for messages
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
// element is used). M and N must fit 32 bits. Fills in->M and in->N and
// returns true, or fills *err and returns false.
bool checkSceneInputs(int nlhs, int maxOutputs, const char *outputNames,
                      int nrhs, const ArgInfo *args, SceneInputs *in,
                      ArgError *err,
                      const char *const pointNames[3] = kWorldPointNames);

// True for the positions whose data a call reads (the point arrays, R and
// T); the others are scalars whose first element it reads.
inline bool isSceneArray(int pos) { return pos <= kArgZw || pos >= kArgR; }

// Completes the SceneInputs of a call that passed checkSceneInputs: data[pos]
// is the real double data of the array at each isSceneArray position,
// first[pos] the first element (as a double) of each scalar.
void takeSceneValues(const double *const data[kNumSceneArgs],
                     const double first[kNumSceneArgs], SceneInputs *in);

// The same rules one argument at a time, for modules with other argument
// lists. pos is the 0-based position, name the argument's name; each
// returns false with *err filled on misuse.
bool checkCounts(int nlhs, int maxOutputs, const char *outputNames, int nrhs,
                 int expectedInputs, const char *inputNames, ArgError *err);
bool checkDoubleArray(const ArgInfo &a, int pos, const char *name,
                      std::size_t minElems, const char *needs, ArgError *err);
bool checkScalar(const ArgInfo &a, int pos, const char *name, ArgError *err);
// A grid's rows and columns must each fit the 32-bit sizes of the results.
bool checkGridShape(const ArgInfo &a, int pos, const char *name, ArgError *err);

}  // namespace scenemap
