// libmx stand-in: the array type, the C array functions of matrix.h, the
// per-call arena and the C++ helpers of mxhost.hpp.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <unordered_set>
#include <utility>

#include "matrix.h"
#include "mxhost.hpp"

namespace {

constexpr std::uint32_t kLiveMagic = 0x6d784152u;  // "mxAR"

struct FreeDeleter {
  void operator()(void *p) const noexcept { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char[], FreeDeleter>;

[[noreturn]] void fatal(const char *what) {
  std::fprintf(stderr, "mxhost: fatal: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace

struct mxArray_tag {
  std::uint32_t magic = kLiveMagic;
  mxClassID cls = mxDOUBLE_CLASS;
  bool complex = false;
  bool sparse = false;
  std::vector<size_t> dims;  // at least two, no trailing singletons past 2
  size_t numel = 0;
  size_t stored = 0;  // elements in re/im: numel, or nzmax for sparse
  Buffer re;
  Buffer im;
};

namespace mxhost {

MexError::MexError(std::string id, const std::string &message)
    : std::runtime_error(message), id_(std::move(id)) {}

MexError::~MexError() = default;

}  // namespace mxhost

namespace {

std::atomic<size_t> g_live{0};

// Arena frames of this thread, innermost last.
thread_local std::vector<std::unordered_set<mxArray *>> t_frames;

const mxArray_tag &checked(const mxArray *pa) {
  if (pa == nullptr) fatal("NULL mxArray pointer passed to the array API");
  if (pa->magic != kLiveMagic) fatal("invalid or destroyed mxArray");
  return *pa;
}

[[noreturn]] void badSize(const char *why) {
  throw mxhost::MexError("mxhost:badSize", why);
}

[[noreturn]] void noMemory() {
  throw mxhost::MexError("MATLAB:nomem", "Out of memory.");
}

bool isNumericClass(mxClassID cls) {
  return cls == mxDOUBLE_CLASS || cls == mxSINGLE_CLASS ||
         (cls >= mxINT8_CLASS && cls <= mxUINT64_CLASS);
}

bool isKnownClass(mxClassID cls) {
  switch (cls) {
    case mxCELL_CLASS:
    case mxSTRUCT_CLASS:
    case mxLOGICAL_CLASS:
    case mxCHAR_CLASS:
    case mxFUNCTION_CLASS:
      return true;
    default:
      return isNumericClass(cls);
  }
}

Buffer allocateZeroed(size_t bytes) {
  if (bytes == 0) return Buffer();
  // Refuse sizes no object can have before asking the allocator, so a huge
  // request fails the same way with or without sanitizers.
  if (bytes > static_cast<size_t>(std::numeric_limits<std::ptrdiff_t>::max()))
    noMemory();
  void *p = std::calloc(bytes, 1);
  if (p == nullptr) noMemory();
  return Buffer(static_cast<unsigned char *>(p));
}

// Builds an array; throws MexError on bad arguments or memory exhaustion.
// Missing dimensions (ndim < 2) are singletons.
mxArray *create(mxClassID cls, mxComplexity flag, bool sparse,
                const size_t *dims, size_t ndim, size_t nzmax) {
  if (!isKnownClass(cls))
    throw mxhost::MexError("mxhost:badClass", "Unsupported array class.");
  if (flag != mxREAL && flag != mxCOMPLEX)
    throw mxhost::MexError("mxhost:badClass", "Invalid complexity flag.");
  const bool complex = flag == mxCOMPLEX;
  if (complex && !isNumericClass(cls))
    throw mxhost::MexError("mxhost:badClass",
                           "Only numeric arrays can be complex.");
  if (sparse && cls != mxDOUBLE_CLASS)
    throw mxhost::MexError("mxhost:badClass", "Only double can be sparse.");
  if (ndim > 0 && dims == nullptr) badSize("NULL dimension array.");

  std::unique_ptr<mxArray_tag> a(new (std::nothrow) mxArray_tag);
  if (!a) noMemory();
  try {
    a->dims.assign(dims, dims + ndim);
    while (a->dims.size() < 2) a->dims.push_back(1);
    while (a->dims.size() > 2 && a->dims.back() == 1) a->dims.pop_back();
  } catch (const std::bad_alloc &) {
    noMemory();
  }
  if (sparse && a->dims.size() != 2) badSize("Sparse arrays are 2-D.");

  size_t numel = 1;
  for (size_t d : a->dims) {
    if (d != 0 && numel > std::numeric_limits<size_t>::max() / d)
      badSize("Array dimensions overflow the element count.");
    numel *= d;
  }
  const size_t stored = sparse ? (nzmax == 0 ? 1 : nzmax) : numel;
  const size_t esize = mxhost::elementSize(cls);
  if (esize != 0 && stored > std::numeric_limits<size_t>::max() / esize)
    badSize("Array size overflows the byte count.");

  a->cls = cls;
  a->complex = complex;
  a->sparse = sparse;
  a->numel = numel;
  a->stored = esize == 0 ? 0 : stored;
  a->re = allocateZeroed(a->stored * esize);
  if (complex) a->im = allocateZeroed(a->stored * esize);
  g_live.fetch_add(1, std::memory_order_relaxed);
  return a.release();
}

void destroy(mxArray *pa) noexcept {
  pa->magic = 0;
  delete pa;
  g_live.fetch_sub(1, std::memory_order_relaxed);
}

// Records a freshly created array in the innermost arena frame, if any.
mxArray *record(mxArray *pa) {
  if (t_frames.empty()) return pa;
  try {
    t_frames.back().insert(pa);
  } catch (const std::bad_alloc &) {
    destroy(pa);
    noMemory();
  }
  return pa;
}

// Removes pa from whichever active frame holds it; false if none does.
bool forget(mxArray *pa) noexcept {
  for (auto it = t_frames.rbegin(); it != t_frames.rend(); ++it)
    if (it->erase(pa) != 0) return true;
  return false;
}

size_t checkedSize(int v) {
  if (v < 0) badSize("Negative array dimension.");
  return static_cast<size_t>(v);
}

template <typename T>
double readAs(const unsigned char *p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return static_cast<double>(v);
}

}  // namespace

// ---- C API ----

extern "C" {

size_t mxGetM(const mxArray *pa) { return checked(pa).dims[0]; }

size_t mxGetN(const mxArray *pa) {
  const auto &a = checked(pa);
  size_t n = 1;
  for (size_t i = 1; i < a.dims.size(); ++i) n *= a.dims[i];
  return n;
}

size_t mxGetNumberOfElements(const mxArray *pa) { return checked(pa).numel; }

mxClassID mxGetClassID(const mxArray *pa) { return checked(pa).cls; }

const char *mxGetClassName(const mxArray *pa) {
  return mxhost::className(checked(pa).cls);
}

bool mxIsDouble(const mxArray *pa) { return checked(pa).cls == mxDOUBLE_CLASS; }

bool mxIsNumeric(const mxArray *pa) { return isNumericClass(checked(pa).cls); }

bool mxIsComplex(const mxArray *pa) { return checked(pa).complex; }

bool mxIsSparse(const mxArray *pa) { return checked(pa).sparse; }

bool mxIsEmpty(const mxArray *pa) { return checked(pa).numel == 0; }

double mxGetScalar(const mxArray *pa) {
  const auto &a = checked(pa);
  if (a.stored == 0 || !a.re) return 0.0;
  const unsigned char *p = a.re.get();
  switch (a.cls) {
    case mxDOUBLE_CLASS:
      return readAs<double>(p);
    case mxSINGLE_CLASS:
      return readAs<float>(p);
    case mxINT8_CLASS:
      return readAs<std::int8_t>(p);
    case mxUINT8_CLASS:
      return readAs<std::uint8_t>(p);
    case mxINT16_CLASS:
      return readAs<std::int16_t>(p);
    case mxUINT16_CLASS:
    case mxCHAR_CLASS:
      return readAs<std::uint16_t>(p);
    case mxINT32_CLASS:
      return readAs<std::int32_t>(p);
    case mxUINT32_CLASS:
      return readAs<std::uint32_t>(p);
    case mxINT64_CLASS:
      return readAs<std::int64_t>(p);
    case mxUINT64_CLASS:
      return readAs<std::uint64_t>(p);
    case mxLOGICAL_CLASS:
      // Read the byte, not a bool: any nonzero byte is true.
      return p[0] != 0 ? 1.0 : 0.0;
    default:
      return 0.0;
  }
}

double *mxGetPr(const mxArray *pa) {
  if (pa == nullptr) return nullptr;
  const auto &a = checked(pa);
  if (a.cls != mxDOUBLE_CLASS) return nullptr;
  return reinterpret_cast<double *>(a.re.get());
}

mxArray *mxCreateDoubleMatrix_730(size_t m, size_t n, mxComplexity flag) {
  const size_t dims[2] = {m, n};
  return record(create(mxDOUBLE_CLASS, flag, false, dims, 2, 0));
}

mxArray *mxCreateDoubleMatrix_700(int m, int n, mxComplexity flag) {
  return mxCreateDoubleMatrix_730(checkedSize(m), checkedSize(n), flag);
}

mxArray *mxCreateNumericArray_730(size_t ndim, const size_t *dims,
                                  mxClassID classid, mxComplexity flag) {
  if (!isNumericClass(classid) && classid != mxLOGICAL_CLASS &&
      classid != mxCHAR_CLASS)
    throw mxhost::MexError("mxhost:badClass",
                           "mxCreateNumericArray needs a numeric class.");
  return record(create(classid, flag, false, dims, ndim, 0));
}

mxArray *mxCreateNumericArray_700(int ndim, const int *dims, mxClassID classid,
                                  mxComplexity flag) {
  if (ndim < 0) badSize("Negative number of dimensions.");
  if (ndim > 0 && dims == nullptr) badSize("NULL dimension array.");
  std::vector<size_t> wide;
  try {
    wide.reserve(static_cast<size_t>(ndim));
  } catch (const std::bad_alloc &) {
    noMemory();
  }
  for (int i = 0; i < ndim; ++i) wide.push_back(checkedSize(dims[i]));
  return mxCreateNumericArray_730(wide.size(), wide.data(), classid, flag);
}

void mxDestroyArray(mxArray *pa) {
  if (pa == nullptr) return;
  checked(pa);
  if (!forget(pa) && !t_frames.empty())
    fatal("mxDestroyArray on an array the running module does not own");
  destroy(pa);
}

}  // extern "C"

// ---- C++ helpers ----

namespace mxhost {

void ArrayDeleter::operator()(mxArray *pa) const noexcept {
  if (pa == nullptr) return;
  checked(pa);
  forget(pa);
  destroy(pa);
}

ArrayPtr makeArray(mxClassID cls, const std::vector<size_t> &dims,
                   mxComplexity cx) {
  return ArrayPtr(create(cls, cx, false, dims.data(), dims.size(), 0));
}

ArrayPtr makeDouble(size_t m, size_t n, const std::vector<double> &values) {
  ArrayPtr a = makeArray(mxDOUBLE_CLASS, {m, n});
  if (!values.empty()) {
    if (values.size() != a->numel)
      throw std::invalid_argument("makeDouble: value count is not m*n");
    std::memcpy(a->re.get(), values.data(), values.size() * sizeof(double));
  }
  return a;
}

ArrayPtr makeScalar(double value) { return makeDouble(1, 1, {value}); }

ArrayPtr makeSparse(size_t m, size_t n, size_t nz, mxComplexity cx) {
  const size_t dims[2] = {m, n};
  return ArrayPtr(create(mxDOUBLE_CLASS, cx, true, dims, 2, nz));
}

void *realData(mxArray *pa) { return checked(pa).re.get(); }
const void *realData(const mxArray *pa) { return checked(pa).re.get(); }
void *imagData(mxArray *pa) { return checked(pa).im.get(); }
const void *imagData(const mxArray *pa) { return checked(pa).im.get(); }

std::vector<size_t> dimensions(const mxArray *pa) { return checked(pa).dims; }

size_t nzmax(const mxArray *pa) {
  const auto &a = checked(pa);
  return a.sparse ? a.stored : 0;
}

size_t storedCount(const mxArray *pa) { return checked(pa).stored; }

std::vector<double> toVector(const mxArray *pa) {
  const auto &a = checked(pa);
  if (a.cls != mxDOUBLE_CLASS || a.sparse)
    throw std::invalid_argument("toVector: not a full double array");
  std::vector<double> out(a.numel);
  if (a.numel != 0)
    std::memcpy(out.data(), a.re.get(), a.numel * sizeof(double));
  return out;
}

size_t elementSize(mxClassID cls) {
  switch (cls) {
    case mxLOGICAL_CLASS:
    case mxINT8_CLASS:
    case mxUINT8_CLASS:
      return 1;
    case mxCHAR_CLASS:
    case mxINT16_CLASS:
    case mxUINT16_CLASS:
      return 2;
    case mxSINGLE_CLASS:
    case mxINT32_CLASS:
    case mxUINT32_CLASS:
      return 4;
    case mxDOUBLE_CLASS:
    case mxINT64_CLASS:
    case mxUINT64_CLASS:
      return 8;
    default:
      return 0;
  }
}

const char *className(mxClassID cls) {
  switch (cls) {
    case mxCELL_CLASS:
      return "cell";
    case mxSTRUCT_CLASS:
      return "struct";
    case mxLOGICAL_CLASS:
      return "logical";
    case mxCHAR_CLASS:
      return "char";
    case mxDOUBLE_CLASS:
      return "double";
    case mxSINGLE_CLASS:
      return "single";
    case mxINT8_CLASS:
      return "int8";
    case mxUINT8_CLASS:
      return "uint8";
    case mxINT16_CLASS:
      return "int16";
    case mxUINT16_CLASS:
      return "uint16";
    case mxINT32_CLASS:
      return "int32";
    case mxUINT32_CLASS:
      return "uint32";
    case mxINT64_CLASS:
      return "int64";
    case mxUINT64_CLASS:
      return "uint64";
    case mxFUNCTION_CLASS:
      return "function_handle";
    default:
      return "unknown";
  }
}

size_t liveArrayCount() { return g_live.load(std::memory_order_relaxed); }

CallScope::CallScope() : depth_(t_frames.size()) { t_frames.emplace_back(); }

CallScope::~CallScope() {
  if (t_frames.size() != depth_ + 1)
    fatal("call scopes destroyed out of order");
  std::unordered_set<mxArray *> frame = std::move(t_frames.back());
  t_frames.pop_back();
  for (mxArray *pa : frame) destroy(pa);
}

bool CallScope::owns(const mxArray *pa) const {
  // The set holds non-const pointers; find() needs the same type.
  return t_frames.at(depth_).count(const_cast<mxArray *>(pa)) != 0;
}

bool CallScope::release(mxArray *pa) {
  if (!owns(pa)) return false;
  // Inside an enclosing call the array becomes that call's temporary, so it
  // is still freed if the enclosing module drops it. Insert before erasing
  // so an allocation failure leaves the array recorded here.
  if (depth_ > 0) {
    try {
      t_frames[depth_ - 1].insert(pa);
    } catch (const std::bad_alloc &) {
      noMemory();
    }
  }
  t_frames[depth_].erase(pa);
  return true;
}

size_t CallScope::size() const { return t_frames.at(depth_).size(); }

}  // namespace mxhost
