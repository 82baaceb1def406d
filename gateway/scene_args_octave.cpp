#include "scene_args_octave.hpp"

#include <memory>

namespace scenemap {

void describeOctaveArg(const octave_value &value, OctaveArg *arg) {
  ArgInfo &info = arg->info;
  arg->className = value.class_name();
  info.className = arg->className.c_str();
  info.isDouble = value.is_double_type();
  info.isNumeric = value.isnumeric();
  info.isComplex = value.iscomplex();
  info.isSparse = value.issparse();
  info.count = value.numel();
  // Rows and columns as the MEX interface counts them: the columns of an
  // N-d array are all its dimensions after the first.
  const dim_vector dims = value.dims();
  info.rows = dims(0);
  info.cols = 1;
  for (int i = 1; i < dims.ndims(); ++i) {
    info.cols *= dims(i);
  }
  // Data and first element are taken only where the checks can accept the
  // argument: real, full, non-empty.
  const bool plain = !info.isComplex && !info.isSparse;
  info.data = nullptr;
  info.first = 0;
  if (plain && info.isDouble) {
    arg->array = value.array_value();
    info.data = arg->array.data();
    if (info.count > 0) {
      info.first = info.data[0];
    }
  } else if (plain && info.isNumeric && info.count > 0) {
    // Other numeric classes: the first element converted, as the MEX
    // interface's mxGetScalar does.
    const octave_value first = value.fast_elem_extract(0);
    info.first =
        first.is_defined() ? first.double_value() : value.array_value()(0);
  }
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

void raiseOctaveError(const char *function, const ArgError &err) {
  error_with_id(err.id, "%s: %s", function, err.message);
}

OctaveSceneArgs::OctaveSceneArgs(const char *function,
                                 const octave_value_list &args, int nargout,
                                 int maxOutputs, const char *outputNames) {
  const int nrhs = args.length();
  const int given = nrhs < kNumSceneArgs ? nrhs : kNumSceneArgs;
  ArgInfo infos[kNumSceneArgs];
  for (int i = 0; i < given; ++i) {
    describeOctaveArg(args(i), &args_[i]);
    infos[i] = args_[i].info;
  }
  ArgError err;
  if (!checkSceneInputs(nargout, maxOutputs, outputNames, nrhs, infos, &in_,
                        &err)) {
    raiseOctaveError(function, err);
  }
}

}  // namespace scenemap
