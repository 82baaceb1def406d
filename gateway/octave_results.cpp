#include "octave_results.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>

#ifdef __linux__
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace scenemap {

// A result is written once, front to back, each page for the first time,
// and Linux takes a fault for each 4 KiB page it maps: for the 304 bytes a
// point of the camera Jacobian that is about 70,000 faults for a million
// points, which cost as much as computing them. Where transparent huge
// pages are enabled on request, asking for them maps the result 2 MiB at a
// time. Only results of 32 MiB or more are advised: with its default
// settings glibc's allocator (whose mmap threshold never rises above that on
// 64-bit systems) gives each of those a mapping of its own, so the advice
// covers no other data; under other settings or allocators it may cover
// pages that later hold other data, which then may be mapped in huge pages
// too. It is only advice: the memory's contents are the same either way,
// and a kernel without it (or the call failing) leaves the result as it was.
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

}  // namespace scenemap
