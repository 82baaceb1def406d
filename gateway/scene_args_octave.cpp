#include "scene_args_octave.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace scenemap {

namespace {

// A result is written once, front to back, each page for the first time,
// and Linux takes a fault for each 4 KiB page it maps: for the 304 bytes a
// point of the camera Jacobian that is about 70,000 faults for a million
// points, which cost as much as computing them. Where transparent huge
// pages are enabled on request, asking for them maps the result 2 MiB at a
// time. Only results of 32 MiB or more are advised: glibc's allocator
// (whose mmap threshold never rises above that on 64-bit systems) gives
// each of those a mapping of its own, so the advice covers no other data.
// It is only advice: the memory's contents are the same either way, and a
// kernel without it (or the call failing) leaves the result as it was.
void adviseHugePages(void *data, std::size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::size_t kMinBytes = std::size_t{32} << 20;
  if (bytes < kMinBytes) {
    return;
  }
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pageSize <= 0) {
    return;
  }
  const std::uintptr_t page = static_cast<std::uintptr_t>(pageSize);
  const std::uintptr_t begin = reinterpret_cast<std::uintptr_t>(data);
  // The whole pages inside the result: the allocator's own header shares
  // the first page.
  const std::uintptr_t first = (begin + page - 1) / page * page;
  const std::uintptr_t last = (begin + bytes) / page * page;
  if (first < last) {
    madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
  }
#else
  (void)data;
  (void)bytes;
#endif
}

}  // namespace

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

NDArray unwrittenArray(const dim_vector &dims) {
  // Array takes ownership of memory from operator new, which is what its
  // own allocator, std::allocator, uses and later frees it with.
  std::allocator<double> alloc;
  const octave_idx_type n = dims.safe_numel();
  double *data = alloc.allocate(n);
  adviseHugePages(data, static_cast<std::size_t>(n) * sizeof(double));
  try {
    return NDArray(Array<double>(data, dims));
  } catch (...) {
    alloc.deallocate(data, n);
    throw;
  }
}

OctaveResult::OctaveResult(const dim_vector &dims) {
  if (dims.ndims() != 2 || dims(0) != 1 || dims(1) != 1) {
    array_.emplace(unwrittenArray(dims));
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
