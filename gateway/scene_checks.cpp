#include "scene_checks.hpp"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace scenemap {

namespace {

// The nine camera arguments after the three point arrays.
const char *const kCameraArgNames[kNumSceneArgs - 3] = {
    "dx", "dy", "sx", "cx", "cy", "f", "kappa1", "R", "T"};

// The point arrays that need as many elements as the first one.
const int kSameCount[] = {kArgYw, kArgZw};

// Largest grid dimension the 32-bit creation functions accept.
constexpr std::size_t kMaxDim = INT32_MAX;

// snprintf by way of vsnprintf, the one formatting function of the C
// library the modules import.
#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
void formatTo(char *buf, std::size_t size, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buf, size, format, ap);
  va_end(ap);
}

#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
bool fail(ArgError *err, const char *id, const char *format, ...) {
  err->id = id;
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(err->message, sizeof err->message, format, ap);
  va_end(ap);
  return false;
}

// Complex and sparse arrays store their data in other layouts.
bool checkRealFull(const ArgInfo &a, int pos, const char *name, ArgError *err) {
  if (a.isComplex) {
    return fail(err, "scenemap:complex",
                "argument %d (%s) must be real, not complex", pos + 1, name);
  }
  if (a.isSparse) {
    return fail(err, "scenemap:sparse",
                "argument %d (%s) must be a full array, not sparse", pos + 1,
                name);
  }
  return true;
}

}  // namespace

const char *const kWorldPointNames[3] = {"Xw", "Yw", "Zw"};
const char *const kImagePointNames[3] = {"u", "v", "Zw"};

bool checkCounts(int nlhs, int maxOutputs, const char *outputNames, int nrhs,
                 int expectedInputs, const char *inputNames, ArgError *err) {
  if (nrhs != expectedInputs) {
    return fail(err, "scenemap:nargin",
                "expected %d input arguments (%s) but got %d", expectedInputs,
                inputNames, nrhs);
  }
  if (nlhs > maxOutputs) {
    return fail(err, "scenemap:nargout",
                "returns at most %d outputs (%s) but %d were requested",
                maxOutputs, outputNames, nlhs);
  }
  return true;
}

bool checkDoubleArray(const ArgInfo &a, int pos, const char *name,
                      std::size_t minElems, const char *needs, ArgError *err) {
  if (!a.isDouble) {
    return fail(err, "scenemap:notDouble",
                "argument %d (%s) must be a double array, not %s", pos + 1,
                name, a.className);
  }
  if (!checkRealFull(a, pos, name, err)) {
    return false;
  }
  if (a.count < minElems) {
    return fail(err, "scenemap:tooShort",
                "argument %d (%s) has %llu elements but needs at least %llu%s",
                pos + 1, name, static_cast<unsigned long long>(a.count),
                static_cast<unsigned long long>(minElems), needs);
  }
  return true;
}

bool checkScalar(const ArgInfo &a, int pos, const char *name, ArgError *err) {
  if (!a.isNumeric) {
    return fail(err, "scenemap:notNumeric",
                "argument %d (%s) must be a numeric scalar, not %s", pos + 1,
                name, a.className);
  }
  if (!checkRealFull(a, pos, name, err)) {
    return false;
  }
  if (a.count == 0) {
    return fail(err, "scenemap:empty",
                "argument %d (%s) is empty; expected a numeric scalar", pos + 1,
                name);
  }
  return true;
}

bool checkGridShape(const ArgInfo &a, int pos, const char *name,
                    ArgError *err) {
  if (a.rows > kMaxDim || a.cols > kMaxDim) {
    return fail(err, "scenemap:tooLarge",
                "argument %d (%s) is %llu-by-%llu; each dimension must be at "
                "most %llu",
                pos + 1, name, static_cast<unsigned long long>(a.rows),
                static_cast<unsigned long long>(a.cols),
                static_cast<unsigned long long>(kMaxDim));
  }
  return true;
}

bool checkSceneInputs(int nlhs, int maxOutputs, const char *outputNames,
                      int nrhs, const ArgInfo *args, SceneInputs *in,
                      ArgError *err, const char *const pointNames[3]) {
  const char *names[kNumSceneArgs];
  for (int pos = 0; pos < kNumSceneArgs; ++pos) {
    names[pos] = pos < 3 ? pointNames[pos] : kCameraArgNames[pos - 3];
  }
  // The names in messages are put together only for a message.
  char inputNames[96] = "";
  if (nrhs != kNumSceneArgs) {
    formatTo(inputNames, sizeof inputNames,
             "%s, %s, %s, dx, dy, sx, cx, cy, f, kappa1, R, T", pointNames[0],
             pointNames[1], pointNames[2]);
  }
  if (!checkCounts(nlhs, maxOutputs, outputNames, nrhs, kNumSceneArgs,
                   inputNames, err)) {
    return false;
  }

  // The grid shape comes from the first point array alone; check it fits
  // the 32-bit sizes before anything is derived from it.
  const ArgInfo &X = args[kArgXw];
  if (!checkDoubleArray(X, kArgXw, names[kArgXw], 0, "", err) ||
      !checkGridShape(X, kArgXw, names[kArgXw], err)) {
    return false;
  }
  // Both factors are below 2^31, so the product fits 64 bits.
  const std::size_t points = X.rows * X.cols;
  char asMany[32] = "";
  for (const int pos : kSameCount) {
    if (args[pos].count < points) {
      formatTo(asMany, sizeof asMany, ", as many as %s", names[kArgXw]);
    }
    if (!checkDoubleArray(args[pos], pos, names[pos], points, asMany, err)) {
      return false;
    }
  }
  for (int pos = kArgDx; pos <= kArgKappa1; ++pos) {
    if (!checkScalar(args[pos], pos, names[pos], err)) {
      return false;
    }
  }
  if (!checkDoubleArray(args[kArgR], kArgR, names[kArgR], 9,
                        " (a 3-by-3 rotation)", err) ||
      !checkDoubleArray(args[kArgT], kArgT, names[kArgT], 3, " (a 3-vector)",
                        err)) {
    return false;
  }
  in->M = static_cast<std::int32_t>(X.rows);
  in->N = static_cast<std::int32_t>(X.cols);
  return true;
}

void takeSceneValues(const double *const data[kNumSceneArgs],
                     const double first[kNumSceneArgs], SceneInputs *in) {
  CameraParams &p = in->params;
  double *const scalars[] = {&p.dx, &p.dy, &p.sx,    &p.cx,
                             &p.cy, &p.f,  &p.kappa1};
  for (int pos = kArgDx; pos <= kArgKappa1; ++pos) {
    *scalars[pos - kArgDx] = first[pos];
  }
  for (int i = 0; i < 9; ++i) {
    p.R[i] = data[kArgR][i];
  }
  for (int i = 0; i < 3; ++i) {
    p.T[i] = data[kArgT][i];
  }
  in->Xw = data[kArgXw];
  in->Yw = data[kArgYw];
  in->Zw = data[kArgZw];
}

}  // namespace scenemap
