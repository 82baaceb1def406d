// The Octave adapter of the argument checks (scene_checks.hpp), for the
// modules' native Octave entries: describes each octave_value to the shared
// checks and raises their error with Octave's error_with_id, which throws.
#pragma once

#include <octave/oct.h>

#include <optional>

#include "scene_checks.hpp"

namespace scenemap {

// Describes one argument for the checks, all but its class name, which only
// an error message needs: info->className is left "".
void describeOctaveArg(const octave_value &value, ArgInfo *info);

// Raises err as an Octave error, its message prefixed with the function's
// name like the host's other errors; does not return.
[[noreturn]] void raiseOctaveError(const char *function, const ArgError &err);

// The twelve arguments of a scene call, checked by checkSceneInputs with the
// point arrays named by pointNames.
class OctaveSceneArgs {
 public:
  // Raises the Octave error on misuse.
  OctaveSceneArgs(const char *function, const octave_value_list &args,
                  int nargout, int maxOutputs, const char *outputNames,
                  const char *const pointNames[3] = kWorldPointNames);
  // The inputs point into the object itself.
  OctaveSceneArgs(const OctaveSceneArgs &) = delete;
  OctaveSceneArgs &operator=(const OctaveSceneArgs &) = delete;
  const SceneInputs &inputs() const { return in_; }

 private:
  // The data of the point arrays, R and T as the call reads it: a 1-by-1
  // array's value copied out, or else the array as a double array (shared
  // with the caller's value; only a value not stored as a full matrix, such
  // as a range, is expanded).
  double scalars_[kNumSceneArgs];
  std::optional<NDArray> arrays_[kNumSceneArgs];
  SceneInputs in_;
};

}  // namespace scenemap
