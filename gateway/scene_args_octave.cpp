#include "scene_args_octave.hpp"

#include <string>

namespace scenemap {

void describeOctaveArg(const octave_value &value, ArgInfo *info) {
  info->isDouble = value.is_double_type();
  info->isNumeric = value.isnumeric();
  info->isComplex = value.iscomplex();
  info->isSparse = value.issparse();
  info->count = value.numel();
  if (info->count == 1) {
    // One element is 1-by-1 (the count is the product of the dimensions);
    // asking Octave for the dimensions would build them.
    info->rows = 1;
    info->cols = 1;
  } else {
    // Rows and columns as the MEX interface counts them: the columns of an
    // N-d array are all its dimensions after the first.
    const dim_vector dims = value.dims();
    info->rows = dims(0);
    info->cols = 1;
    for (int i = 1; i < dims.ndims(); ++i) {
      info->cols *= dims(i);
    }
  }
  info->className = "";
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
  ArgInfo infos[kNumSceneArgs] = {};
  for (int i = 0; i < given; ++i) {
    describeOctaveArg(args(i), &infos[i]);
  }
  ArgError err;
  if (!checkSceneInputs(nargout, maxOutputs, outputNames, nrhs, infos, &in_,
                        &err, pointNames)) {
    // The class names, which only the message needs, are read now and the
    // same checks run again for the same error, now with its full message.
    std::string classNames[kNumSceneArgs];
    for (int i = 0; i < given; ++i) {
      classNames[i] = args(i).class_name();
      infos[i].className = classNames[i].c_str();
    }
    checkSceneInputs(nargout, maxOutputs, outputNames, nrhs, infos, &in_, &err,
                     pointNames);
    raiseOctaveError(function, err);
  }
  const double *data[kNumSceneArgs] = {};
  double first[kNumSceneArgs] = {};
  for (int pos = 0; pos < kNumSceneArgs; ++pos) {
    const octave_value &value = args(pos);
    if (isSceneArray(pos)) {
      if (value.is_scalar_type()) {
        // A real double scalar (the checks passed): its one element.
        scalars_[pos] = value.double_value();
        data[pos] = &scalars_[pos];
      } else {
        data[pos] = arrays_[pos].emplace(value.array_value()).data();
      }
    } else if (value.is_scalar_type()) {
      first[pos] = value.double_value();
    } else {
      // The first element converted to double, as the MEX interface's
      // mxGetScalar does.
      const octave_value elem = value.fast_elem_extract(0);
      first[pos] =
          elem.is_defined() ? elem.double_value() : value.array_value()(0);
    }
  }
  takeSceneValues(data, first, &in_);
}

}  // namespace scenemap
