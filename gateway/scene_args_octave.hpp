// The Octave adapter of the argument checks (scene_checks.hpp), for the
// modules' native Octave entries: describes each octave_value to the shared
// checks and raises their error with Octave's error_with_id, which throws.
#pragma once

#include <octave/oct.h>

#include <string>

#include "scene_checks.hpp"

namespace scenemap {

// One described argument and what keeps its data alive for the call: a
// double array's data is shared with the caller's value, not copied (only
// values that are not stored as a full matrix, such as ranges, are
// expanded).
struct OctaveArg {
  ArgInfo info;
  octave_value value;
  NDArray array;
  std::string className;
};

void describeOctaveArg(const octave_value &value, OctaveArg *arg);

// Raises err as an Octave error, its message prefixed with the function's
// name like the host's other errors; does not return.
[[noreturn]] void raiseOctaveError(const char *function, const ArgError &err);

// A double array of the given dimensions whose elements are not yet
// written (no pass over the memory), owned by Octave like any other.
NDArray unwrittenArray(const dim_vector &dims);

// The first max(nargout, 1) of a call's results: a native function returns
// as many values as its caller asked for, as Octave's own functions do
// (cellfun with uniform output and an error handler counts them).
octave_value_list requestedOutputs(octave_value_list results, int nargout);

// The twelve arguments of a scene call, checked by checkSceneInputs with the
// point arrays named by pointNames.
class OctaveSceneArgs {
 public:
  // Raises the Octave error on misuse.
  OctaveSceneArgs(const char *function, const octave_value_list &args,
                  int nargout, int maxOutputs, const char *outputNames,
                  const char *const pointNames[3] = kWorldPointNames);
  // The descriptions point into the object itself.
  OctaveSceneArgs(const OctaveSceneArgs &) = delete;
  OctaveSceneArgs &operator=(const OctaveSceneArgs &) = delete;
  const SceneInputs &inputs() const { return in_; }

 private:
  OctaveArg args_[kNumSceneArgs];
  SceneInputs in_;
};

}  // namespace scenemap
