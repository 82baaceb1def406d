// [a, b, ...] = trivial_call (twelve arguments)
//
// The floor of a call to a native Octave function, for bench_calls.m: takes
// the twelve arguments of the modules without looking at them and returns
// as many 1-by-1 zeros as asked for (at least one), so that a module's call
// can be set against the host's own cost of making it. A benchmark fixture,
// not part of the toolbox.
#include <octave/oct.h>

DEFUN_DLD(trivial_call, args, nargout,
          "trivial_call: the floor of a native call (benchmark fixture)") {
  octave_value_list out;
  const int n = nargout > 1 ? nargout : 1;
  out.resize(n);
  for (int i = 0; i < n; ++i) {
    out(i) = 0.0;
  }
  (void)args;
  return out;
}
