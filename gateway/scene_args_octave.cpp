#include "scene_args_octave.hpp"

#include <memory>

namespace scenemap {

namespace {

OctaveArg *octaveArg(const void *a) {
  return static_cast<OctaveArg *>(const_cast<void *>(a));
}

const ArgHost kOctaveHost = {
    [](const void *a) {
      OctaveArg *arg = octaveArg(a);
      arg->className = arg->value.class_name();
      return arg->className.c_str();
    },
    // Rows and columns as the MEX interface counts them: the columns of an
    // N-d array are all its dimensions after the first.
    [](const void *a, std::size_t *rows, std::size_t *cols) {
      const dim_vector dims = octaveArg(a)->value.dims();
      *rows = dims(0);
      *cols = 1;
      for (int i = 1; i < dims.ndims(); ++i) {
        *cols *= dims(i);
      }
    },
    [](const void *a) -> const double * {
      OctaveArg *arg = octaveArg(a);
      arg->array = arg->value.array_value();
      return arg->array.data();
    },
    // The first element converted to double, as the MEX interface's
    // mxGetScalar does.
    [](const void *a) {
      const octave_value &value = octaveArg(a)->value;
      if (value.is_scalar_type()) {
        return value.double_value();
      }
      const octave_value first = value.fast_elem_extract(0);
      return first.is_defined() ? first.double_value() : value.array_value()(0);
    },
};

}  // namespace

void describeOctaveArg(const octave_value &value, OctaveArg *arg) {
  ArgInfo &info = arg->info;
  arg->value = value;
  info.isDouble = value.is_double_type();
  info.isNumeric = value.isnumeric();
  info.isComplex = value.iscomplex();
  info.isSparse = value.issparse();
  info.count = value.numel();
  info.arg = arg;
  info.host = &kOctaveHost;
}

NDArray unwrittenArray(const dim_vector &dims) {
  // Array takes ownership of memory from operator new, which is what its
  // own allocator, std::allocator, uses and later frees it with.
  std::allocator<double> alloc;
  const octave_idx_type n = dims.safe_numel();
  double *data = alloc.allocate(n);
  try {
    return NDArray(Array<double>(data, dims));
  } catch (...) {
    alloc.deallocate(data, n);
    throw;
  }
}

octave_value_list requestedOutputs(octave_value_list results, int nargout) {
  const int wanted = nargout > 1 ? nargout : 1;
  if (wanted < results.length()) {
    results.resize(wanted);
  }
  return results;
}

void raiseOctaveError(const char *function, const ArgError &err) {
  error_with_id(err.id, "%s: %s", function, err.message);
}

OctaveSceneArgs::OctaveSceneArgs(const char *function,
                                 const octave_value_list &args, int nargout,
                                 int maxOutputs, const char *outputNames,
                                 const char *const pointNames[3]) {
  const int nrhs = args.length();
  const int given = nrhs < kNumSceneArgs ? nrhs : kNumSceneArgs;
  ArgInfo infos[kNumSceneArgs];
  for (int i = 0; i < given; ++i) {
    describeOctaveArg(args(i), &args_[i]);
    infos[i] = args_[i].info;
  }
  ArgError err;
  if (!checkSceneInputs(nargout, maxOutputs, outputNames, nrhs, infos, &in_,
                        &err, pointNames)) {
    raiseOctaveError(function, err);
  }
}

}  // namespace scenemap
